# Clips for comparing the GL and CPU presentation paths: the moving test
# picture drawn small and enlarged with soft edges, as camera pictures have
# them (the CPU scaler's fast mode works at half colour resolution, which
# only edges sharper than a camera's show), one second; the 8-bit clip has
# a subtitle file beside it, so its text is there from the first frame on.
gl_picture=(-f lavfi -i "testsrc2=size=160x90:rate=25:duration=1,scale=640:360:flags=bicubic,gblur=sigma=3")
cat > gl_420p8.srt <<'SRT'
1
00:00:00,000 --> 00:00:01,000
第一句 GPU subtitle
SRT
media gl_420p8.mkv "${gl_picture[@]}" -c:v libx264 -preset ultrafast -crf 18 -pix_fmt yuv420p
media gl_420p10.mkv "${gl_picture[@]}" -c:v libx265 -preset ultrafast -pix_fmt yuv420p10le \
  -x265-params log-level=none:crf=18
media gl_bgra.mkv -f lavfi -i "testsrc2=size=160x90:rate=25:duration=1,scale=640:360:flags=bicubic,gblur=sigma=3,format=rgba" \
  -c:v png
media gl_anamorphic.mp4 -f lavfi \
  -i "testsrc2=size=180x144:rate=25:duration=1,scale=720:576:flags=bicubic,gblur=sigma=3,setsar=64/45" \
  -c:v libx264 -preset ultrafast -crf 18 -pix_fmt yuv420p
