# Media for the frame presentation tests: an anamorphic PAL-sized clip whose
# pixels are not square (display aspect 16:9 from 720x576 with sample aspect
# 64:45), with a white right half so the picture's edges can be found.
media render_anamorphic.mp4 -f lavfi -i "color=c=red:size=720x576:rate=25:duration=1" \
  -vf "drawbox=x=360:y=0:w=360:h=576:color=white:t=fill,setsar=64/45" \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 25
