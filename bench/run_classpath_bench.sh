#!/usr/bin/env bash
# Runs the class path benchmark under Wine in a prefix of its own, made for
# this run and removed after it. BUILD_DIR chooses the build tree (default:
# build); the benchmark must have been built there (scripts/build.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
bench="$build/bin/classpath_bench.exe"
if [ ! -f "$bench" ]; then
    echo "$bench is not built (BUILD_DIR=$build scripts/build.sh)" >&2
    exit 1
fi

WINEPREFIX="$(mktemp -d /tmp/velmorane-bench-XXXXXX)"
export WINEPREFIX
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# Output goes to a file: the prefix's first processes keep whatever
# descriptors they inherit, and a pipe would never close.
out="$WINEPREFIX/bench.out"
status=0
"$root/tests/wine-run.sh" "$bench" "$@" </dev/null >"$out" 2>&1 || status=$?
cat "$out"
exit "$status"
