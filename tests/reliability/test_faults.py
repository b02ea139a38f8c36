r"""Faults, through Wine's Service Control Manager, with the Linux HotSpot behind jvm.dll (the
bridge) unless said otherwise. After each: SERVICE_STOPPED within 20000 ms plus a margin, the
process ended with exit code 0, no fault on the session's stderr, nothing written in drive_c
outside the log file and the installation tree, and the log holds exactly the records expected.

The launcher's other failure lines are provoked through the manager elsewhere and not again
here:
  no lib\ (plugins survey), neither lib\ nor plugins\, every "Failed to load ..." line (no Java
  runtime), a file that starts with MZ but is no library   e2e/test_classpath_probe.py
  no JNI_CreateJavaVM export, a negative creation result, main class missing (launcher and
  shutdown thread), no main(), no shutdown(), shutdown() throwing, shutdown() sleeping past
  the 20 s (45 s), stop inside JNI_CreateJavaVM             e2e/test_jvm.py
  log held open / deleted / temp directory missing without the virtual machine
                                                            e2e/test_service_host.py
  "AttachCurrentThread failed", the VLJVMDLL length line    unit/jvm_test.cpp, unit/paths_test.cpp
The two lines logged when malloc fails ("Can't allocate the JVM options", "Can't convert the
VLCLASSPATH environment variable, it is ignored") can't be brought about from outside.
SHUTDOWN (code 5) is driven in-process (unit/service_test.cpp): Wine's SCM never sends it and
its ControlService refuses the code.
"""

import random

import support
from support import wr

BOUND_MS = support.STOP_BOUND_MS + support.STOP_MARGIN_MS
LAST_PROBE_LINE = support.lt.jvm_lines(support.BASE, support.KTR)[-1]


def assert_clean_cycle(host, result, mark, states=(2, 4, 3, 3, 1)):
    assert result["stopped"], result["raw"]
    assert result["stop_ms"] <= BOUND_MS, result["raw"]
    assert result["exited"], f"the process outlived SERVICE_STOPPED: {result['raw']}"
    assert result["exit_code"] == 0, result["raw"]
    assert not support.crash_lines(host, mark)
    reports = [r for p, r in wr.status_reports(host, mark) if p == result["pid"]]
    if states is not None:
        assert [r[1] for r in reports] == list(states)
    # Every report of the service process carries type 0x30 and zero exit codes, checkpoint, hint.
    assert all(r[0] == 0x30 and r[3:] == (0, 0, 0, 0) for r in reports), reports
    return reports


def single_run(host):
    data = wr.log_bytes(host)
    assert support.log_faults(data) == []
    runs = support.runs(data)
    assert len(runs) == 1, runs
    return runs[0]


def run_with_go(host, when_logged, between=None, **cycle_args):
    """A cycle whose stop is sent once `when_logged` stands in the log and `between` (if any)
    has run."""
    proc, out, pid = support.start_cycle(host, **cycle_args)
    try:
        assert wr.wait_for_log(host, when_logged, timeout=120), wr.texts(wr.log_bytes(host))
        if between is not None:
            between()
        support.go(host)
        return support.finish_cycle(proc, out)
    finally:
        if proc.poll() is None:
            support.go(host)
            proc.wait(timeout=300)


def test_jvm_dll_of_random_bytes_is_passed_over(host):
    inst = support.lay_out(host, vm=None)
    noise = random.Random(6).randbytes(65536)
    noise = b"\0\0" + noise[2:]  # not even the MZ of an executable
    inst.jvm_unix.parent.mkdir(parents=True, exist_ok=True)
    inst.jvm_unix.write_bytes(noise)
    before = support.snapshot(host, keep={support.LOG_REL})
    mark = wr.trace_mark(host)
    result = run_with_go(host, LAST_PROBE_LINE)
    assert_clean_cycle(host, result, mark)
    support.assert_run(single_run(host), [support.lt.NO_VM], jvm_loads=False)
    assert support.written_outside(before, support.snapshot(host, keep={support.LOG_REL})) == []


def test_shutdown_that_never_returns_is_left_behind_after_20_s(host):
    inst = support.lay_out(host, shutdown="hang")
    before = support.snapshot(host, keep={support.LOG_REL})
    mark = wr.trace_mark(host)
    result = support.cycle(host, support.BASE + "testapp.record", "main block")
    assert_clean_cycle(host, result, mark)
    print(f"\nhang: STOP to STOPPED {result['stop_ms']} ms, control {result['controls']}")
    assert result["stop_ms"] >= 19900
    # Wine's SCM gives up on a handler that holds the dispatcher that long.
    assert result["controls"][0]["error"] in ("0", "1053")
    support.assert_run(single_run(host), [], dumped=True)
    assert ("shutdown", "hang") in inst.app_events()
    assert support.written_outside(before, support.snapshot(host, keep={support.LOG_REL})) == []


def test_requests_outlasting_the_servers_drain_are_cut_off_at_its_bound(host):
    # Each request takes 8 s, the server drains for 1 s: at the stop every request it holds
    # is cut off at its bound, it says so, and the clients saw exactly those go unanswered
    # (besides any the kernel still queued when the listener closed).
    port = support.free_port()
    inst = support.lay_out(host, main="serve", serve_port=port, serve_threads=4, serve_work_ms=8000,
                           serve_drain_ms=1000)
    before = support.snapshot(host, keep={support.LOG_REL})
    mark = wr.trace_mark(host)
    clients = support.Load(port, wr.unix_path(host, support.LOAD_FLAG), connections=4).start()
    result = support.cycle(host, support.BASE + "testapp.record", "main serve port=", delay_ms=1500)
    client = clients.stop()
    assert_clean_cycle(host, result, mark)
    server = support.javaside.server_counts(support.javaside.read_lines(inst.app_record))
    print(f"\ncut off: STOP to STOPPED {result['stop_ms']} ms, server {server}, clients {dict(client)}")
    assert server is not None and server["accepted"] >= 1, server
    assert (server["served"], server["failed"], server["cut-off"], server["in-flight"]) \
        == (0, 0, server["accepted"], server["accepted"])
    # The drain bound, plus at most the 1 s the cut connections' workers get to end.
    assert 1000 <= server["drain-ms"] < 3000 and server["drain-ms"] <= result["stop_ms"] < support.STOP_BOUND_MS
    assert client["answered"] == 0 and client["wrong"] == 0 and client["unanswered"] >= server["cut-off"], client
    support.assert_run(single_run(host), support.lt.SHUTDOWN_DONE)
    assert support.written_outside(before, support.snapshot(host, keep={support.LOG_REL})) == []


# Wine's SCM lets one STOP through and refuses the later ones while the service is
# STOP_PENDING (ERROR_SERVICE_CANNOT_ACCEPT_CTRL, 1061), so the handler's own guard against a
# second stop is tested in-process (unit/service_test.cpp). STOPs sent at the same moment from
# separate connections are left out: now and then they break Wine's pipe to the service
# ("service protocol error - failed to read pipe"); the dispatcher call then returns without
# any control, the process ends with 0 and the SCM goes on showing RUNNING.
def test_repeated_stops_while_shutdown_is_slow_run_one_stop_sequence(host):
    inst = support.lay_out(host, shutdown="sleep", shutdown_seconds=8)
    before = support.snapshot(host, keep={support.LOG_REL})
    mark = wr.trace_mark(host)
    # Five STOPs, one after the other while the handler waits for shutdown().
    result = support.cycle(host, support.BASE + "testapp.record", "main block", stops=5, stop_gap_ms=700)
    print(f"\nrepeated stops: STOP to STOPPED {result['stop_ms']} ms, controls {result['controls']}")
    reports = assert_clean_cycle(host, result, mark, states=None)
    states = [r[1] for r in reports]
    # One stop sequence: a later STOP that reaches the handler only repeats the current report.
    assert states[:3] == [2, 4, 3] and states[-1] == 1 and set(states[3:-1]) <= {3}, states
    assert result["stop_ms"] >= 7900
    support.assert_run(single_run(host), support.lt.SHUTDOWN_DONE)
    events = inst.app_events()
    # shutdown() was called once.
    assert len([e for e in events if e[0] == "shutdown" and e[1].startswith("start ")]) == 1
    assert events.count(("shutdown", "sleep 8")) == 1
    assert support.written_outside(before, support.snapshot(host, keep={support.LOG_REL})) == []


def test_log_held_open_while_the_jvm_runs_drops_the_shutdown_records(host):
    inst = support.lay_out(host)
    before = support.snapshot(host, keep={support.LOG_REL})
    mark = wr.trace_mark(host)
    holders = []

    def hold():
        assert support.wait_until(lambda: ("main", "block") in inst.app_events(), 60)
        holder, out = wr.start_background(host, [wr.TOOLS_DIR + "\\holdfile.exe", wr.LOG_WIN_PATH, "6", "none"],
                                          name="holdfile")
        holders.append((holder, out))
        assert wr.wait_for_file_text(out, b"held"), out.read_bytes()

    result = run_with_go(host, support.lt.INVOKING_MAIN, between=hold)
    holder, out = holders[0]
    assert holder.wait(timeout=60) == 0
    assert b"released" in out.read_bytes()
    assert_clean_cycle(host, result, mark)
    # shutdown() ran, but its records met the file held open and were dropped.
    assert ("shutdown", "return") in inst.app_events()
    support.assert_run(single_run(host), [])
    assert support.written_outside(before, support.snapshot(host, keep={support.LOG_REL})) == []


def test_log_deleted_while_the_jvm_runs_starts_again_with_whole_records(host):
    inst = support.lay_out(host)
    before = support.snapshot(host, keep={support.LOG_REL})
    mark = wr.trace_mark(host)
    kept = []

    def delete():
        assert support.wait_until(lambda: ("main", "block") in inst.app_events(), 60)
        kept.append(wr.log_bytes(host))
        # Deleted by another Windows program, as an operator would.
        rc, out, err = wr.run(host, ["cmd", "/c", "del", wr.LOG_WIN_PATH], name="del")
        assert rc == 0 and not wr.log_path(host).exists(), (out, err)

    result = run_with_go(host, support.lt.INVOKING_MAIN, between=delete)
    assert_clean_cycle(host, result, mark)
    old = support.runs(kept[0])
    assert len(old) == 1
    support.assert_run(old[0], [])
    data = wr.log_bytes(host)
    assert support.log_faults(data) == []
    assert support.lt.split(wr.texts(data))[1] == support.lt.SHUTDOWN_DONE
    assert support.written_outside(before, support.snapshot(host, keep={support.LOG_REL})) == []


def test_temp_directory_missing_while_the_jvm_runs(host):
    inst = support.lay_out(host)
    temp = wr.unix_path(host, "C:\\windows\\temp")
    away = temp.with_name("temp.reliability-away")
    before = support.snapshot(host, keep={support.LOG_REL})
    mark = wr.trace_mark(host)

    def remove_temp():
        assert support.wait_until(lambda: ("main", "block") in inst.app_events(), 60)
        temp.rename(away)

    try:
        result = run_with_go(host, support.lt.INVOKING_MAIN, between=remove_temp)
        assert_clean_cycle(host, result, mark)
        # The service made no directory and no file anywhere in its place.
        assert not temp.exists()
        after = support.snapshot(host, keep={support.LOG_REL, "windows/temp.reliability-away/velmoraneservice.log"})
        moved = (away / "velmoraneservice.log").read_bytes()
    finally:
        if away.exists():
            if temp.exists():
                for entry in temp.iterdir():
                    entry.rename(away / entry.name)
                temp.rmdir()
            away.rename(temp)
    assert ("shutdown", "return") in inst.app_events()
    runs = support.runs(moved)
    assert support.log_faults(moved) == [] and len(runs) == 1
    support.assert_run(runs[0], [])
    before = {p.replace("windows/temp/", "windows/temp.reliability-away/"): v for p, v in before.items()}
    assert support.written_outside(before, after) == []


def test_end_of_the_wine_session_leaves_no_service_process(host):
    inst = support.lay_out(host)
    before = support.snapshot(host, keep={support.LOG_REL})
    wr.start(host)
    assert wr.wait_for_log(host, support.lt.INVOKING_MAIN, timeout=120)
    assert support.wait_until(lambda: ("main", "block") in inst.app_events(), 60)
    services = [p for p in wr.ws.processes(host) if wr.EXE_NAME in p[1]]
    assert services, wr.ws.processes(host)
    try:
        wr.ws.end(host)
        gone = support.wait_until(lambda: not wr.ws.processes(host), 30, step=0.2)
        left = wr.ws.processes(host)
        assert gone, f"left behind: {left}"
        # Wine ends the process without a control: no shutdown thread, no late or torn record.
        support.assert_run(single_run(host), [])
        assert ("shutdown", "return") not in inst.app_events()
        assert support.written_outside(before, support.snapshot(host, keep={support.LOG_REL})) == []
    finally:
        # A new session starts the auto-start service again; the fixture stops and removes it.
        wr.ws.restart(host)
