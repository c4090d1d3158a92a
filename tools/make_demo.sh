#!/usr/bin/env bash
# Makes the demo item: 20 s of video with sound, chapters and a subtitle track.
set -euo pipefail
out=${1:?usage: make_demo.sh OUTPUT_DIR}
mkdir -p "$out"
cd "$out"
[ -s demo.mkv ] && exit 0
cat > demo.srt <<'SRT'
1
00:00:01,000 --> 00:00:05,000
欢迎使用 Moravista

2
00:00:06,000 --> 00:00:12,000
A small, fast media player

3
00:00:13,000 --> 00:00:19,000
画面与声音同步
SRT
cat > chapters.txt <<'META'
;FFMETADATA1
title=Moravista demo
[CHAPTER]
TIMEBASE=1/1000
START=0
END=10000
title=开始
[CHAPTER]
TIMEBASE=1/1000
START=10000
END=20000
title=Second half
META
ffmpeg -hide_banner -loglevel error -nostdin -y \
  -f lavfi -i testsrc2=size=1280x720:rate=30:duration=20 \
  -f lavfi -i "sine=frequency=440:beep_factor=4:sample_rate=48000:duration=20" \
  -i demo.srt -i chapters.txt \
  -map 0:v -map 1:a -map 2:s -map_metadata 3 -map_chapters 3 \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 128k -c:s ass \
  tmp.demo.mkv
mv tmp.demo.mkv demo.mkv
echo "demo item: $out/demo.mkv"
