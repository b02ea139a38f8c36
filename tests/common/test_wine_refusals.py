"""The one place for Wine's passing refusals, on recorded answers: which are retried, which are
faults that must show, what a retry leaves behind, and the test command's closing words. No
Wine is needed."""

import pytest

import wine_refusals as wf

SCMCTL = "C:\\e2e\\scmctl.exe"
RUNNING_STOP = {"state": 4, "accepted": 1}
RUNNING_NO_STOP = {"state": 4, "accepted": 0}
STOPPED = {"state": 1, "accepted": 0}
TRACE_ONLY = b"0124:err:service:service_handle_control pipe broken\nwine: using fast synchronization\n"

CASES = [
    # The first `reg add` of a new prefix: non-zero, nothing printed.
    (["reg", "add", "HKLM\\x", "/v", "A", "/d", "", "/f"], 1, b"", b"", None, wf.SILENT_EXIT),
    ([SCMCTL, "query", "VelmoraneService"], 2, b"", TRACE_ONLY, None, wf.SILENT_EXIT),
    (["C:\\Apps\\Velmorane\\VelmoraneService.exe", "install"], 1, b"", b"", None, wf.SILENT_EXIT),
    (["C:\\e2e\\holdfile.exe", "C:\\e2e\\session.lock", "3600", "rwd"], 1, b"", b"", None, wf.SILENT_EXIT),
    # A new prefix Wine failed to set up; one that failed otherwise shows.
    (["wineboot", "-i"], 53, b"", b"wine: created the configuration directory '/tmp/p'\n"
     b"wine: configuration in L\"/tmp/p\" has been updated.\nwine: could not load kernel32.dll, status c0000135\n",
     None, wf.SILENT_EXIT),
    (["wineboot", "-i"], 1, b"", b"wine: '/tmp/p' is not owned by you\nsomething else\n", None, None),
    # Silent, but not safe to repeat, or printed something: shown as it is.
    ([SCMCTL, "start", "VelmoraneService"], 2, b"", b"", None, None),
    (["cmd", "/c", "del", "c:\\x"], 1, b"", b"", None, None),
    (["reg", "add", "HKLM\\x", "/f"], 1, b"", b"ERROR: Invalid key name.\r\n", None, None),
    # Starts: 1359 is Wine's; what the product does (1053, 1067) never is.
    ([SCMCTL, "start", "VelmoraneService"], 2, b"error=1359 call=StartServiceW\r\n", b"", None, "StartServiceW 1359"),
    ([SCMCTL, "cycle", "VelmoraneService", "-", "-", "0"], 2, b"error=1359 call=StartServiceW\r\n", b"", None,
     "StartServiceW 1359"),
    ([SCMCTL, "start", "VelmoraneService"], 2, b"error=1053 call=StartServiceW\r\n", b"", None, None),
    ([SCMCTL, "start", "VelmoraneService"], 2, b"error=1067 call=StartServiceW\r\n", b"", None, None),
    ([SCMCTL, "start", "VelmoraneService"], 2, b"error=1359 call=OpenServiceW\r\n", b"", None, None),
    # The timings retry inside their measured span; their failure is final.
    ([SCMCTL, "time-stop", "VelmoraneService", "3", "x"], 2, b"error=1359 call=StartServiceW\r\n", b"", None, None),
    # Controls: 109 or 1359 while the service takes the control; never once it has gone.
    ([SCMCTL, "control", "VelmoraneService", "1"], 2, b"error=109 call=ControlService\r\n", b"", RUNNING_STOP,
     "ControlService 109"),
    ([SCMCTL, "control", "VelmoraneService", "1"], 2, b"error=1359 call=ControlService\r\n", b"", RUNNING_STOP,
     "ControlService 1359"),
    ([SCMCTL, "control", "VelmoraneService", "4"], 2, b"error=109 call=ControlService\r\n", b"", RUNNING_NO_STOP,
     "ControlService 109"),
    ([SCMCTL, "control", "VelmoraneService", "1"], 2, b"error=109 call=ControlService\r\n", b"", STOPPED, None),
    ([SCMCTL, "control", "VelmoraneService", "1"], 2, b"error=109 call=ControlService\r\n", b"", RUNNING_NO_STOP,
     None),
    ([SCMCTL, "control", "VelmoraneService", "1"], 2, b"error=109 call=ControlService\r\n", b"", None, None),
    ([SCMCTL, "control", "VelmoraneService", "1"], 2, b"error=1061 call=ControlService\r\n", b"", RUNNING_STOP,
     None),
    ([SCMCTL, "start", "VelmoraneService"], 0, b"started\r\n", b"", None, None),
]


@pytest.mark.parametrize("args, rc, out, err, status, expected", CASES)
def test_classify_recorded_answers(args, rc, out, err, status, expected):
    assert wf.classify(args, rc, out, err, status) == expected


def test_retry_once_written_down_and_a_second_refusal_fails(tmp_path, monkeypatch, capsys):
    monkeypatch.setenv(wf.LOG_VARIABLE, str(tmp_path / "retries"))
    monkeypatch.setenv("PYTEST_CURRENT_TEST", "tests/e2e/test_x.py::test_y (call)")
    monkeypatch.setattr(wf, "RETRY_PAUSE_S", 0)
    refused, ok = (2, b"error=1359 call=StartServiceW\r\n", b""), (0, b"started\r\n", b"")
    answers = iter([refused, ok])
    between = []
    judge = lambda a: wf.classify([SCMCTL, "start", "VelmoraneService"], *a)  # noqa: E731
    assert wf.retried("scmctl start", lambda: next(answers), judge, lambda: between.append(1)) == ok
    assert between == [1]
    assert (tmp_path / "retries").read_text() == \
        "tests/e2e/test_x.py::test_y | scmctl start | StartServiceW 1359\n"
    answers = iter([refused, refused])
    with pytest.raises(AssertionError, match=r"Wine refused twice \(StartServiceW 1359, then StartServiceW 1359\)"):
        wf.retried("scmctl start", lambda: next(answers), judge)
    # A fault is returned at once, never tried again.
    answers = iter([(2, b"error=1053 call=StartServiceW\r\n", b"")])
    assert wf.retried("scmctl start", lambda: next(answers), judge)[0] == 2


def test_the_tools_get_the_same_codes_and_their_lines_are_written_down(tmp_path, monkeypatch):
    assert wf.env_value() == "StartServiceW:1359;ControlService:109,1359"
    monkeypatch.setenv(wf.LOG_VARIABLE, str(tmp_path / "retries"))
    monkeypatch.delenv("PYTEST_CURRENT_TEST", raising=False)
    wf.note_tool_lines("benchmarks stop", b"stop 0 1.0 2.0 3.0 0\nrefused service 3 call=ControlService error=109\n")
    assert (tmp_path / "retries").read_text().endswith(
        " | benchmarks stop | refused service 3 call=ControlService error=109\n")


@pytest.mark.parametrize("control, error, status, expected", [
    (1, 109, {"state": 1, "exit": 0}, True),
    (1, 109, {"state": 3, "exit": 0}, True),
    (1, 109, {"state": 1, "exit": 1067}, False),
    (1, 109, {"state": 4, "exit": 0}, False),
    (1, 1061, {"state": 1, "exit": 0}, False),
    (4, 109, {"state": 1, "exit": 0}, False),
    (1, 109, None, False),
])
def test_a_stop_answered_with_a_refusal_but_delivered(control, error, status, expected):
    assert wf.delivered(control, error, status) == expected


@pytest.mark.parametrize("lines, expected", [
    ([], "Wine refused no step."),
    (["a | b | StartServiceW 1359\n"], "Wine refused 1 step and it was tried again:\n  a | b | StartServiceW 1359"),
    (["a | b | x\n", "\n", "c | d | y\n"], "Wine refused 2 steps and they were tried again:\n  a | b | x\n  c | d | y"),
])
def test_summary(lines, expected):
    assert wf.summary(lines) == expected
