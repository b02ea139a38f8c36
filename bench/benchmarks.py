#!/usr/bin/python3
r"""The service's performance figures, measured under Wine in one session (one prefix of
its own, ended with its wineserver at the end), printed as one table with the machine.

The yardstick is the minimal service (bench/minimal_service.c): started by the same SCM, it
does the service's work the plainest way (startup_bench.py says what that is).

  1. start request -> Java main entered, lib\ with 100 jars: the service, the yardstick and,
     for the old comparison, the JNI host (the yardstick's work as a plain process: no SCM,
     no records, no probe), the order turning every round;
  2. the same, stage by stage: the service's benchmark build (its stage clock, a record sink:
     the stages read from its records) against the yardstick's own marks, each with the time
     spent in its log records;
  3. scaling: start request -> main with 1,000 and 5,000 jars, service and yardstick; the
     cost per jar, and a chart (gnuplot) of all three sizes;
  4. start request -> SERVICE_RUNNING, and the resident and committed memory once the work
     has ended (no jvm.dll in the tree: after the last failed candidate), service against
     yardstick, alternating;
  5. STOP -> SERVICE_STOPPED with a shutdown() that returns at once (against shutdown()'s
     own time, which the benchmark application measures itself) and with one that sleeps
     25 s (against the 20 s bound);
  6. the log call's cost per record vs. open-write-close loops of the same text;
  7. the Java output's throughput rotated (VLJAVAOUTPUTSIZE, the pump) vs. the plain file:
     the test application's println under the service, timed by the application (HotSpot
     through the bridge, whose relay thread writes the pump's pipe); and written into the
     standard handle by bench/output_bench.cpp line by line, as HotSpot on Windows writes
     each println, and in the relay's 256 KiB pieces.

Figures are medians over the rounds after the warm-up; the table says how many. It
never fails on speed: the goals are compared and reported, nothing more. A start or a stop that
Wine's manager refuses in passing (tests/common/wine_refusals.py names the codes) is tried once
more and counted in the details; refused twice, it ends the run.

usage: bench/benchmarks.py [--build DIR] [--rounds N] [--warmup N] [--stage-rounds N]
                           [--scale-rounds N] [--scale 1000,5000] [--stop-rounds N]
                           [--sleep-rounds N] [--log-blocks N] [--log-records N]
                           [--output-blocks N] [--output-megabytes N] [--output-lines N]
                           [--chart FILE] [--only stages|stops|output] [--keep]
The build tree must hold what scripts/build.sh makes (bin/, jvmbridge/, fixtures/, bench/)
and the service's benchmark build (bench/stages/, the build target VelmoraneServiceStages).
--only stages measures and prints the stages alone (with 100 jars).
"""

import argparse
import os
import platform
import random
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
import javaside  # noqa: E402
import startup_bench as sb  # noqa: E402

SCMCTL = wr.TOOLS_DIR + "\\scmctl.exe"
LOG_BENCH = wr.TOOLS_DIR + "\\log_bench.exe"
OUTPUT_BENCH = wr.TOOLS_DIR + "\\output_bench.exe"
# How the Java output is written into the standard handle: HotSpot's println on Windows, one
# write a line; the bridge's relay under Wine, pieces of up to RELAY_CAP (jvmbridge/bridge.c).
OUTPUT_PIECES = {"written line by line": 0, "written in 256 KiB pieces": 256 * 1024}
JDK_DIR = "C:\\Apps\\jdk"
MIB = 1024.0 * 1024.0
# The stages of a start, in order, each ending at its mark: the process's own first moment
# (the benchmark build's initialiser, the yardstick's wmain), the launcher's first record (the
# yardstick: its work thread's start), then the launcher's stages, each ending once the
# record that ends it has been written (startup_bench.service_stage_ends), and main entered
# (the application's record file). The service has no record for the steps between its
# entry and its launcher thread; the yardstick's own marks split them (YARDSTICK_STEPS).
STAGES = ("start", "entry", "thread", "paths", "classpath", "runtime", "jvm-dll", "create", "created",
          "lookups", "main", "entered")
YARDSTICK_STEPS = ("entry", "service-main", "running", "thread")
STAGE_NAMES = {
    "entry": "process entry (SCM start -> process running)",
    "thread": "dispatcher, reports, launcher thread starts",
    "service-main": "  yardstick: dispatcher -> service main",
    "running": "  yardstick: handler registered, RUNNING",
    "thread-yardstick": "  yardstick: its work thread starts",
    "paths": "paths (7 records)",
    "classpath": "class path (lib\\ listing, options)",
    "runtime": "runtime library probe (6 failed loads)",
    "jvm-dll": "jvm.dll loaded",
    "create": "GetProcAddress, 'Calling createJVM'",
    "created": "JNI_CreateJavaVM, 'Completed call'",
    "lookups": "class and main lookups",
    "main": "argument, call prepared",
    "entered": "CallStaticVoidMethod -> main entered",
}


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
    wr.ws.refusals.note_tool_lines(f"benchmarks {name}", out)
    text = out.decode(errors="replace")
    if rc != 0:
        sys.exit(f"{name} failed (exit {rc}):\n{text}\n{err.decode(errors='replace')}")
    return text


def lines_of(text, kind):
    return [line.split()[1:] for line in text.splitlines() if line.split()[:1] == [kind]]


def refused_starts(text):
    """The starts and stops Wine's manager refused once and scmctl ran again: [(side, round)]."""
    return [(side, int(rnd)) for side, rnd, *_ in lines_of(text, "refused")]


def start_and_memory(session, rounds, warmup, settle_ms):
    """Both installations have no Java runtime: each side's work ends with its last failed
    candidate, and the memory is read then."""
    text = run_tool(session, [SCMCTL, "time-start", str(warmup + rounds), str(settle_ms), str(session.prefix),
                              wr.SERVICE, wr.EXE_NAME, wr.LOG_WIN_PATH, sb.service_last_record(),
                              sb.YARDSTICK, "minimal_service.exe", sb.YARDSTICK_LOG, sb.yardstick_last_record()],
                    timeout=(warmup + rounds) * 300, name="start")
    memory = ("private", "working", "commit_private", "commit_image", "anon", "file")
    figures = {key: {"service": [], "yardstick": []} for key in ("running", "returned") + memory}
    figures["refused"] = refused_starts(text)
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
    result = {"stopped": [], "shutdown": [], "returned": [], "control_errors": set(), "refused": []}
    if rounds <= 0:
        return result
    text = run_tool(session, [SCMCTL, "time-stop", wr.SERVICE, str(warmup + rounds), record],
                    timeout=(warmup + rounds) * 300, name="stop")
    result["refused"] = refused_starts(text)
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


def output_throughput(session, build, blocks, megabytes, lines):
    """{way of writing: {"plain": [MB/s], "rotated": [MB/s]}}, both kinds in the same run."""
    figures = {"from HotSpot's println (bridge)": hotspot_output(session, build, blocks, lines)}
    for way, piece in OUTPUT_PIECES.items():
        text = run_tool(session, [OUTPUT_BENCH, str(blocks), str(megabytes), str(piece)], timeout=blocks * 600,
                        name="output")
        # The first block warms the file system's caches; it is left out.
        figures[way] = {kind: [float(v) for rnd, v in lines_of(text, kind) if int(rnd) >= 1]
                        for kind in ("plain", "rotated")}
    return figures


JAVA_OUTPUT = "c:\\windows\\temp\\velmorane-bench-java-output.txt"
JAVA_OUTPUT_WAYS = {"plain": {}, "rotated": {"VLJAVAOUTPUTSIZE": "1M", "VLJAVAOUTPUTKEEP": "5"}}
JAVA_LINE_WIDTH = 100


def set_installed_env(session, values):
    """The services' environment for the installed service: the session's restart would start
    it (it starts automatically), so it is installed anew after the restart."""
    if values == session.env:
        return
    for step in ("uninstall", "install"):
        rc, out = wr.command(session, wr.DEFAULT_EXE, step)
        assert rc == 0, out
        if step == "uninstall":
            wr.set_service_env(session, values)


def hotspot_output(session, build, blocks, lines):
    """{"plain": [MB/s], "rotated": [MB/s]}: the test application's println of `lines` numbered
    lines under the service, timed by the application itself, into the plain file and the
    rotated one, the order turning every block. Under Wine the bridge's HotSpot writes the plain
    file through its descriptor and the pump's pipe through the bridge's relay thread."""
    base = wr.unix_path(session, sb.BASE)
    record = base / javaside.APP_RECORD
    output = wr.unix_path(session, JAVA_OUTPUT)
    size = sum(len(f"line {n} ") + JAVA_LINE_WIDTH + 1 for n in range(1, lines + 1))
    last = f"line {lines} {'x' * JAVA_LINE_WIDTH}\n".encode()
    figures = {"plain": [], "rotated": []}
    sb.set_jars(session, build, 1)  # the stops' measure may have left the benchmark application
    javaside.write_app_settings(base, main="block", console="lines", console_lines=lines,
                                console_width=JAVA_LINE_WIDTH)
    try:
        for block in range(blocks + 1):
            for way in list(JAVA_OUTPUT_WAYS)[::1 if block % 2 == 0 else -1]:
                for old in output.parent.glob(output.name + "*"):
                    old.unlink()
                record.unlink(missing_ok=True)
                set_installed_env(session, dict({"VLJAVAOUTPUT": JAVA_OUTPUT}, **JAVA_OUTPUT_WAYS[way]))
                wr.start(session)
                pid = wr.wait_state(session, wr.SERVICE_RUNNING)["pid"]
                deadline = time.monotonic() + 300
                while ("main", "console") not in javaside.app_events(javaside.read_lines(record)):
                    assert time.monotonic() < deadline, f"the application did not print its lines ({way})"
                    time.sleep(0.05)
                assert wr.control(session, 1)[0] == 0
                wr.wait_state(session, wr.SERVICE_STOPPED, wr.STOP_WAIT_MS)
                assert wr.process_exited(session, pid)
                # Each run must have delivered every line: the last one is in the newest file
                # (under Wine a thread dump of HotSpot's may follow it, see the bridge).
                assert last in output.read_bytes(), f"the {way} output lacks its last line"
                [took] = [int(us) for who, us in javaside.app_events(javaside.read_lines(record))
                          if who == "main printed.us"]
                if block >= 1:  # the first block warms the caches
                    figures[way].append(size / MIB / (took / 1e6))
    finally:
        set_installed_env(session, {})
        javaside.write_app_settings(base, main="return")
    return figures


def output_rows(output):
    """Rotated against plain, goal 0.9 of the plain file's throughput at least; never a failure."""
    def figure(values):
        return f"{med(values):.1f} MB/s ({min(values, default=0):.1f}-{max(values, default=0):.1f})"
    return [(f"Java output {way}, rotated (1M, 5 kept) vs. plain file", f"n={len(f['rotated'])}",
             f"rotated {figure(f['rotated'])}", f"plain {figure(f['plain'])}",
             f"ratio {med(f['rotated']) / med(f['plain']):.2f}", ">= 0.90",
             verdict(med(f["rotated"]) / med(f["plain"]) >= 0.9)) for way, f in output.items()]


def with_stage_build(session, build, run):
    """Runs `run` with the service's benchmark build in place of the service."""
    exe = wr.unix_path(session, wr.DEFAULT_EXE)
    shutil.copy2(build / "bench" / "stages" / wr.EXE_NAME, exe)
    try:
        return run()
    finally:
        shutil.copy2(build / "bin" / wr.EXE_NAME, exe)


# ---------------------------------------------------------------- reading

def med(values):
    return statistics.median(values) if values else float("nan")


def verdict(met):
    return "met" if met else "NOT met"


def ratio_interval(service, yardstick, draws=2000, level=0.95):
    """The median ratio service / yardstick and its bootstrap interval: both sides' rounds drawn
    again with replacement, `draws` times, the central `level` of the ratios of their medians.
    Seeded, so one set of figures always gives the same interval."""
    draw = random.Random(1)
    ratios = sorted(med(draw.choices(service, k=len(service))) / med(draw.choices(yardstick, k=len(yardstick)))
                    for _ in range(draws))
    cut = int(draws * (1.0 - level) / 2.0)
    return med(service) / med(yardstick), ratios[cut], ratios[draws - 1 - cut]


def ratio_row(measure, service, yardstick, goal, names=("service", "minimal service")):
    """A row for a ratio whose goal is `goal` at most: "met" when the whole interval lies within
    it, "NOT met" when the whole interval lies beyond it, "within noise" when it straddles it."""
    ratio, low, high = ratio_interval(service, yardstick)
    result = "met" if high <= goal else "NOT met" if low > goal else "within noise"
    return (measure, f"n={len(service)}", f"{names[0]} {med(service):.1f} ms", f"{names[1]} {med(yardstick):.1f} ms",
            f"ratio {ratio:.3f} [{low:.3f}, {high:.3f}]", f"<= {goal:.2f}", result)


def stage_rows(rounds, chain):
    """Per stage of `chain` (marks in order, from the first): (name, median end ms, median
    duration ms, median ms in records, median records), from each round's own marks, in the
    rounds that have them all. The marks' own write-out, just before main is called, is taken
    out of the last stage."""
    rounds = [r for r in rounds if all(name in r for name in chain)]
    rows = []
    for previous, name in zip(chain, chain[1:]):
        write = [r.get("write", 0.0) if name == "entered" else 0.0 for r in rounds]
        rows.append((name, med([r[name][0] for r in rounds]),
                     med([r[name][0] - r[previous][0] - w for r, w in zip(rounds, write)]),
                     med([r[name][1] - r[previous][1] for r in rounds]),
                     int(med([r[name][2] - r[previous][2] for r in rounds])) if rounds else 0))
    return rows


def fit(points):
    """Least-squares line through (jars, ms): (ms per jar, ms at 0 jars, largest residual ms)."""
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    mx, my = statistics.mean(xs), statistics.mean(ys)
    slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)
    at0 = my - slope * mx
    return slope, at0, max(abs(y - (at0 + slope * x)) for x, y in zip(xs, ys))


def chart(path, scaling):
    """Start request -> main against the number of jars, both sides, as SVG (gnuplot)."""
    data = Path(path).with_suffix(".dat")
    data.write_text("".join(f"{n} {med(f['service']):.2f} {med(f['yardstick']):.2f}\n"
                            for n, f in sorted(scaling.items())))
    script = f"""set terminal svg size 640,400 dynamic font 'sans,12' background rgb 'white'
set output '{path}'
set title 'Start request to Java main entered (median), under Wine'
set xlabel 'jar files in lib\\\\'
set ylabel 'ms'
set key left top
set grid
set xrange [0:*]
set yrange [0:*]
plot '{data}' using 1:2 with linespoints lw 2 pt 7 title 'VelmoraneService', \\
     '{data}' using 1:3 with linespoints lw 2 pt 5 title 'yardstick (minimal service, same work)'
"""
    result = subprocess.run(["gnuplot"], input=script, text=True, capture_output=True)
    data.unlink()
    if result.returncode != 0:
        print(f"chart not written: {result.stderr.strip()}", file=sys.stderr)
        return None
    return path


# ---------------------------------------------------------------- table

def stage_table(figures):
    """{side: {stage: row}} of stage_rows for both sides."""
    return {side: {row[0]: row for row in stage_rows(figures["stages"][side], STAGES)}
            for side in ("service", "yardstick")}


def print_stages(options, stages):
    print(f"stages of start request -> Java main entered, 100 jars (n={options.stage_rounds}; medians of each "
          "round's own figures, so the columns need not add up exactly):")
    print("service: its benchmark build (its records, timed by its record sink); yardstick: its own marks; "
          "'records': time spent writing log records")
    sides = stage_table(stages)
    steps = {row[0]: row for row in stage_rows(stages["stages"]["yardstick"], YARDSTICK_STEPS)}
    steps["thread-yardstick"] = steps.pop("thread", None)
    print(f"  {'stage':46s} | {'service: at':>11s} {'took':>8s} {'records':>8s} {'n':>5s}"
          f" | {'yardstick: at':>13s} {'took':>8s} {'records':>8s} {'n':>5s} | {'difference':>10s}")
    for name in STAGES[1:]:
        s_row, y_row = sides["service"].get(name), sides["yardstick"].get(name)
        if s_row is None or y_row is None:
            continue
        print(f"  {STAGE_NAMES[name]:46s} | {s_row[1]:11.2f} {s_row[2]:8.2f} {s_row[3]:8.2f} {s_row[4]:5d}"
              f" | {y_row[1]:13.2f} {y_row[2]:8.2f} {y_row[3]:8.2f} {y_row[4]:5d} | {s_row[2] - y_row[2]:+10.2f}")
        if name == "thread":
            for step in ("service-main", "running", "thread-yardstick"):
                if steps.get(step):
                    row = steps[step]
                    print(f"  {STAGE_NAMES[step]:46s} | {'-':>11s} {'':8s} {'':8s} {'':5s}"
                          f" | {row[1]:13.2f} {row[2]:8.2f} {row[3]:8.2f} {row[4]:5d} |")
    for side in ("service", "yardstick"):
        rows_ = sides[side].values()
        total_log = sum(r[3] for r in rows_)
        total_records = sum(r[4] for r in rows_)
        print(f"  {side}: {total_records} records before main, {total_log:.1f} ms in them "
              f"({1000 * total_log / max(total_records, 1):.0f} us each)")
    print(f"  main entered, the service's benchmark build: {med(stages['service']):.1f} ms; "
          f"the yardstick: {med(stages['yardstick']):.1f} ms")
    writes = {side: med([r["write"] for r in stages["stages"][side] if "write" in r]) for side in sides}
    print(f"  the marks' own write-out before main, taken out of the last stage: service {writes['service']:.2f} ms, "
          f"yardstick {writes['yardstick']:.2f} ms")
    print()


def print_refused(refused):
    """The starts and stops Wine's manager refused once (tried again at once), per measurement."""
    count = sum(len(starts) for starts in refused.values())
    where = "; ".join(f"{what}: " + ", ".join(f"{side} round {rnd}" for side, rnd in starts)
                      for what, starts in refused.items() if starts)
    name = "steps refused by Wine's manager, run again"
    print(f"  {name:46s} {count:9d}" + (f"   ({where})" if where else ""))


def print_machine(info):
    print("VelmoraneService benchmarks under Wine")
    print(f"machine: {info['nproc']} CPUs, {info['cpu']}; {info['wine']}; Linux {info['kernel']}")
    print("load average at start: %.2f %.2f %.2f; started %s" % (info["load"] + (info["date"],)))


def stop_rows(stop_return, stop_sleep):
    """The two rows of the stops: the quick one against shutdown()'s own time, the 25 s one
    against the bound."""
    stopped, own = med(stop_return["stopped"]), med(stop_return["shutdown"])
    above = med([s - o for s, o in zip(stop_return["stopped"], stop_return["shutdown"])])
    stopped_sleep = med(stop_sleep["stopped"]) / 1000.0
    return [("STOP -> STOPPED, shutdown() returns at once", f"n={len(stop_return['stopped'])}",
             f"stop {stopped:.1f} ms", f"shutdown() own {own:.1f} ms", f"+{above:.1f} ms",
             "<= +50 ms", verdict(above <= 50.0)),
            ("STOP -> STOPPED, shutdown() sleeps 25 s", f"n={len(stop_sleep['stopped'])}",
             f"stop {stopped_sleep:.3f} s", "bound 20.0 s", f"+{stopped_sleep - 20.0:.3f} s",
             "20.0 s +0..0.2 s", verdict(20.0 <= stopped_sleep <= 20.2))]


def measure_stops(session, build, options):
    """Both stops, with the benchmark application in place of the test application."""
    base = wr.unix_path(session, wr.DEFAULT_DIR)
    (base / "lib" / sb.APP_JAR).unlink()
    shutil.copyfile(build / "bench" / "velmorane-benchapp.jar", base / "lib" / "velmorane-benchapp.jar")
    settings = base / "benchapp.properties"
    settings.write_text("shutdown.ms=0\n", encoding="ascii")
    print("measuring: STOP -> STOPPED, shutdown() at once ...", file=sys.stderr)
    stop_return = stop_times(session, options.stop_rounds, options.warmup)
    settings.write_text("shutdown.ms=25000\n", encoding="ascii")
    print("measuring: STOP -> STOPPED, shutdown() sleeping 25 s ...", file=sys.stderr)
    stop_sleep = stop_times(session, options.sleep_rounds, 0)
    return stop_return, stop_sleep


def print_report(info, options, start, startup, stages, scaling, scale_stages, stop_return, stop_sleep, log,
                 chart_path, refused, output=None):
    print_machine(info)
    print(f"rounds: {options.rounds} for start, memory and Java main (each side, the order turning), "
          f"{options.stage_rounds} for the stages, {options.scale_rounds} per size for the scaling "
          f"(and {options.scale_stage_rounds} of its stages), "
          f"{options.stop_rounds} for the quick stop, {options.sleep_rounds} for the 25 s stop "
          f"(fewer, to keep the run bounded); {options.warmup} warm-up rounds before each, not counted; "
          f"figures are medians; a ratio's [interval] is its 95 % bootstrap interval")
    print()

    rows = [ratio_row("start request -> SERVICE_RUNNING", start["running"]["service"],
                      start["running"]["yardstick"], 1.05)]
    for jars, figures in sorted(scaling.items()):
        rows.append(ratio_row(f"start request -> Java main entered ({jars} jars)", figures["service"],
                              figures["yardstick"], 1.10))
    svc, host = med(startup["service"]), med(startup["host"])
    rows.append(("old row: main entered (100 jars) vs. JNI host, no SCM, no records, no probe",
                 f"n={len(startup['host'])}", f"service {svc:.1f} ms", f"JNI host {host:.1f} ms",
                 f"ratio {svc / host:.3f}", "(was <= 1.10)", "-"))

    rows += stop_rows(stop_return, stop_sleep)

    anon = {side: med(start["anon"][side]) / MIB for side in ("service", "yardstick")}
    rows.append(("resident private memory (RssAnon) after the launcher's work",
                 f"n={len(start['anon']['service'])}", f"service {anon['service']:.2f} MiB",
                 f"minimal service {anon['yardstick']:.2f} MiB", f"{anon['service'] - anon['yardstick']:+.2f} MiB",
                 "<= +1.0 MiB", verdict(anon["service"] - anon["yardstick"] <= 1.0)))
    # Wine leaves PrivateUsage at 0 for other processes; the commit estimate (committed
    # private regions + writable image pages) stands in for it.
    commit = {side: med([p + i for p, i in zip(start["commit_private"][side], start["commit_image"][side])]) / MIB
              for side in ("service", "yardstick")}
    rows.append(("committed private memory (commit estimate), same moment",
                 f"n={len(start['commit_private']['service'])}", f"service {commit['service']:.2f} MiB",
                 f"minimal service {commit['yardstick']:.2f} MiB",
                 f"{commit['service'] - commit['yardstick']:+.2f} MiB", "report", "-"))

    lg, bare = med(log["log"]), med(log["stdio"])
    rows.append(("log call per record", f"n={len(log['log'])}x{options.log_records}",
                 f"logWrite {lg:.1f} us", f"fopen/fputs/fclose {bare:.1f} us", f"ratio {lg / bare:.2f}",
                 "report", "-"))
    rows += output_rows(output or {})

    headers = ("measure", "runs", "this system", "yardstick", "figure", "goal", "result")
    widths = [max(len(h), *(len(r[i]) for r in rows)) for i, h in enumerate(headers)]
    print("| " + " | ".join(h.ljust(w) for h, w in zip(headers, widths)) + " |")
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for row in rows:
        print("| " + " | ".join(c.ljust(w) for c, w in zip(row, widths)) + " |")
    print()

    print_stages(options, stages)

    points = [(n, med(f["service"])) for n, f in sorted(scaling.items())]
    ypoints = [(n, med(f["yardstick"])) for n, f in sorted(scaling.items())]
    print("scaling: start request -> Java main entered against the jars in lib\\ (medians, ms):")
    for (n, svc), (_, ys) in zip(points, ypoints):
        print(f"  {n:5d} jars   service {svc:8.1f}   minimal service {ys:8.1f}   difference {svc - ys:+8.1f}")
    for name, pts in (("service", points), ("minimal service", ypoints)):
        slope, at0, worst = fit(pts)
        steps = ", ".join(f"{(b[1] - a[1]) / (b[0] - a[0]):.3f}" for a, b in zip(pts, pts[1:]))
        print(f"  {name}: {slope:.3f} ms per jar (least squares; between the sizes: {steps}), "
              f"{at0:.1f} ms at no jar, largest residual {worst:.1f} ms")
    print(f"  where it goes, from the stage clock ({options.scale_stage_rounds} rounds at each further size; "
          "ms, medians; 'all else' without the marks' write-out):")
    print(f"  {'jars':>5s} {'side':9s} {'main entered':>12s} {'records':>7s} {'in records':>10s} {'class path':>10s}"
          f" {'create VM':>9s} {'call->main':>10s} {'all else':>8s}")
    split = {}
    for jars, figures in sorted(scale_stages.items()):
        for side, table in stage_table(figures).items():
            in_records = sum(row[3] for row in table.values())
            records = sum(row[4] for row in table.values())
            entered = table["entered"][1]
            # The virtual machine's creation without its one record, which counts with the records;
            # the marks' own write-out is neither.
            created, called = table["created"][2] - table["created"][3], table["entered"][2]
            writes = [r["write"] for r in figures["stages"][side] if "write" in r]
            write = med(writes) if writes else 0.0
            split[jars, side] = (entered - write, in_records)
            print(f"  {jars:5d} {side:9s} {entered:12.1f} {records:7d} {in_records:10.1f} {table['classpath'][2]:10.1f}"
                  f" {created:9.1f} {called:10.1f} {entered - write - in_records - created - called:8.1f}")
    sizes = sorted(scale_stages)
    for side in ("service", "yardstick"):
        steps = []
        for a, b in zip(sizes, sizes[1:]):
            jars = b - a
            records = (split[b, side][1] - split[a, side][1]) / jars
            rest = (split[b, side][0] - split[b, side][1] - split[a, side][0] + split[a, side][1]) / jars
            steps.append(f"{a}->{b}: {records:.3f} in records + {rest:.3f} else")
        print(f"  per jar, {side}: " + "; ".join(steps))
    if chart_path:
        print(f"  chart: {chart_path}")
    print()

    print("details (medians; min..max):")

    def spread(name, values, unit, scale=1.0, digits=1):
        v = [x * scale for x in values]
        if not v:
            print(f"  {name:46s} (not measured)")
            return
        print(f"  {name:46s} {med(v):9.{digits}f} {unit}   ({min(v):.{digits}f}..{max(v):.{digits}f})")

    spread("RUNNING, service", start["running"]["service"], "ms")
    spread("RUNNING, minimal service", start["running"]["yardstick"], "ms")
    spread("StartServiceW returned, service", start["returned"]["service"], "ms")
    spread("StartServiceW returned, minimal service", start["returned"]["yardstick"], "ms")
    spread("Java main entered, service", startup["service"], "ms")
    spread("Java main entered, minimal service", startup["yardstick"], "ms")
    spread("Java main entered, JNI host", startup["host"], "ms")
    spread("first log record, service", startup["service-log"], "ms")
    spread("first log record, minimal service", startup["yardstick-log"], "ms")
    spread("STOPPED, shutdown() at once", stop_return["stopped"], "ms")
    spread("shutdown() own time", stop_return["shutdown"], "ms", digits=2)
    spread("ControlService returned, shutdown() at once", stop_return["returned"], "ms")
    spread("STOPPED, shutdown() sleeping 25 s", stop_sleep["stopped"], "s", 1e-3, 3)
    spread("ControlService returned, 25 s", stop_sleep["returned"], "s", 1e-3, 3)
    print(f"  {'ControlService errors, 25 s (1053: time-out)':46s} {sorted(stop_sleep['control_errors'])}")
    for key, name in (("private", "PrivateUsage (as Wine reports it)"), ("working", "WorkingSetSize"),
                      ("commit_private", "committed private"), ("commit_image", "committed writable image"),
                      ("anon", "RssAnon"), ("file", "RssFile")):
        for side in ("service", "yardstick"):
            spread(f"{name}, {side}", start[key][side], "MiB", 1 / MIB, 2)
    spread("logWrite per record", log["log"], "us")
    spread("fopen/fputs/fclose per record", log["stdio"], "us")
    spread("CreateFileW/WriteFile/CloseHandle per record", log["win32"], "us")
    print(f"  {'ratio logWrite / CreateFileW loop':46s} {med(log['log']) / med(log['win32']):9.2f}")
    print_refused(refused)
    print(f"load average at end: %.2f %.2f %.2f" % os.getloadavg())


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.environ.get("VELMORANE_BUILD", str(REPO / "build")))
    parser.add_argument("--rounds", type=int, default=20, help="measured rounds per side (start, memory, main)")
    parser.add_argument("--warmup", type=int, default=2)
    parser.add_argument("--stage-rounds", type=int, default=20)
    # 24 rounds a size: with 10, one quiet run read 1.20 for 1,000 jars and the next 1.035; the
    # interval of the median ratio (ratio_interval) then comes out narrower than a goal's margin.
    parser.add_argument("--scale-rounds", type=int, default=24)
    parser.add_argument("--scale-stage-rounds", type=int, default=5, help="rounds of the stages at each further size")
    parser.add_argument("--scale", default="1000,5000", help="further numbers of jars for the scaling")
    parser.add_argument("--stop-rounds", type=int, default=12)
    parser.add_argument("--sleep-rounds", type=int, default=3)
    parser.add_argument("--settle-ms", type=int, default=200, help="pause before reading the memory counters")
    parser.add_argument("--log-blocks", type=int, default=21)
    parser.add_argument("--log-records", type=int, default=200)
    parser.add_argument("--output-blocks", type=int, default=6)
    parser.add_argument("--output-megabytes", type=int, default=10)
    parser.add_argument("--output-lines", type=int, default=400000)
    parser.add_argument("--chart", default=None, help="the scaling chart (SVG); default <build>/bench/startup-scaling.svg")
    parser.add_argument("--only", choices=["stages", "stops", "output"],
                        help="measure and print only the stages (100 jars), the two stops, or the Java output")
    parser.add_argument("--keep", action="store_true", help="keep the Wine prefix under /tmp")
    options = parser.parse_args()
    options.jars = 100
    build = Path(options.build)
    bin_dir = build / "bin"
    needed = [bin_dir / wr.EXE_NAME, bin_dir / "scmctl.exe", bin_dir / "holdfile.exe",
              bin_dir / "minimal_service.exe", bin_dir / "log_bench.exe", bin_dir / "output_bench.exe", build / "bench" / "stages" / wr.EXE_NAME,
              build / "jvmbridge" / "jvm.dll.so", build / "fixtures" / "javaapp" / "velmorane-testapp.jar",
              build / "bench" / "velmorane-benchapp.jar"]
    missing = [str(p) for p in needed if not p.exists()]
    if missing:
        sys.exit(f"not built: {missing}")
    sizes = [int(n) for n in options.scale.split(",") if n]

    info = machine()
    session = sb.create_session(bin_dir)
    try:
        shutil.copy2(bin_dir / "log_bench.exe", wr.unix_path(session, LOG_BENCH))
        shutil.copy2(bin_dir / "output_bench.exe", wr.unix_path(session, OUTPUT_BENCH))
        sb.lay_out(session, build, options.jars)
        if options.only == "output":
            output = output_throughput(session, build, options.output_blocks, options.output_megabytes,
                                       options.output_lines)
        elif options.only == "stops":
            stop_return, stop_sleep = measure_stops(session, build, options)
        elif options.only == "stages":
            print("measuring: the stages ...", file=sys.stderr)
            stages = with_stage_build(session, build,
                                      lambda: sb.measure(session, options.stage_rounds, options.warmup, host=False))
        else:
            print("measuring: start request -> Java main entered ...", file=sys.stderr)
            startup = sb.measure(session, options.rounds, options.warmup)
            print("measuring: the stages ...", file=sys.stderr)
            stages = with_stage_build(session, build,
                                      lambda: sb.measure(session, options.stage_rounds, options.warmup, host=False))
            scaling = {options.jars: startup}
            scale_stages = {options.jars: stages}
            refused = {"main entered": startup["refused"], "stages": stages["refused"]}
            for jars in sizes:
                print(f"measuring: {jars} jars ...", file=sys.stderr)
                sb.set_jars(session, build, jars)
                scaling[jars] = sb.measure(session, options.scale_rounds, options.warmup, host=False)
                scale_stages[jars] = with_stage_build(
                    session, build,
                    lambda: sb.measure(session, options.scale_stage_rounds, options.warmup, host=False))
                refused[f"{jars} jars"] = scaling[jars]["refused"] + scale_stages[jars]["refused"]
            sb.set_jars(session, build, options.jars)

            # The same tree without any Java runtime: both sides run every stage up to the
            # creation of the virtual machine and end there.
            jdk = wr.unix_path(session, JDK_DIR)
            jdk_aside = jdk.with_name("jdk-aside")
            jdk.rename(jdk_aside)
            print("measuring: start request -> RUNNING, memory ...", file=sys.stderr)
            start = start_and_memory(session, options.rounds, options.warmup, options.settle_ms)
            refused["RUNNING, memory"] = start["refused"]
            jdk_aside.rename(jdk)

            stop_return, stop_sleep = measure_stops(session, build, options)
            refused["stops"] = stop_return["refused"] + stop_sleep["refused"]

            print("measuring: log call ...", file=sys.stderr)
            log = log_cost(session, options.log_blocks, options.log_records)
            print("measuring: Java output ...", file=sys.stderr)
            output = output_throughput(session, build, options.output_blocks, options.output_megabytes,
                                       options.output_lines)
    finally:
        wr.ensure_clean(session)
        sb.remove_yardstick(session)
        wr.destroy(session, keep=options.keep)
    if options.only == "output":
        print_machine(info)
        for row in output_rows(output):
            print("  " + " | ".join(row))
        return
    if options.only == "stops":
        print_machine(info)
        print(f"rounds: {options.stop_rounds} for the quick stop, {options.sleep_rounds} for the 25 s stop; "
              f"{options.warmup} warm-up rounds before the quick one; figures are medians")
        for row in stop_rows(stop_return, stop_sleep):
            print("  " + " | ".join(row))
        print_refused({"stops": stop_return["refused"] + stop_sleep["refused"]})
        print(f"load average at end: %.2f %.2f %.2f" % os.getloadavg())
        return
    if options.only == "stages":
        print_machine(info)
        print(f"rounds: {options.stage_rounds} for the stages, after {options.warmup} warm-up rounds")
        print()
        print_stages(options, stages)
        print("details:")
        print_refused({"stages": stages["refused"]})
        print(f"load average at end: %.2f %.2f %.2f" % os.getloadavg())
        return
    chart_path = chart(options.chart or str(build / "bench" / "startup-scaling.svg"), scaling)
    print_report(info, options, start, startup, stages, scaling, scale_stages, stop_return, stop_sleep, log,
                 chart_path, refused, output)


if __name__ == "__main__":
    main()
