#!/usr/bin/env bash
# Runs one Windows program under Wine: the cross-compiling emulator of the build.
# The prefix must be named: WINEPREFIX (scripts/test.sh makes a fresh one per
# run). Without it this refuses to run rather than share a prefix with other runs.
# The steps are those of tests/common/winesession.py.
set -u
if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine-run.sh: set WINEPREFIX to a prefix of this run's own, e.g. WINEPREFIX=\$(mktemp -d)" >&2
    exit 2
fi
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # wineboot's helpers (services.exe among them) inherit and keep whatever
    # descriptors they get: never hand them the caller's pipes.
    wineboot -i </dev/null >/dev/null 2>&1
fi
# A persistent server keeps back-to-back runs from racing its shutdown.
wineserver -p </dev/null >/dev/null 2>&1
# When the session is new, its helper processes start now, without the
# caller's descriptors: a helper holding the caller's pipe would keep, for
# instance, ctest waiting for that pipe to close long after the test ended.
wineboot </dev/null >/dev/null 2>&1
exec wine "$@"
