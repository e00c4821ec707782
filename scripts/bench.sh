#!/usr/bin/env bash
# Builds the Release tree build-bench/ and runs the benchmarks: the packet codec, the link's
# exchange latency beside a raw socket ping-pong, and the whole monitor against boardsim. Ends
# with one table: metric, measured, target, met?
# Usage: scripts/bench.sh [--quick]
#   --quick  fewer exchanges, 3 monitor cycles instead of 10, fewer start-up timings
# The targets are what the monitor should stay within on a quiet machine; missing one does not
# make the script fail. Takes about 25 s (10 of them are the monitor's one-second pauses).
set -euo pipefail
cd "$(dirname "$0")/.."

exchanges=20000
cycles=oooooooooo.
starts=200
fixed_runs=20
if [ "${1:-}" = --quick ]; then
    exchanges=5000
    cycles=ooo.
    starts=50
    fixed_runs=5
elif [ $# -gt 0 ]; then
    sed -n '2,8s/^# \{0,1\}//p' "$0" >&2
    exit 2
fi

dir=build-bench
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

if [ -x "$dir/bench_codec" ]; then
    echo "== codec (ns per packet)"
    "$dir/bench_codec" --benchmark_out="$out/codec.csv" --benchmark_out_format=csv
else
    echo "== codec: skipped (bench_codec not built: Google Benchmark missing)"
fi

echo "== exchange latency"
"$dir/bench_exchange" --exchanges "$exchanges" 2>"$out/exchange.txt"
cat "$out/exchange.txt"

echo "== whole monitor"
"$dir/bench_monitor" --boardmon "$dir/boardmon" --boardsim "$dir/boardsim" --cycles "$cycles" \
    --starts "$starts" --fixed-runs "$fixed_runs" >"$out/monitor.txt"
cat "$out/monitor.txt"

# The processor time per packet of a Google Benchmark run, in ns.
codec() {
    [ -f "$out/codec.csv" ] || { echo "-"; return; }
    awk -F, -v name="\"$1\"" '$1 == name { printf "%.1f", $4 }' "$out/codec.csv"
}
exchange() { awk -v row="$1" -v col="$2" '$1 == row { print $col }' "$out/exchange.txt"; }
monitor() { awk -v key="$1" '$1 == key { print $2 }' "$out/monitor.txt"; }
# "yes" when value op limit holds (op is < or <=).
met() { awk -v v="$1" -v op="$2" -v l="$3" 'BEGIN { ok = op == "<" ? v < l : v <= l;
    print ok ? "yes" : "NO" }'; }

ratio=$(awk '/^ratio/ { print $4 }' "$out/exchange.txt")
ratio99=$(awk '/^ratio/ { print $6 }' "$out/exchange.txt")
percycle=$(monitor cpu_us_per_cycle)
rss_mib=$(awk -v k="$(monitor maxrss_kib)" 'BEGIN { printf "%.2f", k / 1024 }')
prompt_ms=$(awk -v u="$(monitor first_prompt_us)" 'BEGIN { printf "%.2f", u / 1000 }')
ncycles=$(monitor cycles)

echo
echo "== summary"
{
    echo "metric|measured|target|met?"
    echo "traced encode, request packet (tlk_i_encodePacket)|$(codec tracedEncode/requests) ns|-|-"
    echo "traced decode, answer packet (tlk_i_decodePacket)|$(codec tracedDecode/answers) ns|-|-"
    echo "frame::encode, request packet|$(codec frameEncode/requests) ns|-|-"
    echo "frame::lengthField|$(codec frameLengthField/answers) ns|-|-"
    echo "frame::checksum, answer packet|$(codec frameChecksum/answers) ns|-|-"
    echo "exchange median, boardmon / untraced / raw|$(exchange boardmon 2) / \
$(exchange untraced 2) / $(exchange raw 2) us|-|-"
    echo "exchange p99, boardmon / raw|$(exchange boardmon 3) / $(exchange raw 3) us|-|-"
    echo "exchange ratio boardmon/raw, median|$ratio|<= 1.5|$(met "$ratio" "<=" 1.5)"
    echo "exchange ratio boardmon/raw, p99|$ratio99|-|-"
    echo "CPU per cycle, $ncycles cycles, all-in|$percycle us|< 200 us|$(met "$percycle" "<" 200)"
    echo "CPU per cycle, start-up excluded|$(monitor cpu_us_per_cycle_marginal) us|-|-"
    echo "peak resident memory|$rss_mib MiB|< 4 MiB|$(met "$rss_mib" "<" 4)"
    echo "start to first prompt byte, median|$prompt_ms ms|< 5 ms|$(met "$prompt_ms" "<" 5)"
} | column -t -s '|'
