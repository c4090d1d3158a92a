#!/usr/bin/env bash
# CPU cost of an idle player, headless with the null sound device, over the
# same seconds for each situation: nothing open, after a still picture,
# after a stop, and while a clip is paused. With a second binary the two are
# measured side by side (A then B for each situation).
# Usage: bench/idle_cpu.sh [SECONDS] [BINARY_A] [BINARY_B]
set -euo pipefail
seconds=${1:-30}
a=${2:-build/moravista}
b=${3:-}
fixtures=${FIXTURES:-build/fixtures}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '1000 stop\n' >"$work/stop.txt"
printf '1000 pause\n' >"$work/pause.txt"

# cpu_of BINARY ARGS...: starts it, lets it settle for 3 s, then prints the
# percentage of one core it used over the measured seconds.
cpu_of() {
  "$@" --headless --no-settings --audio=null 2>/dev/null &
  local pid=$!
  sleep 3
  local ticks u0 s0 u1 s1
  ticks=$(getconf CLK_TCK)
  read -r u0 s0 < <(awk '{print $14, $15}' /proc/$pid/stat)
  sleep "$seconds"
  read -r u1 s1 < <(awk '{print $14, $15}' /proc/$pid/stat)
  kill -TERM $pid
  wait $pid || true
  awk -v c=$((u1 - u0 + s1 - s0)) -v t="$ticks" -v d="$seconds" 'BEGIN { printf "%.2f", 100 * c / t / d }'
}

row() {
  local name=$1
  shift
  local first second=""
  first=$(cpu_of "$a" "$@")
  [ -n "$b" ] && second=$(cpu_of "$b" "$@")
  if [ -n "$b" ]; then
    printf '%-22s %8s %% %8s %%\n' "$name" "$first" "$second"
  else
    printf '%-22s %8s %%\n' "$name" "$first"
  fi
}

if [ -n "$b" ]; then
  printf '%-22s %10s %10s   (percent of one core over %s s)\n' situation A B "$seconds"
else
  printf '%-22s %10s   (percent of one core over %s s)\n' situation A "$seconds"
fi
row "nothing open"
row "after a still picture" "$fixtures/still.jpg"
row "after a stop" --input="$work/stop.txt" "$fixtures/h264_aac.mp4"
row "paused" --input="$work/pause.txt" "$fixtures/long_gop.mp4"
