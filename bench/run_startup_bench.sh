#!/usr/bin/env bash
# Runs the start-up benchmark (service vs. the minimal service and the JNI host, see startup_bench.py).
# BUILD_DIR chooses the build tree (default: build); extra arguments go to the script,
# e.g. bench/run_startup_bench.sh --rounds 30
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exec /usr/bin/python3 "$root/bench/startup_bench.py" --build "${BUILD_DIR:-$root/build}" "$@"
