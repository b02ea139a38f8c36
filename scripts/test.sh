#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds, then runs the unit
# tests (under Wine) and the end-to-end tests (the service under Wine's
# Service Control Manager) through CTest. Extra arguments go to ctest,
# e.g. scripts/test.sh -R unit
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"

BUILD_DIR="$build" "$root/scripts/build.sh"

# The unit tests run in a Wine prefix of their own, made fresh for this run
# and ended with it; every end-to-end session makes its own as well.
WINEPREFIX="$(mktemp -d /tmp/velmorane-unit-XXXXXX)"
export WINEPREFIX
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# Every step Wine refused in passing and the rig tried again (tests/common/wine_refusals.py)
# is written down here by the suites, and counted when the run ends.
VELMORANE_RETRY_LOG="$build/wine-retries.log"
export VELMORANE_RETRY_LOG
: >"$VELMORANE_RETRY_LOG"

# Made now, before the tests run side by side, through the rig's one retry for
# a prefix Wine failed to set up.
python3 "$root/tests/common/winesession.py" prefix "$WINEPREFIX" "$build/unit-wineboot.log"

# Two at a time: the Linux checks run beside the Wine tests, and two Wine tests
# that time nothing run side by side; the lanes are wine_test's in CMakeLists.txt.
CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-2}"
export CTEST_PARALLEL_LEVEL

cd "$build"
status=0
ctest --output-on-failure "$@" || status=$?
python3 "$root/tests/common/wine_refusals.py" summary "$VELMORANE_RETRY_LOG"
exit "$status"
