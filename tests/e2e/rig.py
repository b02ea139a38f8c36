r"""Wine rig for the end-to-end tests of the service host.

One Wine prefix per test session. What the rig relies on, as found with Wine 8:

* A session (wineserver, services.exe, ...) ends when the last ordinary process
  ends; the next process starts a new one, and starting a session runs the
  auto-start services. The rig therefore keeps one long-lived process (the
  "keeper", holdfile.exe on a file of its own) for as long as it wants the
  session, so that installed services start only when a test starts them.
* A service started by Wine's SCM gets the environment of services.exe, which
  is built from the registry (system environment under Session Manager) when
  the session starts. Registry changes made later, the Unix environment of the
  caller and a per-service "Environment" value are not seen. Values that are
  empty are dropped. So service environment variables are set in the registry
  and the session is restarted.
* WINEDEBUG set in that registry environment reaches services.exe and every
  service process; their debug output goes to the keeper's stderr. With
  "+pid,+service" every SetServiceStatus call shows up with all seven fields
  and the calling process, which is how the tests see the order of reports.
  QueryServiceStatus is no help for the type: Wine reports the registered type
  there, not the one the service passes.
  Polling the SCM misses reports (the second STOP_PENDING) and sees the
  START_PENDING that the SCM sets by itself before the process reports;
  NotifyServiceStatusChangeW works but echoes the current state on every
  new registration, so neither can count reports.
* GetModuleFileNameW gives the path with an upper-case drive letter, the rest
  as the program was started: installing through c:\apps\... registers
  "C:\apps\...". The tests start the executable by its path as laid out.
* Wine's sc.exe knows query, start, stop and delete but not qc, interrogate or
  control; scmctl.exe does all of it through the API.
* Output of wine commands goes to files, never to pipes: services.exe inherits
  and keeps the descriptors of the process that starts a session.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from types import SimpleNamespace

# The suites' shared equipment: the log's texts (logtexts) and the Java side (javaside).
TESTS = Path(__file__).resolve().parents[1]
for _shared in (TESTS / "common", TESTS / "fixtures"):
    if str(_shared) not in sys.path:
        sys.path.insert(0, str(_shared))

SERVICE = "VelmoraneService"
EXE_NAME = "VelmoraneService.exe"
DEFAULT_DIR = "C:\\Apps\\Velmorane"
DEFAULT_EXE = DEFAULT_DIR + "\\" + EXE_NAME
LOG_WIN_PATH = "c:\\windows\\temp\\velmoraneservice.log"
TOOLS_DIR = "C:\\e2e"
KEEPER_FILE = TOOLS_DIR + "\\session.lock"
ENV_KEY = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment"
TRACE_SETTING = "+pid,+service"

SERVICE_STOPPED = 1
SERVICE_START_PENDING = 2
SERVICE_STOP_PENDING = 3
SERVICE_RUNNING = 4

STATUS_FIELDS = ("type", "state", "accepted", "exit", "specific", "checkpoint", "wait_hint")
STAMP_RE = re.compile(rb"\d\d/\d\d/\d\d \d\d:\d\d:\d\d ")


def _wine_env(rig):
    env = dict(os.environ)
    env["WINEPREFIX"] = str(rig.prefix)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("DISPLAY", None)
    return env


def unix_path(rig, win_path):
    """Where a C:\\ path of the prefix lies on the Unix side."""
    assert win_path[:3].upper() == "C:\\", win_path
    rest = win_path[3:].replace("\\", "/")
    return rig.prefix / "drive_c" / rest if rest else rig.prefix / "drive_c"


def run(rig, args, timeout=60, name="cmd"):
    """Runs one Windows program to its end; returns (exit code, stdout bytes, stderr bytes)."""
    rig.counter += 1
    out = rig.work / f"{rig.counter:04d}-{name}.out"
    err = rig.work / f"{rig.counter:04d}-{name}.err"
    with open(out, "wb") as fo, open(err, "wb") as fe:
        proc = subprocess.run([rig.wine] + list(args), stdin=subprocess.DEVNULL, stdout=fo, stderr=fe,
                              env=_wine_env(rig), timeout=timeout)
    return proc.returncode, out.read_bytes(), err.read_bytes()


def start_background(rig, args, name="bg"):
    """Starts a Windows program and returns (Popen, stdout path)."""
    rig.counter += 1
    out = rig.work / f"{rig.counter:04d}-{name}.out"
    err = rig.work / f"{rig.counter:04d}-{name}.err"
    fo = open(out, "wb")
    fe = open(err, "wb")
    proc = subprocess.Popen([rig.wine] + list(args), stdin=subprocess.DEVNULL, stdout=fo, stderr=fe,
                            env=_wine_env(rig))
    fo.close()
    fe.close()
    return proc, out


def wait_for_file_text(path, text, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.exists() and text in path.read_bytes():
            return True
        time.sleep(0.05)
    return False


def _wineserver(rig, *args):
    subprocess.run([rig.wineserver] + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, env=_wine_env(rig), timeout=60)


# ---------------------------------------------------------------- session

def create(bin_dir):
    """Makes a fresh prefix, installs the tools and starts a session."""
    root = Path(tempfile.mkdtemp(prefix="velmorane-e2e-", dir="/tmp"))
    rig = SimpleNamespace(root=root, prefix=root / "prefix", work=root / "work", bin_dir=Path(bin_dir),
                          wine=shutil.which("wine"), wineserver=shutil.which("wineserver"),
                          counter=0, keeper=None, trace=None, env={}, session_no=0)
    rig.work.mkdir()
    env = _wine_env(rig)
    with open(rig.work / "wineboot.log", "wb") as log:
        subprocess.run(["wineboot", "-i"], stdin=subprocess.DEVNULL, stdout=log, stderr=log, env=env,
                       timeout=300, check=True)
    _wineserver(rig, "-p")
    tools = unix_path(rig, TOOLS_DIR)
    tools.mkdir(parents=True, exist_ok=True)
    for tool in ("scmctl.exe", "holdfile.exe"):
        shutil.copy2(rig.bin_dir / tool, tools / tool)
    _set_registry_env(rig, {"WINEDEBUG": TRACE_SETTING})
    _restart_session(rig)
    return rig


def destroy(rig, keep=False):
    _wineserver(rig, "-k")
    if rig.keeper is not None:
        try:
            rig.keeper.wait(timeout=30)
        except subprocess.TimeoutExpired:
            rig.keeper.kill()
    if not keep:
        shutil.rmtree(rig.root, ignore_errors=True)


def _set_registry_env(rig, values):
    for name, value in values.items():
        if value is None:
            run(rig, ["reg", "delete", ENV_KEY, "/v", name, "/f"], name="reg")
        else:
            rc, out, err = run(rig, ["reg", "add", ENV_KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f"],
                               name="reg")
            assert rc == 0, (out, err)


def _restart_session(rig):
    """Ends the prefix's session (only this prefix's server) and starts a new one with a keeper."""
    _wineserver(rig, "-k")
    if rig.keeper is not None:
        rig.keeper.wait(timeout=60)
    _wineserver(rig, "-p")
    rig.session_no += 1
    rig.trace = rig.work / f"session-{rig.session_no}.trace"
    out = rig.work / f"session-{rig.session_no}.keeper"
    with open(out, "wb") as fo, open(rig.trace, "ab") as fe:
        rig.keeper = subprocess.Popen([rig.wine, TOOLS_DIR + "\\holdfile.exe", KEEPER_FILE, "3600", "rwd"],
                                      stdin=subprocess.DEVNULL, stdout=fo, stderr=fe, env=_wine_env(rig))
    assert wait_for_file_text(out, b"held", 120), "session keeper did not start"
    # The SCM answers once services.exe is up.
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        rc, out_text, _ = scmctl(rig, "query", SERVICE)
        if rc == 0 or b"error=1060" in out_text:
            return
        time.sleep(0.2)
    raise AssertionError("SCM did not answer")


def set_service_env(rig, values):
    """Gives services the environment variables `values` (name -> text); restarts the
    session only when the wanted set differs from the current one. Not for installed services:
    a new session starts them."""
    if values == rig.env:
        return
    changes = {name: None for name in rig.env if name not in values}
    changes.update(values)
    for name, value in values.items():
        assert value != "", "Wine drops empty environment values; a service can't be given one"
    _set_registry_env(rig, changes)
    _restart_session(rig)
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
    """Runs the executable from a command prompt; returns (exit code, stdout bytes)."""
    rc, out, _ = run(rig, [exe_path] + list(args), timeout=60, name="exe")
    return rc, out


# ---------------------------------------------------------------- SCM

def scmctl(rig, *args, timeout=90):
    return run(rig, [TOOLS_DIR + "\\scmctl.exe"] + list(args), timeout=timeout, name="scmctl")


def scmctl_asking(rig, *args, timeout=90):
    """scmctl for a question that changes nothing (query, qc, wait). scmctl always prints
    its answer; a run with no output at all means the program never ran (seen once when
    Wine failed to start it), so such a run is tried once more."""
    rc, out, err = scmctl(rig, *args, timeout=timeout)
    if rc != 0 and out == b"":
        time.sleep(0.5)
        rc, out, err = scmctl(rig, *args, timeout=timeout)
    return rc, out, err


def _parse_status(line):
    fields = dict(item.split("=", 1) for item in line.split())
    return {k: int(v, 0) for k, v in fields.items() if k in STATUS_FIELDS or k in ("pid", "t")}


def query(rig):
    """The service's status record with its pid, or None when the service does not exist."""
    rc, out, _ = scmctl_asking(rig, "query", SERVICE)
    text = out.decode().strip()
    if rc != 0:
        assert "error=1060" in text, text
        return None
    return _parse_status(text)


def query_config(rig):
    rc, out, _ = scmctl_asking(rig, "qc", SERVICE)
    if rc != 0:
        return None
    text = out.decode("utf-8").replace("\r\n", "\n")
    config = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
    for key in ("type", "start", "error_control", "tag"):
        config[key] = int(config[key], 0)
    return config


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
    return error, _parse_status(lines[0])


def wait_state(rig, state, timeout_ms=30000):
    rc, out, err = scmctl_asking(rig, "wait", SERVICE, str(state), str(timeout_ms), timeout=timeout_ms / 1000 + 60)
    assert rc == 0, f"service did not reach state {state}: rc={rc} {out!r} {err[-800:]!r}"
    return _parse_status(out.decode().splitlines()[0])


def process_exited(rig, pid, timeout_ms=30000):
    rc, out, _ = scmctl(rig, "exited", str(pid), str(timeout_ms), timeout=timeout_ms / 1000 + 60)
    return rc == 0


def trace_mark(rig):
    return rig.trace.stat().st_size


def status_reports(rig, mark=0):
    """Every SetServiceStatus call of the service process(es) started after `mark`, as
    (pid, (type, state, accepted, exit, specific, checkpoint, wait_hint)), in call order."""
    data = rig.trace.read_bytes()[mark:].decode("latin-1")
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
        if status["state"] != SERVICE_STOPPED:
            control(rig, 1)
            scmctl(rig, "wait", SERVICE, str(SERVICE_STOPPED), "40000", timeout=100)
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
