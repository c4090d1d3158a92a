#!/usr/bin/env bash
# CPU cost of the idle player: three engine threads polling, nothing open.
# Usage: bench/idle_cpu.sh [BINARY] [SECONDS]
set -euo pipefail
bin=${1:-build/moravista}
seconds=${2:-10}
"$bin" --headless --no-settings 2>/dev/null &
pid=$!
sleep 1
ticks=$(getconf CLK_TCK)
read -r u0 s0 < <(awk '{print $14, $15}' /proc/$pid/stat)
sleep "$seconds"
read -r u1 s1 < <(awk '{print $14, $15}' /proc/$pid/stat)
kill -TERM $pid
wait $pid || true
awk -v u=$((u1 - u0)) -v s=$((s1 - s0)) -v t="$ticks" -v d="$seconds" \
  'BEGIN { cpu = (u + s) / t; printf "idle: %.3f CPU s in %d s = %.2f%% of one core\n", cpu, d, 100 * cpu / d }'
