"""End to end: the main job (scripts/main-job.sh) and the release package
(scripts/package.sh), run as a user runs them, each in a throw-away place.

The main job builds nothing here (VELMORANE_SKIP_BUILD=1): it uses the build
tree that CTest names (VELMORANE_BUILD), or build/.
"""

import html
import os
import re
import shutil
import subprocess
import zipfile
from pathlib import Path

import pytest

import logtexts as lt
import rig as wr

REPO = Path(__file__).resolve().parents[2]
BUILD = wr.BUILD
NEEDED = ("bin/VelmoraneService.exe", "bin/holdfile.exe", "bin/scmctl.exe", "jvmbridge/jvm.dll.so",
          "examples/velmorane-example.jar")


def run_main_job(demo_dir):
    env = dict(os.environ, VELMORANE_DEMO_DIR=str(demo_dir), VELMORANE_SKIP_BUILD="1", BUILD_DIR=str(BUILD))
    try:
        return subprocess.run([str(REPO / "scripts" / "main-job.sh")], stdin=subprocess.DEVNULL,
                              capture_output=True, env=env, timeout=900)
    finally:
        # The job ends its own session; this only matters when it was cut short.
        if (demo_dir / "prefix").is_dir():
            wr.ws.server(demo_dir / "prefix", "-k")


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    missing = [name for name in NEEDED if not (BUILD / name).exists()]
    if missing:
        pytest.skip(f"not built in {BUILD}: {missing}")
    if shutil.which("wine") is None:
        pytest.skip("wine is not installed")
    path = Path(tmp_path_factory.mktemp("main-job"))
    yield path
    shutil.rmtree(path, ignore_errors=True)


@pytest.fixture(scope="module")
def demo(scratch):
    """The main job run twice in the same place: the second run must start afresh."""
    demo_dir = scratch / "demo"
    first = run_main_job(demo_dir)
    assert first.returncode == 0, first.stdout.decode() + first.stderr.decode()
    second = run_main_job(demo_dir)
    return demo_dir, second


def test_main_job_succeeds_and_says_where_it_left_things(demo):
    demo_dir, result = demo
    out = result.stdout.decode()
    assert result.returncode == 0, out + result.stderr.decode()
    prefix = demo_dir / "prefix"
    assert f"Wine prefix:        {prefix}" in out
    assert f"Service log:        {prefix}/drive_c/windows/temp/velmoraneservice.log" in out
    assert (prefix / "drive_c" / "windows" / "temp" / "velmoraneservice.log").is_file()


def test_main_job_installs_runs_stops_and_removes_the_service(demo):
    _, result = demo
    out = result.stdout.decode().replace("\r\n", "\n")
    states = re.findall(r"STATE +: +(\d)", out)
    # sc start, sc query (RUNNING), sc stop, sc query (STOPPED)
    assert states[1] == "4" and states[-1] == "1", out
    assert out.index("VelmoraneService installed successfully") < out.index("STATE              : 4  RUNNING")
    assert out.index("STATE              : 1  STOPPED") < out.index("VelmoraneService removed successfully")


def test_java_application_beats_and_stops_in_order(demo):
    demo_dir, result = demo
    out = result.stdout.decode()
    beats = [int(n) for n in re.findall(r"running since \S+, beat (\d+) at ", out)]
    assert len(beats) == 2 and 3 <= beats[0] < beats[1], out
    heartbeat = demo_dir / "prefix" / "drive_c" / "Apps" / "Velmorane" / "heartbeat.txt"
    final = heartbeat.read_text(encoding="utf-8")
    match = re.fullmatch(r"stopped in order after (\d+) beats at \S+\n", final)
    assert match, final
    assert int(match.group(1)) >= beats[1]


def test_log_shows_one_start_and_one_stop(demo):
    demo_dir, _ = demo
    log = (demo_dir / "prefix" / "drive_c" / "windows" / "temp" / "velmoraneservice.log").read_bytes()
    texts = wr.texts(log)
    ktr = "C:\\Apps\\"
    base = ktr + "Velmorane\\"
    # A fresh prefix on every run: one start only.
    assert texts.count(lt.BANNER) == 1
    entries, class_path = lt.lib_lines([".", "..", "velmorane-example.jar"], base)
    assert class_path == base + "lib\\velmorane-example.jar;"
    assert texts[:16] == (lt.first_stage(base + wr.EXE_NAME, base, ktr) + [lt.LOOKING, lt.LIB_FOUND] + entries
                          + lt.option_lines(class_path, continuation=False))
    # A Java 9 or later runtime image laid out as jdk\jre\, found without any setting:
    # vcruntime140.dll at the fifth runtime place, jvm.dll at the third, the server VM.
    probe = lt.runtime_lines(base, ktr, found=5) + lt.jvm_lines(base, ktr, found=3)
    wr.assert_run(texts, probe + lt.STARTED, start=texts.index(probe[0]))
    # main returns at once; the stop's records come after all of the launcher's.
    launcher, shutdown = lt.split(texts)
    assert texts == launcher + shutdown
    assert launcher[-1 - len(lt.MAIN_RETURNED):] == [lt.INVOKING_MAIN] + lt.MAIN_RETURNED
    assert shutdown == lt.SHUTDOWN_DONE


def test_main_job_leaves_a_directory_it_did_not_make(scratch):
    other = scratch / "someone-else"
    other.mkdir()
    (other / "keep.txt").write_text("mine")
    result = run_main_job(other)
    assert result.returncode != 0
    assert "was not made by this script" in result.stderr.decode()
    assert sorted(p.name for p in other.iterdir()) == ["keep.txt"]


def test_release_package_unpacks_into_the_layout(scratch):
    dist = scratch / "dist"
    env = {k: v for k, v in os.environ.items() if not k.startswith("VELMORANE_SIGN_")}
    env.update(DIST_DIR=str(dist), VELMORANE_SKIP_BUILD="1", BUILD_DIR=str(BUILD))
    result = subprocess.run([str(REPO / "scripts" / "package.sh")], stdin=subprocess.DEVNULL,
                            capture_output=True, env=env, timeout=300)
    assert result.returncode == 0, result.stderr.decode()
    # Without a key: built as always, and one line says it is not signed.
    assert result.stderr.decode() == ("Not signed (VELMORANE_SIGN_PKCS12 is not set): VelmoraneService.exe"
                                      " VelmoraneConsole.exe\n")
    zips = list(dist.glob("VelmoraneService-*.zip"))
    assert [z.name for z in zips] == [re.sub(r".*/", "", result.stdout.decode().splitlines()[0])]
    assert re.fullmatch(r"VelmoraneService-\d+\.\d+\.\d+\.zip", zips[0].name)
    with zipfile.ZipFile(zips[0]) as archive:
        names = archive.namelist()
        assert sorted(names) == ["Velmorane/", "Velmorane/README.txt", "Velmorane/VelmoraneConsole.exe",
                                 "Velmorane/VelmoraneService.exe", "Velmorane/lib/", "Velmorane/operators-guide.html",
                                 "Velmorane/plugins/"]
        for exe in ("VelmoraneService.exe", "VelmoraneConsole.exe"):
            assert archive.read("Velmorane/" + exe) == (BUILD / "bin" / exe).read_bytes()
        readme = archive.read("Velmorane/README.txt")
        guide = archive.read("Velmorane/operators-guide.html").decode("utf-8")
    lines = readme.split(b"\r\n")
    assert lines[-1] == b"" and all(b"\n" not in line and b"\r" not in line for line in lines)
    version = zips[0].name[len("VelmoraneService-"):-len(".zip")]
    assert lines[0] == b"VelmoraneService " + version.encode()
    # The README names places relative to the installation root and points to the guide beside it.
    assert b"C:\\Apps" not in readme and b"operators-guide.html" in readme
    # The guide is the Markdown made into one page: every section, log lines with their blanks.
    source = (REPO / "docs" / "operators-guide.md").read_text(encoding="utf-8")
    headings = re.findall(r"^#+ (.+)$", re.sub(r"^```.*?^```", "", source, flags=re.M | re.S), re.M)
    page_headings = [html.unescape(re.sub(r"<[^>]+>", "", h)) for h in re.findall(r"<h\d>(.*?)</h\d>", guide)]
    assert page_headings == [re.sub(r"`", "", h) for h in headings]
    assert guide.startswith("<!DOCTYPE html>") and "<table>" in guide and "Name size:  &lt;" in guide


def test_operators_guide_quotes_log_texts_as_written():
    """Every line in the guide's list of the log's lines is a text the service writes,
    spelt as written (a new record needs no guide change for the tests to pass; a guide
    line with the misspellings "corrected" does fail)."""
    guide = (REPO / "docs" / "operators-guide.md").read_text(encoding="utf-8")
    quoted = guide.split("### Every line the service writes", 1)[1].split("```")[1].splitlines()
    patterns = [re.compile("".join(".+" if part in ("%s", "%d") else re.escape(part)
                                   for part in re.split(r"(%s|%d)", text)))
                for text in lt.LAUNCHER_TEXTS + lt.SHUTDOWN_TEXTS + lt.PUMP_TEXTS + [lt.CLASS_PATH_OPTION + "%s"]]
    # Blank lines part the groups; a line that is only a placeholder is a bare record
    # (the executable path, the class path's continuation).
    lines = [line for line in quoted if line and not re.fullmatch(r"<[^>]+>", line)]
    assert len(lines) >= len(patterns)
    for line in lines:
        assert any(p.fullmatch(line) for p in patterns), line
