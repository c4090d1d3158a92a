# Clips for the engine tests.
media h264_aac.mp4 -f lavfi -i testsrc2=size=320x240:rate=25:duration=3 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 \
  -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 64k -shortest
