#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one for a while on a copy
# of its seed corpus (fuzz/corpus/<target>/), two at a time. Any crash, property violation, leak,
# slow input or sanitizer report fails the script; the input that caused it is kept under
# build-fuzz/findings/.
# Usage: scripts/fuzz.sh [seconds per target]   (default 60; FUZZ_SECONDS works too)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-${FUZZ_SECONDS:-60}}
targets=(fuzz_packet fuzz_port fuzz_answers fuzz_recv_line)

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DBOARDMON_FUZZ=ON -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzzers

work=build-fuzz/run
findings=build-fuzz/findings
rm -rf "$work" "$findings"
mkdir -p "$work" "$findings"

run_target() {
    local t=$1
    cp -r "fuzz/corpus/$t" "$work/$t"
    # Lines up to a little over the 4096-byte bound need inputs of that size.
    if "build-fuzz/fuzz/$t" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$findings/$t-" "$work/$t" >"$work/$t.log" 2>&1; then
        echo "$t: $(grep -m1 -o 'Done [0-9]* runs in [0-9]* second(s)' "$work/$t.log")"
    else
        echo "$t: FAILED" >&2
        tail -n 40 "$work/$t.log" >&2
        return 1
    fi
}

status=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
    pids=()
    for t in "${targets[@]:i:2}"; do
        run_target "$t" &
        pids+=($!)
    done
    for p in "${pids[@]}"; do
        wait "$p" || status=1
    done
done
if [ "$status" -ne 0 ]; then
    echo "fuzzing found problems; inputs in $findings/" >&2
    exit 1
fi
echo "fuzzing: no findings"
