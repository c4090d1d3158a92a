# Subtitle files in the formats and text encodings users bring, and a
# Matroska file with a subtitle stream and an attached font.

# sub_text NAME ENCODING: the UTF-8 text on stdin, converted, becomes NAME
sub_text() {
  local name=$1 encoding=$2
  if [ -s "$name" ]; then
    cat >/dev/null
    return 0
  fi
  iconv -f UTF-8 -t "$encoding" >"tmp.$name" && mv "tmp.$name" "$name"
}

sub_ass_text() {
  cat <<'ASS'
[Script Info]
ScriptType: v4.00+
PlayResX: 640
PlayResY: 360
ScaledBorderAndShadow: no

[V4+ Styles]
Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding
Style: Red,DejaVu Sans,40,&H000000FF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,0,0,2,10,10,10,1
Style: Top,DejaVu Sans,40,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,0,0,8,10,10,10,1

[Events]
Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text
Dialogue: 0,0:00:01.00,0:00:03.00,Red,,0,0,0,,{\fnArial\bord3\i1}Hello 世界
Dialogue: 0,0:00:04.00,0:00:06.00,Top,,0,0,0,,{\pos(10,20)}Top line
Dialogue: 0,0:00:07.00,0:00:09.00,Red,,0,0,0,,Plain
ASS
}

sub_ass_text | sub_text sub_utf8.ass UTF-8
{ printf '\xef\xbb\xbf'; sub_ass_text; } | sub_text sub_utf8_bom.ass UTF-8
sub_ass_text | sub_text sub_utf16le_bom.ass UTF-16 # glibc writes FF FE and little-endian
sub_ass_text | sub_text sub_utf16be.ass UTF-16BE   # no mark

cat <<'SSA' | sub_text sub.ssa UTF-8
[Script Info]
ScriptType: v4.00

[V4 Styles]
Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, TertiaryColour, BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, AlphaLevel, Encoding
Style: Default,DejaVu Sans,20,16777215,65535,0,0,0,0,1,1,0,2,10,10,10,0,1

[Events]
Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text
Dialogue: Marked=0,0:00:01.00,0:00:03.00,Default,,0000,0000,0000,,SSA line one
Dialogue: Marked=0,0:00:04.00,0:00:06.00,Default,,0000,0000,0000,,SSA line two
SSA

cat <<'LRC' | sub_text sub.lrc UTF-8
[ti:歌]
[00:01.00]第一句歌词
[00:04.50]Second line
[00:08.00]最后一句
LRC

# sub_srt LINE1 LINE2 LINE3: three numbered events of a common shape
sub_srt() {
  printf '1\r\n00:00:01,000 --> 00:00:03,000\r\n%s\r\n\r\n' "$1"
  printf '2\r\n00:00:04,000 --> 00:00:06,500\r\n%s\r\n\r\n' "$2"
  printf '3\r\n00:00:07,000 --> 00:00:09,000\r\n%s\r\n' "$3"
}
sub_srt 'Hello, world' '你好，世界！' 'Line one\nline two' | sed 's/\\n/\r\n/' | sub_text sub_utf8.srt UTF-8
sub_srt '我们明天去看电影吧。' '你好，世界！这是第二行字幕。' '他说：“走吧”' | sub_text sub_gbk.srt GBK
printf '1\r\n00:00:01,000 --> 00:00:03,000\r\n电影\r\n' | sub_text sub_gbk_one_line.srt GBK
printf '[00:01.00]我们去看电影吧\n' | sub_text sub_gbk_one_line.lrc GBK
sub_srt '我們明天去看電影吧。' '這是一個測試' '謝謝你的幫忙' | sub_text sub_big5.srt BIG5
sub_srt '今日は映画を見に行きます。' 'こんにちは' 'ありがとうございます' | sub_text sub_sjis.srt SHIFT_JIS
sub_srt '안녕하세요' '영화를 보러 갑시다.' '감사합니다' | sub_text sub_euckr.srt EUC-KR
sub_srt 'Ça va très bien, merci.' 'Größe und Übermaß' '“Señor” — naïve façade' | sub_text sub_cp1252.srt WINDOWS-1252
printf '1\r\n00:00:01,000 --> 00:00:03,000\r\nCafé\r\n' | sub_text sub_cp1252_one_line.srt WINDOWS-1252
printf 'This is a plain note, not subtitles.\nIt has two lines of prose.\n' | sub_text sub_unknown.txt UTF-8

# A film with an ASS subtitle stream and a font attached under an upper-case name.
[ -s SUBFONT.TTF ] || cp "$(fc-list -f '%{file}\n' | grep -i '\.ttf$' | sort | head -n 1)" SUBFONT.TTF
media sub_attached_font.mkv -f lavfi -i testsrc2=size=320x240:rate=10:duration=2 -i sub_utf8.ass \
  -map 0:v -map 1:s -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:s ass \
  -attach SUBFONT.TTF -metadata:s:t mimetype=application/x-truetype-font -f matroska
