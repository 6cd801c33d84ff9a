#!/bin/sh
# Builds the fuzz targets with clang in a build folder of their own and runs
# each for N seconds (first argument, default 30) on its seed corpus. Fails
# when a target crashes, leaks or trips a sanitizer; the input that did it is
# kept under <build>/fuzz-artifacts/.
#   tests/fuzz/run.sh [seconds]     VORBEX_FUZZ_BUILD=<dir> picks the build folder
set -eu

seconds=${1:-30}
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${VORBEX_FUZZ_BUILD:-$src/build-fuzz}
targets="console text_export xml_export html_export dispatch"

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORBEX_FUZZ=ON -DVORBEX_BENCH=OFF >/dev/null
build_targets=""
for t in $targets; do build_targets="$build_targets fuzz_$t"; done
# shellcheck disable=SC2086
cmake --build "$build" --target $build_targets

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
# The targets make their sandbox machines under TMPDIR; one that crashed
# leaves its machine behind, and the trap takes it away with the rest.
export TMPDIR="$work"

failed=""
for t in $targets; do
    echo "== fuzz_$t: ${seconds}s"
    # New inputs go to a scratch folder; the seed corpus in the tree stays as it is.
    mkdir -p "$work/$t"
    if ! "$build/fuzz_$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$t-" "$work/$t" "$src/tests/fuzz/corpus/$t" >"$work/$t.log" 2>&1; then
        failed="$failed $t"
        tail -n 60 "$work/$t.log"
    else
        grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^stat::new_units_added' "$work/$t.log" | tr '\n' ' '
        echo
    fi
done

if [ -n "$failed" ]; then
    echo "fuzzing failed:$failed (inputs in $artifacts)" >&2
    exit 1
fi
echo "fuzzing passed: $targets"
