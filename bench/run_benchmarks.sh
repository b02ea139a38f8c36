#!/usr/bin/env bash
# Runs every benchmark of the service under Wine in one session of its own and
# prints the table (see benchmarks.py). BUILD_DIR chooses the build tree
# (default: build); it is brought up to date with scripts/build.sh first, with
# the service's benchmark build (its stage clock) beside it, unless --no-build
# is the first argument (the `benchmarks` build target).
# Other arguments go to benchmarks.py, e.g. bench/run_benchmarks.sh --rounds 30
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
if [ "${1:-}" = "--no-build" ]; then
    shift
else
    BUILD_DIR="$build" "$root/scripts/build.sh" >&2
    cmake --build "$build" --target VelmoraneServiceStages >&2
fi
exec /usr/bin/python3 "$root/bench/benchmarks.py" --build "$build" "$@"
