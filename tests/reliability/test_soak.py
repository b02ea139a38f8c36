r"""Soak: the installed service started and stopped over and over under Wine's Service Control
Manager, with the Linux HotSpot behind jvm.dll (the bridge) and the test application, whose
main blocks until shutdown() is called.

The moment of the stop goes round three places:
  early     at once after SERVICE_RUNNING, before the launcher has reached JNI_CreateJavaVM;
  creating  a few milliseconds after the bridge has begun JNI_CreateJavaVM (it records its
            options just before it hands them to HotSpot), and every fourth time of those
            the stand-in that holds JNI_CreateJavaVM for 3 s instead of the bridge;
  main      once the application has recorded that main blocks.
Where each stop actually landed is read back from the order of the log records.

SOAK_CYCLES sets the number of cycles (default 30; the full run takes 300).

Counted per cycle: SERVICE_STOPPED within 20000 ms plus a margin; a crash (exit code other than
0, a report sequence other than START_PENDING, RUNNING, STOP_PENDING, STOP_PENDING, STOPPED,
or a fault reported on the session's stderr); a hang (no SERVICE_STOPPED within the bound, or
the process still there a margin after it). After all cycles the log is checked line by line:
torn or interleaved records, records of unknown messages, and runs whose records are not the
launcher's in order (cut off anywhere) with the shutdown thread's expected records among them.
"""

import os
from collections import Counter

import support
from support import wr

CYCLES = int(os.environ.get("SOAK_CYCLES", "30"))
SLOW_STANDIN_DELAY_MS = 3000
CREATING_DELAYS_MS = (0, 5, 20, 60)
SLOW_CREATE_FAILED = [support.lt.CREATE_RETURNED, support.lt.CREATE_FAILED % -1]


def plan(index):
    """(mode, vm, trigger file, trigger text, delay ms) of cycle `index`."""
    inst_base = support.BASE
    mode = ("early", "creating", "main")[index % 3]
    if mode == "early":
        return mode, "bridge", "-", "-", 0
    if mode == "creating":
        turn = index // 3
        if turn % 4 == 3:
            return mode, "jvm-slow", inst_base + "vm.record", "delay_ms=", 200
        return mode, "bridge", inst_base + "vm.record", "hotspot-option", CREATING_DELAYS_MS[turn % 4]
    return mode, "bridge", inst_base + "testapp.record", "main block", 0


def test_soak(host):
    inst = support.lay_out(host, main="block", shutdown="return")
    vm_now = None
    stats = Counter()
    landed = Counter()
    failures = []
    stop_times = []
    log_ends = []
    for index in range(CYCLES):
        mode, vm, trigger_file, trigger_text, delay = plan(index)
        if vm != vm_now:
            inst.use_vm(vm, delay_ms=SLOW_STANDIN_DELAY_MS if vm == "jvm-slow" else None)
            vm_now = vm
        inst.clear_records()
        mark = wr.trace_mark(host)
        result = support.cycle(host, trigger_file, trigger_text, delay)
        pid = result["pid"]
        reports = [r for p, r in wr.status_reports(host, mark) if p == pid]
        states = [r[1] for r in reports]
        crashes = support.crash_lines(host, mark)
        stopped_in_bound = result["stopped"] and result["stop_ms"] <= support.STOP_BOUND_MS + support.STOP_MARGIN_MS
        hang = not result["stopped"] or not result["exited"]
        crash = (result["exited"] and result["exit_code"] != 0) or (not hang and states != [2, 4, 3, 3, 1]) \
            or bool(crashes)
        stats["stopped"] += stopped_in_bound
        stats["hangs"] += hang
        stats["crashes"] += crash
        log = wr.log_path(host)
        log_ends.append(log.stat().st_size if log.exists() else 0)
        if result["stopped"]:
            stop_times.append(result["stop_ms"])
        if hang or crash or not stopped_in_bound:
            failures.append((index, mode, vm, states, crashes[:5], result["raw"]))
            if hang:
                # The service can't be trusted to start again; the figures so far tell.
                break

    data = wr.log_bytes(host)
    (host.work / "soak.log").write_bytes(data)
    torn = support.log_faults(data)
    runs = support.runs_at(data, log_ends)
    reference = max((support.lt.split(r)[0] for r in runs), key=len)
    unexpected = []
    for number, texts in enumerate(runs):
        launcher, shutdown = support.lt.split(texts)
        if plan(number)[1] == "jvm-slow" and launcher[-2:] == SLOW_CREATE_FAILED:
            # The stand-in gave up before the process had ended.
            launcher = launcher[:-2]
        phase = support.phase_of(texts)
        landed[phase] += 1
        if launcher != reference[:len(launcher)]:
            unexpected.append((number, "launcher records out of order", launcher))
        if shutdown not in ([support.lt.NO_VM], support.lt.SHUTDOWN_DONE):
            unexpected.append((number, "shutdown thread's records", shutdown))
    stop_times.sort()
    median = stop_times[len(stop_times) // 2] if stop_times else None
    print(f"\nsoak: {stats['stopped']}/{CYCLES} stopped, {stats['crashes']} crashes, {stats['hangs']} hangs, "
          f"{len(torn)} torn records")
    print(f"soak: runs in the log {len(runs)}, unexpected runs {len(unexpected)}; stops landed: "
          + ", ".join(f"{k} {landed[k]}" for k in ("before-banner", "early", "creating", "vm", "main", "none")))
    print(f"soak: STOP to STOPPED median {median} ms, max {stop_times[-1] if stop_times else None} ms")
    for failure in failures[:10]:
        print("soak failure:", failure)
    for fault in torn[:10]:
        print("log fault:", fault)
    for item in unexpected[:10]:
        print("unexpected run:", item)

    assert (stats["stopped"], stats["crashes"], stats["hangs"], len(torn)) == (CYCLES, 0, 0, 0), failures[:3]
    assert len(runs) == CYCLES and log_ends[-1] == len(data)
    assert not unexpected, unexpected[:3]
    # The full sequence ends in main: a stop while main ran was reached at least once.
    assert support.lt.up_to_main(reference)[-1] == support.lt.INVOKING_MAIN, reference
