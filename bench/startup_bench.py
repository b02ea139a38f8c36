#!/usr/bin/python3
r"""Start-up benchmark: the time from the SCM's start request to the Java application's main
being entered, against a minimal host program that loads the same jvm.dll (the bridge to the
Linux HotSpot), creates the virtual machine on a thread and calls the same main.

Both run alternately in one Wine session, timed by `scmctl time-main`, with the same
installation: C:\Apps\Velmorane\ with lib\ holding 100 jar files (the test application and
99 others), the bridge at C:\Apps\jdk\jre\bin\default\jvm.dll. Prints the figures; never
fails on speed.

usage: bench/startup_bench.py [--build DIR] [--rounds N] [--warmup N] [--jars N] [--keep]
The build tree (default: VELMORANE_BUILD or build/ of the repository) must hold
bin/VelmoraneService.exe, bin/scmctl.exe, bin/holdfile.exe, jvmbridge/jvm.dll.so and
fixtures/javaapp/velmorane-testapp.jar. The host is compiled here with mingw-w64 into the
session's directory.
"""

import argparse
import io
import os
import statistics
import subprocess
import sys
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import rig as wr  # noqa: E402  (puts tests/common and tests/fixtures on the path)
import javaside  # noqa: E402

MINGW_CC = "x86_64-w64-mingw32-gcc"
JNI_INCLUDE = "/usr/lib/jvm/java-17-openjdk-amd64/include"


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
        jar.writestr(f"filler/f{index:03d}/data.txt", f"filler {index}\n" * 64)
    return data.getvalue()


def compile_windows(source, output):
    subprocess.run([MINGW_CC, "-O2", "-Wall", "-Wextra", "-municode", "-static",
                    "-I", str(REPO / "launcher" / "jni"), "-I", JNI_INCLUDE,
                    "-o", str(output), str(source)], check=True)


def report(name, values):
    print(f"{name:11s} n={len(values)} median={statistics.median(values):8.1f} ms  "
          f"min={min(values):8.1f}  max={max(values):8.1f}")


def lay_out(session, build, jars):
    """Compiles the host into the session, lays out the installation
    (lib\\ with `jars` jar files, the bridge as jvm.dll, main returning at once) and
    installs the service. Returns the jvm.dll path for the host."""
    tools = wr.unix_path(session, wr.TOOLS_DIR)
    compile_windows(REPO / "bench" / "startup_host.c", tools / "startup_host.exe")

    base = wr.DEFAULT_DIR + "\\"
    files = {"lib\\velmorane-testapp.jar": (build / "fixtures" / "javaapp" / "velmorane-testapp.jar").read_bytes()}
    for i in range(1, jars):
        files[f"lib\\filler-{i:03d}.jar"] = filler_jar(i)
    wr.lay_out(session, wr.DEFAULT_EXE, files)
    jvm = "C:\\Apps\\jdk\\jre\\bin\\default\\jvm.dll"
    javaside.install_bridge(wr.unix_path(session, jvm).parent, build / "jvmbridge" / "jvm.dll.so")
    javaside.write_app_settings(wr.unix_path(session, base), main="return")
    rc, out = wr.command(session, wr.DEFAULT_EXE, "install")
    assert rc == 0 and b"installed" in out, out
    return jvm


def measure(session, jvm, rounds, warmup):
    """Runs warmup + rounds alternating rounds; returns the figures after
    the warm-up: {"service": [...], "service-log": [...], "host": [...]} in ms."""
    base = wr.DEFAULT_DIR + "\\"
    total = warmup + rounds
    rc, out, err = wr.run(session, [wr.TOOLS_DIR + "\\scmctl.exe", "time-main", wr.SERVICE, str(total),
                                    base + javaside.APP_RECORD, wr.TOOLS_DIR + "\\startup_host.exe",
                                    jvm, base], timeout=total * 120, name="driver")
    text = out.decode(errors="replace")
    figures = {"service": [], "service-log": [], "host": []}
    for line in text.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[0] in figures and int(parts[1]) >= warmup:
            figures[parts[0]].append(float(parts[2]))
    if rc != 0 or not figures["service"] or not figures["host"]:
        sys.exit(f"driver failed (exit {rc}):\n{text}\n{err.decode(errors='replace')}")
    return figures


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
    needed = [bin_dir / wr.EXE_NAME, bin_dir / "scmctl.exe", bin_dir / "holdfile.exe",
              build / "jvmbridge" / "jvm.dll.so", build / "fixtures" / "javaapp" / "velmorane-testapp.jar"]
    missing = [str(p) for p in needed if not p.exists()]
    if missing:
        sys.exit(f"not built: {missing}")

    session = create_session(bin_dir)
    try:
        jvm = lay_out(session, build, options.jars)
        figures = measure(session, jvm, options.rounds, options.warmup)

        print(f"start request -> Java main entered; lib\\ with {options.jars} jars; "
              f"{options.rounds} rounds after {options.warmup} warm-up, alternating")
        report("service", figures["service"])
        report("host", figures["host"])
        print("  (service-log: start request -> the launcher's first log record)")
        report("service-log", figures["service-log"])
        ratio = statistics.median(figures["service"]) / statistics.median(figures["host"])
        print(f"ratio service/host (medians) = {ratio:.3f}  (goal <= 1.10)")
    finally:
        wr.ensure_clean(session)
        wr.destroy(session, keep=options.keep)


if __name__ == "__main__":
    main()
