# A minute of small video for the media-player interface (positions past 30 s)
# and half a minute of sound alone.
media services_minute.mp4 -f lavfi -i testsrc2=size=160x120:rate=25:duration=60 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60 \
  -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 48k -shortest
media services_tone.mka -f lavfi -i sine=frequency=330:sample_rate=48000:duration=30 -c:a aac -b:a 48k
