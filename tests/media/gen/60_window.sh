# A 16:9 clip at 30 pictures a second, long enough to drag and resize its
# window while it plays.
media wide_30fps.mp4 -f lavfi -i testsrc2=size=640x360:rate=30:duration=20 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 \
  -c:v libx264 -preset veryfast -crf 32 -g 30 -pix_fmt yuv420p -c:a aac -b:a 64k -shortest
# Black but for one white picture and a 40 ms beep at every whole second from
# 1 s: how far apart they reach the screen and the speakers, seen from
# outside. Key frames at x.48 s, so that a seek never lands on a flash.
media flash_beep.mkv -f lavfi \
  -i "color=c=black:s=320x180:r=25:d=8,drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='eq(mod(n\,25)\,0)*gte(n\,25)'" \
  -f lavfi -i "aevalsrc='if(gte(t\,1)*lt(mod(t\,1)\,0.04)\,0.5*sin(2*PI*1000*t)\,0)':s=48000:d=8:c=stereo" \
  -c:v libx264 -preset ultrafast -g 250 -sc_threshold 0 -force_key_frames 'expr:eq(mod(n,25),12)' \
  -pix_fmt yuv420p -c:a pcm_s16le
