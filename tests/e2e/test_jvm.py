r"""End to end: the Java virtual machine inside the service, under Wine's Service Control
Manager, with the Linux HotSpot behind jvm.dll (the bridge) or a stand-in DLL in its place.

The installation is C:\Apps\Velmorane\VelmoraneService.exe with the virtual machine
library at the first candidate, C:\Apps\jdk\jre\bin\default\jvm.dll. The launcher's
records from "Success loading jvm.dll at ..." on are split per thread (logtexts.split) and
each thread's compared whole. The test application records what main received and what
shutdown did.

The equipment comes from the build tree (rig.BUILD). A missing piece fails the test.
"""

import contextlib
import os
import re
import shutil
import subprocess
import time

import pytest

import javaside
import logtexts as lt
import rig as wr
import test_eventlog

from rig import BIN, BRIDGE, JARS, STANDINS

JVM_WIN = "jdk\\jre\\bin\\default\\jvm.dll"
STARTED = lt.STARTED
SHUTDOWN_DONE = lt.SHUTDOWN_DONE
MAIN_CLASS = lt.MAIN_CLASS
# What HotSpot 17, the build's Java runtime, says; velmorane-newer.jar's main class claims
# class-file version 62.
TOO_NEW = lt.JAVA_EXCEPTION % (
    f"java.lang.UnsupportedClassVersionError: {MAIN_CLASS} has been compiled by a more recent version of the "
    "Java Runtime (class file version 62.0), this version of the Java Runtime only recognizes class file "
    "versions up to 61.0")
NOT_FOUND = lt.JAVA_EXCEPTION % f"java.lang.NoClassDefFoundError: {MAIN_CLASS}"


def no_such_method(name_and_signature):
    return lt.JAVA_EXCEPTION % f"java.lang.NoSuchMethodError: static L{MAIN_CLASS};.{name_and_signature}"


@pytest.fixture
def jvm_host(host_equipment, host):
    """The rig, clean, with the equipment of the Java side checked."""
    yield host


@pytest.fixture(scope="session")
def host_equipment():
    needed = [BIN / wr.EXE_NAME, BIN / "scmctl.exe", BIN / "holdfile.exe", BRIDGE,
              JARS / "velmorane-testapp.jar", JARS / "velmorane-nomain.jar",
              JARS / "velmorane-noshutdown.jar", JARS / "velmorane-other.jar", JARS / "velmorane-newer.jar",
              STANDINS / "jvm-noexport" / "jvm.dll", STANDINS / "jvm-eversion" / "jvm.dll",
              STANDINS / "jvm-slow" / "jvm.dll"]
    missing = [str(p) for p in needed if not p.exists()]
    assert not missing, f"not built: {missing}"


class Install:
    """Where one test's installation lies, in both forms."""

    def __init__(self, rig, ktr="C:\\Apps\\"):
        self.rig = rig
        self.ktr = ktr
        self.base = ktr + "Velmorane\\"
        self.exe = self.base + wr.EXE_NAME
        self.jvm = ktr + JVM_WIN
        self.base_unix = wr.unix_path(rig, self.base)
        self.app_record = self.base_unix / javaside.APP_RECORD
        self.vm_record = rig.work / f"vm-{rig.counter:04d}-{time.monotonic_ns()}.record"

    def app_events(self):
        return javaside.app_events(javaside.read_lines(self.app_record))

    def vm_lines(self):
        return javaside.read_lines(self.vm_record)


def lay_out(rig, jars=("velmorane-testapp.jar",), vm="bridge", ktr="C:\\Apps\\", main=None,
            shutdown=None, shutdown_seconds=None, standin_delay_ms=None, console=None):
    """Lays out and installs the service with `jars` in lib\\ and `vm` as the first jvm.dll
    candidate: "bridge", a stand-in directory name, or None for no library at all."""
    inst = Install(rig, ktr)
    files = {f"lib\\{jar}": (JARS / jar).read_bytes() for jar in jars}
    files.setdefault("lib", None)
    wr.lay_out(rig, inst.exe, files)
    jvm_unix = wr.unix_path(rig, inst.jvm)
    if vm == "bridge":
        javaside.install_bridge(jvm_unix.parent, BRIDGE, record=str(inst.vm_record))
    elif vm is not None:
        javaside.install_standin(jvm_unix, STANDINS / vm / "jvm.dll", delay_ms=standin_delay_ms,
                                 record=str(inst.vm_record))
    javaside.write_app_settings(inst.base_unix, main=main, shutdown=shutdown,
                                shutdown_seconds=shutdown_seconds, console=console)
    rc, out = wr.command(rig, inst.exe, "install")
    assert (rc, out) == (0, b"VelmoraneService installed successfully\r\n")
    return inst


def as_logged(text):
    """How the log (ANSI code page 1252 under Wine here) shows `text`, read as rig.records reads it."""
    return text.encode("cp1252").decode("latin-1")


def vm_stage(rig, inst, whole=False):
    """(the launcher's records after the virtual machine library loaded (or, with none, after
    the last failed candidate), the shutdown thread's records). Those the launcher writes
    after main returned are left out unless `whole` (see logtexts.up_to_main). The shutdown
    thread's records come after the launcher's up to main."""
    lines = wr.texts(wr.log_bytes(rig))
    for head in (as_logged(lt.LOADED_JVM % inst.jvm), as_logged(lt.jvm_lines(inst.base, inst.ktr)[-1])):
        if head in lines:
            lines = lines[lines.index(head) + 1:]
            launcher, shutdown = lt.split(lines)
            assert lt.stop_after_main(lines), lines
            return (launcher if whole else lt.up_to_main(launcher)), shutdown
    raise AssertionError(f"no end of the library probe in {lines!r}")


def wait_app(inst, event, timeout=60.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if event in inst.app_events():
            return
        time.sleep(0.05)
    raise AssertionError(f"{event!r} not recorded by the application: {inst.app_events()!r}")


def start(rig, inst, last_line):
    """Starts the service, waits until `last_line` is logged; returns (trace mark, pid)."""
    mark = wr.trace_mark(rig)
    wr.start(rig)
    pid = wr.wait_state(rig, wr.SERVICE_RUNNING)["pid"]
    assert wr.wait_for_log(rig, last_line, timeout=60), wr.texts(wr.log_bytes(rig))
    return mark, pid


def stop(rig, pid, mark, stderr_file=None):
    """Stops the service and checks its status reports. stderr_file: where the service
    process's standard error went (its Wine trace follows it there, see the bridge)."""
    error, _ = wr.control(rig, 1)
    assert error == 0
    wr.wait_state(rig, wr.SERVICE_STOPPED, wr.STOP_WAIT_MS)
    assert wr.process_exited(rig, pid), "the process outlived SERVICE_STOPPED"
    states = [r[1] for _, r in wr.status_reports(rig, mark, also=stderr_file)]
    assert states == [2, 4, 3, 3, 1]


def app_detail(inst, key):
    """The unescaped rest of every application record line that begins with `key` and a
    blank or "=": app_detail(inst, "main arg") gives main's arguments."""
    lines = javaside.read_lines(inst.app_record)
    return [javaside.unescape(line[len(key) + 1:]) for line in lines
            if line.startswith(key) and line[len(key):len(key) + 1] in (" ", "=")]


# ---------------------------------------------------------------- the application runs

# Wine's ControlService refuses SERVICE_CONTROL_SHUTDOWN (error 87), so only STOP can be sent.
def test_main_blocks_until_shutdown_is_called(jvm_host):
    inst = lay_out(jvm_host)
    mark, pid = start(jvm_host, inst, lt.INVOKING_MAIN)
    wait_app(inst, ("main", "block"))
    assert vm_stage(jvm_host, inst) == (STARTED, [])

    # main stays inside the virtual machine, on the launcher thread, while the service runs.
    time.sleep(1)
    assert wr.query(jvm_host)["state"] == wr.SERVICE_RUNNING
    assert ("main", "unblocked") not in inst.app_events()

    stop(jvm_host, pid, mark)
    assert vm_stage(jvm_host, inst) == (STARTED, SHUTDOWN_DONE)
    events = inst.app_events()
    assert ("shutdown", "return") in events
    assert ("main", "unblocked") in events
    # shutdown runs on a thread of its own, not the one main blocks.
    assert app_detail(inst, "shutdown start") != app_detail(inst, "main start")


def test_main_receives_the_installation_base_and_the_options(jvm_host):
    inst = lay_out(jvm_host, jars=("velmorane-testapp.jar",))
    mark, pid = start(jvm_host, inst, lt.INVOKING_MAIN)
    wait_app(inst, ("main", "block"))

    assert app_detail(inst, "main arg-count") == ["1"]
    assert app_detail(inst, "main arg") == ["installbase=C:\\Apps\\Velmorane\\\n"]
    assert app_detail(inst, "main jdk.nativeDigest") == ["false"]
    # The bridge hands HotSpot the Linux form; the element after the last ";" is empty.
    [class_path] = app_detail(inst, "main java.class.path")
    assert [e for e in class_path.split(":") if e] == [
        str(wr.unix_path(jvm_host, inst.base + "lib\\velmorane-testapp.jar").resolve())]

    calls = javaside.created_calls(inst.vm_lines())
    assert len(calls) == 1
    assert calls[0]["header"] == {"version": "0x00010006", "nOptions": "2", "ignoreUnrecognized": "0"}
    # The class path option without the line feed that the log shows after it.
    assert calls[0]["options"] == [b"-Djdk.nativeDigest=false",
                                   b"-Djava.class.path=C:\\Apps\\Velmorane\\lib\\velmorane-testapp.jar;"]
    assert calls[0]["result"] == 0
    strings = [javaside.field_bytes(line[len("NewStringUTF "):]) for line in inst.vm_lines()
               if line.startswith("NewStringUTF ")]
    assert strings == [b"installbase=C:\\Apps\\Velmorane\\\n"]
    stop(jvm_host, pid, mark)


# \u0152 is 0x8c in the ANSI code page (1252): passed on as that byte, it would not read as
# itself in Java even where the virtual machine takes a stray byte for a Latin-1 character.
NON_ASCII_KTR = "C:\\\u00c0pps \u0152\\"


@pytest.fixture
def non_ascii_tree(jvm_host):
    yield NON_ASCII_KTR
    wr.ensure_clean(jvm_host)
    wr.remove_trees(jvm_host, NON_ASCII_KTR)


def test_non_ascii_installation_reaches_main_as_text(jvm_host, non_ascii_tree):
    # Characters of the ANSI code page, so that the class path (ANSI) still names the jar.
    inst = lay_out(jvm_host, ktr=non_ascii_tree)
    argument = "installbase=" + non_ascii_tree + "Velmorane\\\n"
    mark, pid = start(jvm_host, inst, lt.INVOKING_MAIN)
    wait_app(inst, ("main", "block"))
    assert app_detail(inst, "main arg") == [argument]
    # NewStringUTF got modified UTF-8 (for these characters the same as UTF-8).
    strings = [javaside.field_bytes(line[len("NewStringUTF "):]) for line in inst.vm_lines()
               if line.startswith("NewStringUTF ")]
    assert strings == [argument.encode("utf-8")]
    stop(jvm_host, pid, mark)
    assert vm_stage(jvm_host, inst) == (STARTED, SHUTDOWN_DONE)


# A main that returns is no failed start, VLSTOPONFAILURE or not: a server's main often
# returns once its threads run.
@pytest.mark.parametrize("env", [{}, {"VLSTOPONFAILURE": "1"}], ids=["", "VLSTOPONFAILURE"])
def test_main_returning_at_once_leaves_the_service_running(jvm_host, env):
    wr.set_service_env(jvm_host, env)
    inst = lay_out(jvm_host, main="return")
    mark, pid = start(jvm_host, inst, lt.INVOKING_MAIN)
    wait_app(inst, ("main", "return"))
    time.sleep(1)
    assert wr.query(jvm_host)["state"] == wr.SERVICE_RUNNING
    assert [r[1] for _, r in wr.status_reports(jvm_host, mark)] == [2, 4]
    stop(jvm_host, pid, mark)
    # main returned before the stop: the launcher's records after it are all there.
    assert vm_stage(jvm_host, inst, whole=True) == (STARTED + lt.MAIN_RETURNED, SHUTDOWN_DONE)
    assert ("shutdown", "return") in inst.app_events()


def test_java_tool_options_of_the_service_environment_reach_the_vm(jvm_host):
    # What HotSpot on Windows reads from its process environment: the rig gives it to the
    # service through the registry, and the bridge hands it on to the Linux HotSpot.
    wr.set_service_env(jvm_host, {"JAVA_TOOL_OPTIONS": "-Xmx256m"})
    inst = lay_out(jvm_host)
    mark, pid = start(jvm_host, inst, lt.INVOKING_MAIN)
    wait_app(inst, ("main", "block"))
    [max_memory] = app_detail(inst, "main max-memory")
    assert 200 * 2**20 < int(max_memory) <= 256 * 2**20
    assert "environment-set JAVA_TOOL_OPTIONS -Xmx256m" in inst.vm_lines()
    # The JVM says so on its standard error, which under Wine is the session's.
    assert b"Picked up JAVA_TOOL_OPTIONS: -Xmx256m" in jvm_host.trace.read_bytes()[mark:]
    stop(jvm_host, pid, mark)
    # The service's own log is that of any run.
    assert vm_stage(jvm_host, inst) == (STARTED, SHUTDOWN_DONE)


# ---------------------------------------------------------------- what the stop shows

STOP_CASES = [
    # id, jar, settings, log lines of the shutdown thread, application events after the stop
    ("shutdown-throws", "velmorane-testapp.jar", {"shutdown": "throw"},
     [lt.SHUTDOWN_THREW, lt.JAVA_EXCEPTION % "java.lang.RuntimeException: testapp shutdown failure"]
     + SHUTDOWN_DONE, ("shutdown", "throw")),
    ("no-shutdown-method", "velmorane-noshutdown.jar", {},
     [lt.NO_SHUTDOWN % MAIN_CLASS, no_such_method("shutdown()V")], None),
]


@pytest.mark.parametrize("jar,settings,stop_lines,app_event", [c[1:] for c in STOP_CASES],
                         ids=[c[0] for c in STOP_CASES])
def test_stop_with_the_application_running(jvm_host, jar, settings, stop_lines, app_event):
    inst = lay_out(jvm_host, jars=(jar,), **settings)
    mark, pid = start(jvm_host, inst, lt.INVOKING_MAIN)
    wait_app(inst, ("main", "block"))
    stop(jvm_host, pid, mark)
    assert vm_stage(jvm_host, inst) == (STARTED, stop_lines)
    if app_event is not None:
        assert app_event in inst.app_events()
    else:
        assert not [e for e in inst.app_events() if e[0].startswith("shutdown")]


# ---------------------------------------------------------------- the launcher gives up

FAILURE_CASES = [
    # id, jars, vm, launcher's last records, shutdown thread's records at the stop[, settings]
    ("main-class-missing", ("velmorane-other.jar",), "bridge",
     lt.CREATE + [lt.CREATED_JVM, lt.NO_CLASS % MAIN_CLASS, NOT_FOUND], [lt.NO_CLASS % MAIN_CLASS, NOT_FOUND]),
    ("main-class-too-new", ("velmorane-newer.jar",), "bridge",
     lt.CREATE + [lt.CREATED_JVM, lt.NO_CLASS % MAIN_CLASS, TOO_NEW], [lt.NO_CLASS % MAIN_CLASS, TOO_NEW]),
    ("main-missing", ("velmorane-nomain.jar",), "bridge",
     lt.CREATED + [lt.NO_MAIN, no_such_method("main([Ljava/lang/String;)V")], SHUTDOWN_DONE),
    ("main-throws", ("velmorane-testapp.jar",), "bridge",
     STARTED + [lt.MAIN_THREW, lt.JAVA_EXCEPTION % "java.lang.RuntimeException: testapp main failure"],
     SHUTDOWN_DONE, {"main": "throw"}),
    ("no-export", ("velmorane-testapp.jar",), "jvm-noexport",
     [lt.GET_CREATE, lt.NO_EXPORT], [lt.NO_VM]),
    ("negative-result", ("velmorane-testapp.jar",), "jvm-eversion",
     lt.CREATE + [lt.CREATE_FAILED % -3], [lt.NO_VM]),
    ("no-jvm-library", ("velmorane-testapp.jar",), None, [], [lt.NO_VM]),
]


@pytest.mark.parametrize("jars,vm,launch_lines,stop_lines,settings", [(c[1:] + ({},))[:5] for c in FAILURE_CASES],
                         ids=[c[0] for c in FAILURE_CASES])
def test_launcher_failure_leaves_a_stoppable_service(jvm_host, jars, vm, launch_lines, stop_lines, settings):
    inst = lay_out(jvm_host, jars=jars, vm=vm, **settings)
    if launch_lines:
        mark, pid = start(jvm_host, inst, launch_lines[-1])
    else:
        mark, pid = start(jvm_host, inst, lt.jvm_lines(inst.base, inst.ktr)[-1])
    # The launcher has ended; the service runs on without it.
    time.sleep(1)
    assert vm_stage(jvm_host, inst) == (launch_lines, [])
    assert wr.query(jvm_host)["state"] == wr.SERVICE_RUNNING
    assert [r[1] for _, r in wr.status_reports(jvm_host, mark)] == [2, 4]
    stop(jvm_host, pid, mark)
    assert vm_stage(jvm_host, inst) == (launch_lines, stop_lines)
    if vm in ("jvm-eversion",):
        assert [c["result"] for c in javaside.created_calls(inst.vm_lines())] == [-3]
    if vm == "bridge":
        assert not [line for line in inst.vm_lines() if line.startswith("FATAL")]
        # The launcher thread detached before it ended, and so did the shutdown thread.
        assert inst.vm_lines().count("DetachCurrentThread 0") == 2


# The service-specific exit code of each kind of failure, when VLSTOPONFAILURE=1 makes the
# failed start stop the service (one case of each kind).
STOP_CODES = {"main-class-missing": 4, "main-missing": 5, "main-throws": 6, "no-export": 2,
              "negative-result": 3, "no-jvm-library": 1}
# The stop after a start that found no main class does not look for it again.
STOP_LINES_AFTER_FAILURE = {"main-class-missing": [lt.NO_CLASS_AT_STOP]}


@pytest.mark.parametrize("jars,vm,launch_lines,stop_lines,settings,code",
                         [c[1:4] + (STOP_LINES_AFTER_FAILURE.get(c[0], c[4]),) + (c[5:] + ({},))[:1]
                          + (STOP_CODES[c[0]],) for c in FAILURE_CASES if c[0] in STOP_CODES],
                         ids=[c[0] for c in FAILURE_CASES if c[0] in STOP_CODES])
def test_failed_start_stops_the_service_when_asked(jvm_host, jars, vm, launch_lines, stop_lines, settings, code):
    wr.set_service_env(jvm_host, {"VLSTOPONFAILURE": "1"})
    inst = lay_out(jvm_host, jars=jars, vm=vm, **settings)
    mark = wr.trace_mark(jvm_host)
    wr.start(jvm_host)
    status = wr.wait_state(jvm_host, wr.SERVICE_STOPPED, 60000)
    assert (status["exit"], status["specific"]) == (1066, code)
    reports = wr.status_reports(jvm_host, mark)
    assert [r[1] for _, r in reports] == [2, 4, 3, 3, 1]
    assert reports[-1][1][3:5] == (1066, code)
    assert wr.process_exited(jvm_host, reports[-1][0]), "the process outlived SERVICE_STOPPED"
    # The failure's records as without the variable, one naming the stop, then the stop's own.
    assert vm_stage(jvm_host, inst, whole=True) == (launch_lines + [lt.STOP_ON_FAILURE % code], stop_lines)


def test_stop_while_the_vm_is_being_created(jvm_host):
    # The stand-in holds JNI_CreateJavaVM for 15 s; the stop must not wait for it.
    inst = lay_out(jvm_host, vm="jvm-slow", standin_delay_ms=15000)
    mark, pid = start(jvm_host, inst, lt.CALLING_CREATE)
    assert wr.wait_for_file_text(inst.vm_record, b"delay_ms=15000", 30)
    stop(jvm_host, pid, mark)
    assert vm_stage(jvm_host, inst) == (lt.CREATE[:2], [lt.NO_VM])
    # The process ended inside the creation call.
    assert [c["result"] for c in javaside.created_calls(inst.vm_lines())] == [None]


# ---------------------------------------------------------------- the 20 s bound

def test_shutdown_longer_than_the_wait_is_cut_off_after_a_thread_dump(jvm_host):
    inst = lay_out(jvm_host, shutdown="sleep", shutdown_seconds=25)
    mark, pid = start(jvm_host, inst, lt.INVOKING_MAIN)
    wait_app(inst, ("main", "block"))
    watcher, out = wr.start_background(jvm_host, [wr.TOOLS_DIR + "\\scmctl.exe", "watch", wr.SERVICE,
                                                  str(wr.SERVICE_STOPPED), "90000"], name="watch")
    try:
        assert wr.wait_for_file_text(out, b"state=4", 60), out.read_bytes()
        # Wine's SCM gives up waiting for the handler, which holds the dispatcher for the
        # whole 20 s, with ERROR_SERVICE_REQUEST_TIMEOUT; the control was delivered all the same.
        error, _ = wr.control(jvm_host, 1)
        assert error in (0, 1053)
        assert watcher.wait(timeout=150) == 0, out.read_bytes()
    finally:
        if watcher.poll() is None:
            watcher.kill()
    changes = [wr._parse_status(line) for line in out.read_text().splitlines() if line.startswith("t=")]
    pending = next(c["t"] for c in changes if c["state"] == wr.SERVICE_STOP_PENDING)
    stopped = next(c["t"] for c in changes if c["state"] == wr.SERVICE_STOPPED)
    waited = stopped - pending
    print(f"STOP_PENDING to STOPPED: {waited} ms")
    # The 20000 ms, the thread dump at 15 s included; nowhere near the 25 s that shutdown() sleeps.
    assert 19900 <= waited <= 20200, changes
    assert wr.process_exited(jvm_host, pid), "the process outlived SERVICE_STOPPED"
    assert [r[1] for _, r in wr.status_reports(jvm_host, mark)] == [2, 4, 3, 3, 1]
    # shutdown() was still sleeping when the process ended, and the dump shows where.
    launcher, theirs = vm_stage(jvm_host, inst)
    theirs, dump = lt.split_dump(theirs)
    assert (launcher, theirs) == (STARTED, [])
    app = "    at com.orvenda.calistren.test.lt.nextgen."
    [thread] = app_detail(inst, "shutdown start thread")
    assert thread == "VelmoraneService shutdown"
    # Compared without line numbers, module versions and HotSpot's class loader name.
    plain = [re.sub(r"@[\d.]+/", "/", re.sub(r":\d+\)$", ")", line)).replace("at app//", "at ") for line in dump[1:6]]
    assert plain == [
        lt.DUMP_SHUTDOWN_THREAD % (thread, "TIMED_WAITING"), "    at java.base/java.lang.Thread.sleep(Native Method)",
        app + "TestAppSupport.sleepQuietly(TestAppSupport.java)",
        app + "TestAppSupport.runShutdownMode(TestAppSupport.java)", app + "Velmorane.shutdown(Velmorane.java)"], dump
    threads = [line for line in dump if line.startswith(("Java thread \"", "Shutdown thread \""))]
    assert dump[0] == lt.DUMP_BEGIN % (15, len(threads)) and lt.DUMP_CUT not in dump, dump
    assert not [line for line in inst.vm_lines() if line.startswith("FATAL")]
    assert ("shutdown", "sleep 25") in inst.app_events()
    assert ("shutdown", "return") not in inst.app_events()
    # The stop's one event: shutdown() not returned, a warning (its inserts are not in the trace).
    assert [(t, n) for t, n, _ in test_eventlog.events(jvm_host, mark)[1]] == [(2, 0x800003F2)]


# ---------------------------------------------------------------- the Java output file

JAVA_OUTPUT = "C:\\Apps\\java output.txt"
UNOPENABLE = "C:\\Apps\\no such folder\\java output.txt"
JAVA_LINES = [b"testapp: System.out line", b"testapp: System.err line",
              b'Exception in thread "testapp-worker" java.lang.IllegalStateException: testapp worker failure\n'
              b"\tat com.orvenda.calistren.test.lt.nextgen.TestAppSupport."]


def run_writing_console(rig, starts=1, output=None):
    """Lays out the application with console=write, starts and stops it `starts` times,
    checking the Java output file `output` (Linux path) if given; returns the installation
    and the log's record texts, and uninstalls."""
    wr.remove_trees(rig, "C:\\Apps")
    inst = lay_out(rig, console="write")
    previous = b""
    for n in range(1, starts + 1):
        inst.app_record.unlink(missing_ok=True)
        mark, pid = start(rig, inst, lt.INVOKING_MAIN)
        wait_app(inst, ("main", "console"))
        if output is not None:
            # Each start appends its lines once more, in the order written. Lines are found
            # wherever they begin: HotSpot answers the SIGQUIT with which Wine ends a process's
            # threads with a thread dump, cut off where the process died.
            text = output.read_bytes()
            assert [text.count(line) for line in JAVA_LINES] == [n] * len(JAVA_LINES), text
            at = [text.rindex(line) for line in JAVA_LINES]
            assert at == sorted(at) and text.startswith(previous), text
            previous = text
        stop(rig, pid, mark, output)
    texts = wr.texts(wr.log_bytes(rig))
    wr.ensure_clean(rig)
    return inst, texts


def test_java_output_goes_to_the_file_the_operator_names(jvm_host):
    # Without VLJAVAOUTPUT: the log of today.
    inst, today = run_writing_console(jvm_host)
    # (The class path option's own line feed leaves the only empty line.)
    assert [t for t in today if t] == (lt.launcher_run(inst.exe, inst.base, inst.ktr, lt.file_names(today),
                                                       jvm_found=1) + SHUTDOWN_DONE)
    options_end = today.index(lt.TRY_MSVCR120 % (inst.ktr + lt.RUNTIME[0][0]))

    def with_record(record):
        return today[:options_end] + [record] + today[options_end:]

    # One record more, after the options and before the probing; a second start appends
    # to what the first one wrote.
    wr.set_service_env(jvm_host, {"VLJAVAOUTPUT": JAVA_OUTPUT})
    _, logged = run_writing_console(jvm_host, starts=2, output=wr.unix_path(jvm_host, JAVA_OUTPUT))
    assert logged == with_record(lt.JAVA_OUTPUT_OPEN % JAVA_OUTPUT) * 2

    # A file that can't be opened: its record, and otherwise the run of today.
    wr.set_service_env(jvm_host, {"VLJAVAOUTPUT": UNOPENABLE})
    _, logged = run_writing_console(jvm_host)
    assert logged == with_record(lt.JAVA_OUTPUT_FAILED % (UNOPENABLE, 3))


# ---------------------------------------------------------------- the rotated Java output

LINE_RE = re.compile(rb"line (\d+) x*\n")
# Wine's trace follows the service's standard error into the output (see the bridge).
TRACE_RE = re.compile(rb"[0-9a-f]{4}:[0-9a-f]{4}:(trace|fixme|err|warn):.*\n")


def rotated_numbers(rig, keep):
    """The line numbers in the output file and its older ones, oldest first; each file must
    hold whole lines only, and no more than keep + 1 files exist."""
    path = wr.unix_path(rig, JAVA_OUTPUT)
    names = [path.with_name(path.name + f".{n}") for n in range(keep + 1, 0, -1)] + [path]
    assert not names[0].exists()
    numbers = []
    for name in names[1:]:
        if name.exists():
            lines = name.read_bytes().splitlines(keepends=True)
            whole = [LINE_RE.fullmatch(line) for line in lines]
            bad = [i for i, line in enumerate(lines) if not whole[i] and not TRACE_RE.fullmatch(line)]
            assert not bad, (name, [lines[max(i - 1, 0):i + 2] for i in bad[:3]])
            numbers += [int(m.group(1)) for m in whole if m]
    return numbers


def run_lines(rig, console, env, lines=None, width=None, stop_when=None, settle=0, split_ms=None):
    """Runs the application in console mode `console` with the output variables `env`;
    stops it `settle` seconds after the application recorded `stop_when` (None: waits for
    the process to end by itself)."""
    wr.remove_trees(rig, "C:\\Apps")
    wr.set_service_env(rig, dict({"VLJAVAOUTPUT": JAVA_OUTPUT}, **env))
    inst = lay_out(rig)
    javaside.write_app_settings(inst.base_unix, console=console, console_lines=lines, console_width=width,
                                console_split_ms=split_ms)
    mark, pid = start(rig, inst, lt.INVOKING_MAIN)
    if stop_when is None:
        # Wine's service manager does not notice a service process that ends by itself.
        assert wr.process_exited(rig, pid, 60000)
    else:
        wait_app(inst, stop_when, timeout=300)
        time.sleep(settle)
        assert wr.control(rig, 1)[0] == 0
        wr.wait_state(rig, wr.SERVICE_STOPPED, wr.STOP_WAIT_MS)
        assert wr.process_exited(rig, pid)
    return inst


def test_rotated_output_keeps_whole_lines_in_order(jvm_host):
    started = time.monotonic()
    run_lines(jvm_host, "lines", {"VLJAVAOUTPUTSIZE": "1M", "VLJAVAOUTPUTKEEP": "5"}, lines=450000, width=100,
              stop_when=("main", "console"))
    numbers = rotated_numbers(jvm_host, 5)
    # 50 MB of lines; six files of about 1 MB hold the newest ones, without a gap.
    assert numbers == list(range(numbers[0], 450001)) and len(numbers) > 5 * 1024 * 1024 // 113, numbers[:3]
    assert time.monotonic() - started < 240


def test_system_exit_leaves_every_line_in_the_files(jvm_host):
    run_lines(jvm_host, "exit", {"VLJAVAOUTPUTSIZE": "1M"}, lines=10000)
    assert rotated_numbers(jvm_host, 5) == list(range(1, 10001))


# System.exit(3) under VLSTOPONFAILURE=1, without VLJAVAOUTPUT (the trace stays the session's):
# record, event, status, and the manager's STOPPED with 1066 and 3. Without either variable
# the JVM gets its two options alone (test_main_receives_the_installation_base_and_the_options).
@pytest.mark.parametrize("env,states,codes,state", [
    ({"VLSTOPONFAILURE": "1"}, [2, 4, 1], (1066, 3), "stopped, exit code 3: the application's System.exit or Runtime.halt")])
def test_system_exit_is_told(jvm_host, env, states, codes, state):
    wr.set_service_env(jvm_host, env)
    inst = lay_out(jvm_host, console="exit")
    shutil.copy2(BIN / "VelmoraneConsole.exe", wr.unix_path(jvm_host, inst.base + "VelmoraneConsole.exe"))
    mark, pid = start(jvm_host, inst, lt.INVOKING_MAIN)
    assert wr.process_exited(jvm_host, pid, 60000) and wr.texts(wr.log_bytes(jvm_host))[-1] == lt.JVM_EXIT % 3
    assert test_eventlog.events(jvm_host, mark)[1] == [(1, 0xC0000406, ["3"])]
    reports = [r for _, r in wr.status_reports(jvm_host, mark)]
    assert [r[1] for r in reports] == states and reports[-1][3:5] == codes
    lines = wr.command(jvm_host, inst.base + "VelmoraneConsole.exe", "status")[1].decode("cp1252").splitlines()
    assert lines[0] == "VelmoraneService: " + state
    assert "  the application ended the process (System.exit or Runtime.halt): exit code 3" in lines


# Lines printed whole, or each in two halves 20 ms apart: the stop then nearly always comes
# inside a line, whose end the file must still have. There Wine's trace is off: its line
# between the halves would end the line for the service.
@pytest.mark.parametrize("split_ms,env", [(None, {}), (20, {"WINEDEBUG": "-all"})], ids=["whole", "halves"])
def test_stop_during_heavy_output_keeps_what_was_printed_before_shutdown_returned(jvm_host, split_ms, env):
    inst = run_lines(jvm_host, "flood", dict({"VLJAVAOUTPUTSIZE": "1M", "VLJAVAOUTPUTKEEP": "99"}, **env),
                     stop_when=("main", "block"), settle=2, split_ms=split_ms)
    [printed] = [int(d.split()[1]) for w, d in inst.app_events() if w == "shutdown" and d and d.startswith("printed ")]
    numbers = rotated_numbers(jvm_host, 99)
    assert numbers == list(range(numbers[0], numbers[0] + len(numbers))), numbers[-3:]
    assert 0 < printed <= numbers[-1], (printed, numbers[-3:])


@contextlib.contextmanager
def small_drive(rig):
    """A 1 MB file system as drive F: (Wine reports a mount point inside a folder as a reparse
    point, which the output's folder walk refuses, as Windows' own mount points); its folder."""
    folder, drive = rig.root / "full-disk", rig.prefix / "dosdevices" / "f:"
    folder.mkdir(exist_ok=True)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(folder)]).returncode != 0:
        pytest.skip("no tmpfs can be mounted here")
    try:
        drive.symlink_to(folder)
        yield folder
    finally:
        drive.unlink(missing_ok=True)
        subprocess.run(["umount", "-l", str(folder)])


def test_full_disk_neither_blocks_the_application_nor_stops_the_output(jvm_host):
    output = "F:\\java output.txt"
    wr.remove_trees(jvm_host, "C:\\Apps")
    wr.set_service_env(jvm_host, {"VLJAVAOUTPUT": output, "VLJAVAOUTPUTSIZE": "10M"})
    inst = lay_out(jvm_host)
    javaside.write_app_settings(inst.base_unix, console="flood")
    with small_drive(jvm_host) as folder:
        _, pid = start(jvm_host, inst, lt.INVOKING_MAIN)
        path = folder / "java output.txt"
        deadline = time.monotonic() + 60
        while shutil.disk_usage(folder).free > 0 and time.monotonic() < deadline:
            time.sleep(0.2)
        time.sleep(1)  # writes fail meanwhile
        # Full, and the application still runs: space is back, the output goes on.
        os.truncate(path, 0)
        full = re.escape(lt.JAVA_OUTPUT_NOT_WRITTEN % (0, output, 112)).replace("0", r"\d+", 1)

        def counts():
            return [t for t in wr.texts(wr.log_bytes(jvm_host)) if " bytes of the Java output " in t]
        deadline = time.monotonic() + 30
        while not counts() and time.monotonic() < deadline:
            time.sleep(0.2)
        assert counts() and LINE_RE.search(path.read_bytes())
        assert wr.control(jvm_host, 1)[0] == 0
        wr.wait_state(jvm_host, wr.SERVICE_STOPPED, wr.STOP_WAIT_MS)
        assert wr.process_exited(jvm_host, pid)
        # One record when writing worked again, and one more at the stop if it was full again.
        assert 1 <= len(counts()) <= 2 and all(re.fullmatch(full, t) for t in counts()), counts()


def test_full_disk_takes_the_application_no_longer_than_a_free_one(jvm_host):
    def run(output):
        """The seconds from the start until the application had printed its lines, and the log."""
        started = time.monotonic()
        run_lines(jvm_host, "lines", {"VLJAVAOUTPUT": output, "VLJAVAOUTPUTSIZE": "10M"}, lines=100000,
                  stop_when=("main", "console"))
        took, texts = time.monotonic() - started, wr.texts(wr.log_bytes(jvm_host))
        wr.ensure_clean(jvm_host)
        return took, texts
    free, _ = run(JAVA_OUTPUT)
    with small_drive(jvm_host) as folder:
        (folder / "filler").write_bytes(b"x" * shutil.disk_usage(folder).free)
        full, texts = run("F:\\java output.txt")
        assert (folder / "java output.txt").stat().st_size == 0
    record = re.escape(lt.JAVA_OUTPUT_NOT_WRITTEN % (0, "F:\\java output.txt", 112)).replace("0", r"\d+", 1)
    assert any(re.fullmatch(record, t) for t in texts), texts
    assert full < free * 1.5 + 2, (full, free)
