# A 16:9 clip at 30 pictures a second, long enough to drag and resize its
# window while it plays.
media wide_30fps.mp4 -f lavfi -i testsrc2=size=640x360:rate=30:duration=20 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 \
  -c:v libx264 -preset veryfast -crf 32 -g 30 -pix_fmt yuv420p -c:a aac -b:a 64k -shortest
