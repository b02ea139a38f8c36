r"""One Wine session of the test and benchmark equipment: a prefix of its own, made fresh,
a persistent server, a keeper process, and only this prefix's server ended. Used by the
end-to-end rig (tests/e2e/rig.py), the reliability suite and the benchmarks;
scripts/main-job.sh takes the same steps in shell.

What it relies on, as found with Wine 8:

* A session (wineserver, services.exe, ...) ends when the last ordinary process ends; the
  next process starts a new one, and starting a session runs the auto-start services. The
  session therefore keeps one long-lived process (the keeper, holdfile.exe on a file of its
  own) for as long as it is wanted, so that installed services start only when asked to.
* A service gets the environment of services.exe, built from the registry (system
  environment under Session Manager) when the session starts. Registry changes made later,
  the Unix environment of the caller and a per-service "Environment" value are not seen, and
  empty values are dropped. So service environment variables are set in the registry and the
  session is restarted.
* WINEDEBUG set in that registry environment reaches services.exe and every service
  process; their debug output goes to the keeper's stderr (the session's trace).
* Output of wine commands goes to files, never to pipes, and stdin comes from /dev/null:
  the processes of a session keep the descriptors of the process that started it, and a pipe
  kept open that way hangs the caller.
* The server is ended only through this prefix (WINEPREFIX=... wineserver -k), never by
  process name: other sessions run beside this one.
"""

import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path
from types import SimpleNamespace

import wine_refusals as refusals

TOOLS_DIR = "C:\\e2e"
KEEPER_FILE = TOOLS_DIR + "\\session.lock"
ENV_KEY = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment"
TOOLS = ("scmctl.exe", "holdfile.exe")


def wine_env(prefix):
    env = dict(os.environ)
    env["WINEPREFIX"] = str(prefix)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env[refusals.ENV_VARIABLE] = refusals.env_value()
    env.pop("DISPLAY", None)
    return env


def server(prefix, flag):
    """wineserver -p (persistent: back-to-back commands don't race its shutdown) or -k (ends
    this prefix's server and every process of its session)."""
    subprocess.run(["wineserver", flag], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, env=wine_env(prefix), timeout=60)


def unix_path(session, win_path):
    """Where a C:\\ path of the prefix lies on the Unix side."""
    assert win_path[:3].upper() == "C:\\", win_path
    rest = win_path[3:].replace("\\", "/")
    return session.prefix / "drive_c" / rest if rest else session.prefix / "drive_c"


def _outputs(session, name):
    session.counter += 1
    return (session.work / f"{session.counter:04d}-{name}.out", session.work / f"{session.counter:04d}-{name}.err")


STATUS_FIELDS = ("type", "state", "accepted", "exit", "specific", "checkpoint", "wait_hint")


def parse_status(line):
    """scmctl's status record (key=value fields) as numbers."""
    fields = dict(item.split("=", 1) for item in line.split() if "=" in item)
    return {k: int(v, 0) for k, v in fields.items() if k in STATUS_FIELDS or k in ("pid", "t")}


def _run_once(session, args, timeout, name):
    out, err = _outputs(session, name)
    with open(out, "wb") as fo, open(err, "wb") as fe:
        proc = subprocess.run([session.wine] + list(args), stdin=subprocess.DEVNULL, stdout=fo, stderr=fe,
                              env=wine_env(session.prefix), timeout=timeout)
    return proc.returncode, out.read_bytes(), err.read_bytes()


def service_status(session, service):
    """The service's status record as scmctl query gives it, or None (asked once)."""
    rc, out, _ = _run_once(session, [TOOLS_DIR + "\\scmctl.exe", "query", service], 60, "scmctl")
    return parse_status(out.decode(errors="replace").splitlines()[0]) if rc == 0 and out.strip() else None


def judge(session, args):
    """The judgement of one step's answers: which of Wine's passing refusals it is, or None."""
    def refusal(answer):
        rc, out, err = answer
        status = service_status(session, str(args[2])) if refusals.needs_status(args, out) else None
        return refusals.classify(args, rc, out, err, status)
    return refusal


def run(session, args, timeout=60, name="cmd", between=None):
    """Runs one Windows program to its end; returns (exit code, stdout bytes, stderr bytes).
    An answer that is one of Wine's passing refusals (wine_refusals.py) is written down and the
    step run once more, after between() when given."""
    return refusals.retried(" ".join(str(a) for a in args), lambda: _run_once(session, args, timeout, name),
                            judge(session, args), between)


def start_background(session, args, name="bg"):
    """Starts a Windows program and returns (Popen, stdout path)."""
    out, err = _outputs(session, name)
    with open(out, "wb") as fo, open(err, "wb") as fe:
        proc = subprocess.Popen([session.wine] + list(args), stdin=subprocess.DEVNULL, stdout=fo, stderr=fe,
                                env=wine_env(session.prefix))
    return proc, out


def wait_for_file_text(path, text, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.exists() and text in path.read_bytes():
            return True
        time.sleep(0.05)
    return False


def create(bin_dir, tag="e2e", registry_env=None):
    """A fresh prefix under /tmp/velmorane-<tag>-*, the tools (scmctl, holdfile) in
    C:\\e2e, `registry_env` in the services' environment, and a session with its keeper."""
    root = Path(tempfile.mkdtemp(prefix=f"velmorane-{tag}-", dir="/tmp"))
    session = SimpleNamespace(root=root, prefix=root / "prefix", work=root / "work", bin_dir=Path(bin_dir),
                              wine=shutil.which("wine"), counter=0, keeper=None, trace=None, env={},
                              session_no=0)
    session.work.mkdir()
    make_prefix(session.prefix, session.work / "wineboot.log")
    server(session.prefix, "-p")
    wait_until_answering(session)
    tools = unix_path(session, TOOLS_DIR)
    tools.mkdir(parents=True, exist_ok=True)
    for tool in TOOLS:
        shutil.copy2(session.bin_dir / tool, tools / tool)
    set_registry_env(session, registry_env or {})
    restart(session)
    return session


def make_prefix(prefix, log_path):
    """Makes a new prefix (wineboot -i). One that Wine failed to set up in passing is removed,
    with its server, and made once more."""
    def attempt():
        with open(log_path, "wb") as log:
            rc = subprocess.run(["wineboot", "-i"], stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                env=wine_env(prefix), timeout=300).returncode
        return rc, b"", log_path.read_bytes()

    def remove():
        server(prefix, "-k")
        shutil.rmtree(prefix, ignore_errors=True)

    rc, _, log = refusals.retried(f"wineboot -i ({prefix})", attempt,
                                  lambda answer: refusals.classify(["wineboot", "-i"], *answer), remove)
    assert rc == 0, f"wineboot -i in {prefix} ended with {rc}: {log[-500:]!r}"


def wait_until_answering(session, timeout=120):
    """A new prefix answers its first commands only once wineboot's work has settled: until
    then `reg` may end non-zero having printed nothing (seen right after `wineboot -i`). Waits
    until `reg query` answers, and writes the wait down when it took more than one ask."""
    deadline = time.monotonic() + timeout
    asks = 0
    while True:
        asks += 1
        rc, out, err = _run_once(session, ["reg", "query", ENV_KEY], 60, "reg")
        if rc == 0:
            break
        assert time.monotonic() < deadline, f"the new prefix did not answer reg query: {rc} {out!r} {err[-500:]!r}"
        time.sleep(refusals.RETRY_PAUSE_S)
    if asks > 1:
        refusals.note("reg query (new prefix)", "not answering yet", f"answered after {asks} asks")


def end(session):
    """Ends the session: this prefix's server, and the keeper with it."""
    server(session.prefix, "-k")
    if session.keeper is not None:
        try:
            session.keeper.wait(timeout=60)
        except subprocess.TimeoutExpired:
            session.keeper.kill()
        session.keeper = None


def destroy(session, keep=False):
    end(session)
    if not keep:
        shutil.rmtree(session.root, ignore_errors=True)


def set_registry_env(session, values):
    """Sets (or, for None, deletes) the services' environment variables; seen from the next
    session on."""
    for name, value in values.items():
        if value is None:
            run(session, ["reg", "delete", ENV_KEY, "/v", name, "/f"], name="reg")
        else:
            rc, out, err = run(session, ["reg", "add", ENV_KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f"],
                               name="reg")
            assert rc == 0, (out, err)


def restart(session):
    """Ends the prefix's session and starts a new one with a keeper, its stderr the new
    session's trace; returns once the Service Control Manager answers."""
    end(session)
    server(session.prefix, "-p")
    session.session_no += 1
    session.trace = session.work / f"session-{session.session_no}.trace"
    keeper = [TOOLS_DIR + "\\holdfile.exe", KEEPER_FILE, "3600", "rwd"]

    def start_keeper():
        out = session.work / f"session-{session.session_no}.keeper"
        with open(out, "wb") as fo, open(session.trace, "ab") as fe:
            proc = subprocess.Popen([session.wine] + keeper, stdin=subprocess.DEVNULL, stdout=fo, stderr=fe,
                                    env=wine_env(session.prefix))
        deadline = time.monotonic() + 120
        while b"held" not in out.read_bytes() and proc.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        return proc, out

    def refusal(started):
        proc, out = started
        return None if proc.poll() is None else refusals.classify(keeper, proc.returncode, out.read_bytes(), b"")

    session.keeper, out = refusals.retried(" ".join(keeper) + " (session keeper)", start_keeper, refusal)
    assert b"held" in out.read_bytes(), \
        f"session keeper did not start: exit {session.keeper.poll()}, {out.read_bytes()[-300:]!r}"
    # The SCM answers (here: the service, or "no such service") once services.exe is up.
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        rc, answer, _ = _run_once(session, [TOOLS_DIR + "\\scmctl.exe", "query", "VelmoraneService"], 60, "scmctl")
        if rc == 0 or b"error=1060" in answer:
            return
        time.sleep(0.2)
    raise AssertionError("SCM did not answer")


def processes(session):
    """Linux pids and command lines of the processes of this prefix's session (looked at,
    never signalled)."""
    tag = b"WINEPREFIX=" + str(session.prefix).encode() + b"\0"
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                environ = f.read() + b"\0"
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ")
        except OSError:
            continue
        if tag in environ:
            found.append((int(entry), cmdline.decode("latin-1", "replace")))
    return found


if __name__ == "__main__":
    # python3 winesession.py prefix DIR LOG: the unit tests' prefix, made by the test command
    # before its tests run side by side, through the same one retry.
    import sys
    if len(sys.argv) != 4 or sys.argv[1] != "prefix":
        sys.exit("usage: winesession.py prefix DIR LOG")
    make_prefix(Path(sys.argv[2]), Path(sys.argv[3]))
