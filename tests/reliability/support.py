r"""Equipment of the reliability tests, on top of the end-to-end rig (tests/e2e/rig.py).

* One cycle is driven by `scmctl cycle` inside the Wine session: start, the stop at the
  moment chosen (at once, or a few milliseconds after a file has shown a text), the
  polling of the state, and the exit code of the service process, which only a handle
  opened while the process still lives can give.
* The log check: every line of the log file is a record of one of the product's messages
  (a time stamp and a known text) or the empty line that the class path option's own line
  feed leaves after its record; the stamps never go backwards; each start's records are the
  launcher's records in their order, cut off anywhere, with the shutdown thread's records
  among them.
* The load: clients on the Linux side that keep requests in flight at the test application's
  server (main=serve) on 127.0.0.1, bounded in count and time.
* The drive snapshot: what lies in the prefix's drive_c, to show that a run wrote nothing
  outside the log file and the installation tree.
"""

import os
import re
import socket
import sys
import threading
import time
from collections import Counter
from datetime import datetime
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
import rig as wr  # noqa: E402  (puts tests/common and tests/fixtures on the path)
import javaside  # noqa: E402
import logtexts as lt  # noqa: E402

from rig import BIN, BRIDGE, JARS, STANDINS  # noqa: E402

KTR = "C:\\Apps\\"
BASE = KTR + "Velmorane\\"
EXE = BASE + wr.EXE_NAME
JVM_WIN = KTR + "jdk\\jre\\bin\\default\\jvm.dll"

# The bound of the stop: the handler's 20000 ms wait, plus a margin for the reports and a
# loaded machine (scmctl measures it inside the session). Beyond it a cycle counts as a hang.
STOP_BOUND_MS = wr.STOP_BOUND_MS
STOP_MARGIN_MS = 10000
EXIT_MARGIN_MS = 15000

STAMP_ANYWHERE = re.compile(r"\d\d/\d\d/\d\d \d\d:\d\d:\d\d ")


# ---------------------------------------------------------------- equipment

def check_equipment():
    needed = [BIN / wr.EXE_NAME, BIN / "scmctl.exe", BIN / "holdfile.exe", BRIDGE,
              JARS / "velmorane-testapp.jar", STANDINS / "jvm-slow" / "jvm.dll"]
    return [str(p) for p in needed if not p.exists()]


AEDEBUG_KEY = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug"


def prepare_session(rig):
    """Turns the crash debugger off: with an empty
    debugger command and Auto=1, a faulting process ends at once with the exception code as its
    exit code (winedbg would dump and keep it alive a while; Auto=0 blocks the faulting thread
    on a message box that no one can answer)."""
    for args in (["reg", "add", AEDEBUG_KEY, "/v", "Debugger", "/t", "REG_SZ", "/d", "", "/f"],
                 ["reg", "add", AEDEBUG_KEY, "/v", "Auto", "/t", "REG_SZ", "/d", "1", "/f"],
                 ["reg", "add", "HKCU\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
                  "/d", "0", "/f"]):
        rc, out, err = wr.run(rig, args, name="reg")
        assert rc == 0, (out, err)


class Install:
    """The installation at C:\\Apps with the bridge (or a stand-in) as the first jvm.dll
    candidate and the test application in lib\\."""

    def __init__(self, rig):
        self.rig = rig
        self.base_unix = wr.unix_path(rig, BASE)
        self.jvm_unix = wr.unix_path(rig, JVM_WIN)
        self.app_record = self.base_unix / javaside.APP_RECORD
        self.vm_record = self.base_unix / "vm.record"
        self.vm_record_win = BASE + "vm.record"
        self.app_record_win = BASE + javaside.APP_RECORD

    def use_vm(self, vm, delay_ms=None):
        """vm: "bridge" or a stand-in's directory name."""
        cfg = self.jvm_unix.parent
        for name in (javaside.BRIDGE_CFG, javaside.STANDIN_CFG):
            if (cfg / name).exists():
                (cfg / name).unlink()
        if vm == "bridge":
            javaside.install_bridge(cfg, BRIDGE, record=self.vm_record_win)
        else:
            javaside.install_standin(self.jvm_unix, STANDINS / vm / "jvm.dll", delay_ms=delay_ms,
                                     record=self.vm_record_win)

    def settings(self, **values):
        javaside.write_app_settings(self.base_unix, **values)

    def clear_records(self):
        for path in (self.app_record, self.vm_record):
            if path.exists():
                path.unlink()

    def app_events(self):
        return javaside.app_events(javaside.read_lines(self.app_record))


def lay_out(rig, vm="bridge", jars=("velmorane-testapp.jar",), extra=None, **settings):
    inst = Install(rig)
    files = {f"lib\\{jar}": (JARS / jar).read_bytes() for jar in jars}
    files.setdefault("lib", None)
    files.update(extra or {})
    wr.lay_out(rig, EXE, files)
    if vm is not None:
        inst.use_vm(vm)
    inst.settings(**settings)
    rc, out = wr.command(rig, EXE, "install")
    assert (rc, out) == (0, b"VelmoraneService installed successfully\r\n")
    return inst


# ---------------------------------------------------------------- one cycle

GO_FILE = wr.TOOLS_DIR + "\\go.flag"


def _cycle_args(trigger_file, trigger_text, delay_ms, stops, stop_gap_ms, stop_bound_ms, exit_bound_ms):
    return [wr.TOOLS_DIR + "\\scmctl.exe", "cycle", wr.SERVICE, trigger_file, trigger_text, str(delay_ms), str(stops),
            str(stop_gap_ms), str(stop_bound_ms), str(exit_bound_ms)]


def cycle(rig, trigger_file="-", trigger_text="-", delay_ms=0, stops=1, stop_gap_ms=0,
          stop_bound_ms=STOP_BOUND_MS + STOP_MARGIN_MS, exit_bound_ms=EXIT_MARGIN_MS, between=None):
    """One start/stop cycle through `scmctl cycle`; returns what it printed, parsed. A start
    Wine refused in passing is run again by the session (after between(), when given)."""
    args = _cycle_args(trigger_file, trigger_text, delay_ms, stops, stop_gap_ms, stop_bound_ms, exit_bound_ms)
    timeout = 150 + (stop_bound_ms + exit_bound_ms) / 1000 + stops * stop_gap_ms / 1000 + 150
    rc, out, err = wr.run(rig, args, timeout=timeout, name="cycle", between=between)
    return parse_cycle(rc, out, err)


def start_cycle(rig, delay_ms=0, stops=1, stop_gap_ms=0, stop_bound_ms=STOP_BOUND_MS + STOP_MARGIN_MS,
                exit_bound_ms=EXIT_MARGIN_MS):
    """Starts a cycle whose stop waits for go(): the test watches the log from the Linux side.
    A start Wine refused in passing ends scmctl before it prints the pid: the session's one
    place for such refusals judges that and starts the cycle once more."""
    flag = wr.unix_path(rig, GO_FILE)
    if flag.exists():
        flag.unlink()
    args = _cycle_args(GO_FILE, "go", delay_ms, stops, stop_gap_ms, stop_bound_ms, exit_bound_ms)

    def attempt():
        proc, out = wr.start_background(rig, args, name="cycle")
        assert wait_until(lambda: b"pid=" in out.read_bytes() or proc.poll() is not None, 150), out.read_bytes()
        return proc, out

    def refusal(started):
        proc, out = started
        return None if proc.poll() is None else wr.ws.judge(rig, args)((proc.returncode, out.read_bytes(), b""))

    proc, out = wr.ws.refusals.retried(" ".join(args), attempt, refusal)
    assert proc.poll() is None, out.read_bytes()
    pid = int(out.read_text().split("pid=")[1].split()[0])
    return proc, out, pid


def go(rig):
    wr.unix_path(rig, GO_FILE).write_bytes(b"go")


def finish_cycle(proc, out, timeout=300):
    rc = proc.wait(timeout=timeout)
    return parse_cycle(rc, out.read_bytes(), b"")


def parse_cycle(rc, out, err):
    wr.ws.refusals.note_tool_lines("scmctl cycle", out)
    text = out.decode("utf-8", "replace")
    assert rc == 0, f"scmctl cycle failed ({rc}): {text} {err[-2000:]!r}"
    result = {"changes": [], "controls": [], "trigger": None, "raw": text}
    for line in text.splitlines():
        head = line.split(" ", 1)[0]
        fields = dict(item.split("=", 1) for item in line.split() if "=" in item)
        if head == "change":
            result["changes"].append((int(fields["t_ms"]), int(fields["state"]), int(fields["accepted"])))
        elif head == "control":
            result["controls"].append(fields)
        elif line.startswith("pid="):
            result["pid"] = int(fields["pid"])
            result["running_ms"] = int(fields["running_ms"])
        elif line.startswith("trigger="):
            result["trigger"] = fields["trigger"]
        elif line.startswith("stopped="):
            result["stopped"] = fields["stopped"] == "1"
            result["stop_ms"] = int(fields["stop_ms"])
        elif line.startswith("exited="):
            result["exited"] = fields["exited"] == "1"
            result["exit_code"] = int(fields["exit_code"])
            result["exit_ms"] = int(fields["exit_ms"])
    return result


def crash_lines(rig, mark):
    """Lines of the session's stderr (the trace) since `mark` that tell of a process that
    faulted, or of a fatal error inside the virtual machine."""
    data = rig.trace.read_bytes()[mark:].decode("latin-1")
    signs = ("Unhandled exception", "Unhandled page fault", "Unhandled illegal", "Unhandled stack overflow",
             "wine: Unhandled", "starting debugger", "jvmbridge: FATAL", "A fatal error has been detected",
             "hs_err_pid")
    return [line for line in data.splitlines() if any(s in line for s in signs)]


# ---------------------------------------------------------------- the load

LOAD_FLAG = wr.TOOLS_DIR + "\\load.flag"
LOAD_HOST = "127.0.0.1"


def free_port():
    """A loopback port nothing listens on now, for the test server's settings."""
    with socket.socket() as probe:
        probe.bind((LOAD_HOST, 0))
        return probe.getsockname()[1]


class Load:
    """`connections` clients, each sending one request per connection to the test server at
    127.0.0.1:`port`, the next as soon as the last has ended, so that requests are in flight at
    every moment the server listens. A refused connection (no server yet, or none any more) is
    tried again after REFUSED_PAUSE_S. It stops at stop(), after MAX_ATTEMPTS connection
    attempts in all or after MAX_SECONDS, whichever comes first. After FLAG_AFTER answers it
    writes "answered" into the flag file (a Linux path), the trigger of a stop among requests.

    Each attempt ends as one of: answered (status 200 and the whole body the server promises:
    "served <target>"), refused, unanswered (connected, then reset, closed or timed out before
    the whole answer), wrong (an answer of another shape)."""

    REFUSED_PAUSE_S = 0.025
    CONNECT_TIMEOUT_S = 10
    READ_TIMEOUT_S = 30
    MAX_ATTEMPTS = 50000
    MAX_SECONDS = 600
    FLAG_AFTER = 64

    def __init__(self, port, flag, connections=8):
        self.port = port
        self.flag = Path(flag)
        self.connections = connections
        self.counts = Counter()
        self.lock = threading.Lock()
        self.done = threading.Event()
        self.threads = []
        self.deadline = None

    def start(self):
        self.deadline = time.monotonic() + self.MAX_SECONDS
        if self.flag.exists():
            self.flag.unlink()
        self.threads = [threading.Thread(target=self._client, args=(n,), daemon=True)
                        for n in range(self.connections)]
        for thread in self.threads:
            thread.start()
        return self

    def stop(self):
        """Ends the clients (each finishes its request in hand) and returns the counts."""
        self.done.set()
        for thread in self.threads:
            thread.join(self.CONNECT_TIMEOUT_S + self.READ_TIMEOUT_S + 5)
        self.counts["clients left running"] = sum(t.is_alive() for t in self.threads)
        return Counter(self.counts)

    def _take_attempt(self):
        with self.lock:
            if self.done.is_set() or time.monotonic() > self.deadline \
                    or self.counts["attempts"] >= self.MAX_ATTEMPTS:
                return False
            self.counts["attempts"] += 1
            return True

    def _count(self, outcome):
        with self.lock:
            self.counts[outcome] += 1
            if outcome == "answered" and self.counts[outcome] == self.FLAG_AFTER:
                self.flag.write_bytes(b"answered")

    def _client(self, number):
        sequence = 0
        while self._take_attempt():
            sequence += 1
            outcome = self._request(f"/c{number}/{sequence}")
            self._count(outcome)
            if outcome == "refused":
                self.done.wait(self.REFUSED_PAUSE_S)

    def _request(self, target):
        try:
            conn = socket.create_connection((LOAD_HOST, self.port), timeout=self.CONNECT_TIMEOUT_S)
        except ConnectionRefusedError:
            return "refused"
        except OSError:
            return "unanswered"
        with conn:
            try:
                conn.settimeout(self.READ_TIMEOUT_S)
                conn.sendall(f"GET {target} HTTP/1.1\r\nHost: {LOAD_HOST}\r\nConnection: close\r\n\r\n"
                             .encode("ascii"))
                data = b""
                while len(data) < 4096:
                    chunk = conn.recv(4096)
                    if not chunk:
                        break
                    data += chunk
            except OSError:
                return "unanswered"
        body = f"served {target}\n".encode("ascii")
        head = (b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                % len(body))
        if data == head + body:
            return "answered"
        return "unanswered" if (head + body).startswith(data) else "wrong"


# ---------------------------------------------------------------- the log

def _stamp_time(stamp):
    return datetime.strptime(stamp.strip(), "%m/%d/%y %H:%M:%S")


def log_faults(data, exe=EXE):
    """Every line of the log that is not a whole record of a known message, as (line number,
    reason, text). An empty list means the log is made of whole records only."""
    faults = []
    try:
        recs = wr.records(data)
    except AssertionError as error:
        return [(0, "framing", str(error))]
    last_time = None
    after_option = False
    for number, (stamp, text) in enumerate(recs, 1):
        if stamp is None:
            # The class path option ends with its own line feed: its record leaves exactly one
            # empty line behind it. Nothing else spans lines.
            if not (after_option and text == ""):
                faults.append((number, "line without a time stamp", text))
            after_option = False
            continue
        if STAMP_ANYWHERE.search(text):
            faults.append((number, "a time stamp inside a record", text))
        when = _stamp_time(stamp)
        if last_time is not None and when < last_time:
            faults.append((number, "time stamp goes backwards", stamp + text))
        last_time = when
        if after_option:
            faults.append((number, "class path option without its empty line", text))
        after_option = text.startswith("-Djava.class.path=")
        if after_option or text == exe or lt.known_message(text):
            continue
        faults.append((number, "unknown message", text))
    if after_option:
        faults.append((len(recs), "class path option without its empty line", ""))
    return faults


def runs(data):
    """The record texts of the log split per start of the service (at each banner); the empty
    continuation line of the class path option is dropped."""
    result = []
    for stamp, text in wr.records(data):
        if stamp is None:
            continue
        if text == lt.BANNER:
            result.append([])
        if not result:
            result.append([])
        result[-1].append(text)
    return result


def runs_at(data, ends):
    """The record texts of each cycle, cut at the log sizes `ends` taken after each cycle: a stop
    can come before the launcher's first record (the banner), so the banner can't tell the
    cycles apart."""
    result = []
    start = 0
    for end in ends:
        result.append([text for stamp, text in wr.records(data[start:end]) if stamp is not None])
        start = end
    return result


def phase_of(texts):
    """Where the stop found the launcher, read from the order of the records: "before-banner"
    (the launcher had not logged yet), "early" (no creation call yet), "creating" (inside JNI_CreateJavaVM), "vm" (the virtual machine existed;
    "main" once main had been invoked)."""
    labels = lt.threads(texts)
    if "shutdown" not in labels:
        return "none"
    first_stop = labels.index("shutdown")
    if first_stop == 0:
        return "before-banner"
    before = texts[:first_stop]
    if texts[first_stop] == lt.NO_VM:
        return "creating" if lt.CALLING_CREATE in before else "early"
    return "main" if lt.INVOKING_MAIN in before else "vm"


# ---------------------------------------------------------------- drive snapshot

def _churn(rel):
    """Files in drive_c that others than the service write during a test: only the rig's own
    directory (C:\\e2e: its tools, the session keeper's lock file, the cycle's go flag). Measured
    with Wine 8 over a start/stop cycle with the virtual machine, the end of a session and the
    start of a new one: none of the other ~800 files of drive_c changed (no temp files under
    users\\, no logs or caches under windows\\), so nothing else is excused; were a Wine version
    to write there, the tests would name the file and it would need a look."""
    return rel.lower().split("/")[0] == "e2e"


def snapshot(rig, keep=()):
    """{relative path: (size, mtime_ns)} of drive_c, without Wine's churn, without the
    installation tree (C:\\Apps) and without the files in `keep` (relative paths)."""
    root = wr.unix_path(rig, "C:\\")
    found = {}
    for directory, dirs, files in os.walk(root):
        rel_dir = os.path.relpath(directory, root)
        rel_dir = "" if rel_dir == "." else rel_dir
        if rel_dir.lower() == "apps":
            dirs[:] = []
            continue
        for name in files + [d for d in dirs if os.path.islink(os.path.join(directory, d))]:
            rel = f"{rel_dir}/{name}" if rel_dir else name
            if _churn(rel) or rel.lower() in keep:
                continue
            try:
                st = os.lstat(os.path.join(directory, name))
            except FileNotFoundError:
                continue
            found[rel] = (st.st_size, st.st_mtime_ns)
        if rel_dir == "":
            dirs[:] = [d for d in dirs if d.lower() != "apps"]
    return found


LOG_REL = "windows/temp/velmoraneservice.log"


def written_outside(before, after):
    """Files that appeared, vanished or changed between two snapshots."""
    changed = sorted(set(before) ^ set(after))
    changed += sorted(p for p in set(before) & set(after) if before[p] != after[p])
    return changed


def wait_until(predicate, timeout, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


# ---------------------------------------------------------------- expected records

def expected_launcher(texts, jvm_loads=True):
    """The launcher's records for the installation at C:\\Apps with the test application's jar
    in lib\\: the lib entries in the order the log shows them (Wine passes on the order of the
    Unix directory), no runtime library, and jvm.dll either loading at the first candidate (the
    bridge; its records go on with STARTED) or at none."""
    return lt.launcher_run(EXE, BASE, KTR, lt.file_names(texts), jvm_found=1 if jvm_loads else None)


def assert_run(texts, shutdown, jvm_loads=True, dumped=False):
    """One run's records: the launcher's whole run (those after main returned cut off
    anywhere), and `shutdown`, the shutdown thread's records, after the launcher's up to main;
    a thread dump among them when `dumped` (shutdown() still ran 15 s after the stop)."""
    launcher, theirs = lt.split(texts)
    assert lt.up_to_main(launcher) == expected_launcher(texts, jvm_loads)
    theirs, dump = lt.split_dump(theirs)
    assert theirs == shutdown
    threads = [t for t in dump if t.startswith(('Java thread "', 'Shutdown thread "'))]
    assert dump[:1] == ([lt.DUMP_BEGIN % (15, len(threads))] if dumped else []), dump
    assert lt.stop_after_main(texts), texts
