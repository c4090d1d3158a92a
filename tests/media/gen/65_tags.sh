# Tagged items for what the desktop shows of the playing one, in a folder of
# their own (no cover.jpg beside them but the one made for that): an MP3 and
# a Matroska film with tags and a cover; an MP3 whose only tags are an old
# ID3v1 block in GBK; a chained Ogg stream; one with a 20 MB cover; one whose cover is no picture,
# with a cover.jpg beside it; an untagged song beside a folder.jpg that is no
# picture.
media tags_cover.jpg -f lavfi -i testsrc2=size=96x96 -frames:v 1
media tags_cover.png -f lavfi -i testsrc2=size=64x64 -frames:v 1
mkdir -p tags/broken tags/untagged
(
cd tags
song() { echo -f lavfi -i "sine=frequency=$1:sample_rate=44100:duration=10"; }
mp3=(-c:a libmp3lame -b:a 64k)
with_cover=(-map 0 -map 1 -c:v copy -disposition:v attached_pic)
media cover.mp3 $(song 440) -i ../tags_cover.jpg "${with_cover[@]}" "${mp3[@]}" -id3v2_version 3 \
  -metadata title="Song Title" -metadata artist="Some Artist" -metadata album="The Album" \
  -metadata album_artist="Album Artist" -metadata track=3/12 -metadata genre=Jazz -metadata date=2019
media film.mkv -f lavfi -i testsrc2=size=160x120:rate=25:duration=10 \
  -f lavfi -i sine=frequency=330:sample_rate=48000:duration=10 -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
  -c:a aac -b:a 48k -metadata title="Film Title" -metadata artist="Film Artist" -metadata album="Film Album" \
  -metadata genre=Drama -metadata date=2021-05-04 -attach ../tags_cover.jpg -metadata:s:t mimetype=image/jpeg \
  -metadata:s:t filename=cover.jpg
# An ID3v1 block is 128 bytes: "TAG", title, artist and album of 30 bytes, year, comment, genre.
if [ ! -s legacy.mp3 ]; then
  ff $(song 550) "${mp3[@]}" -id3v2_version 0 -write_id3v1 0 -map_metadata -1 tmp.legacy.mp3
  python3 -c '
import sys
pad = lambda b, n: b + bytes(n - len(b))
tag = b"TAG" + b"".join(pad(text.encode("gbk"), 30) for text in ("测试歌曲", "老歌手", "旧专辑"))
open(sys.argv[1], "ab").write(tag + b"1999" + bytes(30) + bytes([255]))' tmp.legacy.mp3
  mv tmp.legacy.mp3 legacy.mp3
fi
# A picture followed by 20 MB that any decoder skips.
if [ ! -s big_cover.mp3 ]; then
  cp ../tags_cover.jpg tmp.big.jpg && head -c 20971520 /dev/zero >> tmp.big.jpg
  media big_cover.mp3 $(song 660) -f image2 -i tmp.big.jpg "${with_cover[@]}" "${mp3[@]}" -metadata artist="Big Cover"
  rm -f tmp.big.jpg
fi
if [ ! -s broken/song.mp3 ]; then
  ff $(song 770) -i ../tags_cover.png "${with_cover[@]}" "${mp3[@]}" -metadata artist="Broken Cover" tmp.broken.mp3
  # The PNG's signature spoilt in place: the tag stays whole, its picture is no picture.
  python3 -c '
import sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[1], "wb").write(data.replace(b"\x89PNG\r\n\x1a\n", b"NOPICTUR", 1))' tmp.broken.mp3
  cp ../tags_cover.jpg broken/cover.jpg
  mv tmp.broken.mp3 broken/song.mp3
fi
# Two Ogg streams one after the other, each with tags of its own: the second
# part's come while the item plays.
if [ ! -s chained.ogg ]; then
  ff -f lavfi -i sine=frequency=440:duration=1 -c:a libvorbis -metadata title="Part One" tmp.one.ogg
  ff -f lavfi -i sine=frequency=660:duration=2 -c:a libvorbis -metadata title="Part Two" tmp.two.ogg
  cat tmp.one.ogg tmp.two.ogg > tmp.chained.ogg && rm tmp.one.ogg tmp.two.ogg && mv tmp.chained.ogg chained.ogg
fi
if [ ! -s untagged/song.mp3 ]; then
  head -c 4096 /dev/urandom > untagged/folder.jpg
  ff $(song 880) "${mp3[@]}" tmp.untagged.mp3
  mv tmp.untagged.mp3 untagged/song.mp3
fi
)
