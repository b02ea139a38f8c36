#!/usr/bin/env bash
# Builds the launcher's string, path, class path and log routines natively
# with clang against the Windows stand-ins in shim/, then
#   1. runs each target on a fixed number of seeded inputs under
#      AddressSanitizer and UndefinedBehaviorSanitizer, and
#   2. runs each target under libFuzzer for FUZZ_SECONDS (default 20).
# Exits non-zero on any finding. OUT chooses the work directory (default
# /tmp/velmorane-linux-<uid>); CHECK_INPUTS the number of seeded inputs.
# Needs Debian's clang-14 and libclang-rt-14-dev.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
out="${OUT:-/tmp/velmorane-linux-$(id -u)}"
seconds="${FUZZ_SECONDS:-20}"
inputs="${CHECK_INPUTS:-3000}"
cxx="${CXX_FOR_CHECKS:-$(command -v clang++-14 || command -v clang++)}"
mkdir -p "$out"

product=(log/log.cpp log/loglock.cpp log/logfile.cpp launcher/inputs.cpp launcher/strings.cpp launcher/paths.cpp launcher/classpath.cpp)
targets=(fuzz_strings fuzz_paths fuzz_classpath)
flags=(-std=c++17 -g -O1 -fno-omit-frame-pointer -Wall -Wextra -Wno-unknown-pragmas
       -Wno-unknown-warning-option -Wno-ignored-attributes -Wno-format
       -isystem "$here/shim" -I "$root" -I "$here"
       -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN
       -fsanitize=address,undefined -fno-sanitize-recover=all)

# The product's files are compiled unchanged, once for each kind of binary.
build() { # kind extra-flags...
    local kind="$1"; shift
    mkdir -p "$out/$kind"
    local objects=()
    for file in "${product[@]}" ; do
        local object="$out/$kind/$(basename "$file" .cpp).o"
        "$cxx" "${flags[@]}" "$@" -c "$root/$file" -o "$object"
        objects+=("$object")
    done
    "$cxx" "${flags[@]}" "$@" -c "$here/shim/shim.cpp" -o "$out/$kind/shim.o"
    objects+=("$out/$kind/shim.o")
    for target in "${targets[@]}"; do
        local extra=()
        if [ "$kind" = checks ]; then extra=("$here/standalone_main.cpp"); fi
        "$cxx" "${flags[@]}" "$@" "$here/$target.cpp" "${extra[@]}" "${objects[@]}" -o "$out/$kind/$target"
    done
}

echo "building in $out with $cxx"
build checks
build fuzz -fsanitize=fuzzer

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

status=0
cd "$out"
for target in "${targets[@]}"; do
    if ! "$out/checks/$target" "$inputs"; then
        echo "FINDING: $target (seeded inputs)"; status=1
    fi
done
for target in "${targets[@]}"; do
    mkdir -p "$out/corpus/$target"
    log="$out/$target.fuzz.log"
    if "$out/fuzz/$target" -max_total_time="$seconds" -max_len=2048 -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$out/$target-" "$out/corpus/$target" >"$log" 2>&1; then
        echo "$target: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') runs in ${seconds} s, no finding"
    else
        echo "FINDING: $target (libFuzzer), see $log and $out/$target-*"; tail -40 "$log"; status=1
    fi
done
exit $status
