# A clip for the window's input: ten seconds with two subtitles shown
# together from start to end, so a copy of the subtitle text at any moment
# takes both.
cat > input_subs.srt <<'SRT'
1
00:00:00,000 --> 00:00:10,000
第一行字幕

2
00:00:00,000 --> 00:00:10,000
Second line
SRT
media input_subtitles.mkv -f lavfi -i testsrc2=size=320x240:rate=25:duration=10 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 -i input_subs.srt \
  -map 0:v -map 1:a -map 2:s -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 64k \
  -c:s ass -t 10
