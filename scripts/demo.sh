#!/usr/bin/env bash
# A whole monitor session against the simulated board: builds what is needed, starts boardsim
# on 127.0.0.1:8888, answers both prompts with the defaults and lets the board's switch end
# the run. The alarm sounds once (the first motion only arms it).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target boardmon boardsim >/dev/null

# boardmon plays this fixed file; provide one if there is none, never replacing an existing one.
alarm=/tmp/klaxon-short.wav
[ -e "$alarm" ] || build/boardsim --write-alarm "$alarm"

log=$(mktemp -t boardsim-demo.XXXXXX)
# Switch on for four cycles, motion in the middle two, then off.
build/boardsim --listen 127.0.0.1:8888 --once --cycles 'oMMo.' --log "$log" >"$log.out" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; rm -f "$log" "$log.out"' EXIT
for _ in $(seq 100); do
    grep -q '^listening on' "$log.out" 2>/dev/null && break
    kill -0 "$sim" 2>/dev/null || { echo "boardsim did not start" >&2; cat "$log" >&2; exit 1; }
    sleep 0.05
done

# Two empty answers: the default address and port.
status=0
printf '\n\n' | build/boardmon || status=$?
wait "$sim"
echo
echo "boardmon exited with status $status; the board saw:"
sed 's/^/  /' "$log"
exit "$status"
