#!/usr/bin/env bash
# Key to effect under Xvfb, beside mpv with its default key bindings, and
# the held-Right figure. Needs Xvfb, ffmpeg and mpv (apt-get install mpv; a
# benchmark-only tool, never needed by the tests).
# Usage: bench/key_effect_bench.sh BUILD_DIR [PRESSES]
set -euo pipefail
build=${1:?usage: key_effect_bench.sh BUILD_DIR [PRESSES]}
presses=${2:-50}
work=$(mktemp -d /tmp/key-effect-XXXXXX)
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT

# 20 minutes at 30 pictures a second (a held Right crosses many minutes), the
# frame number as 16 bars (bright = 1). Made once and kept in the build folder.
clip=$build/key_effect_frames.mp4
[ -s "$clip" ] || ffmpeg -hide_banner -loglevel error -nostdin -y \
  -f lavfi -i "color=c=gray:size=640x360:rate=30:duration=1200" \
  -f lavfi -i "nullsrc=size=512x60:rate=30:duration=1200,format=gray,geq=lum='if(mod(floor(N/pow(2,floor(X/32))),2),235,16)'" \
  -filter_complex "[0][1]overlay=0:150,format=yuv420p" -c:v libx264 -preset ultrafast -g 30 -an "$clip.tmp.mp4" &&
  mv "$clip.tmp.mp4" "$clip"

# A display of our own: Xvfb picks a free number and tells it.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>"$work/xvfb.log" 3>"$work/display" & xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$work/display")
ours=("$build/moravista" --audio=null --no-settings --stats="$work/stats.json" "$clip")
theirs=(mpv --no-config --vo=x11 --ao=null --hwdec=no --geometry=960x540+160+242 --no-border
  --osd-level=0 --loop-file=inf --really-quiet "$clip")
bench=$build/bench/key_effect_bench
echo "== moravista"
"$bench" press space "$presses" -- "${ours[@]}"
"$bench" press right "$presses" -- "${ours[@]}"
echo "== mpv"
"$bench" press space "$presses" -- "${theirs[@]}"
"$bench" press right "$presses" -- "${theirs[@]}"
echo "== moravista, Right held"
"$bench" hold 10 30 -- "${ours[@]}"
python3 - "$work/stats.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
user = [x for x in s["seeks"] if x["origin"] == "user"]
print(f"seeks carried out {len(user)}, pictures dropped {s['video_frames_dropped']}, "
      f"presented {s['video_frames_presented']}")
PY
