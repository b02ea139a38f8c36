r"""End to end: the Windows Installer package (scripts/package-msi.sh) under Wine's msiexec /qn
in the rig's prefix: installation with and without the properties, the example application
baked in (the JVM bridge as the runtime's jvm.dll), a major upgrade, removal. Where Wine's
installer differs from Windows' (the path registered without quotes, the service's own
Environment value not read, empty folders left), see docs/engineers-guide.md.
"""

import hashlib
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import logtexts as lt
import rig as wr

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("VELMORANE_BUILD", REPO / "build"))
ROOT = "C:\\Program Files\\VelmoraneService\\"
BASE = ROOT + "Velmorane\\"
EXE = BASE + "VelmoraneService.exe"
SERVICE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\VelmoraneService"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
SERVER_JVM = 3  # jdk\jre\bin\server\jvm.dll, the third place the service tries
OPTIONS = '-Dvelmorane.example="a&b [c]" -Xss2m'
APP_NAME = "VelmoraneExample"
PLAIN_FILES = ["Velmorane/README.txt", "Velmorane/VelmoraneConsole.exe", "Velmorane/VelmoraneService.exe",
               "Velmorane/operators-guide.html"]
RUNTIME_FILES = ["jdk/jre/bin/server/jvm.dll"]
STOP_ON_FAILURE = "VLSTOPONFAILURE=1"
PRESHUTDOWN = "VLPRESHUTDOWN=1"
VIRTUAL = "NT SERVICE\\VelmoraneService"


def package_msi(dist, *args):
    env = {k: v for k, v in os.environ.items() if not k.startswith("VELMORANE_SIGN_")}
    env.update(DIST_DIR=str(dist), VELMORANE_SKIP_BUILD="1", BUILD_DIR=str(BUILD))
    return subprocess.run([str(REPO / "scripts" / "package-msi.sh")] + list(args), stdin=subprocess.DEVNULL,
                          capture_output=True, env=env, timeout=300)


@pytest.fixture(scope="module")
def packages(tmp_path_factory):
    """The built packages by short name: the plain one, and the example application at 1.0.1
    and at 1.0.2 (its jar under another name)."""
    for name in ("bin/VelmoraneService.exe", "jvmbridge/jvm.dll.so", "examples/velmorane-example.jar"):
        if not (BUILD / name).exists():
            pytest.fail(f"{name} not built in {BUILD}")
    work = tmp_path_factory.mktemp("msi")
    (work / "runtime" / "bin" / "server").mkdir(parents=True)
    shutil.copy2(BUILD / "jvmbridge" / "jvm.dll.so", work / "runtime" / "bin" / "server" / "jvm.dll")
    dist = work / "dist"
    built = {"plain": package_msi(dist)}
    for key, version, jar in (("app", "1.0.1", "velmorane-example.jar"), ("app2", "1.0.2", "velmorane-example-2.jar")):
        (work / key).mkdir()
        shutil.copy2(BUILD / "examples" / "velmorane-example.jar", work / key / jar)
        built[key] = package_msi(dist, "--lib", str(work / key), "--runtime", str(work / "runtime"),
                                 "--java-options", OPTIONS, "--version", version, "--name", APP_NAME)
    for key, result in built.items():
        assert result.returncode == 0, result.stderr.decode()
        built[key] = Path(result.stdout.decode().splitlines()[-1])
    version = re.search(r"project\(VelmoraneService VERSION ([0-9.]+)", (REPO / "CMakeLists.txt").read_text())[1]
    assert built["plain"] == dist / f"VelmoraneService-{version}-x64.msi"
    assert built["app"] == dist / f"{APP_NAME}-1.0.1-x64.msi"
    return built


@pytest.fixture
def machine(rig, packages):
    """The rig with the packages in C:\\pkg\\, and afterwards every package removed again."""
    target = wr.unix_path(rig, "C:\\pkg")
    target.mkdir(exist_ok=True)
    for path in packages.values():
        shutil.copy2(path, target / path.name)
    rig.msi = {key: "C:\\pkg\\" + path.name for key, path in packages.items()}
    wr.ensure_clean(rig)
    yield rig
    for key in rig.msi:
        msiexec(rig, "/x", key)
    wr.ensure_clean(rig)
    wr.remove_trees(rig, ROOT)


def msiexec(rig, verb, key, *properties):
    """msiexec VERB package /qn PROPERTIES, with a verbose log; returns its exit code."""
    log = f"C:\\pkg\\{key}-{verb[1:]}-{rig.counter}.log"
    rc, _, _ = wr.run(rig, ["msiexec", verb, rig.msi[key], "/qn", "/l*v", log] + list(properties),
                      timeout=300, name="msiexec")
    return rc


def installed_files(rig):
    """The files below the installation root, as paths relative to it with forward slashes."""
    root = wr.unix_path(rig, ROOT)
    return sorted(p.relative_to(root).as_posix() for p in root.rglob("*") if p.is_file()) if root.exists() else []


def reg_query(rig, *args):
    """reg query's answer, or None when there is no such key or value."""
    rc, out, _ = wr.run(rig, ["reg", "query"] + list(args), name="reg")
    return out.decode("utf-8", "replace").replace("\r\n", "\n") if rc == 0 else None


def environment_value(rig, name="Environment"):
    out = reg_query(rig, SERVICE_KEY, "/v", name)
    return out.splitlines()[2] if out else None


def products(rig):
    """(name, version) of every installed package of this service."""
    out = reg_query(rig, UNINSTALL_KEY, "/s") or ""
    found = []
    for block in out.split("\n\n"):
        values = dict(re.findall(r"^    (\w+)    REG_\w+    (.*)$", block, re.M))
        if values.get("Publisher") == "Velmorane":
            found.append((values["DisplayName"], values["DisplayVersion"]))
    return found


# ---------------------------------------------------------------- building

@pytest.mark.parametrize("args, message", [
    (["--lib", "{empty}"], "package-msi.sh: --lib {empty}: no .jar file in that folder"),
    (["--lib", "{app}", "--runtime", "{app}"],
     "package-msi.sh: --runtime {app}: no bin/server/jvm.dll there; give the folder of a 64-bit Java runtime image"),
    (["--version", "1.0"], "version '1.0' is not a Windows Installer product version"),
    (["--version", "256.0.0"], "version '256.0.0' is not a Windows Installer product version"),
    (["--version", "1.2.3.4"], "version '1.2.3.4' is not a Windows Installer product version"),
    (["--java-options", "-Da=1\n-Db=2"], "--java-options: control characters"),
    (["--name", "../x"], "name '../x': letters, digits"),
])
def test_wrong_input_gives_a_clear_error_and_no_package(tmp_path, args, message):
    (tmp_path / "empty").mkdir()
    (tmp_path / "empty" / "app.jar.txt").write_text("not a jar")
    (tmp_path / "app").mkdir()
    (tmp_path / "app" / "app.jar").write_bytes(b"PK")
    places = {"empty": tmp_path / "empty", "app": tmp_path / "app"}
    result = package_msi(tmp_path / "dist", *[a.format(**places) for a in args])
    assert result.returncode == 1
    assert message.format(**places) in result.stderr.decode()
    assert not (tmp_path / "dist").exists()


# ---------------------------------------------------------------- installation and removal

@pytest.mark.parametrize("key, properties, state, environment, account, depends", [
    ("plain", [], wr.SERVICE_STOPPED, STOP_ON_FAILURE + "\\0" + PRESHUTDOWN, "LocalSystem", None),
    ("plain", ["START_SERVICE=1", "JAVA_OPTIONS=-Xmx64m"], wr.SERVICE_RUNNING,
     f"JAVA_TOOL_OPTIONS=-Xmx64m\\0{STOP_ON_FAILURE}\\0{PRESHUTDOWN}", "LocalSystem", None),
    ("app", ["START_SERVICE=0", "RESTART_ON_FAILURE=0"], wr.SERVICE_STOPPED,
     f"JAVA_TOOL_OPTIONS={OPTIONS}\\0{PRESHUTDOWN}", "LocalSystem", None),
    ("plain", ["RESTART_ON_FAILURE=0", "PRESHUTDOWN=0"], wr.SERVICE_STOPPED, None, "LocalSystem", None),
    # Delayed start, the SID type, the privileges and the grants are Windows' only (read back below).
    ("plain", ["SERVICE_ACCOUNT=virtual", "SERVICE_DEPENDENCIES=Tcpip", "SERVICE_DEPENDENCIES2=EventLog",
               "DELAYED_START=1"], wr.SERVICE_STOPPED, STOP_ON_FAILURE + "\\0" + PRESHUTDOWN, VIRTUAL,
     "Tcpip\\0EventLog"),
])
def test_silent_install_and_removal(machine, key, properties, state, environment, account, depends):
    assert msiexec(machine, "/i", key, *properties) == 0
    # As "install" registers it; Windows Installer writes the path in quotes, Wine's msi bare.
    assert wr.query_config(machine) == {"type": 0x10, "start": 2, "error_control": 0, "path": EXE, "group": "",
                                        "tag": 0, "account": account, "display": "VelmoraneService",
                                        "dependencies": "none"}
    assert environment_value(machine, "DependOnService") == (
        depends and f"    DependOnService    REG_MULTI_SZ    {depends}")
    assert environment_value(machine, "PackageDelayedStart").endswith(str(int("DELAYED_START=1" in properties)))
    assert wr.wait_state(machine, state)["state"] == state
    expected = PLAIN_FILES + (["Velmorane/lib/velmorane-example.jar"] + RUNTIME_FILES if key == "app" else [])
    assert installed_files(machine) == sorted(expected)
    assert wr.unix_path(machine, EXE).read_bytes() == (BUILD / "bin" / "VelmoraneService.exe").read_bytes()
    for folder in ("lib", "plugins", "output"):
        assert wr.unix_path(machine, BASE + folder).is_dir() == (folder != "output" or account == VIRTUAL)
    assert environment_value(machine) == (None if environment is None
                                          else f"    Environment    REG_MULTI_SZ    {environment}")
    log = wr.log_bytes(machine)

    assert msiexec(machine, "/x", key) == 0
    assert wr.query(machine) is None
    assert reg_query(machine, SERVICE_KEY) is None
    assert installed_files(machine) == []
    assert products(machine) == []
    # The log is the service's, not the package's: it stays as the service left it.
    assert wr.log_bytes(machine)[:len(log)] == log


def test_an_account_other_than_the_two_is_refused(machine):
    # By the launch condition, before anything changes (Windows ends with 1603; Wine's msiexec with 67).
    assert msiexec(machine, "/i", "plain", "SERVICE_ACCOUNT=NetworkService") == 67
    log = max(wr.unix_path(machine, "C:\\pkg").glob("plain-i-*.log"), key=os.path.getmtime).read_bytes()
    assert b": LaunchConditions. Return value 0.\n" in log
    assert wr.query(machine) is None and installed_files(machine) == [] and products(machine) == []


def msi_table(path, table):
    out = subprocess.run(["msiinfo", "export", str(path), table], capture_output=True, text=True, check=True).stdout
    return sorted(tuple(line.split("\t")) for line in out.splitlines()[3:])


def test_operator_texts_say_what_the_package_installs_and_owns():
    guide = (REPO / "docs" / "operators-guide.md").read_text()
    listed = guide.split("### What the package installs and changes")[1].split("```")[1]
    assert sorted(re.findall(r"^%ProgramFiles%\\VelmoraneService\\(Velmorane\\\S+\.\w+)", listed, re.M)) == [
        name.replace("/", "\\") for name in PLAIN_FILES]
    readme = (REPO / "packaging" / "README.txt").read_text()
    advice = readme[readme.index("  reg add "):readme.index("\n\n\n", readme.index("  reg add "))]
    assert "upgrade" in advice and "JAVA_OPTIONS" in advice and "Unpack this zip" not in readme


def test_restart_on_failure_and_settings_changed_by_a_maintenance_reinstall(machine, packages):
    # No custom action at all (fleets block scripts); failure actions and flag: rows of Windows Installer
    # 5's own tables, carried out by MsiConfigureServices for the component RESTART_ON_FAILURE installs.
    assert msi_table(packages["app"], "CustomAction") == msi_table(packages["app"], "Binary") == []
    assert msi_table(packages["app"], "MsiServiceConfigFailureActions") == [
        ("NoActionOnFailure", "VelmoraneService", "5", "0", "", "", "0", "0", "NoRestartOnFailure"),
        ("RestartThreeTimes", "VelmoraneService", "5", "86400", "", "", "1[~]1[~]1", "60000[~]60000[~]60000",
         "RestartOnFailure")]
    assert [row for row in msi_table(packages["app"], "MsiServiceConfig") if row[3] == "4"] == [
        ("FailureFlagOff", "VelmoraneService", "5", "4", "0", "NoRestartOnFailure"),
        ("FailureFlagOn", "VelmoraneService", "5", "4", "1", "RestartOnFailure")]
    assert msiexec(machine, "/i", "app") == 0
    pid = wr.wait_state(machine, wr.SERVICE_RUNNING)["pid"]
    # Wine's installer skips MsiConfigureServices; its manager stores no failure actions and answers neither.
    assert wr.query_failure(machine) == [f"error=124 call=QueryServiceConfig2W(SERVICE_CONFIG_{level})"
                                         for level in ("FAILURE_ACTIONS", "FAILURE_ACTIONS_FLAG")]
    assert reg_query(machine, SERVICE_KEY, "/v", "FailureActions") is None
    # Reinstalled with other properties: the new values, kept while no other is given, the service running
    # again if it ran, stopped if not. Wine's installer leaves the strings of a component whose condition
    # turned false (Windows removes them; the last test reads the rows back): the earlier ones stay after the new one.
    earlier = f"JAVA_TOOL_OPTIONS=-Xmx99m\\0JAVA_TOOL_OPTIONS={OPTIONS}\\0{STOP_ON_FAILURE}\\0{PRESHUTDOWN}"
    for properties, environment, state in (
            (["JAVA_OPTIONS=-Xmx99m", "RESTART_ON_FAILURE=0"], earlier, wr.SERVICE_RUNNING),
            (["START_SERVICE=0"], earlier, wr.SERVICE_STOPPED),
            ([], earlier, wr.SERVICE_STOPPED),
            (["START_SERVICE=1", "JAVA_OPTIONS=-Xmx64m"], "JAVA_TOOL_OPTIONS=-Xmx64m\\0" + earlier,
             wr.SERVICE_RUNNING)):
        assert msiexec(machine, "/i", "app", "REINSTALL=ALL", "REINSTALLMODE=omus", *properties) == 0
        assert environment_value(machine) == "    Environment    REG_MULTI_SZ    " + environment
        status = wr.wait_state(machine, state)
        assert status["state"] == state and status["pid"] != pid
    # Repair: Wine's msiexec refuses /fa with the package (69) and fails it with the product code (1).
    code = re.search(r"\\Uninstall\\(\{[0-9A-F-]+\})\n", reg_query(machine, UNINSTALL_KEY, "/s"))[1]
    assert msiexec(machine, "/fa", "app") == 69
    assert wr.run(machine, ["msiexec", "/fa", code, "/qn"], timeout=300, name="msiexec")[0] == 1


def launcher_run(texts, start):
    """The launcher's records of the run beginning at texts[start], compared with those of
    a run with the runtime baked in; returns the index after them."""
    end = texts.index(lt.INVOKING_MAIN, start) + 1
    run = texts[start:end]
    names = lt.file_names(run)
    expected = lt.launcher_run(EXE, BASE, ROOT, names, jvm_found=SERVER_JVM)
    # The class path option's line feed leaves a bare record of its own in the log.
    option = next(i for i, line in enumerate(expected) if line.startswith(lt.CLASS_PATH_OPTION))
    assert run == expected[:option + 1] + [""] + expected[option + 1:]
    return end, sorted(names)


def test_application_runs_is_upgraded_in_place_and_removed(machine):
    heartbeat = wr.unix_path(machine, BASE + "heartbeat.txt")
    # Installed: started at once, since the package carries an application.
    assert msiexec(machine, "/i", "app") == 0
    first = wr.wait_state(machine, wr.SERVICE_RUNNING)
    assert wr.wait_for_file_text(heartbeat, b", beat 2 at ", 120), wr.log_bytes(machine)
    texts = wr.texts(wr.log_bytes(machine))
    assert launcher_run(texts, 0) == (len(texts), [".", "..", "velmorane-example.jar"])
    # Written exactly; Wine's services.exe does not hand it to the service process.
    assert environment_value(machine) == (f"    Environment    REG_MULTI_SZ    JAVA_TOOL_OPTIONS={OPTIONS}\\0"
                                          f"{STOP_ON_FAILURE}\\0{PRESHUTDOWN}")

    # A higher version: stopped in order, replaced in place, started again; the operator's jar stays.
    wr.unix_path(machine, BASE + "lib\\operator-added.jar").write_bytes(b"PK\x05\x06" + bytes(18))
    assert msiexec(machine, "/i", "app2") == 0
    second = wr.wait_state(machine, wr.SERVICE_RUNNING)
    assert second["pid"] != first["pid"]
    assert products(machine) == [(APP_NAME, "1.0.2")]
    assert installed_files(machine) == sorted(
        PLAIN_FILES + RUNTIME_FILES + ["Velmorane/heartbeat.txt", "Velmorane/lib/operator-added.jar",
                                       "Velmorane/lib/velmorane-example-2.jar"])
    assert wr.wait_for_log(machine, lt.INVOKING_MAIN, count=2)
    texts = wr.texts(wr.log_bytes(machine))
    end, _ = launcher_run(texts, 0)
    assert texts[end:end + 2] == lt.SHUTDOWN_DONE
    assert launcher_run(texts, end + 2) == (len(texts), [".", "..", "operator-added.jar", "velmorane-example-2.jar"])

    # Removed: the service's own stop, then only what the package did not install is left.
    assert msiexec(machine, "/x", "app2") == 0
    assert wr.query(machine) is None
    assert wr.texts(wr.log_bytes(machine)) == texts + lt.SHUTDOWN_DONE
    assert heartbeat.read_text().startswith("stopped in order after ")
    assert installed_files(machine) == ["Velmorane/heartbeat.txt", "Velmorane/lib/operator-added.jar"]
    assert products(machine) == []


def test_upgrade_leaves_a_stopped_service_stopped(machine):
    # The application package would start it on a first installation; an upgrade keeps the state.
    assert msiexec(machine, "/i", "app", "START_SERVICE=0") == 0
    assert msiexec(machine, "/i", "app2") == 0
    assert products(machine) == [(APP_NAME, "1.0.2")]
    assert wr.query(machine)["state"] == wr.SERVICE_STOPPED


def test_repair_and_upgrade_keep_the_operators_settings(machine, packages):
    # Settings given, a variable added by hand: a repair (the reinstall without properties msiexec /f runs;
    # Wine's refuses /f) keeps all three, so does Windows' upgrade. Wine's removes the older package without
    # UPGRADINGPRODUCTCODE: its DeleteServices takes the key, and the variable; the settings stay.
    assert msiexec(machine, "/i", "app", "START_SERVICE=0", "JAVA_OPTIONS=-Xmx256m", "RESTART_ON_FAILURE=0",
                   "PRESHUTDOWN=0", "SERVICE_ACCOUNT=virtual", "SERVICE_DEPENDENCIES=Tcpip", "DELAYED_START=1") == 0
    settings = "JAVA_TOOL_OPTIONS=-Xmx256m"
    added = settings + "\\0VLJAVAOUTPUT=C:\\java-output.log"
    assert wr.run(machine, ["reg", "add", SERVICE_KEY, "/v", "Environment", "/t", "REG_MULTI_SZ", "/d", added, "/f"],
                  name="reg")[0] == 0
    for step, environment in ((["app", "REINSTALL=ALL", "REINSTALLMODE=omus"], added), (["app2"], settings)):
        assert msiexec(machine, "/i", *step) == 0
        assert environment_value(machine) == "    Environment    REG_MULTI_SZ    " + environment
        assert [wr.query_config(machine)["account"]] + [environment_value(machine, name).split()[-1] for name in (
            "DependOnService", "PackageDelayedStart")] == [VIRTUAL, "Tcpip", "1"]
    assert products(machine) == [(APP_NAME, "1.0.2")]
    # Given, a value wins over the record: the search looks for a value named after it, which is not there.
    # Wine's InstallServices leaves a registration that exists as it is.
    assert msiexec(machine, "/i", "app2", "REINSTALL=ALL", "REINSTALLMODE=omus", "SERVICE_ACCOUNT=LocalSystem",
                   "SERVICE_DEPENDENCIES=EventLog") == 0
    assert [wr.query_config(machine)["account"]] + [environment_value(machine, name).split()[-1] for name in (
        "PackageServiceAccount", "PackageServiceDependencies", "DependOnService")] == [
        VIRTUAL, "LocalSystem", "EventLog", "Tcpip"]
    assert ("DeleteServices", "VersionNT AND NOT UPGRADINGPRODUCTCODE", "2000") in msi_table(
        packages["app2"], "InstallExecuteSequence")
    # What Windows removes of a component that a reinstall turns off: its own string, formatted again
    # (the kept one from the record), so a new value replaces the package's string and no other.
    assert sorted(row[4:] for row in msi_table(packages["app"], "Registry") if row[3] == "Environment") == [
        ("JAVA_TOOL_OPTIONS=[JAVA_OPTIONS][~]", "JavaOptionsGiven"),
        ("JAVA_TOOL_OPTIONS=[VL_JAVA_OPTIONS_BEFORE][~]", "JavaOptionsKept"),
        ("JAVA_TOOL_OPTIONS=[VL_JAVA_OPTIONS_DEFAULT][~]", "JavaOptionsDefault"),
        ("[~]VLPRESHUTDOWN=1", "Preshutdown"), ("[~]VLSTOPONFAILURE=1", "RestartOnFailure")]


def test_what_only_windows_applies_is_read_back_from_the_tables(packages):
    # Wine's installer skips MsiConfigureServices and the grants; these rows are what Windows carries out
    # for the component each property installs (whose records the cases above read under Wine).
    digest = hashlib.sha1("VelmoraneService".upper().encode("utf-16-le")).digest()
    sid = "S-1-5-80-" + "-".join(str(int.from_bytes(digest[i:i + 4], "little")) for i in range(0, 20, 4))
    assert [row[:1] + row[3:] for row in msi_table(packages["plain"], "MsiServiceConfig") if row[3] != "4"] == [
        ("DelayedAutoStartOff", "3", "0", "NoDelayedStart"), ("DelayedAutoStartOn", "3", "1", "DelayedStart"),
        ("LeastPrivileges", "6", "SeChangeNotifyPrivilege[~]SeCreateGlobalPrivilege", "VirtualAccount"),
        ("PreshutdownTimeout", "7", "30000", "Preshutdown"), ("PreshutdownTimeoutDefault", "7", "", "NoPreshutdown"),
        ("ServiceSidNone", "5", "0", "SystemAccount"), ("ServiceSidUnrestricted", "5", "1", "VirtualAccount")]
    assert [row for row in msi_table(packages["plain"], "Property") if row[0] == "MsiHiddenProperties"] == [
        ("MsiHiddenProperties", "JAVA_OPTIONS;VL_JAVA_OPTIONS_BEFORE;VL_JAVA_OPTIONS_DEFAULT")]
    assert msi_table(packages["plain"], "MsiLockPermissionsEx") == [
        ("VirtualAccountReads", "InstallRoot", "CreateFolder", f"D:(A;OICI;0x1200a9;;;{sid})", ""),
        ("VirtualAccountWritesOutput", "OutputDir", "CreateFolder", f"D:(A;OICI;0x1301bf;;;{sid})", "")]


def test_the_package_registers_the_event_source(packages):
    # Wine's installer writes these rows too; what they mean to Windows' event log only Windows shows.
    assert [row[2:] for row in msi_table(packages["plain"], "Registry") if "EventLog" in row[2]] == [
        ("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VelmoraneService", "EventMessageFile",
         "[#ServiceExe]", "EventSource"),
        ("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VelmoraneService", "TypesSupported", "#7",
         "EventSource")]
