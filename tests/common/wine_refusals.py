r"""Wine's passing refusals: the one place of the test and benchmark equipment that knows them,
decides whether an answer is one, and writes every retry down.

Wine 8 now and then refuses a step that is sound and goes through when asked again. These are
the answers seen, each with how it was seen; nothing else is taken for one:

* A Windows program that ends with a non-zero code and has printed nothing at all (standard
  output empty, standard error at most Wine's own lines), where the program prints on every path
  of its own: the process never got to run. Seen as the first `reg add` in a prefix that
  `wineboot -i` had just made, once in a few thousand runs of scmctl and of the service's own
  commands under load; and a session keeper (holdfile) that never said "held" while a second
  Wine job ran beside the suite (whether it had ended was not kept: the rig now says). Retried only for steps that are safe to repeat (REPEATABLE).
* `wineboot -i` making a new prefix, ended non-zero with only Wine's own lines, among them
  "wine: could not load kernel32.dll, status c0000135": seen once, as the suite's unit tests
  made their prefix beside an end-to-end session making its own. Nothing of the product runs
  there yet; the half-made prefix is removed before the second try (winesession.make_prefix).
* StartServiceW answered with 1359 (ERROR_INTERNAL_ERROR): Wine's manager failed to hand the
  start to a new process, about once in a few thousand starts (soak, benchmarks, and once in
  the reliability suite's fault tests). Nothing was started. The product never causes 1359: a
  service that crashes or refuses to start shows as 1053 or 1067, or in its status.
* ControlService answered with 109 (ERROR_BROKEN_PIPE) or 1359 while the service is in a state
  that accepts the control: the manager lost its pipe to the process for a moment (seen once in
  the e2e JVM suite and once in a benchmark run, for a STOP). A service whose process has gone
  is not in such a state, so a crash never passes for a refusal.

The C tools that drive the manager inside a Wine session (scmctl's cycle and timings) get the
codes of this table in the environment variable VELMORANE_WINE_REFUSALS (`env_value`), retry
such a call once themselves, where it must stay inside a measured span, and print it as a line
"refused ... call=NAME error=N", which their callers hand to `note`.

Every retry is written down with the test, the step and the code: into the file named by
VELMORANE_RETRY_LOG (the test command sets it and prints `summary` at its end), and always to
standard output.
"""

import os
import re
import sys
import time

RETRY_PAUSE_S = 0.5
LOG_VARIABLE = "VELMORANE_RETRY_LOG"
ENV_VARIABLE = "VELMORANE_WINE_REFUSALS"

SILENT_EXIT = "silent exit"
# The manager's calls and the codes Wine answers them with in passing.
CALL_CODES = {
    "StartServiceW": (1359,),
    "ControlService": (109, 1359),
}

# Steps that are safe to run twice and whose program prints on every path of its own, so that a
# silent non-zero exit means the program never ran: by program name (lower case, no folder),
# with the sub-commands that qualify (None: all).
REPEATABLE = {
    "reg": ("add", "delete", "query"),
    "reg.exe": ("add", "delete", "query"),
    "scmctl.exe": ("query", "qc", "qfailure", "wait", "exited"),
    "velmoraneservice.exe": ("install", "uninstall"),
    "velmoraneconsole.exe": ("check", "status"),
    # The session's keeper: prints "held" or an error on every path; a second start is harmless.
    "holdfile.exe": None,
    # A new prefix: wineboot prints nothing of its own, and nothing of the product runs yet.
    "wineboot": ("-i",),
}

# scmctl's commands that retry a refused call themselves, inside the span they measure, and
# print it ("refused ..." lines): their second refusal is a failure, never retried again.
RETRIED_INSIDE = ("time-start", "time-stop", "time-main")

# The controls of the manager and the SERVICE_ACCEPT_* bit that must be set for each.
ACCEPT_BITS = {1: 0x1, 2: 0x2, 3: 0x2, 5: 0x4, 15: 0x100}
SERVICE_STOPPED = 1
ERROR_LINE = re.compile(r"error=(\d+) call=(\w+)")


def env_value():
    """The table for the C tools: "StartServiceW:1359;ControlService:109,1359"."""
    return ";".join(f"{call}:{','.join(str(c) for c in codes)}" for call, codes in CALL_CODES.items())


def _program(args):
    name = str(args[0]).replace("/", "\\").rsplit("\\", 1)[-1].lower()
    sub = str(args[1]).lower() if len(args) > 1 else ""
    return name, sub


def repeatable(args):
    name, sub = _program(args)
    if name not in REPEATABLE:
        return False
    subs = REPEATABLE[name]
    return subs is None or sub in subs


def _silent(rc, out, err):
    if rc == 0 or out.strip():
        return False
    lines = [line for line in err.decode("latin-1").splitlines() if line.strip()]
    return all(line.startswith(("wine:", "wineserver:")) or re.match(r"[0-9a-f]{4}:", line) for line in lines)


def manager_error(out):
    """(call, code) of scmctl's "error=N call=NAME" line, or None."""
    match = ERROR_LINE.search(out.decode("utf-8", "replace"))
    return (match.group(2), int(match.group(1))) if match else None


def accepts(control, status):
    """Whether a service in `status` (scmctl's parsed record) takes `control` (4, INTERROGATE,
    any state but STOPPED)."""
    if status is None or status.get("state", SERVICE_STOPPED) == SERVICE_STOPPED:
        return False
    if control == 4:
        return True
    return bool(status.get("accepted", 0) & ACCEPT_BITS.get(control, 0))


SERVICE_STOP_PENDING = 3


def delivered(control, error, status):
    """Whether a STOP that Wine answered with one of its passing codes went through all the
    same: the service, asked right after, has itself reported STOP_PENDING or STOPPED with no
    error. Seen once in a run beside a second Wine job: a service whose shutdown() returned at
    once had ended before the manager had the handler's reply, and ControlService said 109. Such
    a STOP is not sent again (it would meet a stopped service); the caller's own checks of the
    reports that followed still see a service that did not stop in order."""
    return (control == 1 and error in CALL_CODES["ControlService"] and status is not None
            and status.get("state") in (SERVICE_STOP_PENDING, SERVICE_STOPPED) and status.get("exit", 1) == 0)


def classify(args, rc, out, err, status=None):
    """Which of Wine's passing refusals the answer (rc, out, err) of the step `args` is, or None.
    status: for a refused control, the service's status asked right after (see `accepts`)."""
    if rc == 0 or _program(args) in [("scmctl.exe", sub) for sub in RETRIED_INSIDE]:
        return None
    if _silent(rc, out, err):
        return SILENT_EXIT if repeatable(args) else None
    found = manager_error(out)
    if found is None or found[1] not in CALL_CODES.get(found[0], ()):
        return None
    call, code = found
    if call == "ControlService":
        control = int(args[3]) if len(args) > 3 and str(args[3]).isdigit() else 1
        if not accepts(control, status):
            return None
    return f"{call} {code}"


def needs_status(args, out):
    """A refused control is judged on the service's state: whether to ask for it."""
    found = manager_error(out)
    return found is not None and found[0] == "ControlService" and found[1] in CALL_CODES["ControlService"]


def note_tool_lines(step, out):
    """Writes down the refusals a C tool retried itself: its lines "refused ... call=C error=N"."""
    for line in out.decode("utf-8", "replace").splitlines():
        if line.startswith("refused "):
            note(step, line)


def current_test():
    test = os.environ.get("PYTEST_CURRENT_TEST", "")
    return test.rsplit(" ", 1)[0] if test else os.path.basename(sys.argv[0])


def note(step, refusal, detail=""):
    """Writes one retry down: the test, the step, the refusal (and what else is worth a look)."""
    line = f"{current_test()} | {step} | {refusal}" + (f" | {detail}" if detail else "")
    print(f"Wine refused a step, tried again: {line}", flush=True)
    path = os.environ.get(LOG_VARIABLE)
    if path:
        with open(path, "a", encoding="utf-8") as log:
            log.write(line.replace("\n", " ") + "\n")


def retried(step, attempt, judge, between=None):
    """Runs attempt() -> answer; when judge(answer) names one of Wine's refusals, writes it down,
    calls between() (where the caller keeps the refused attempt's traces apart) and runs
    attempt() once more. A second refusal fails, with both answers."""
    first = attempt()
    refusal = judge(first)
    if refusal is None:
        return first
    note(step, refusal)
    if between is not None:
        between()
    time.sleep(RETRY_PAUSE_S)
    second = attempt()
    again = judge(second)
    assert again is None, f"{step}: Wine refused twice ({refusal}, then {again}): {first!r} / {second!r}"
    return second


def summary(lines):
    """The test command's closing words on the retries written down (lines of the retry log)."""
    lines = [line.strip() for line in lines if line.strip()]
    if not lines:
        return "Wine refused no step."
    return (f"Wine refused {len(lines)} step{'s' if len(lines) != 1 else ''} and "
            f"{'they were' if len(lines) != 1 else 'it was'} tried again:\n"
            + "\n".join(f"  {line}" for line in lines))


if __name__ == "__main__":
    # python3 wine_refusals.py summary FILE: the test command's closing lines.
    if len(sys.argv) == 3 and sys.argv[1] == "summary":
        try:
            with open(sys.argv[2], encoding="utf-8") as log:
                print(summary(log.readlines()))
        except FileNotFoundError:
            print(summary([]))
    else:
        sys.exit("usage: wine_refusals.py summary FILE")
