#!/usr/bin/python3
r"""Start-up benchmark: the time from the start request to the Java application's main being
entered, for the service and for its yardstick, the minimal service (bench/minimal_service.c),
which the same SCM starts and which does the same work the plainest way: the same class path
from the same lib\, the same candidate libraries, the same jvm.dll (the bridge to the Linux
HotSpot), the same two options, the same main, as many log records, each appended with
fopen/fputs/fclose. Besides them, for the old comparison, the same program started as a plain
process by CreateProcessW (no SCM, no records, no probe): the "JNI host".

All run in one Wine session, in an order that turns every round, timed by `scmctl time-main`,
with the same installation: C:\Apps\Velmorane\ with lib\ holding the test application's jar and
filler jars, the bridge at C:\Apps\jdk\jre\bin\default\jvm.dll. The filler jars' names sort
after the application's, and Wine lists a directory sorted by name (as NTFS does), so the
application's jar stays on the class path when a long lib\ makes the class path option cut.
Prints the figures; never fails on speed.

The stages of a start come from the service's benchmark build (bench/stageclock.cpp): it notes
the performance counter at its process's entry and around every log record, and the stages are
read from those records here, each ending where a record of the catalogue (tests/common/
logtexts.py) has been written. The yardstick marks the same places itself.

A start or a stop that Wine's manager refuses in passing (tests/common/wine_refusals.py names
the codes) is tried once more by scmctl; the figures list such steps apart ("refused").

usage: bench/startup_bench.py [--build DIR] [--rounds N] [--warmup N] [--jars N] [--keep]
The build tree (default: VELMORANE_BUILD or build/ of the repository) must hold what
scripts/build.sh makes (bin/, jvmbridge/, fixtures/).
"""

import argparse
import io
import os
import shutil
import statistics
import sys
import zipfile
from collections import defaultdict
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import rig as wr  # noqa: E402  (puts tests/common and tests/fixtures on the path)
import javaside  # noqa: E402
import logtexts as lt  # noqa: E402

YARDSTICK = "VelmoraneBenchMinimal"
YARDSTICK_EXE = wr.TOOLS_DIR + "\\minimal_service.exe"
YARDSTICK_LOG = "c:\\windows\\temp\\velmorane-yardstick.log"
BASE = wr.DEFAULT_DIR + "\\"
KTR = "C:\\Apps\\"
JVM_DLL = KTR + "jdk\\jre\\bin\\default\\jvm.dll"
APP_JAR = "velmorane-testapp.jar"


def create_session(bin_dir):
    """A session of its own, named apart from the test sessions (cleaning up after those never
    touches a benchmark beside them), without the service trace: every side runs with
    WINEDEBUG=-all."""
    return wr.ws.create(bin_dir, tag="bench", registry_env={"WINEDEBUG": "-all"})


def filler_jar(index):
    """A small jar of its own: a manifest and one resource."""
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as jar:
        jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n")
        jar.writestr(f"filler/f{index:04d}/data.txt", f"filler {index}\n" * 64)
    return data.getvalue()


def candidates():
    """The service's runtime and virtual machine library candidates, in its order."""
    runtime = [(KTR if off_ktr else BASE) + rel for rel, off_ktr, *_ in lt.RUNTIME]
    jvm = [(KTR if off_ktr else BASE) + rel for rel, off_ktr, _ in lt.JVM]
    return runtime, jvm


def yardstick_last_record():
    """The yardstick's last record when no candidate loads."""
    return "not loaded " + candidates()[1][-1]


def service_last_record():
    return lt.jvm_lines(BASE, KTR)[-1]


def _record_is(text):
    return lambda record: record == text


def service_stage_ends():
    """The launcher's stages in order, each with a test of the record that ends it in this
    installation (the bridge loading as JVM_DLL); every text from the catalogue."""
    jvm_found = candidates()[1].index(JVM_DLL) + 1
    return [("paths", _record_is(lt.first_stage(wr.DEFAULT_EXE, BASE, KTR)[-1])),
            ("classpath", lambda record: record.startswith(lt.CLASS_PATH_OPTION)),
            ("runtime", _record_is(lt.runtime_lines(BASE, KTR)[-1])),
            ("jvm-dll", _record_is(lt.jvm_lines(BASE, KTR, jvm_found)[-1])),
            ("create", _record_is(lt.CALLING_CREATE)),
            ("created", _record_is(lt.CREATE_RETURNED)),
            ("lookups", _record_is(lt.FOUND_MAIN)),
            ("main", _record_is(lt.INVOKING_MAIN))]


def service_marks(records):
    """The stage marks of one start of the service's benchmark build, from its records [(ms
    when it came, ms spent writing it, text)]: {stage: (ms, ms in records so far, records so
    far)}. "thread" is the moment its first record, the banner, came; every other stage ends
    once the record that ends it has been written. Stages whose record is missing are left out."""
    marks = {}
    if records and records[0][2] == lt.BANNER:
        marks["thread"] = (records[0][0], 0.0, 0)
    ends = iter(service_stage_ends())
    stage, ends_it = next(ends)
    in_records = 0.0
    for count, (at, took, text) in enumerate(records, 1):
        in_records += took
        if ends_it(text):
            marks[stage] = (at + took, in_records, count)
            stage, ends_it = next(ends, (None, None))
            if stage is None:
                break
    return marks


def set_jars(session, build, jars):
    """lib\\ with the test application's jar and jars - 1 filler jars, nothing else."""
    lib = wr.unix_path(session, BASE + "lib")
    shutil.rmtree(lib, ignore_errors=True)
    lib.mkdir(parents=True)
    shutil.copyfile(build / "fixtures" / "javaapp" / APP_JAR, lib / APP_JAR)
    for i in range(1, jars):
        (lib / f"xfiller-{i:04d}.jar").write_bytes(filler_jar(i))


def lay_out(session, build, jars):
    """Lays out the installation (the bridge as jvm.dll, main returning at once), installs
    the service and registers the yardstick with the same inputs."""
    wr.lay_out(session, wr.DEFAULT_EXE)
    set_jars(session, build, jars)
    javaside.install_bridge(wr.unix_path(session, JVM_DLL).parent, build / "jvmbridge" / "jvm.dll.so")
    javaside.write_app_settings(wr.unix_path(session, BASE), main="return")
    rc, out = wr.command(session, wr.DEFAULT_EXE, "install")
    assert rc == 0 and b"installed" in out, out
    shutil.copy2(build / "bin" / "minimal_service.exe", wr.unix_path(session, YARDSTICK_EXE))
    runtime, jvm = candidates()
    args = f"{BASE} {YARDSTICK_LOG} {'|'.join(runtime)} {'|'.join(jvm)}"
    rc, out, err = wr.run(session, [wr.TOOLS_DIR + "\\scmctl.exe", "create", YARDSTICK, YARDSTICK_EXE, args],
                          timeout=60, name="create")
    assert rc == 0, out + err


def remove_yardstick(session):
    wr.run(session, [wr.TOOLS_DIR + "\\scmctl.exe", "delete", YARDSTICK], timeout=60, name="delete")


def measure(session, rounds, warmup, host=True):
    """Runs warmup + rounds rounds; returns the figures after the warm-up:
    {"service": [ms], "yardstick": [ms], "host": [ms], "service-log": [ms], "yardstick-log": [ms],
     "stages": {side: [{stage: (ms, ms in records, records)}, one per round]},
     "refused": [(side, round)]}, the refused starts of every round. A round's stages start at
    the start request ("start") and end at main entered ("entered"); "write" is the time the
    side took to write its marks out, just before it called main."""
    total = warmup + rounds
    host_args = [YARDSTICK_EXE, f'{BASE} - "" {JVM_DLL}'] if host else ["-", "-"]
    rc, out, err = wr.run(session, [wr.TOOLS_DIR + "\\scmctl.exe", "time-main", str(total),
                                    BASE + javaside.APP_RECORD, wr.SERVICE, wr.LOG_WIN_PATH, YARDSTICK,
                                    YARDSTICK_LOG] + host_args, timeout=total * 300, name="driver")
    wr.ws.refusals.note_tool_lines("startup benchmark time-main", out)
    text = out.decode(errors="replace")
    figures = defaultdict(list)
    entered = defaultdict(dict)
    marks = defaultdict(lambda: defaultdict(dict))
    records = defaultdict(lambda: defaultdict(list))
    for line in text.splitlines():
        parts = line.split(" ", 5)
        if parts[0] == "refused":
            figures["refused"].append((parts[1], int(parts[2])))
        elif len(parts) == 3 and not parts[0].startswith("error") and int(parts[1]) >= warmup:
            figures[parts[0]].append(float(parts[2]))
            entered[parts[0]][int(parts[1])] = float(parts[2])
        elif len(parts) == 6 and parts[0] == "record" and int(parts[2]) >= warmup:
            records[parts[1]][int(parts[2])].append((float(parts[3]), float(parts[4]), parts[5]))
        elif parts[0] == "stage" and int(parts[2]) >= warmup:
            name, at, in_records, count = parts[3], *line.split()[4:]
            marks[parts[1]][int(parts[2])][name] = (float(at), float(in_records), int(count))
    if rc != 0 or not figures["service"] or not figures["yardstick"]:
        sys.exit(f"driver failed (exit {rc}):\n{text}\n{err.decode(errors='replace')}")
    figures["stages"] = {}
    for side in ("service", "yardstick"):
        figures["stages"][side] = []
        for number, main in sorted(entered[side].items()):
            stages = dict(marks[side].get(number, {}))
            stages.update(service_marks(records[side][number]) if records[side].get(number) else {})
            if "main" not in stages:
                if records[side].get(number):
                    print(f"{side} round {number}: its records lack a stage's end: {sorted(stages)}", file=sys.stderr)
                continue
            if "writing" in stages and "written" in stages:
                stages["write"] = stages["written"][0] - stages["writing"][0]
            stages["start"] = (0.0, 0.0, 0)
            stages["entered"] = (main,) + stages["main"][1:]
            figures["stages"][side].append(stages)
    return figures


def report(name, values):
    print(f"{name:13s} n={len(values)} median={statistics.median(values):8.1f} ms  "
          f"min={min(values):8.1f}  max={max(values):8.1f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.environ.get("VELMORANE_BUILD", str(REPO / "build")))
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--warmup", type=int, default=2)
    parser.add_argument("--jars", type=int, default=100, help="jar files in lib\\ (at least 1)")
    parser.add_argument("--keep", action="store_true", help="keep the Wine prefix under /tmp")
    options = parser.parse_args()
    build = Path(options.build)
    bin_dir = build / "bin"
    needed = [bin_dir / wr.EXE_NAME, bin_dir / "scmctl.exe", bin_dir / "holdfile.exe", bin_dir / "minimal_service.exe",
              build / "jvmbridge" / "jvm.dll.so", build / "fixtures" / "javaapp" / APP_JAR]
    missing = [str(p) for p in needed if not p.exists()]
    if missing:
        sys.exit(f"not built: {missing}")

    session = create_session(bin_dir)
    try:
        lay_out(session, build, options.jars)
        figures = measure(session, options.rounds, options.warmup)
        print(f"start request -> Java main entered; lib\\ with {options.jars} jars; "
              f"{options.rounds} rounds after {options.warmup} warm-up, the order turning")
        for side in ("service", "yardstick", "host", "service-log", "yardstick-log"):
            report(side, figures[side])
        print(f"starts refused by Wine's manager and run again: {len(figures['refused'])} {figures['refused'][:5]}")
        ratio = statistics.median(figures["service"]) / statistics.median(figures["yardstick"])
        print(f"ratio service/yardstick (medians) = {ratio:.3f}  (goal <= 1.10)")
    finally:
        wr.ensure_clean(session)
        remove_yardstick(session)
        wr.destroy(session, keep=options.keep)


if __name__ == "__main__":
    main()
