# A full-HD clip for the memory tests.
media h264_1080p.mp4 -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=3 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 \
  -c:v libx264 -preset ultrafast -g 60 -pix_fmt yuv420p -c:a aac -b:a 64k -shortest
