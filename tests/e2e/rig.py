r"""Wine rig for the end-to-end tests of the service host.

One Wine session per pytest session (tests/common/winesession.py says what the session
relies on). What the rig adds, as found with Wine 8:

* With WINEDEBUG "+pid,+service" in the services' environment (the session's
  trace) every SetServiceStatus call shows up with all seven fields
  and the calling process, which is how the tests see the order of reports.
  QueryServiceStatus is no help for the type: Wine reports the registered type
  there, not the one the service passes.
  Polling the SCM misses reports (the second STOP_PENDING) and sees the
  START_PENDING that the SCM sets by itself before the process reports;
  NotifyServiceStatusChangeW works but echoes the current state on every
  new registration, so neither can count reports.
* That trace goes to the Unix descriptor 2 of each process. Once the JVM
  bridge has put a Java output file (VLJAVAOUTPUT) onto it, a service
  process's later trace lines land in that file: status_reports reads it too
  when told.
* GetModuleFileNameW gives the path with an upper-case drive letter, the rest
  as the program was started: installing through c:\apps\... registers
  "C:\apps\...". The tests start the executable by its path as laid out.
* Wine's sc.exe knows query, start, stop and delete but not qc, interrogate or
  control; scmctl.exe does all of it through the API.
"""

import fcntl
import os
import pty
import re
import shutil
import subprocess
import sys
import termios
import time
from pathlib import Path

# The suites' shared equipment: the log's texts (logtexts) and the Java side (javaside).
TESTS = Path(__file__).resolve().parents[1]
for _shared in (TESTS / "common", TESTS / "fixtures"):
    if str(_shared) not in sys.path:
        sys.path.insert(0, str(_shared))
import winesession as ws  # noqa: E402
from winesession import STATUS_FIELDS, TOOLS_DIR, run, start_background, unix_path, wait_for_file_text  # noqa: E402,F401

# The build tree: VELMORANE_BUILD, else the parent of VELMORANE_BIN, else build/ (CTest
# names both), and what the suites take from it.
BUILD = Path(os.environ.get("VELMORANE_BUILD")
             or Path(os.environ.get("VELMORANE_BIN", TESTS.parent / "build" / "bin")).parent)
BIN = Path(os.environ.get("VELMORANE_BIN", BUILD / "bin"))
BRIDGE = BUILD / "jvmbridge" / "jvm.dll.so"
JARS = BUILD / "fixtures" / "javaapp"
STANDINS = BUILD / "fixtures" / "standins"

SERVICE = "VelmoraneService"
EXE_NAME = "VelmoraneService.exe"
DEFAULT_DIR = "C:\\Apps\\Velmorane"
DEFAULT_EXE = DEFAULT_DIR + "\\" + EXE_NAME
LOG_WIN_PATH = "c:\\windows\\temp\\velmoraneservice.log"
TRACE_SETTING = "+pid,+service"

# The service's own bound: the stop's 20000 ms wait for shutdown(). A wait whose span holds Wine
# starting a Windows process (the service's, with its DLLs and the virtual machine) or its
# manager relaying reports gets WINE_MARGIN_MS on top, here and nowhere else: beside a second
# Wine job on two cores such a start has taken several seconds. Bounds that scmctl measures
# inside the session from the STOP on keep their own tight margins.
STOP_BOUND_MS = 20000
WINE_MARGIN_MS = 20000
STOP_WAIT_MS = STOP_BOUND_MS + WINE_MARGIN_MS
START_WAIT_MS = 10000 + WINE_MARGIN_MS

SERVICE_STOPPED = 1
SERVICE_START_PENDING = 2
SERVICE_STOP_PENDING = 3
SERVICE_RUNNING = 4

STAMP_RE = re.compile(rb"\d\d/\d\d/\d\d \d\d:\d\d:\d\d ")


def create(bin_dir):
    """A fresh session whose services' debug output is the trace of their status reports."""
    return ws.create(bin_dir, registry_env={"WINEDEBUG": TRACE_SETTING})


destroy = ws.destroy


def set_service_env(rig, values):
    """Gives services the environment variables `values` (name -> text); restarts the
    session only when the wanted set differs from the current one. Not for installed services:
    a new session starts them."""
    if values == rig.env:
        return
    # A test that turned the session's trace off gives it back to the next.
    changes = {name: TRACE_SETTING if name == "WINEDEBUG" else None for name in rig.env if name not in values}
    changes.update(values)
    for name, value in values.items():
        assert value != "", "Wine drops empty environment values; a service can't be given one"
    ws.set_registry_env(rig, changes)
    ws.restart(rig)
    rig.env = dict(values)


# ---------------------------------------------------------------- installation tree

def lay_out(rig, exe_path=DEFAULT_EXE, files=None):
    """Copies the service executable to exe_path (a C:\\ path) and creates `files`:
    a mapping of C:\\ paths (or paths relative to the executable's directory) to
    bytes (a file) or None (a directory)."""
    exe = unix_path(rig, exe_path)
    exe.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(rig.bin_dir / EXE_NAME, exe)
    base = exe_path.rsplit("\\", 1)[0]
    for name, content in (files or {}).items():
        target = unix_path(rig, name if name[1:3] == ":\\" else base + "\\" + name)
        if content is None:
            target.mkdir(parents=True, exist_ok=True)
        else:
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(content)
    return exe_path


def remove_trees(rig, *win_dirs):
    for d in win_dirs:
        shutil.rmtree(unix_path(rig, d), ignore_errors=True)


def command(rig, exe_path, *args):
    """Runs the executable from a command prompt; returns (exit code, stdout bytes). The
    service's commands end with code 0 on every path, and the console prints on every path: a
    run that ended otherwise having printed nothing never ran (one of Wine's passing refusals,
    tried once more by the session's run)."""
    rc, out, err = run(rig, [exe_path] + list(args), timeout=60, name="exe")
    assert rc == 0 or out != b"", f"{exe_path} {' '.join(args)} did not run: exit {rc}, stderr {err[-500:]!r}"
    return rc, out


def command_stopped_by_ctrl_c(rig, args, ready, timeout=60):
    """Runs a console program with a pseudo-terminal as its controlling terminal and standard
    input, its output going to a file; once ready() holds, types Ctrl+C into the terminal.
    Returns (exit code, stdout bytes, whether Ctrl+C was typed).

    Wine 8 turns the terminal's SIGINT into CTRL_C_EVENT for the console's handlers; its
    GenerateConsoleCtrlEvent fails (error 12) for a program started this way, and it sends no
    CTRL_BREAK_EVENT at all, so the terminal is the way in."""
    out, err = ws._outputs(rig, "ctrlc")
    master, slave = pty.openpty()

    def controlling_terminal():
        os.setsid()
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)

    with open(out, "wb") as fo, open(err, "wb") as fe:
        proc = subprocess.Popen([rig.wine] + list(args), stdin=slave, stdout=fo, stderr=fe,
                                env=ws.wine_env(rig.prefix), preexec_fn=controlling_terminal)
    os.close(slave)
    typed = False
    try:
        deadline = time.monotonic() + timeout
        while proc.poll() is None and time.monotonic() < deadline and not typed:
            if ready():
                os.write(master, b"\x03")
                typed = True
            time.sleep(0.1)
        rc = proc.wait(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
        os.close(master)
    return rc, out.read_bytes(), typed


# ---------------------------------------------------------------- SCM

def scmctl(rig, *args, timeout=90):
    return run(rig, [TOOLS_DIR + "\\scmctl.exe"] + list(args), timeout=timeout, name="scmctl")


_parse_status = ws.parse_status


def query(rig):
    """The service's status record with its pid, or None when the service does not exist."""
    rc, out, _ = scmctl(rig, "query", SERVICE)
    text = out.decode().strip()
    if rc != 0:
        assert "error=1060" in text, text
        return None
    return _parse_status(text)


def query_config(rig):
    rc, out, _ = scmctl(rig, "qc", SERVICE)
    if rc != 0:
        return None
    text = out.decode("utf-8").replace("\r\n", "\n")
    config = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
    for key in ("type", "start", "error_control", "tag"):
        config[key] = int(config[key], 0)
    return config


def query_failure(rig):
    """scmctl qfailure's lines: the failure actions and the flag, or each one's error line."""
    _, out, _ = scmctl(rig, "qfailure", SERVICE)
    return out.decode().replace("\r\n", "\n").splitlines()


def start(rig, *args):
    rc, out, _ = scmctl(rig, "start", SERVICE, *args)
    assert rc == 0, out


def control(rig, code):
    """Sends a control; returns (error code or 0, the status record that came back)."""
    rc, out, _ = scmctl(rig, "control", SERVICE, str(code))
    lines = out.decode().split("\r\n")
    error = 0
    if lines[0].startswith("error="):
        error = int(lines[0].split()[0].split("=")[1])
        lines = lines[1:]
    if error and ws.refusals.delivered(code, error, query(rig)):
        ws.refusals.note(f"scmctl control {SERVICE} {code}", f"ControlService {error}, delivered all the same")
        error = 0
    return error, _parse_status(lines[0])


def wait_state(rig, state, timeout_ms=START_WAIT_MS):
    rc, out, err = scmctl(rig, "wait", SERVICE, str(state), str(timeout_ms), timeout=timeout_ms / 1000 + 60)
    assert rc == 0, f"service did not reach state {state}: rc={rc} {out!r} {err[-800:]!r}"
    return _parse_status(out.decode().splitlines()[0])


def process_exited(rig, pid, timeout_ms=START_WAIT_MS):
    rc, out, _ = scmctl(rig, "exited", str(pid), str(timeout_ms), timeout=timeout_ms / 1000 + 60)
    return rc == 0


def trace_mark(rig):
    return rig.trace.stat().st_size


def status_reports(rig, mark=0, also=None):
    """Every SetServiceStatus call of the service process(es) started after `mark`, as
    (pid, (type, state, accepted, exit, specific, checkpoint, wait_hint)), in call order.
    also: a file that a service process's Wine trace went to after it had started (its
    standard error, once that became a file); read after the session's trace."""
    data = rig.trace.read_bytes()[mark:].decode("latin-1")
    if also is not None and Path(also).exists():
        data += "\n" + Path(also).read_bytes().decode("latin-1")
    pids = set()
    reports = []
    for line in data.splitlines():
        parts = line.split(":", 4)
        if len(parts) < 5 or parts[2] != "trace" or parts[3] != "service":
            continue
        pid = int(parts[0], 16)
        rest = parts[4]
        if rest.startswith("RegisterServiceCtrlHandlerExW") and f'L"{SERVICE}"' in rest:
            pids.add(pid)
        elif rest.startswith("SetServiceStatus ") and pid in pids:
            values = tuple(int(v, 0) for v in rest.split()[2:9])
            reports.append((pid, values))
    return reports


def ensure_clean(rig):
    """Stops and deletes the service if a test left it behind, and removes its log file."""
    status = query(rig)
    if status is not None:
        # A refused STOP stops nothing: waiting for STOPPED then only takes the whole bound (Wine's
        # manager answers 232 for a service whose process ended by itself, as at System.exit).
        if status["state"] != SERVICE_STOPPED and control(rig, 1)[0] == 0:
            scmctl(rig, "wait", SERVICE, str(SERVICE_STOPPED), str(STOP_WAIT_MS), timeout=STOP_WAIT_MS / 1000 + 60)
        scmctl(rig, "delete", SERVICE)
        deadline = time.monotonic() + 30
        while query(rig) is not None and time.monotonic() < deadline:
            time.sleep(0.1)
    log = log_path(rig)
    if log.exists():
        log.unlink()


# ---------------------------------------------------------------- log file

def log_path(rig):
    return unix_path(rig, "C:\\windows\\temp\\velmoraneservice.log")


def log_bytes(rig):
    path = log_path(rig)
    return path.read_bytes() if path.exists() else b""


def records(data):
    """Splits log bytes into (stamp, text) pairs, one per CR LF line. Lines that don't begin
    with a time stamp (continuations of a record with several line feeds) get stamp None."""
    assert data == b"" or data.endswith(b"\r\n"), f"log does not end with CR LF: {data[-40:]!r}"
    result = []
    for line in data.split(b"\r\n")[:-1]:
        assert b"\n" not in line and b"\r" not in line, f"bare line end in {line!r}"
        if STAMP_RE.match(line):
            result.append((line[:18].decode("ascii"), line[18:].decode("latin-1")))
        else:
            result.append((None, line.decode("latin-1")))
    return result


def texts(data):
    return [text for _, text in records(data)]


def wait_for_log(rig, text, timeout=30.0, count=1):
    """Waits until `text` stands as a whole record text `count` times in the log."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            found = texts(log_bytes(rig)).count(text)
        except AssertionError:
            found = 0  # caught while a record was being written
        if found >= count:
            return True
        time.sleep(0.05)
    return False


def assert_subsequence(actual, expected):
    """`expected` occurs in `actual` in order, other items may stand between them."""
    position = 0
    for item in expected:
        try:
            position = actual.index(item, position) + 1
        except ValueError:
            raise AssertionError(f"{item!r} missing (in order) from {actual!r}") from None


def assert_run(actual, expected, start=0):
    """`expected` stands in `actual` as one unbroken run, beginning at index `start`."""
    assert actual[start:start + len(expected)] == expected, actual
