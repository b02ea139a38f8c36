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

Counted per cycle: SERVICE_STOPPED within 20000 ms plus a margin; a crash (exit code other than
0, a report sequence other than START_PENDING, RUNNING, STOP_PENDING, STOP_PENDING, STOPPED,
or a fault reported on the session's stderr); a hang (no SERVICE_STOPPED within the bound, or
the process still there a margin after it). After all cycles the log is checked line by line:
torn or interleaved records, records of unknown messages, and runs whose records are not the
launcher's in order (cut off anywhere) with the shutdown thread's expected records among them.
A start Wine's manager refuses in passing is tried once more by the session's one place for such
refusals (tests/common/wine_refusals.py), which writes it down; a cycle `scmctl cycle` could not
run (refused twice, or a call that failed) is a failure, and the soak goes on unless the cycle
before went the same way.

With load (the "load" case), the test application serves HTTP on 127.0.0.1 (main=serve) and a
bounded load from the Linux side (support.Load: 8 clients, one request per connection, the next
at once) runs through every cycle, so requests are in flight whenever the server listens. The
stop then goes round a fourth place:
  serving   0, 25 or 250 ms after the clients have had their first 64 answers;
and "main" is then the moment the server has recorded that it listens.
Counted per cycle besides: the server's own counts (accepted, served, failed, cut off at its
drain bound, in flight when its stop began), the clients' (answered, refused, unanswered,
wrong), the requests lost (the server served them, the client got no answer), and the STOP to
STOPPED time of the stops that found requests in flight.

SOAK_CYCLES sets the number of cycles of each case (default 30, as in CI; the full runs take 300
without load and 1000 with it: SOAK_CYCLES=1000 pytest test_soak.py -k load).
"""

import os
from collections import Counter

import pytest

import support
from support import javaside, wr

CYCLES = int(os.environ.get("SOAK_CYCLES", "30"))
SLOW_STANDIN_DELAY_MS = 3000
CREATING_DELAYS_MS = (0, 5, 20, 60)
SLOW_CREATE_FAILED = [support.lt.CREATE_RETURNED, support.lt.CREATE_FAILED % -1]
SERVING_DELAYS_MS = (0, 25, 250)
SERVER = {"main": "serve", "serve_threads": 8, "serve_work_ms": 50, "serve_drain_ms": 5000}
CLIENTS = 8
ENDED_WITH_PROCESS = "cycles, server ended with the process"


def plan(index, load=False):
    """(mode, vm, trigger file, trigger text, delay ms) of cycle `index`."""
    inst_base = support.BASE
    modes = ("early", "creating", "main", "serving") if load else ("early", "creating", "main")
    mode = modes[index % len(modes)]
    turn = index // len(modes)
    if mode == "early":
        return mode, "bridge", "-", "-", 0
    if mode == "creating":
        if turn % 4 == 3:
            return mode, "jvm-slow", inst_base + "vm.record", "delay_ms=", 200
        return mode, "bridge", inst_base + "vm.record", "hotspot-option", CREATING_DELAYS_MS[turn % 4]
    if mode == "serving":
        return mode, "bridge", support.LOAD_FLAG, "answered", SERVING_DELAYS_MS[turn % len(SERVING_DELAYS_MS)]
    return mode, "bridge", inst_base + "testapp.record", "main serve port=" if load else "main block", 0


def load_faults(client, server, app_lines, tally):
    """Adds one cycle's counts under load to `tally`; returns what went wrong in it."""
    tally.update({"client " + key: value for key, value in client.items()})
    faults = [f"{key} {client[key]}" for key in ("wrong", "clients left running") if client[key]]
    if server is None:
        if any(line.startswith("main serve port=") for line in app_lines):
            # The server listened, but the stop came before the VM existed: shutdown() is
            # never called then, and the process ends with the server in it.
            tally[ENDED_WITH_PROCESS] += 1
            tally["unanswered, server ended with the process"] += client["unanswered"]
        elif client["answered"]:
            faults.append(f"answered {client['answered']} with no server")
        return faults
    tally.update({"server " + key: value for key, value in server.items() if key != "drain-ms"})
    lost = server["served"] - client["answered"]
    tally["lost"] += lost
    if lost:
        faults.append(f"lost {lost}: served {server['served']}, answered {client['answered']}")
    if server["failed"]:
        faults.append(f"failed {server['failed']}")
    if server["cut-off"] and server["drain-ms"] < SERVER["serve_drain_ms"]:
        faults.append(f"cut off {server['cut-off']} before the bound, after {server['drain-ms']} ms")
    if server["cut-off"] + server["failed"] > client["unanswered"]:
        faults.append(f"the server left {server['cut-off'] + server['failed']} unanswered, "
                      f"the clients saw {client['unanswered']}")
    return faults


@pytest.mark.parametrize("load", [False, True], ids=["quiet", "load"])
def test_soak(host, load):
    port = support.free_port() if load else None
    inst = support.lay_out(host, shutdown="return", serve_port=port, **(SERVER if load else {"main": "block"}))
    vm_now = None
    stats = Counter()
    landed = Counter()
    tally = Counter()
    failures = []
    stop_times = []
    busy_stop_times = []
    log_ends = []
    unrun = []
    run_cycles = []  # the cycle of each run in the log; None for a refused attempt
    ended_with_process = []
    for index in range(CYCLES):
        mode, vm, trigger_file, trigger_text, delay = plan(index, load)
        if vm != vm_now:
            inst.use_vm(vm, delay_ms=SLOW_STANDIN_DELAY_MS if vm == "jvm-slow" else None)
            vm_now = vm
        inst.clear_records()
        mark = wr.trace_mark(host)
        clients = support.Load(port, wr.unix_path(host, support.LOAD_FLAG), CLIENTS).start() if load else None

        def refused_attempt():
            # What a start Wine refused in passing left in the log is kept apart from the runs.
            log = wr.log_path(host)
            log_ends.append(log.stat().st_size if log.exists() else 0)
            run_cycles.append(None)

        try:
            result = support.cycle(host, trigger_file, trigger_text, delay, between=refused_attempt)
        except AssertionError as error:
            # `scmctl cycle` could not run the cycle (a start refused twice, or a call that failed):
            # counted, and the soak goes on unless the cycle before went the same way.
            if clients:
                clients.stop()
            refused_attempt()
            unrun.append(index)
            failures.append((index, mode, vm, str(error)[:300]))
            if index - 1 in unrun:
                break
            continue
        faults = []
        if clients:
            app_lines = javaside.read_lines(inst.app_record)
            server = javaside.server_counts(app_lines)
            ended = tally[ENDED_WITH_PROCESS]
            faults = load_faults(clients.stop(), server, app_lines, tally)
            if tally[ENDED_WITH_PROCESS] > ended:
                ended_with_process.append((index, mode))
            if server and server["in-flight"]:
                tally[f"stops among requests ({mode})"] += 1
                if result["stopped"]:
                    busy_stop_times.append(result["stop_ms"])
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
        run_cycles.append(index)
        if result["stopped"]:
            stop_times.append(result["stop_ms"])
        stats["load faults"] += bool(faults)
        if hang or crash or not stopped_in_bound or faults:
            failures.append((index, mode, vm, states, crashes[:5], faults, result["raw"]))
            if hang:
                # The service can't be trusted to start again; the figures so far tell.
                break

    data = wr.log_bytes(host)
    (host.work / "soak.log").write_bytes(data)
    torn = support.log_faults(data)
    runs = support.runs_at(data, log_ends)
    reference = max((support.lt.split(r)[0] for n, r in zip(run_cycles, runs) if n is not None), key=len)
    unexpected = []
    for number, texts in zip(run_cycles, runs):
        if number is None:
            continue
        launcher, shutdown = support.lt.split(texts)
        if plan(number, load)[1] == "jvm-slow" and launcher[-2:] == SLOW_CREATE_FAILED:
            # The stand-in gave up before the process had ended.
            launcher = launcher[:-2]
        phase = support.phase_of(texts)
        landed[phase] += 1
        if launcher != reference[:len(launcher)]:
            unexpected.append((number, "launcher records out of order", launcher))
        if shutdown not in ([support.lt.NO_VM], support.lt.SHUTDOWN_DONE):
            unexpected.append((number, "shutdown thread's records", shutdown))
    print(f"\nsoak ({'load' if load else 'quiet'}): {stats['stopped']}/{CYCLES} stopped, "
          f"{stats['crashes']} crashes, {stats['hangs']} hangs, {len(torn)} torn records, "
          f"{len(unrun)} cycles not run {unrun[:10]}")
    print(f"soak: runs in the log {len(runs)}, unexpected runs {len(unexpected)}; stops landed: "
          + ", ".join(f"{k} {landed[k]}" for k in ("before-banner", "early", "creating", "vm", "main", "none")))
    print(f"soak: STOP to STOPPED {spread(stop_times)}")
    if load:
        print(f"soak: STOP to STOPPED with requests in flight {spread(busy_stop_times)}")
        # Connections the kernel had queued when the listener closed: reset, never the server's.
        tally["unanswered, never taken by the server"] = tally["client unanswered"] - tally["server cut-off"] \
            - tally["server failed"] - tally["unanswered, server ended with the process"]
        print("soak: load: " + ", ".join(f"{key} {value}" for key, value in sorted(tally.items())))
        print(f"soak: cycles whose server ended with the process (cycle, place): {ended_with_process[:20]}")
    for failure in failures[:10]:
        print("soak failure:", failure)
    for fault in torn[:10]:
        print("log fault:", fault)
    for item in unexpected[:10]:
        print("unexpected run:", item)

    assert (stats["stopped"], stats["crashes"], stats["hangs"], len(torn), stats["load faults"], len(unrun)) \
        == (CYCLES, 0, 0, 0, 0, 0), failures[:3]
    assert [n for n in run_cycles if n is not None] == list(range(CYCLES)) and log_ends[-1] == len(data)
    assert not unexpected, unexpected[:3]
    # The full sequence ends in main: a stop while main ran was reached at least once.
    assert support.lt.up_to_main(reference)[-1] == support.lt.INVOKING_MAIN, reference
    if load:
        # Stops among requests were reached, and the server answered the clients.
        assert tally["stops among requests (serving)"] > 0 and tally["server served"] > 0, tally


def spread(times):
    """Median and maximum of a list of milliseconds, as printed."""
    if not times:
        return "(none)"
    times = sorted(times)
    return f"median {times[len(times) // 2]} ms, max {times[-1]} ms (n={len(times)})"
