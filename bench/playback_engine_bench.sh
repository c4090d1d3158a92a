#!/usr/bin/env bash
# The playback engine's figures on a 20-second 1920x1080 30 fps H.264/AAC
# clip played headless in real time: CPU seconds against the floor of
# decoding it with the ffmpeg tool (with and without the scale to the
# 960x540 BGRA picture), dropped frames, peak RSS, time to the first
# picture, and the p95 latency of seeks from an input script. Runs the same
# clip through mpv as well when it is installed.
# Usage: bench/playback_engine_bench.sh [BINARY] [WORK_DIR]
set -euo pipefail
bin=${1:-build/moravista}
work=${2:-/tmp/moravista-engine-bench}
mkdir -p "$work"
clip=$work/clip_1080p30_20s.mp4
if [ ! -s "$clip" ]; then
  ffmpeg -hide_banner -loglevel error -nostdin -y \
    -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=20 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 60 -c:a aac -b:a 128k -shortest "$work/tmp.mp4"
  mv "$work/tmp.mp4" "$clip"
fi

# measure NAME COMMAND...: "cpu_s wall_s peak_rss_kb" of the command.
measure() {
  local name=$1; shift
  /usr/bin/time -f "%U %S %e %M" -o "$work/$name.time" "$@" >"$work/$name.out" 2>&1 || true
  awk '{ printf "%.2f %.2f %d\n", $1 + $2, $3, $4 }' "$work/$name.time"
}

read -r floor floor_wall _ < <(measure floor ffmpeg -hide_banner -nostdin -threads 0 -i "$clip" -f null -)
read -r floor_scale floor_scale_wall _ < <(measure floor_scale ffmpeg -hide_banner -nostdin -threads 0 -i "$clip" \
  -vf scale=960:540:flags=fast_bilinear,format=bgra -f null -)
read -r play play_wall play_rss < <(measure play "$bin" --headless --no-settings --audio=null --quit-at-end \
  --stats="$work/play.json" "$clip")

# Ten seeks across the clip, one every 1.5 s, then playing to the end.
: > "$work/seeks.txt"
for i in 0 1 2 3 4 5 6 7 8 9; do
  echo "$(( 1000 + i * 1500 )) seek $(( (i * 7919) % 18000 ))" >> "$work/seeks.txt"
done
read -r _ _ _ < <(measure seek "$bin" --headless --no-settings --audio=null --quit-at-end \
  --input="$work/seeks.txt" --stats="$work/seek.json" "$clip")

python3 - "$work/play.json" "$work/seek.json" "$floor" "$floor_wall" "$floor_scale" "$floor_scale_wall" \
  "$play" "$play_wall" "$play_rss" <<'PY'
import json, sys
play = json.load(open(sys.argv[1]))
seek = json.load(open(sys.argv[2]))
floor, floor_wall, floor_scale, floor_scale_wall, cpu, wall, rss = map(float, sys.argv[3:10])
lat = sorted(s["latency_ms"] for s in seek["seeks"] if s.get("origin", "user") == "user" and s["latency_ms"] >= 0)
p95 = lat[max(0, -(-len(lat) * 95 // 100) - 1)] if lat else -1
print(f"ffmpeg decode floor:                 {floor:6.2f} CPU s ({floor_wall:.1f} s wall)")
print(f"ffmpeg decode + scale to 960x540:    {floor_scale:6.2f} CPU s ({floor_scale_wall:.1f} s wall)")
print(f"headless real-time playback:         {cpu:6.2f} CPU s ({wall:.1f} s wall)")
print(f"  against the decode floor:          {cpu / floor:6.3f}  (goal 1.10 before pictures are built)")
print(f"  against decode + scale:            {cpu / floor_scale:6.3f}  (goal 1.15)")
print(f"video frames decoded / presented / dropped: {play['video_frames_decoded']} / "
      f"{play['video_frames_presented']} / {play['video_frames_dropped']}  (goal: 0 dropped)")
print(f"peak RSS:                            {rss / 1024:6.1f} MB (goal: under 60)")
print(f"first picture:                       {play['first_picture_ms']} ms (goal: within 150)")
o = play["av_offset_ms"]
print(f"A/V offset:                          mean {o['mean']} ms, p95 {o['p95']} ms, max {o['max']} ms")
print(f"seek latency over {len(lat)} seeks:      p95 {p95} ms, max {lat[-1] if lat else -1} ms (goal: p95 under 150)")
PY

# The same seeks with nothing but FFmpeg: the decoding a seek cannot avoid.
floor_bin="$(dirname "$bin")/bench/seek_floor_bench"
if [ -x "$floor_bin" ]; then
  targets=$(awk '{ printf "%s ", $3 }' "$work/seeks.txt")
  # shellcheck disable=SC2086
  "$floor_bin" "$clip" $targets | tail -1 | sed 's/^/seek /'
fi

if command -v mpv >/dev/null 2>&1; then
  read -r mpv_cpu mpv_wall mpv_rss < <(measure mpv mpv --no-config --vo=null --ao=null "$clip")
  echo "mpv (null outputs):                  $mpv_cpu CPU s ($mpv_wall s wall), peak RSS $(( mpv_rss / 1024 )) MB"
fi
