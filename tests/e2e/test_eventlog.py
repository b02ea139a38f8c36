"""End to end: the service's events (Wine 8's ReportEventW stub traces the type and number, and an
error's inserts as ERR lines of the eventlog channel) and its pre-shutdown control."""

import os
import re

import rig as wr
import test_service_host as sh

SOURCE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VelmoraneService"


def events(rig, mark):
    """(sources registered, [(type, number, [inserts])]) from the session's trace after mark."""
    sources, found = set(), []
    for line in rig.trace.read_bytes()[mark:].decode("latin-1").splitlines():
        _, _, kind, channel, rest = (line.split(":", 4) + [""] * 5)[:5]
        if (kind, channel) == ("fixme", "advapi") and rest.startswith("RegisterEventSourceW"):
            sources.add(re.findall(r'L"([^"]*)"', rest)[-1])
        elif (kind, channel) == ("fixme", "advapi") and rest.startswith("ReportEventW"):
            fields = rest[rest.index("(") + 1:].split(",")
            found.append((int(fields[1], 16), int(fields[3], 16), []))
        elif (kind, channel) == ("err", "eventlog") and found:
            found[-1][2].append(re.search(r'L"(.*)"', rest).group(1).replace("\\\\", "\\"))
    return sources, found


def test_install_registers_the_event_source_and_uninstall_removes_it(host):
    sh.install(host)
    rc, out, _ = wr.run(host, ["reg", "query", SOURCE_KEY], name="reg")
    assert rc == 0 and [line.split() for line in out.decode().splitlines() if "REG_" in line] == [
        ["EventMessageFile", "REG_EXPAND_SZ", wr.DEFAULT_EXE], ["TypesSupported", "REG_DWORD", "0x7"]]
    assert wr.command(host, wr.DEFAULT_EXE, "uninstall") == (0, sh.REMOVED)
    assert wr.run(host, ["reg", "query", SOURCE_KEY], name="reg")[0] != 0


# No jvm.dll anywhere: the start fails (1001) and VLSTOPONFAILURE stops the service (1011).
def test_failed_start_and_its_stop_write_their_events(host):
    wr.set_service_env(host, {"VLSTOPONFAILURE": "1"})
    sh.install(host)
    mark = wr.trace_mark(host)
    wr.start(host)
    wr.wait_state(host, wr.SERVICE_STOPPED, wr.STOP_WAIT_MS)
    assert events(host, mark) == ({"VelmoraneService"}, [
        (1, 0xC00003E9, ["Failed to load jvm.dll at C:\\Apps\\jdk\\bin\\j9vm\\jvm.dll", "",
                         "No jvm.dll loaded at any place (none there, a 32-bit runtime, its C runtime library not "
                         "loaded, or a Java 9+ runtime in jdk\\bin\\server\\): lay a 64-bit runtime out as "
                         "jdk\\jre\\ or set VLJVMDLL; VelmoraneConsole check shows which."]),
        (1, 0xC00003F3, ["1"])])


# A log path planted as a hard link: one warning (1022) for the start's refused records.
def test_refused_log_file_is_one_warning_per_start(host):
    sh.install(host)
    log, target = wr.log_path(host), wr.log_path(host).with_name("planted-target.txt")
    target.write_bytes(b"planted\r\n")
    os.link(target, log)
    try:
        mark = wr.trace_mark(host)
        sh.run_once_without_log(host)
        assert [(t, n) for t, n, _ in events(host, mark)[1]] == [(2, 0x800003FE), (1, 0xC00003E9)]
    finally:
        target.unlink()
        log.unlink()


# VLPRESHUTDOWN=1: PRESHUTDOWN accepted beside STOP and SHUTDOWN (0x105). Wine's ControlService
# refuses control 15 (error 87) before the service sees it.
def test_preshutdown_is_accepted_when_asked_for(host):
    wr.set_service_env(host, {"VLPRESHUTDOWN": "1"})
    sh.install(host)
    mark = wr.trace_mark(host)
    wr.start(host)
    assert wr.wait_state(host, wr.SERVICE_RUNNING)["accepted"] == 0x105
    assert wr.control(host, 15)[0] == 87
    sh.stop(host)
    assert [r[1:3] for _, r in wr.status_reports(host, mark)] == [(2, 0), (4, 0x105), (3, 0x105), (3, 0x105), (1, 0)]
