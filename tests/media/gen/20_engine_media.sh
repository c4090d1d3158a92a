# Clips for the playback engine tests: one per kind of item the player meets.
# Small and short, so the suite stays quick under the sanitizers.
v320=(-f lavfi -i testsrc2=size=320x240:rate=25:duration=3)
tone=(-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3)

media vp9_opus.webm "${v320[@]}" "${tone[@]}" -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 200k \
  -c:a libopus -b:a 48k -shortest
# A transport stream whose timestamps start at 10 s.
media mpeg2_offset.ts "${v320[@]}" -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 \
  -c:v mpeg2video -g 12 -c:a mp2 -output_ts_offset 10 -shortest
media hevc10.mkv -f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -c:v libx265 -preset ultrafast \
  -pix_fmt yuv420p10le -x265-params log-level=none
# Two sound tracks of different pitch, chapters, an ASS track and a font.
cat > engine_subs.srt <<'SRT'
1
00:00:00,500 --> 00:00:01,500
第一句字幕

2
00:00:01,800 --> 00:00:02,800
Second line
SRT
cat > engine_chapters.txt <<'META'
;FFMETADATA1
title=Engine chapters
[CHAPTER]
TIMEBASE=1/1000
START=0
END=1500
title=开始
[CHAPTER]
TIMEBASE=1/1000
START=1500
END=3000
title=Second
META
font=$(fc-match -f '%{file}' 'DejaVu Sans' 2>/dev/null || true)
attach=()
[ -n "$font" ] && [ -f "$font" ] && attach=(-attach "$font" -metadata:s:t mimetype=font/ttf)
media tracks.mkv "${v320[@]}" "${tone[@]}" -f lavfi -i sine=frequency=880:sample_rate=44100:duration=3 \
  -i engine_subs.srt -i engine_chapters.txt \
  -map 0:v -map 1:a -map 2:a -map 3:s -map_metadata 4 -map_chapters 4 "${attach[@]}" \
  -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 64k -c:s ass -shortest
# Sound with a cover picture.
media cover.png -f lavfi -i color=c=blue:s=64x64 -frames:v 1
media cover.mp3 "${tone[@]}" -i cover.png -map 0:a -map 1:v -c:a libmp3lame -b:a 64k -c:v png \
  -disposition:v attached_pic -id3v2_version 3
# Stills and an animated picture.
media alpha.png -f lavfi -i "color=c=red@0.5:s=64x48,format=rgba" -frames:v 1
media still.jpg -f lavfi -i testsrc2=size=160x120 -frames:v 1
media anim.gif -f lavfi -i testsrc2=size=64x48:rate=10:duration=1
# Many channels.
media surround51.mka -f lavfi -i "sine=frequency=300:sample_rate=48000:duration=2" \
  -af "pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0" -c:a aac -b:a 128k
media surround71.mka -f lavfi -i "sine=frequency=300:sample_rate=48000:duration=2" \
  -af "pan=7.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0|SL=c0|SR=c0" -c:a aac -b:a 128k
# A raw stream: no container, no duration.
media raw.h264 -f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -c:v libx264 -preset ultrafast -f h264
# A long group of pictures: key frames at 0 s and 4 s only.
media long_gop.mp4 -f lavfi -i testsrc2=size=320x240:rate=25:duration=6 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=6 \
  -c:v libx264 -preset ultrafast -g 100 -keyint_min 100 -sc_threshold 0 -pix_fmt yuv420p -c:a aac -shortest
# The same with B pictures, some of which no other picture refers to.
media long_gop_b.mp4 -f lavfi -i testsrc2=size=320x240:rate=25:duration=6 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=6 \
  -c:v libx264 -preset veryfast -bf 3 -b-pyramid normal -g 100 -keyint_min 100 -sc_threshold 0 \
  -pix_fmt yuv420p -c:a aac -shortest
# Ten seconds for the picture and sound timing.
media av_sync.mp4 -f lavfi -i testsrc2=size=320x240:rate=30:duration=10 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 \
  -c:v libx264 -preset ultrafast -g 30 -pix_fmt yuv420p -c:a aac -b:a 64k -shortest
# Broken inputs.
[ -e empty.mp4 ] || : > empty.mp4
[ -s text.mkv ] || printf 'this is not a media file\n' > text.mkv
[ -s random.avi ] || head -c 65536 /dev/urandom > random.avi
media whole.mkv "${v320[@]}" "${tone[@]}" -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -shortest
[ -s truncated.mkv ] || head -c "$(( $(stat -c %s whole.mkv) / 2 ))" whole.mkv > truncated.mkv
