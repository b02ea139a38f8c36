"""End to end: the service's event log entries and its pre-shutdown control under Wine.

Wine 8 writes no event log: ReportEventW prints a FIXME line with the type and the event's
number on the advapi channel, and each line of each insert as an ERR line of the eventlog
channel for an error (WARN and TRACE, which the session's trace leaves out, for the others);
RegisterEventSourceW prints the source's name. A service's lines land in the session's trace.
"""

import os
import re

import rig as wr
import test_service_host as sh

SOURCE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VelmoraneService"


def events(rig, mark):
    """(source names registered, [(type, number, [insert lines])]) from the trace after mark."""
    data = rig.trace.read_bytes()[mark:].decode("latin-1")
    sources, found = [], []
    for line in data.splitlines():
        parts = line.split(":", 4)
        if len(parts) < 5:
            continue
        if parts[2] == "fixme" and parts[3] == "advapi" and parts[4].startswith("RegisterEventSourceW"):
            sources.append(re.findall(r'L"([^"]*)"', parts[4])[-1])
        elif parts[2] == "fixme" and parts[3] == "advapi" and parts[4].startswith("ReportEventW"):
            fields = parts[4][parts[4].index("(") + 1:].split(",")
            found.append((int(fields[1], 16), int(fields[3], 16), []))
        elif parts[2] == "err" and parts[3] == "eventlog" and found:
            found[-1][2].append(re.search(r'L"(.*)"', parts[4]).group(1).replace("\\\\", "\\"))
    return sources, found


def test_install_registers_the_event_source_and_uninstall_removes_it(host):
    sh.install(host)
    rc, out, _ = wr.run(host, ["reg", "query", SOURCE_KEY], name="reg")
    values = {line.split()[0]: line.split(None, 2)[1:] for line in out.decode().splitlines() if "REG_" in line}
    assert rc == 0 and values == {"EventMessageFile": ["REG_EXPAND_SZ", wr.DEFAULT_EXE],
                                  "TypesSupported": ["REG_DWORD", "0x7"]}
    assert wr.command(host, wr.DEFAULT_EXE, "uninstall") == (0, sh.REMOVED)
    assert wr.run(host, ["reg", "query", SOURCE_KEY], name="reg")[0] != 0


# No jvm.dll anywhere: the start fails (1001, with its record, no Java exception, the remedy),
# and VLSTOPONFAILURE stops the service with exit code 1 (1011).
def test_failed_start_and_its_stop_write_their_events(host):
    wr.set_service_env(host, {"VLSTOPONFAILURE": "1"})
    sh.install(host)
    mark = wr.trace_mark(host)
    wr.start(host)
    wr.wait_state(host, wr.SERVICE_STOPPED, wr.STOP_WAIT_MS)
    sources, found = events(host, mark)
    assert set(sources) == {"VelmoraneService"}
    assert found == [
        (1, 0xC00003E9, ["Failed to load jvm.dll at C:\\Apps\\jdk\\bin\\j9vm\\jvm.dll", "",
                         "No jvm.dll loaded at any place (none there, a 32-bit runtime, its C runtime library not "
                         "loaded, or a Java 9+ runtime in jdk\\bin\\server\\): lay a 64-bit runtime out as "
                         "jdk\\jre\\ or set VLJVMDLL; VelmoraneConsole check shows which."]),
        (1, 0xC00003F3, ["1"])]


# What the manager shows of VLPRESHUTDOWN=1: PRESHUTDOWN accepted beside STOP and SHUTDOWN.
# Wine's ControlService refuses control 15 (error 87) before the service sees it.
def test_preshutdown_is_accepted_when_asked_for(host):
    wr.set_service_env(host, {"VLPRESHUTDOWN": "1"})
    sh.install(host)
    mark = wr.trace_mark(host)
    wr.start(host)
    assert wr.wait_state(host, wr.SERVICE_RUNNING)["accepted"] == 0x105
    assert wr.control(host, 15)[0] == 87
    sh.stop(host)
    assert [r[1:3] for _, r in wr.status_reports(host, mark)] == [
        (wr.SERVICE_START_PENDING, 0), (wr.SERVICE_RUNNING, 0x105), (wr.SERVICE_STOP_PENDING, 0x105),
        (wr.SERVICE_STOP_PENDING, 0x105), (wr.SERVICE_STOPPED, 0)]


# A log path planted as a hard link (a second name): every record is refused, one warning tells,
# then the start's own failure (no jvm.dll here).
def test_refused_log_file_is_one_warning_per_start(host):
    sh.install(host)
    log = wr.log_path(host)
    target = log.with_name("planted-target.txt")
    target.write_bytes(b"planted\r\n")
    os.link(target, log)
    try:
        mark = wr.trace_mark(host)
        sh.run_once_without_log(host)
        assert [(t, n) for t, n, _ in events(host, mark)[1]] == [(2, 0x800003FE), (1, 0xC00003E9)]
    finally:
        target.unlink()
        log.unlink()
