r"""End to end: the operator's console, VelmoraneConsole.exe, beside the service under Wine.

`check` on a good installation and on each mistake the rig can build, `status` after a good
start, after starts that failed at each stage and after a stop, and `run` with the test
application stopped by Ctrl+C. The Java side is test_jvm's: the bridge (Linux HotSpot behind
jvm.dll) or a stand-in DLL, and the test application's jars.
"""

import datetime
import io
import json
import shutil
import zipfile

import pytest

import javaside
import logtexts as lt
import rig as wr
from rig import BIN, BRIDGE, JARS, STANDINS
from test_jvm import host_equipment, jvm_host  # noqa: F401

CONSOLE = "VelmoraneConsole.exe"
BASE = "C:\\Apps\\Velmorane\\"
DEFAULT_JVM = "C:\\Apps\\jdk\\jre\\bin\\default\\jvm.dll"
MAIN_CLASS = lt.MAIN_CLASS
NO_JVM = "no jvm.dll loads: the service would stay running after the last candidate, with no application"
# What every check that finds the virtual machine library reports about the application.
APPLICATION_FOUND = [("ok", "JVM created with the service's options"),
                     ("ok", f"main class {MAIN_CLASS} found"),
                     ("ok", "main(String[]) found; not called"),
                     ("ok", "shutdown() found")]


def lay_out(rig, exe=BASE + wr.EXE_NAME, jars=("velmorane-testapp.jar",), files=None, vm="bridge",
            jvm=DEFAULT_JVM, hotspot_options=(), env=None, binpath=None, service_env=None):
    """Lays out the service at `exe` with the console beside it, `jars` and `files` in lib\\ and
    `vm` ("bridge", a stand-in directory name, or None) at `jvm`, gives services the
    environment `env`, and installs it; `binpath` then replaces the registered command line and
    `service_env` (name -> text) becomes the service's own Environment value."""
    if env:
        wr.set_service_env(rig, env)
    folder = exe.rsplit("\\", 1)[0] + "\\"
    content = {f"lib\\{jar}": (JARS / jar).read_bytes() for jar in jars}
    content.update({f"lib\\{name}": data for name, data in (files or {}).items()})
    content["lib"] = None
    wr.lay_out(rig, folder + wr.EXE_NAME, content)
    if exe != folder + wr.EXE_NAME:
        wr.unix_path(rig, folder + wr.EXE_NAME).rename(wr.unix_path(rig, exe))
    shutil.copy2(BIN / CONSOLE, wr.unix_path(rig, folder + CONSOLE))
    if vm == "bridge":
        javaside.install_bridge(wr.unix_path(rig, jvm).parent, BRIDGE, hotspot_options=hotspot_options)
    elif vm is not None:
        javaside.install_standin(wr.unix_path(rig, jvm), STANDINS / vm / "jvm.dll")
    rc, out = wr.command(rig, exe, "install")
    assert (rc, out) == (0, b"VelmoraneService installed successfully\r\n")
    if binpath is not None:
        assert wr.scmctl(rig, "binpath", wr.SERVICE, binpath)[0] == 0
    if service_env:
        data = "\\0".join(f"{name}={value}" for name, value in service_env.items())
        rc, out = wr.command(rig, "reg", "add", "HKLM\\System\\CurrentControlSet\\Services\\" + wr.SERVICE,
                             "/v", "Environment", "/t", "REG_MULTI_SZ", "/d", data, "/f")
        assert rc == 0, out
    return folder


def console(rig, folder, *args):
    """Runs the console in `folder`; returns (exit code, its lines)."""
    rc, out = wr.command(rig, folder + CONSOLE, *args)
    return rc, out.decode("cp1252").replace("\r\n", "\n").splitlines()


def findings(lines):
    """The check report as (mark, text) pairs, a remedy as ("->", text) after its finding, a line
    the JVM printed as ("jvm", text)."""
    result = []
    for line in lines:
        mark, _, text = line.strip().partition(" ")
        if line.startswith("  ") and mark in ("ok", "warning", "problem", "->", "jvm"):
            result.append((mark, text.strip()))
    return result


# ---------------------------------------------------------------- check

def many_long_jars():
    """Empty jars whose paths together pass the service's class path buffer (32747 bytes)."""
    return {f"{n:03d}-{'x' * 200}.jar": b"" for n in range(150)}


def newer_java_jar():
    """The test application with its main class marked as compiled for Java 21 (class file
    version 65), which the rig's Java 17 refuses."""
    out = io.BytesIO()
    with zipfile.ZipFile(JARS / "velmorane-testapp.jar") as source, zipfile.ZipFile(out, "w") as target:
        for item in source.infolist():
            data = source.read(item)
            if item.filename == MAIN_CLASS + ".class":
                data = data[:6] + (65).to_bytes(2, "big") + data[8:]
            target.writestr(item, data)
    return out.getvalue()


CHECK_CASES = [
    # (id, layout, check's arguments, exit code, findings expected in this order)
    ("good", {}, (), 0,
     [("ok", "VelmoraneService.exe is in C:\\Apps\\Velmorane\\"),
      ("ok", "base path 'C:\\Apps\\Velmorane\\': this folder"),
      ("ok", "installation root (KTR path) 'C:\\Apps\\': this folder's parent"),
      ("ok", "lib\\ found: C:\\Apps\\Velmorane\\lib\\"),
      ("ok", "jar velmorane-testapp.jar"),
      ("ok", f"jvm.dll 1 {DEFAULT_JVM}: loaded"),
      ("ok", "jvm.dll 2 C:\\Apps\\Velmorane\\jdk\\jre\\bin\\default\\jvm.dll: not there")]
     + APPLICATION_FOUND
     + [("ok", 'registered command line "C:\\Apps\\Velmorane\\VelmoraneService.exe": this installation'),
        ("ok", "start type: automatic"), ("ok", "state: stopped"),
        ("ok", "the service's account: LocalSystem (S-1-5-18)"),
        ("ok", "VLJVMDLL is not set")]),
    ("upper-case-jar", {"files": {"B.JAR": b""}}, ("--no-jvm",), 1,
     [("warning", 'B.JAR is left out: only names ending in ".jar", lower case, count'),
      ("->", 'rename it to end in ".jar"'), ("ok", "not checked (--no-jvm)")]),
    ("renamed-executable", {"exe": BASE + "Svc.exe"}, ("--no-jvm",), 2,
     [("problem", "VelmoraneService.exe is not in C:\\Apps\\Velmorane\\; Svc.exe is, which would take "
                  "base path 'C:\\Ap' and installation root ''"),
      ("->", "the executable was renamed: rename Svc.exe back to VelmoraneService.exe (20 characters), "
             "then install it again"),
      ("problem", 'registered command line "C:\\Apps\\Velmorane\\Svc.exe" is not this installation\'s '
                  '"C:\\Apps\\Velmorane\\VelmoraneService.exe"')]),
    ("renamed-folder", {"exe": "C:\\Apps\\Velm\\" + wr.EXE_NAME}, ("--no-jvm",), 2,
     [("problem", "installation root (KTR path) 'C:\\' is not this folder's parent C:\\Apps\\: "
                  "the folder is named Velm (4 characters)"),
      ("->", "the folder was renamed: rename Velm back to Velmorane (9 characters)"),
      ("problem", NO_JVM)]),
    ("runtime-one-level-down", {"jvm": "C:\\Apps\\jdk1.8.0\\jre\\bin\\server\\jvm.dll"}, (), 2,
     [("ok", f"jvm.dll 1 {DEFAULT_JVM}: not there"),
      ("problem", NO_JVM),
      ("problem", "a jvm.dll the service does not look for: C:\\Apps\\jdk1.8.0\\jre\\bin\\server\\jvm.dll"),
      ("->", "move the runtime's folder C:\\Apps\\jdk1.8.0\\ to C:\\Apps\\jdk\\, "
             "or set VLJVMDLL=C:\\Apps\\jdk1.8.0\\jre\\bin\\server\\jvm.dll"),
      ("problem", "not checked: no jvm.dll loads")]),
    ("java-9-layout", {"jvm": "C:\\Apps\\jdk\\bin\\server\\jvm.dll"}, (), 2,
     [("problem", "a jvm.dll the service does not look for: C:\\Apps\\jdk\\bin\\server\\jvm.dll"),
      ("->", "move the runtime's folder C:\\Apps\\jdk\\ to C:\\Apps\\jdk\\jre\\, "
             "or set VLJVMDLL=C:\\Apps\\jdk\\bin\\server\\jvm.dll")]),
    # The remedy of the case before: the check runs the stages with the service's VLJVMDLL.
    ("java-9-layout-with-VLJVMDLL", {"jvm": "C:\\Apps\\jdk\\bin\\server\\jvm.dll",
                                     "env": {"VLJVMDLL": "C:\\Apps\\jdk\\bin\\server\\jvm.dll",
                                             "VLJAVAOUTPUT": "C:\\Apps\\java.out"}}, (), 0,
     [("ok", "jvm.dll 1 C:\\Apps\\jdk\\bin\\server\\jvm.dll: loaded")] + APPLICATION_FOUND
     + [("ok", "VLJVMDLL=C:\\Apps\\jdk\\bin\\server\\jvm.dll (machine environment)"),
        ("ok", "VLJAVAOUTPUT=C:\\Apps\\java.out (machine environment): the application's console output goes to "
               "that file")]),
    ("relative-VLJVMDLL", {"env": {"VLJVMDLL": "jdk\\bin\\server\\jvm.dll"}}, ("--no-jvm",), 2,
     [("problem", "jvm.dll 1 jdk\\bin\\server\\jvm.dll: a relative path, which the service never loads"),
      ("->", "set VLJVMDLL to the full path of jvm.dll"),
      ("problem", f"a jvm.dll the service does not look for: {DEFAULT_JVM}"),
      ("->", f"remove VLJVMDLL, or set VLJVMDLL={DEFAULT_JVM}"),
      ("warning", "VLJVMDLL=jdk\\bin\\server\\jvm.dll (machine environment) is not an absolute path"),
      ("->", "set it to the full path of jvm.dll, e.g. C:\\Apps\\jdk\\bin\\server\\jvm.dll")]),
    ("32-bit-jvm", {"vm": "jvm-32bit"}, (), 2,
     [("warning", f"jvm.dll 1 {DEFAULT_JVM}: not a 64-bit library (a 32-bit Java runtime) (error 193)"),
      ("->", "replace it with a 64-bit Java runtime"),
      ("problem", NO_JVM)]),
    ("jar-without-main-class", {"jars": ("velmorane-other.jar",)}, (), 2,
     [("ok", "jar velmorane-other.jar"),
      ("problem", f"Can't find class {MAIN_CLASS}"),
      ("problem", f"Java exception: java.lang.NoClassDefFoundError: {MAIN_CLASS}"),
      ("->", "The main class is in no jar of the class path (no jar in lib\\, jars named .JAR, or classes "
             "compiled for a newer Java): put the application jar in lib\\ and compile for the runtime's "
             "version (javac --release N) or use a newer runtime.")]),
    ("built-for-newer-java", {"jars": (), "files": {"velmorane-newer.jar": newer_java_jar()}}, (), 2,
     [("ok", "jar velmorane-newer.jar"),
      ("problem", f"Can't find class {MAIN_CLASS}"),
      ("problem", f"Java exception: java.lang.UnsupportedClassVersionError: {MAIN_CLASS} has been compiled by a "
                  "more recent version of the Java Runtime (class file version 65.0), this version of the Java "
                  "Runtime only recognizes class file versions up to 61.0"),
      ("->", "The application was built for a newer Java than this runtime: use a newer runtime, or compile for "
             "this one (javac --release N).")]),
    # A package install under Wine registers the path unquoted; the options it sets for the
    # service alone are how the guide says to pass them.
    ("unquoted-path-and-package-options", {"binpath": BASE + wr.EXE_NAME,
                                           "service_env": {"JAVA_TOOL_OPTIONS": "-Xmx256m"}}, (), 2,
     APPLICATION_FOUND + [("jvm", "Picked up JAVA_TOOL_OPTIONS: -Xmx256m")] +
     [("problem", f"registered command line {BASE}{wr.EXE_NAME} is this installation's, without the quotes around "
                  "the path"),
      ("->", f'sc config VelmoraneService binPath= "\\"{BASE}{wr.EXE_NAME}\\"" (keeps the rest of the registration, '
             "its Environment value included)"),
      ("ok", "JAVA_TOOL_OPTIONS=-Xmx256m (service's Environment value): the JVM takes these options")]),
    # The rotation as the service would take it, the room, and a file made and renamed there.
    ("java-output-rotation", {"env": {"VLJAVAOUTPUT": "C:\\Apps\\java.out", "VLJAVAOUTPUTSIZE": "1M",
                                      "VLJAVAOUTPUTKEEP": "100"}}, ("--no-jvm",), 1,
     [("warning", lt.JAVA_OUTPUT_KEEP_INVALID % (99, 5)),
      ("ok", "rotated at 1048576 bytes, 5 older files kept: at most about 6 MB in all"),
      ("ok", "the service's refusals let a file be made, renamed and removed in C:\\Apps\\ (as this account)")]),
    ("jar-without-shutdown", {"jars": ("velmorane-noshutdown.jar",)}, (), 1,
     APPLICATION_FOUND[:3] + [("warning", f"no shutdown() method in {MAIN_CLASS}")]),
]


@pytest.mark.parametrize("layout,arguments,code,expected", [c[1:] for c in CHECK_CASES],
                         ids=[c[0] for c in CHECK_CASES])
def test_check_names_each_mistake_with_its_remedy(jvm_host, layout, arguments, code, expected):
    folder = lay_out(jvm_host, **layout)
    rc, lines = console(jvm_host, folder, "check", *arguments)
    wr.assert_subsequence(findings(lines), expected)
    problems = sum(1 for mark, _ in findings(lines) if mark == "problem")
    warnings = sum(1 for mark, _ in findings(lines) if mark == "warning")
    assert (rc, lines[-1]) == (code, f"{problems} problem(s), {warnings} warning(s)"), lines
    # The check never calls main and never writes the service's log.
    assert not (wr.unix_path(jvm_host, folder) / javaside.APP_RECORD).exists()
    assert wr.log_bytes(jvm_host) == b""


def test_check_names_the_first_jar_past_the_class_path_buffer(jvm_host):
    jars = many_long_jars()
    folder = lay_out(jvm_host, jars=(), files=jars)
    rc, lines = console(jvm_host, folder, "check", "--no-jvm")
    report = findings(lines)
    used = [text[len("jar "):] for mark, text in report if mark == "ok" and text.startswith("jar ")]
    [lost] = [text for mark, text in report if mark == "problem" and "buffer" in text]
    first_lost = lost.split(" it is cut at ")[1].split(", the first jar lost")[0]
    assert lost == ("the class path is longer than the service's buffer of 32766 bytes: "
                    f"it is cut at {first_lost}, the first jar lost")
    # What fits and what does not, by the option's room (32766 less "-Djava.class.path=" and
    # the line feed); the jars come in the order the folder lists them.
    length = sum(len(BASE + "lib\\" + name + ";") for name in used)
    assert length <= 32747 < length + len(BASE + "lib\\" + first_lost + ";")
    assert first_lost in jars and set(used) < set(jars)
    assert rc == 2


def test_usage(jvm_host):
    folder = lay_out(jvm_host, vm=None)
    for args in ((), ("start",), ("check", "--jvm")):
        rc, lines = console(jvm_host, folder, *args)
        assert rc == 3 and lines[0].startswith("Usage: VelmoraneConsole check [--no-jvm]"), (args, lines)


# ---------------------------------------------------------------- status

def start_and_wait(rig, last_line):
    wr.start(rig)
    wr.wait_state(rig, wr.SERVICE_RUNNING)
    assert wr.wait_for_log(rig, last_line, timeout=60), wr.texts(wr.log_bytes(rig))


STATUS_FAILURES = [
    # (id, layout, the start's last failure record, the Java exception's record after it)
    ("no-jvm", {"vm": None}, lt.FAILED_JVM % "C:\\Apps\\jdk\\bin\\j9vm\\jvm.dll", None),
    ("no-export", {"vm": "jvm-noexport"}, lt.NO_EXPORT, None),
    ("vm-refused", {"vm": "jvm-eversion"}, lt.CREATE_FAILED % -3, None),
    ("no-main-class", {"jars": ("velmorane-other.jar",)}, lt.NO_CLASS % MAIN_CLASS,
     f"Java exception: java.lang.NoClassDefFoundError: {MAIN_CLASS}"),
    ("no-main", {"jars": ("velmorane-nomain.jar",)}, lt.NO_MAIN,
     f"Java exception: java.lang.NoSuchMethodError: static L{MAIN_CLASS};.main([Ljava/lang/String;)V"),
]


@pytest.mark.parametrize("layout,failure,exception", [c[1:] for c in STATUS_FAILURES],
                         ids=[c[0] for c in STATUS_FAILURES])
def test_status_names_the_failed_stage_with_its_remedy(jvm_host, layout, failure, exception):
    folder = lay_out(jvm_host, **layout)
    start_and_wait(jvm_host, exception or failure)
    rc, lines = console(jvm_host, folder, "status")
    assert lines[0] == "VelmoraneService: running"
    at = lines.index("  main not invoked: the start stopped at")
    shown = ["    " + failure] + (["    " + exception] if exception else [])
    assert lines[at + 1:-1] == shown, lines
    assert lines[-1].startswith("      -> "), lines
    assert rc == 2
    # The same facts for a monitoring agent.
    rc, out = wr.command(jvm_host, folder + CONSOLE, "status", "--json")
    status = json.loads(out)
    assert (rc, status["state"], status["exitCode"], status["lastStart"]["mainInvoked"]) == (2, "running", 2, False)
    assert status["lastStart"]["failure"] == {"record": failure, "exception": exception,
                                              "remedy": lines[-1][len("      -> "):]}


def test_status_json_holds_whatever_the_log_holds(jvm_host):
    # Quotes, backslashes, control bytes and bytes that are no UTF-8, as a Java exception's
    # text or a path may bring them (the log is in the ANSI code page, 1252 here).
    folder = lay_out(jvm_host, vm=None)
    odd = b'a "quoted" \\ back\\slash \x01\x1b[2J \xc0\xff\x81 end'
    stamp = b"12/07/26 08:43:13 "
    records = [lt.BANNER.encode(), lt.LOADED_JVM.encode() % b"C:\\\xc0pps\\jvm.dll", lt.INVOKING_MAIN.encode(),
               lt.MAIN_THREW.encode(), lt.JAVA_EXCEPTION.encode() % odd]
    wr.log_path(jvm_host).write_bytes(b"".join(stamp + r + b"\r\n" for r in records))
    rc, out = wr.command(jvm_host, folder + CONSOLE, "status", "--json")
    # UTF-8, as JSON is exchanged (it was ASCII with escapes before the schema).
    status = json.loads(out.decode("utf-8"))
    assert (rc, status["schema"], status["exitCode"], status["state"]) == (2, 1, 2, "stopped")
    start = status["lastStart"]
    # The stamp's local time with the offset this machine has at that time.
    offset = datetime.datetime(2026, 12, 7, 8, 43, 13).astimezone().isoformat()[-6:]
    assert (start["time"], start["timeText"], start["outcome"]) == ("2026-12-07T08:43:13" + offset, "12/07/26 08:43:13",
                                                                   "main_threw")
    assert start["jvmLoaded"] == "C:\\\u00c0pps\\jvm.dll"
    assert start["failure"]["exception"] == "Java exception: " + odd.replace(b"\x01", b" ").replace(
        b"\x1b", b" ").decode("cp1252", errors="replace").replace("\ufffd", "\x81")


def test_status_after_a_failed_start_that_stopped_the_service(jvm_host):
    folder = lay_out(jvm_host, vm=None, env={"VLSTOPONFAILURE": "1"})
    wr.start(jvm_host)
    wr.wait_state(jvm_host, wr.SERVICE_STOPPED, 60000)
    rc, lines = console(jvm_host, folder, "status")
    assert lines[0] == "VelmoraneService: stopped, exit code 1: no jvm.dll loads"
    assert "  the service stopped itself (VLSTOPONFAILURE): exit code 1, no jvm.dll loads" in lines
    assert rc == 2


def test_status_after_a_good_start_and_after_the_stop(jvm_host):
    folder = lay_out(jvm_host)
    start_and_wait(jvm_host, lt.INVOKING_MAIN)
    rc, lines = console(jvm_host, folder, "status")
    assert lines[0] == "VelmoraneService: running"
    assert lines[1].startswith("Last start, ") and lines[1].endswith(" (c:\\windows\\temp\\velmoraneservice.log):")
    assert (rc, lines[2:]) == (0, [f"  JVM loaded: {DEFAULT_JVM}", "  main invoked"])

    # run refuses while the service runs.
    rc, lines = console(jvm_host, folder, "run")
    assert (rc, lines) == (2, ["VelmoraneConsole: VelmoraneService is running; stop it first (sc stop VelmoraneService)"])

    wr.control(jvm_host, 1)
    wr.wait_state(jvm_host, wr.SERVICE_STOPPED, 40000)
    rc, lines = console(jvm_host, folder, "status")
    assert (rc, lines[0], lines[2:]) == (1, "VelmoraneService: stopped", [
        f"  JVM loaded: {DEFAULT_JVM}", "  main invoked",
        "  stop: shutdown() was called and returned; its thread detached"])


def test_status_names_the_java_output_file_and_its_size(jvm_host):
    folder = lay_out(jvm_host, vm=None, env={"VLJAVAOUTPUT": "C:\\Apps\\java.out"})
    wr.unix_path(jvm_host, "C:\\Apps\\java.out").write_bytes(b"12345")
    rc, lines = console(jvm_host, folder, "status")
    assert lines[-1] == "Java output: C:\\Apps\\java.out, 5 bytes", lines


# ---------------------------------------------------------------- run

def test_run_prints_the_records_and_stops_on_ctrl_c(jvm_host):
    # -Xrs: HotSpot behind the bridge would take SIGINT for itself as a Unix signal, ahead of
    # Wine's console handling; a Windows JVM's Ctrl+C handler is a console handler, which the
    # console puts its own before.
    folder = lay_out(jvm_host, hotspot_options=("-Xrs",))
    # A shutdown() that takes seconds: the stop waits for it, as the service's does.
    javaside.write_app_settings(wr.unix_path(jvm_host, folder), shutdown="sleep", shutdown_seconds=3)
    record = wr.unix_path(jvm_host, folder) / javaside.APP_RECORD
    rc, out, typed = wr.command_stopped_by_ctrl_c(
        jvm_host, [folder + CONSOLE, "run"],
        ready=lambda: ("main", "block") in javaside.app_events(javaside.read_lines(record)))
    assert typed
    texts = wr.texts(out)
    # The class path option's own line feed leaves an empty line, as in the log.
    assert texts.count("") == 1
    launcher, shutdown = lt.split([t for t in texts if t and not t.startswith("VelmoraneConsole: ")])
    assert launcher == lt.launcher_run(folder + wr.EXE_NAME, folder, "C:\\Apps\\", [".", "..", "velmorane-testapp.jar"],
                                       jvm_found=1)
    assert shutdown == lt.SHUTDOWN_DONE
    assert "VelmoraneConsole: stopping, shutdown() is given at most 20 seconds" in texts
    events = javaside.app_events(javaside.read_lines(record))
    # shutdown() records its return, after its sleep, before it returns; main's "unblocked"
    # races with the program's end, as it does with the service process's.
    assert ("shutdown", "sleep 3") in events and ("shutdown", "return") in events
    assert rc == 0
    # The records went to the console, not to the service's log.
    assert wr.log_bytes(jvm_host) == b""


def test_run_ends_after_a_failed_start(jvm_host):
    folder = lay_out(jvm_host, vm=None)
    rc, out = wr.command(jvm_host, folder + CONSOLE, "run")
    texts = wr.texts(out)
    assert texts[-2:] == [lt.FAILED_JVM % "C:\\Apps\\jdk\\bin\\j9vm\\jvm.dll",
                          "VelmoraneConsole: the start failed (see the records above)"]
    assert rc == 2
