"""End to end: the class path stage and the library probe of the launcher, run by Wine's
Service Control Manager on real directory trees with real DLL files in them.

Wine returns directory entries in the order of the Unix directory, not sorted. The tests
therefore read the order of the "File:" lines from the log and build the expected lines
from it: each entry's lines stand together, and the class path follows that order.

The libraries that have to load are the build's stand-ins (<build>/fixtures/standins). Wine
has builtin msvcr120, msvcr100 and vcruntime140: loading one of these names by full path
succeeds only when a file is there, and then maps the builtin, so the log lines depend only
on the file existing.
"""

import time

import pytest

import logtexts as lt
import rig as wr
from javaside import STANDIN_RECORD, created_calls, read_lines
from logtexts import LIB_FOUND, LIB_MISSING, LOOKING, NEITHER, file_names, lib_lines


BASE = "C:\\Apps\\Velmorane\\"
KTR = "C:\\Apps\\"
CREATE_FAILED_M3 = lt.CREATE + [lt.CREATE_FAILED % -3]
RUNTIME = [(rel, KTR if off_ktr else BASE) for rel, off_ktr, *_ in lt.RUNTIME]
JVM = [(rel, KTR if off_ktr else BASE) for rel, off_ktr, _ in lt.JVM]
LAST_JVM_FAILURE = lt.jvm_lines(BASE, KTR)[-1]


OTHER_DIR = "C:\\Other"


@pytest.fixture(autouse=True)
def no_other_tree(host):
    wr.remove_trees(host, OTHER_DIR)
    yield
    wr.remove_trees(host, OTHER_DIR)


def standin(*parts):
    """Bytes of a stand-in DLL of the build; a missing one fails the test (a skip would
    hide a broken build)."""
    path = wr.STANDINS.joinpath(*parts)
    if not path.is_file():
        pytest.fail(f"stand-in {path} is not built (VELMORANE_BUILD={wr.BUILD})")
    return path.read_bytes()


def runtime_dll():
    return standin("runtime", "msvcr120.dll")


def jvm_dll(kind="jvm-eversion"):
    return standin(kind, "jvm.dll")


def first_stage(exe=wr.DEFAULT_EXE, base=BASE, ktr=KTR):
    return lt.first_stage(exe, base, ktr)


def runtime_lines(found=None):
    return lt.runtime_lines(BASE, KTR, found)


def jvm_lines(found=None, first=None):
    return lt.jvm_lines(BASE, KTR, found, first)


option_lines = lt.option_lines


def run_service(host, files=None, env=None, last=LAST_JVM_FAILURE, exe=wr.DEFAULT_EXE):
    """Lays out the tree, installs and starts the service, waits for the record `last`, checks
    that the service still runs, stops it and returns the log's record texts."""
    if env:
        wr.set_service_env(host, env)
    wr.lay_out(host, exe, files)
    rc, out = wr.command(host, exe, "install")
    assert (rc, out) == (0, b"VelmoraneService installed successfully\r\n")
    wr.start(host)
    running = wr.wait_state(host, wr.SERVICE_RUNNING)
    assert wr.wait_for_log(host, last, timeout=60), wr.texts(wr.log_bytes(host))
    # Whatever became of the launcher, the service runs on and stops normally. The log is
    # taken before the stop, which adds lines of its own.
    time.sleep(0.5)
    data = wr.log_bytes(host)
    assert wr.query(host)["state"] == wr.SERVICE_RUNNING
    error, _ = wr.control(host, 1)
    assert error == 0
    wr.wait_state(host, wr.SERVICE_STOPPED, wr.STOP_WAIT_MS)
    assert wr.process_exited(host, running["pid"])
    assert wr.log_bytes(host).startswith(data)
    recs = wr.records(data)
    # Only the option's own line feed makes a record without a time stamp.
    for index, (stamp, text) in enumerate(recs):
        if stamp is None:
            assert text == "" and recs[index - 1][1].startswith("-Djava.class.path="), recs
    return [text for _, text in recs]


def between(lines, start, end):
    """The lines after the first `start` up to (not including) the first `end` after it."""
    i = lines.index(start) + 1
    return lines[i:lines.index(end, i)]


def class_path_stage(lines):
    """The lines of the class path stage: from its first line to the empty line after the
    class path option."""
    start = lines.index(LOOKING)
    end = lines.index(lt.OPTIONS_HEAD, start)
    assert lines[end + 3] == "", lines[end:end + 4]
    return lines[start:end + 4]


def expect_lib_stage(lines, entries, base=BASE):
    """Checks the class path stage of a lib\\ search whose directory holds `entries` (plus
    "." and ".."), in whatever order the file system returned them; returns the class path."""
    stage = class_path_stage(lines)
    order = file_names(stage)
    assert sorted(order) == sorted([".", ".."] + list(entries)), stage
    expected, class_path = lib_lines(order, base)
    assert stage == [LOOKING, LIB_FOUND] + expected + option_lines(class_path)
    return class_path


# ---------------------------------------------------------------- lib\

def test_worked_example_line_for_line(host):
    lines = run_service(host, {"lib\\a.jar": b"PK", "lib\\readme.txt": b"text"})
    order = file_names(lines)
    assert sorted(order) == [".", "..", "a.jar", "readme.txt"]
    expected_lib, class_path = lib_lines(order, BASE)
    assert class_path == "C:\\Apps\\Velmorane\\lib\\a.jar;"
    # No Java runtime in this tree: every candidate fails and the launcher ends there.
    assert lines == (first_stage() + [LOOKING, LIB_FOUND] + expected_lib
                     + option_lines("C:\\Apps\\Velmorane\\lib\\a.jar;")
                     + runtime_lines() + jvm_lines())


def test_jar_test_is_case_sensitive_and_ignores_attributes(host):
    files = {"lib\\a.jar": b"PK", "lib\\B.JAR": b"PK", "lib\\c.txt": b"", "lib\\x.jar": None,
             "lib\\.jar": b"PK"}
    lines = run_service(host, files)
    class_path = expect_lib_stage(lines, ["a.jar", "B.JAR", "c.txt", "x.jar", ".jar"])
    stage = class_path_stage(lines)
    # ".jar" has only 4 characters: no extension line, and not a jar.
    assert sorted(line for line in stage if line.startswith("Ext:")) == sorted(
        ["Ext:  '.jar'", "Ext:  '.JAR'", "Ext:  '.txt'", "Ext:  '.jar'"])
    jars = [n for n in file_names(stage) if n in ("a.jar", "x.jar")]
    assert class_path == "".join(f"{BASE}lib\\{n};" for n in jars)


def test_empty_lib_directory(host):
    lines = run_service(host, {"lib": None})
    assert class_path_stage(lines) == [LOOKING, LIB_FOUND, "File:  .", "File:  .."] + option_lines("")


def test_lib_with_many_entries_keeps_each_entry_together(host):
    names = [f"m{i:03d}.jar" for i in range(40)] + [f"n{i:03d}.dat" for i in range(20)] + ["abc", "ab.jar"]
    lines = run_service(host, {f"lib\\{n}": b"" for n in names})
    class_path = expect_lib_stage(lines, names)
    assert class_path.count(";") == 41


# ---------------------------------------------------------------- plugins\, neither

def plugin_blocks(stage):
    """Splits the plugins survey into {entry: (search line, [sub blocks])}; a sub block is the
    tuple of a "Sub file:" line and its "*** Jar file:" line if any."""
    blocks = {}
    i = stage.index(LIB_MISSING) + 1
    end = stage.index(lt.OPTIONS_HEAD)
    while i < end:
        assert stage[i].startswith("File:  "), stage[i:]
        name = stage[i][len("File:  "):]
        search = stage[i + 1]
        i += 2
        subs = []
        while i < end and not stage[i].startswith("File:  "):
            assert stage[i].startswith("Sub file:  "), stage[i:]
            if i + 1 < end and stage[i + 1].startswith("*** Jar file:  "):
                subs.append((stage[i], stage[i + 1]))
                i += 2
            else:
                subs.append((stage[i],))
                i += 1
        assert name not in blocks, name
        blocks[name] = (search, sorted(subs))
    return blocks


def sub_blocks(names):
    return sorted((f"Sub file:  {n}", f"*** Jar file:  {n}") if len(n) > 4 and n.endswith(".jar")
                  else (f"Sub file:  {n}",) for n in names)


def test_plugins_survey_when_lib_is_missing(host):
    files = {"plugins\\loose.jar": b"PK",
             "plugins\\sub\\p.jar": b"PK", "plugins\\sub\\q.txt": b"", "plugins\\sub\\Q.JAR": b"PK",
             "plugins\\sub\\d.jar": None, "plugins\\sub\\.jar": b""}
    lines = run_service(host, files)
    stage = class_path_stage(lines)
    assert stage[:2] == [LOOKING, LIB_MISSING]
    assert stage[-4:] == option_lines("")
    searching = BASE + "plugins\\%s\\*"
    assert plugin_blocks(stage) == {
        # "." lists plugins\ itself again, ".." the base path.
        ".": (f"Now searching {searching % '.'}", sub_blocks([".", "..", "loose.jar", "sub"])),
        "..": (f"Now searching {searching % '..'}", sub_blocks([".", "..", "VelmoraneService.exe", "plugins"])),
        "sub": (f"Now searching {searching % 'sub'}",
                sub_blocks([".", "..", "p.jar", "q.txt", "Q.JAR", "d.jar", ".jar"])),
        # A file: its search fails and nothing more is logged for it.
        "loose.jar": (f"Now searching {searching % 'loose.jar'}", []),
    }
    # The launcher goes on to the probe.
    assert lines[len(first_stage()) + len(stage):] == runtime_lines() + jvm_lines()


def test_neither_lib_nor_plugins(host):
    lines = run_service(host)
    assert lines == (first_stage() + [LOOKING, LIB_MISSING, NEITHER] + option_lines("")
                     + runtime_lines() + jvm_lines())


# ---------------------------------------------------------------- VLCLASSPATH

CLASS_PATH_VALUE = "C:\\Elsewhere\\app.jar;D:\\x\\y.jar"


def test_class_path_override_with_lib(host):
    files = {"lib\\a.jar": b"PK", "lib\\b.txt": b"", "lib\\c.jar": None}
    lines = run_service(host, files, env={"VLCLASSPATH": CLASS_PATH_VALUE})
    stage = class_path_stage(lines)
    order = file_names(stage)
    assert sorted(order) == [".", "..", "a.jar", "b.txt", "c.jar"]
    # The search runs and logs as without the variable; only the option shows the value.
    expected, _ = lib_lines(order, BASE)
    assert stage == [LOOKING, LIB_FOUND] + expected + option_lines(CLASS_PATH_VALUE)


def test_class_path_override_without_lib_or_plugins(host):
    lines = run_service(host, env={"VLCLASSPATH": "relative.jar"})
    assert class_path_stage(lines) == [LOOKING, LIB_MISSING, NEITHER] + option_lines("relative.jar")


def test_class_path_override_defined_empty(host):
    # Wine builds a service's environment from the registry and drops empty values; find out
    # whether this Wine does, rather than assume it.
    wr.ws.set_registry_env(host, {"VLCLASSPATH": ""})
    wr.ws.restart(host)
    host.env = {"VLCLASSPATH": ""}
    lines = run_service(host, {"lib\\a.jar": b"PK"})
    option = class_path_stage(lines)[-2]
    if option == f"-Djava.class.path={BASE}lib\\a.jar;":
        pytest.skip("Wine's SCM can't hand a service an empty environment variable (empty registry "
                    "values are dropped when the session environment is built)")
    assert option == "-Djava.class.path="


# ---------------------------------------------------------------- the options the VM receives

def recorded_call(host, jvm_dir):
    calls = created_calls(read_lines(wr.unix_path(host, jvm_dir + STANDIN_RECORD)))
    assert len(calls) == 1, calls
    return calls[0]


@pytest.mark.parametrize("env,files,class_path", [
    ({}, {"lib\\a.jar": b"PK"}, f"{BASE}lib\\a.jar;"),
    ({}, {"lib": None}, ""),
    ({}, {}, ""),
    ({"VLCLASSPATH": CLASS_PATH_VALUE}, {"lib\\a.jar": b"PK"}, CLASS_PATH_VALUE),
], ids=["lib", "empty-lib", "neither", "override"])
def test_options_handed_to_the_virtual_machine(host, env, files, class_path):
    jvm_dir = KTR + "jdk\\jre\\bin\\default\\"
    files = dict(files, **{jvm_dir + "jvm.dll": jvm_dll("jvm-record")})
    lines = run_service(host, files, env=env, last="Can't create Java VM.  Return code -6")
    # The log keeps the option's line feed ...
    assert class_path_stage(lines)[-4:] == option_lines(class_path)
    # ... the virtual machine gets the option without it.
    call = recorded_call(host, jvm_dir)
    assert call["header"] == {"version": "0x00010006", "nOptions": "2", "ignoreUnrecognized": "0"}
    assert call["options"] == [b"-Djdk.nativeDigest=false", b"-Djava.class.path=" + class_path.encode()]
    assert call["result"] == -6


# ---------------------------------------------------------------- runtime library probe

def test_no_java_runtime_at_all(host):
    lines = run_service(host, {"lib": None})
    probe = lines[lines.index("-Djava.class.path=") + 2:]
    assert probe == runtime_lines() + jvm_lines()
    assert len([line for line in probe if line.startswith("Failed to load")]) == 11
    # The exact misspellings of the failure lines.
    assert probe[5] == lt.FAILED_MSCVR100 % "C:\\Apps\\Velmorane\\jdk\\jre\\bin\\default\\msvcr100.dll"
    assert probe[7] == lt.FAILED_MSCVR100 % "C:\\Apps\\jdk\\jre\\bin\\msvcr100.dll"
    assert probe[11] == lt.FAILED_VCRUNTIME % "C:\\Apps\\jdk\\bin\\vcruntime140.dll"
    assert probe[12] == lt.TRY_JVM_FIRST % "C:\\Apps\\jdk\\jre\\bin\\default\\jvm.dll"


@pytest.mark.parametrize("found", range(1, 7))
def test_runtime_library_found_at_each_candidate(host, found):
    rel, root, *_ = RUNTIME[found - 1]
    # Candidates after the one found are there too: the probe must stop at the first.
    files = {"lib": None}
    for later_rel, later_root, *_ in RUNTIME[found - 1:]:
        files[later_root + later_rel] = runtime_dll()
    lines = run_service(host, files)
    probe = lines[lines.index("-Djava.class.path=") + 2:]
    assert probe == runtime_lines(found) + jvm_lines()


def test_runtime_found_at_candidate_two_has_no_success_line(host):
    lines = run_service(host, {"lib": None, KTR + "jdk\\jre\\bin\\default\\msvcr100.dll": runtime_dll()})
    probe = lines[lines.index("-Djava.class.path=") + 2:]
    assert probe[:4] == [
        lt.TRY_MSVCR120 % "C:\\Apps\\jdk\\jre\\bin\\msvcr120.dll",
        lt.FAILED_MSVCR120 % "C:\\Apps\\jdk\\jre\\bin\\msvcr120.dll",
        lt.TRY_MSVCR100 % "C:\\Apps\\jdk\\jre\\bin\\default\\msvcr100.dll",
        lt.TRY_JVM_FIRST % "C:\\Apps\\jdk\\jre\\bin\\default\\jvm.dll",
    ]


# ---------------------------------------------------------------- virtual machine library probe

def test_openj9_17_layout(host):
    files = {"lib": None, KTR + "jdk\\bin\\vcruntime140.dll": runtime_dll(),
             KTR + "jdk\\bin\\j9vm\\jvm.dll": jvm_dll()}
    lines = run_service(host, files, last=CREATE_FAILED_M3[-1])
    probe = lines[lines.index("-Djava.class.path=") + 2:]
    assert probe == runtime_lines(6) + jvm_lines(5) + CREATE_FAILED_M3
    assert len([line for line in probe if line.startswith("Failed to load")]) == 5 + 4
    assert probe[-5] == lt.LOADED_JVM % "C:\\Apps\\jdk\\bin\\j9vm\\jvm.dll"


@pytest.mark.parametrize("found", range(1, 6))
def test_jvm_library_found_at_each_candidate(host, found):
    files = {"lib": None}
    for rel, root in JVM[found - 1:]:
        files[root + rel] = jvm_dll()
    lines = run_service(host, files, last=CREATE_FAILED_M3[-1])
    probe = lines[lines.index("-Djava.class.path=") + 2:]
    assert probe == runtime_lines() + jvm_lines(found) + CREATE_FAILED_M3


def test_jvm_library_in_oracle_layout(host):
    files = {"lib": None, KTR + "jdk\\jre\\bin\\msvcr100.dll": runtime_dll(),
             KTR + "jdk\\jre\\bin\\server\\jvm.dll": jvm_dll()}
    lines = run_service(host, files, last=CREATE_FAILED_M3[-1])
    probe = lines[lines.index("-Djava.class.path=") + 2:]
    assert probe == runtime_lines(4) + [
        lt.TRY_JVM_FIRST % "C:\\Apps\\jdk\\jre\\bin\\default\\jvm.dll",
        lt.FAILED_JVM % "C:\\Apps\\jdk\\jre\\bin\\default\\jvm.dll",
        lt.TRY_JVM % "C:\\Apps\\Velmorane\\jdk\\jre\\bin\\default\\jvm.dll",
        lt.FAILED_JVM % "C:\\Apps\\Velmorane\\jdk\\jre\\bin\\default\\jvm.dll",
        lt.TRY_JVM_ORACLE % "C:\\Apps\\jdk\\jre\\bin\\server\\jvm.dll",
        lt.LOADED_JVM % "C:\\Apps\\jdk\\jre\\bin\\server\\jvm.dll",
    ] + CREATE_FAILED_M3


def test_a_file_that_is_no_library_does_not_load(host):
    # (A runtime library name would not do: Wine maps its builtin whatever the file holds.)
    files = {"lib": None, KTR + "jdk\\jre\\bin\\default\\jvm.dll": b"MZ but not a library"}
    lines = run_service(host, files)
    probe = lines[lines.index("-Djava.class.path=") + 2:]
    assert probe == runtime_lines() + jvm_lines()


# ---------------------------------------------------------------- VLJVMDLL

def test_vljvmdll_naming_a_library_that_loads(host):
    value = "C:\\Other\\vm\\jvm.dll"
    files = {"lib": None, value: jvm_dll(),
             # The fixed first candidate is there too, but the value replaces it.
             KTR + "jdk\\jre\\bin\\default\\jvm.dll": jvm_dll("jvm-noexport")}
    lines = run_service(host, files, env={"VLJVMDLL": value}, last=CREATE_FAILED_M3[-1])
    assert lines[:8] == first_stage() + [lt.VLJVMDLL_LINE]
    assert lines[8] == LOOKING
    probe = lines[lines.index("-Djava.class.path=") + 2:]
    # The runtime library path still comes from the KTR path.
    assert probe == runtime_lines() + [
        lt.TRY_JVM_FIRST % "C:\\Other\\vm\\jvm.dll",
        lt.LOADED_JVM % "C:\\Other\\vm\\jvm.dll",
    ] + CREATE_FAILED_M3


@pytest.mark.parametrize("content", [None, b"no library"], ids=["missing", "not-a-library"])
def test_vljvmdll_naming_a_library_that_does_not_load(host, content):
    value = "C:\\Other\\vm\\jvm.dll"
    files = {"lib": None,
             # Never tried: while VLJVMDLL is set, candidate 1 is its value alone.
             KTR + "jdk\\jre\\bin\\default\\jvm.dll": jvm_dll("jvm-noexport"),
             KTR + "jdk\\jre\\bin\\server\\jvm.dll": jvm_dll()}
    if content is not None:
        files[value] = content
    lines = run_service(host, files, env={"VLJVMDLL": value}, last=CREATE_FAILED_M3[-1])
    assert lines[:8] == first_stage() + [lt.VLJVMDLL_LINE]
    probe = lines[lines.index("-Djava.class.path=") + 2:]
    assert probe == runtime_lines() + jvm_lines(3, first=value) + CREATE_FAILED_M3
    assert not any("C:\\Apps\\jdk\\jre\\bin\\default\\jvm.dll" in line for line in lines)
