#!/usr/bin/env bash
# CPU of headless real-time playback with pictures built, against the floor
# of decoding the same clip and scaling it to 960x540 BGRA with the ffmpeg
# tool. Usage: bench/render_playback_bench.sh [BINARY] [WORK_DIR]
# The clip (20 s, 1080p30 H.264 with AAC) is made in WORK_DIR on first use.
set -euo pipefail
bin=${1:-build/moravista}
work=${2:-/tmp/moravista-render-bench}
mkdir -p "$work"
clip=$work/clip_1080p30_20s.mp4
if [ ! -s "$clip" ]; then
  ffmpeg -hide_banner -loglevel error -nostdin -y \
    -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=20 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 60 -c:a aac -b:a 128k -shortest "$work/tmp.mp4"
  mv "$work/tmp.mp4" "$clip"
fi
# cpu_seconds COMMAND...: user + system CPU seconds of the command.
cpu_seconds() {
  /usr/bin/time -f "%U %S %e" -o "$work/time.txt" "$@" >/dev/null 2>&1
  awk '{ printf "%.2f %.2f\n", $1 + $2, $3 }' "$work/time.txt"
}
read -r floor floor_wall < <(cpu_seconds ffmpeg -hide_banner -nostdin -i "$clip" -an \
  -vf scale=960:540:flags=fast_bilinear -pix_fmt bgra -f null -)
read -r player player_wall < <(cpu_seconds "$bin" --headless --no-settings --audio=null --quit-at-end \
  --size=960x540 "$clip")
awk -v f="$floor" -v fw="$floor_wall" -v p="$player" -v pw="$player_wall" 'BEGIN {
  printf "ffmpeg decode + scale to 960x540 BGRA: %.2f CPU s (%.1f s wall)\n", f, fw
  printf "headless playback with pictures built: %.2f CPU s (%.1f s wall)\n", p, pw
  printf "ratio: %.3f (goal: at most 1.15)\n", p / f
}'
