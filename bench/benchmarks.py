#!/usr/bin/python3
r"""The service's performance figures, measured under Wine in one session (one prefix of
its own, ended with its wineserver at the end), printed as one table with the machine.

  1. start request -> SERVICE_RUNNING, the service vs. minimal_service.exe, alternating;
  2. start request -> Java main entered, the service vs. a minimal JNI host, alternating,
     lib\ with 100 jars (the start-up benchmark, startup_bench.py);
  3. STOP -> SERVICE_STOPPED with a shutdown() that returns at once (against shutdown()'s
     own time, which the benchmark application measures itself) and with one that sleeps
     25 s (against the 20 s bound);
  4. private memory of the service process before the virtual machine is created (no
     jvm.dll in the tree: measured once the launcher has logged its last failed library),
     vs. the minimal service, from the same runs as 1;
  5. the log call's cost per record vs. open-write-close loops of the same text.

Figures are medians over the rounds after the warm-up; the table says how many. It
never fails on speed: the goals are compared and reported, nothing more.

usage: bench/benchmarks.py [--build DIR] [--rounds N] [--warmup N] [--stop-rounds N]
                           [--sleep-rounds N] [--log-blocks N] [--log-records N] [--keep]
The build tree must hold what scripts/build.sh makes (bin/, jvmbridge/, fixtures/, bench/).
"""

import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "bench"))
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import rig as wr  # noqa: E402  (puts tests/common on the path)
import logtexts as lt  # noqa: E402
import startup_bench  # noqa: E402


MINIMAL = "VelmoraneBenchMinimal"
MINIMAL_EXE = wr.TOOLS_DIR + "\\minimal_service.exe"
SCMCTL = wr.TOOLS_DIR + "\\scmctl.exe"
LOG_BENCH = wr.TOOLS_DIR + "\\log_bench.exe"
JDK_DIR = "C:\\Apps\\jdk"
BENCHAPP_JAR = "lib\\velmorane-benchapp.jar"
TESTAPP_JAR = "lib\\velmorane-testapp.jar"
MIB = 1024.0 * 1024.0


# ---------------------------------------------------------------- machine

def machine():
    cpu = "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    wine = subprocess.run(["wine", "--version"], stdin=subprocess.DEVNULL, capture_output=True,
                          text=True).stdout.strip()
    return {"nproc": os.cpu_count(), "cpu": cpu, "wine": wine, "kernel": platform.release(),
            "load": os.getloadavg(), "date": time.strftime("%Y-%m-%d %H:%M:%S %Z")}


# ---------------------------------------------------------------- runs

def run_tool(session, args, timeout, name):
    rc, out, err = wr.run(session, args, timeout=timeout, name=name)
    text = out.decode(errors="replace")
    if rc != 0:
        sys.exit(f"{name} failed (exit {rc}):\n{text}\n{err.decode(errors='replace')}")
    return text


def lines_of(text, kind):
    return [line.split()[1:] for line in text.splitlines() if line.split()[:1] == [kind]]


def start_and_memory(session, rounds, warmup, settle_ms):
    # The service's tree has no Java runtime: its launcher ends with the last failed library.
    last = lt.jvm_lines(wr.DEFAULT_DIR + "\\", "C:\\Apps\\")[-1]
    text = run_tool(session, [SCMCTL, "time-start", wr.SERVICE, wr.EXE_NAME, MINIMAL, "minimal_service.exe",
                              str(warmup + rounds), str(settle_ms), str(session.prefix), last],
                    timeout=(warmup + rounds) * 300, name="start")
    memory = ("private", "working", "commit_private", "commit_image", "anon", "file")
    figures = {key: {"service": [], "minimal": []} for key in ("running", "returned") + memory}
    for side, rnd, running, returned in lines_of(text, "running"):
        if int(rnd) >= warmup:
            figures["running"][side].append(float(running))
            figures["returned"][side].append(float(returned))
    for side, rnd, *values in lines_of(text, "memory"):
        if int(rnd) >= warmup:
            for key, value in zip(memory, values):
                figures[key][side].append(int(value))
    return figures


def stop_times(session, rounds, warmup):
    record = wr.DEFAULT_DIR + "\\benchapp.record"
    result = {"stopped": [], "shutdown": [], "returned": [], "control_errors": set()}
    if rounds <= 0:
        return result
    text = run_tool(session, [SCMCTL, "time-stop", wr.SERVICE, str(warmup + rounds), record],
                    timeout=(warmup + rounds) * 300, name="stop")
    for rnd, stopped, shutdown, returned, error in lines_of(text, "stop"):
        if int(rnd) >= warmup:
            result["stopped"].append(float(stopped))
            result["shutdown"].append(float(shutdown))
            result["returned"].append(float(returned))
            result["control_errors"].add(int(error))
    return result


def log_cost(session, blocks, records):
    text = run_tool(session, [LOG_BENCH, str(blocks), str(records)], timeout=blocks * 600, name="log")
    figures = {"log": [], "stdio": [], "win32": []}
    for kind in figures:
        # The first block warms the file system's caches; it is left out.
        figures[kind] = [float(us) for rnd, us in lines_of(text, kind) if int(rnd) >= 1]
    return figures


# ---------------------------------------------------------------- table

def med(values):
    return statistics.median(values) if values else float("nan")


def verdict(met):
    return "met" if met else "NOT met"


def print_report(info, options, start, startup, stop_return, stop_sleep, log):
    print("VelmoraneService benchmarks under Wine")
    print(f"machine: {info['nproc']} CPUs, {info['cpu']}; {info['wine']}; Linux {info['kernel']}")
    print("load average at start: %.2f %.2f %.2f; started %s" % (info["load"] + (info["date"],)))
    print(f"rounds: {options.rounds} per side for start and memory, {options.rounds} per side for "
          f"Java main, {options.stop_rounds} for the quick stop, {options.sleep_rounds} for the 25 s stop "
          f"(fewer, to keep the run bounded); {options.warmup} warm-up rounds before each, not counted; "
          f"figures are medians")
    print()

    rows = []
    svc, mini = med(start["running"]["service"]), med(start["running"]["minimal"])
    ratio = svc / mini
    rows.append(("start request -> SERVICE_RUNNING", f"n={len(start['running']['service'])}",
                 f"service {svc:.1f} ms", f"minimal service {mini:.1f} ms", f"ratio {ratio:.3f}",
                 "<= 1.05", verdict(ratio <= 1.05)))

    svc, host = med(startup["service"]), med(startup["host"])
    ratio = svc / host
    rows.append((f"start request -> Java main entered (lib\\ {options.jars} jars)",
                 f"n={len(startup['service'])}", f"service {svc:.1f} ms", f"JNI host {host:.1f} ms",
                 f"ratio {ratio:.3f}", "<= 1.10", verdict(ratio <= 1.10)))

    stopped, own = med(stop_return["stopped"]), med(stop_return["shutdown"])
    above = med([s - o for s, o in zip(stop_return["stopped"], stop_return["shutdown"])])
    rows.append(("STOP -> STOPPED, shutdown() returns at once", f"n={len(stop_return['stopped'])}",
                 f"stop {stopped:.1f} ms", f"shutdown() own {own:.1f} ms", f"+{above:.1f} ms",
                 "<= +50 ms", verdict(above <= 50.0)))

    stopped = med(stop_sleep["stopped"]) / 1000.0
    rows.append(("STOP -> STOPPED, shutdown() sleeps 25 s", f"n={len(stop_sleep['stopped'])}",
                 f"stop {stopped:.3f} s", "bound 20.0 s", f"+{stopped - 20.0:.3f} s",
                 "20.0 s +0..0.2 s", verdict(20.0 <= stopped <= 20.2)))

    # Wine leaves PrivateUsage at 0 for other processes; the commit estimate (committed
    # private regions + writable image pages) stands in for it, the resident anonymous
    # pages are shown beside it.
    commit = {side: med([p + i for p, i in zip(start["commit_private"][side], start["commit_image"][side])]) / MIB
              for side in ("service", "minimal")}
    anon = med(start["anon"]["service"]) / MIB - med(start["anon"]["minimal"]) / MIB
    extra = commit["service"] - commit["minimal"]
    rows.append(("private memory before the VM is created (commit estimate)",
                 f"n={len(start['commit_private']['service'])}", f"service {commit['service']:.2f} MiB",
                 f"minimal service {commit['minimal']:.2f} MiB", f"+{extra:.2f} MiB (resident anon +{anon:.2f})",
                 "<= +1.0 MiB", verdict(extra <= 1.0)))

    lg, bare = med(log["log"]), med(log["stdio"])
    rows.append(("log call per record", f"n={len(log['log'])}x{options.log_records}",
                 f"logWrite {lg:.1f} us", f"fopen/fputs/fclose {bare:.1f} us", f"ratio {lg / bare:.2f}",
                 "report", "-"))

    headers = ("measure", "runs", "this system", "yardstick", "figure", "goal", "result")
    widths = [max(len(h), *(len(r[i]) for r in rows)) for i, h in enumerate(headers)]
    print("| " + " | ".join(h.ljust(w) for h, w in zip(headers, widths)) + " |")
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in rows:
        print("| " + " | ".join(c.ljust(w) for c, w in zip(row, widths)) + " |")
    print()

    print("details (medians; min..max):")

    def spread(name, values, unit, scale=1.0, digits=1):
        v = [x * scale for x in values]
        if not v:
            print(f"  {name:46s} (not measured)")
            return
        print(f"  {name:46s} {med(v):9.{digits}f} {unit}   ({min(v):.{digits}f}..{max(v):.{digits}f})")

    spread("RUNNING, service", start["running"]["service"], "ms")
    spread("RUNNING, minimal service", start["running"]["minimal"], "ms")
    spread("StartServiceW returned, service", start["returned"]["service"], "ms")
    spread("StartServiceW returned, minimal service", start["returned"]["minimal"], "ms")
    spread("Java main entered, service", startup["service"], "ms")
    spread("Java main entered, JNI host", startup["host"], "ms")
    spread("launcher's first log record, service", startup["service-log"], "ms")
    spread("STOPPED, shutdown() at once", stop_return["stopped"], "ms")
    spread("shutdown() own time", stop_return["shutdown"], "ms", digits=2)
    spread("ControlService returned, shutdown() at once", stop_return["returned"], "ms")
    spread("STOPPED, shutdown() sleeping 25 s", stop_sleep["stopped"], "s", 1e-3, 3)
    spread("ControlService returned, 25 s", stop_sleep["returned"], "s", 1e-3, 3)
    print(f"  {'ControlService errors, 25 s (1053: time-out)':46s} {sorted(stop_sleep['control_errors'])}")
    spread("PrivateUsage (as Wine reports it), service", start["private"]["service"], "MiB", 1 / MIB, 2)
    spread("PrivateUsage (as Wine reports it), minimal", start["private"]["minimal"], "MiB", 1 / MIB, 2)
    spread("WorkingSetSize, service", start["working"]["service"], "MiB", 1 / MIB, 2)
    spread("WorkingSetSize, minimal service", start["working"]["minimal"], "MiB", 1 / MIB, 2)
    for key, name in (("commit_private", "committed private"), ("commit_image", "committed writable image"),
                      ("anon", "RssAnon"), ("file", "RssFile")):
        for side in ("service", "minimal"):
            spread(f"{name}, {side}", start[key][side], "MiB", 1 / MIB, 2)
    spread("logWrite per record", log["log"], "us")
    spread("fopen/fputs/fclose per record", log["stdio"], "us")
    spread("CreateFileW/WriteFile/CloseHandle per record", log["win32"], "us")
    print(f"  {'ratio logWrite / CreateFileW loop':46s} {med(log['log']) / med(log['win32']):9.2f}")
    print(f"load average at end: %.2f %.2f %.2f" % os.getloadavg())


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.environ.get("VELMORANE_BUILD", str(REPO / "build")))
    parser.add_argument("--rounds", type=int, default=20, help="measured rounds per side (start, memory, main)")
    parser.add_argument("--warmup", type=int, default=2)
    parser.add_argument("--stop-rounds", type=int, default=12)
    parser.add_argument("--sleep-rounds", type=int, default=3)
    parser.add_argument("--settle-ms", type=int, default=200, help="pause before reading the memory counters")
    parser.add_argument("--jars", type=int, default=100)
    parser.add_argument("--log-blocks", type=int, default=21)
    parser.add_argument("--log-records", type=int, default=200)
    parser.add_argument("--keep", action="store_true", help="keep the Wine prefix under /tmp")
    options = parser.parse_args()
    build = Path(options.build)
    bin_dir = build / "bin"
    needed = [bin_dir / wr.EXE_NAME, bin_dir / "scmctl.exe", bin_dir / "holdfile.exe",
              bin_dir / "minimal_service.exe", bin_dir / "log_bench.exe",
              build / "jvmbridge" / "jvm.dll.so", build / "fixtures" / "javaapp" / "velmorane-testapp.jar",
              build / "bench" / "velmorane-benchapp.jar"]
    missing = [str(p) for p in needed if not p.exists()]
    if missing:
        sys.exit(f"not built: {missing}")

    info = machine()
    session = startup_bench.create_session(bin_dir)
    try:
        tools = wr.unix_path(session, wr.TOOLS_DIR)
        for tool in ("minimal_service.exe", "log_bench.exe"):
            shutil.copy2(bin_dir / tool, tools / tool)
        run_tool(session, [SCMCTL, "create", MINIMAL, MINIMAL_EXE], timeout=60, name="install")

        # The start-up installation: lib\ with the test application and filler jars, the bridge.
        jvm = startup_bench.lay_out(session, build, options.jars)
        print("measuring: start request -> Java main entered ...", file=sys.stderr)
        startup = startup_bench.measure(session, jvm, options.rounds, options.warmup)

        # The same tree without any Java runtime: the launcher runs every stage up to the
        # creation of the virtual machine and ends there.
        jdk = wr.unix_path(session, JDK_DIR)
        jdk_aside = jdk.with_name("jdk-aside")
        jdk.rename(jdk_aside)
        print("measuring: start request -> RUNNING, memory ...", file=sys.stderr)
        start = start_and_memory(session, options.rounds, options.warmup, options.settle_ms)
        jdk_aside.rename(jdk)

        # The benchmark application in place of the test application.
        base = wr.unix_path(session, wr.DEFAULT_DIR)
        (base / "lib" / "velmorane-testapp.jar").unlink()
        shutil.copyfile(build / "bench" / "velmorane-benchapp.jar", base / "lib" / "velmorane-benchapp.jar")
        settings = base / "benchapp.properties"
        settings.write_text("shutdown.ms=0\n", encoding="ascii")
        print("measuring: STOP -> STOPPED, shutdown() at once ...", file=sys.stderr)
        stop_return = stop_times(session, options.stop_rounds, options.warmup)
        settings.write_text("shutdown.ms=25000\n", encoding="ascii")
        print("measuring: STOP -> STOPPED, shutdown() sleeping 25 s ...", file=sys.stderr)
        stop_sleep = stop_times(session, options.sleep_rounds, 0)

        print("measuring: log call ...", file=sys.stderr)
        log = log_cost(session, options.log_blocks, options.log_records)
    finally:
        wr.ensure_clean(session)
        wr.run(session, [SCMCTL, "delete", MINIMAL], timeout=60, name="delete")
        wr.destroy(session, keep=options.keep)
    print_report(info, options, start, startup, stop_return, stop_sleep, log)


if __name__ == "__main__":
    main()
