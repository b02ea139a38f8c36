#!/usr/bin/env bash
# Runs one Windows program under Wine: the cross-compiling emulator of the build.
# The prefix is $WINEPREFIX (the test command makes a fresh one per session);
# without it, a prefix of this user's under /tmp is used and kept.
set -u
export WINEPREFIX="${WINEPREFIX:-/tmp/velmorane-wine-$(id -u)}"
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
