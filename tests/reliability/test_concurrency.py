r"""Concurrency end to end, with the Linux HotSpot behind jvm.dll (the bridge).

A shutdown() that sleeps 25 s outlives the handler's 20000 ms wait: the service reports STOPPED
and returns from its main routine while the shutdown thread is still inside the virtual
machine, about to log "Shutdown method called on class ..." and "Detached thread". The process
must still end normally (exit code 0, no fault) and the log must hold no torn and no late
record.

A shutdown() that sleeps 20 s returns just about when the wait runs out: its records then
race the service main routine's last reports, the retiring of the log lock and the end of the
process. Repeated (BOUNDARY_ROUNDS, default 2) to give that race more than one chance; the
shutdown thread's records must be whole and in order, cut off anywhere.

The launcher and the shutdown thread logging at the same moment is what the soak's stops
during the launcher's start-up bring about (test_soak.py); its log check covers them.
"""

import os

import pytest

import support
from support import wr

ROUNDS = int(os.environ.get("BOUNDARY_ROUNDS", "2"))
CASES = [(25, 0)] + [(20, n) for n in range(ROUNDS)]


@pytest.mark.parametrize("seconds,round_no", CASES, ids=[f"sleep{s}-{n}" for s, n in CASES])
def test_shutdown_thread_outliving_the_wait_does_not_crash_the_process(host, seconds, round_no):
    inst = support.lay_out(host, shutdown="sleep", shutdown_seconds=seconds)
    mark = wr.trace_mark(host)
    # Let the process live past the shutdown thread's 25 s if it does not end by itself.
    result = support.cycle(host, support.BASE + "testapp.record", "main block", exit_bound_ms=30000)
    print(f"\nsleep {seconds} s, round {round_no}: STOP to STOPPED {result['stop_ms']} ms, process end {result['exit_ms']} ms "
          f"later, exit code {result['exit_code']}")
    assert result["stopped"] and 19900 <= result["stop_ms"] <= support.STOP_BOUND_MS + support.STOP_MARGIN_MS
    assert result["exited"], "the process outlived SERVICE_STOPPED"
    assert result["exit_code"] == 0
    # The process ends with the service, not when shutdown() has finished.
    assert result["exit_ms"] < 5000
    assert not support.crash_lines(host, mark)
    assert [r[1] for p, r in wr.status_reports(host, mark) if p == result["pid"]] == [2, 4, 3, 3, 1]
    events = inst.app_events()
    assert ("shutdown", f"sleep {seconds}") in events
    data = wr.log_bytes(host)
    assert support.log_faults(data) == []
    [texts] = support.runs(data)
    launcher, shutdown = support.lt.split(texts)
    assert support.lt.up_to_main(launcher) == support.expected_launcher(texts)
    shutdown, dump = support.lt.split_dump(shutdown)
    assert dump and dump[0].startswith("shutdown() has not returned after 15 s"), dump
    print(f"shutdown thread's records: {shutdown}")
    if seconds == 25:
        # It was still asleep when the process ended.
        assert ("shutdown", "return") not in events
        assert shutdown == []
    else:
        assert shutdown == support.lt.SHUTDOWN_DONE[:len(shutdown)]
