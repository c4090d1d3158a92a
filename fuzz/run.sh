#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed time
# under AddressSanitizer + UndefinedBehaviorSanitizer.
# Usage: fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS]}
seconds=${2:-30}
CC=clang CXX=clang++ cmake -S "$here" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$out"

# Seeds: each text format and encoding the player meets, a few bytes each.
seeds="$out/seeds"
targets="subtitle_file_fuzz style_tags_fuzz window_input_fuzz settings_file_fuzz data_message_fuzz"
for target in $targets; do mkdir -p "$seeds/$target"; done
s=$seeds/subtitle_file_fuzz
printf '1\r\n00:00:01,000 --> 00:00:02,000\r\n{\\pos(1,2)}Hi\r\n' >"$s/srt"
printf '[Script Info]\nScriptType: v4.00+\n[Events]\nFormat: Layer, Start, End, Style, Text\nDialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fnA}x\n' >"$s/ass"
printf '[00:01.00]line\n[00:02.00]next\n' >"$s/lrc"
printf '\xff\xfe[\x00S\x00c\x00r\x00i\x00p\x00t\x00' >"$s/utf16le"
printf '\x00[\x00S\x00c\x00r\x00i\x00p\x00t' >"$s/utf16be"
printf '1\r\n00:00:01,000 --> 00:00:02,000\r\n\xb5\xe7\xd3\xb0\r\n' >"$s/gbk"
printf 'WEBVTT\n\n00:01.000 --> 00:02.000\nx\n' >"$s/vtt"
t=$seeds/style_tags_fuzz
printf '{\\fnArial\\bord3\\i1}Hello' >"$t/a"
printf '{\\pos(1,2)}{\\b1}a\\{b{}' >"$t/b"

# An open video in a 960 x 540 window, then Space, Right and a click on the bar.
w=$seeds/window_input_fuzz
printf '\x0c\x00\x00\x00\xc0\x03\x1c\x02\x38\x04\x80\x07\x38\x04\x19\x00\x01\x00\x60\xea\x00\x00\x10\x27\x00\x00' >"$w/scene"
printf '\x00\x20\x00\x00\x00\x00\x00\x00\x00\x00\x27\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00\xe0\x01\x12\x02\x03\x01\x00\x00\x00\xe0\x01\x12\x02' >>"$w/scene"

# Settings files as the player writes them (UTF-16LE with its mark, CR LF)
# and as a hand edit leaves them (UTF-8): options, the window, a saved list
# with titles, parameters, a gap, a path that is not UTF-8 and a pipe.
f=$seeds/settings_file_fuzz
settings_text='[Moravista]\r\n总在最前=1\r\nleft=100\r\nright=740\r\ntop=80\r\nbottom=440\r\n音量=42\r\n当前播放=1\r\n当前时间=5000\r\n播放中=0\r\n列表数=4\r\n0=/tmp/a.mkv\r\n0_标题=片名\r\n0_参数=probesize=5000000\x01user_agent=x\\ny\r\n2=/tmp/moravista-data-fuzz/film.mkv\r\n3=/tmp/moravista-data-fuzz/pipe.mkv\r\n'
{ printf '\xff\xfe'; printf "$settings_text" | iconv -f UTF-8 -t UTF-16LE; } >"$f/written"
printf "$settings_text" >"$f/edited"
printf '\xff\xfe[\x00M\x00]\x00\r\x00\n\x000\x00=\x00/\x00\xb5\xdc\xe7\xdc\r\x00\n\x00' >"$f/bytes"

# Data messages: appends of a film, a pipe, a device and a location, then a
# title and parameters for entry 0 (kind, index, length, payload).
d=$seeds/data_message_fuzz
printf '\x00\x00\x00\x22\x00/tmp/moravista-data-fuzz/film.mkv\x00' >"$d/film"
printf '\x00\x00\x00\x22\x00/tmp/moravista-data-fuzz/pipe.mkv\x00\x00\x00\x00\x0a\x00/dev/zero\x00' >"$d/pipe"
printf '\x00\x00\x00\x1e\x00https://example.org/live.m3u8\x00' >"$d/location"
printf '\x00\x00\x00\x22\x00/tmp/moravista-data-fuzz/film.mkv\x00\x01\x00\x00\x07\x00\xe7\x89\x87\xe5\x90\x8d\x00\x02\x00\x00\x09\x00a=1\x01b=\\n\x00' >"$d/texts"

# All run side by side, each for the same time.
pids=()
for target in $targets; do
  corpus="$out/corpus/$target"
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$out/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/$target-" "$corpus" "$seeds/$target" >"$out/$target.log" 2>&1 &
  pids+=($!)
done
status=0
i=0
for target in $targets; do
  if ! wait "${pids[$i]}"; then
    status=1
    echo "fuzz: $target FAILED"
    tail -n 60 "$out/$target.log"
  else
    grep -E '^stat::number_of_executed_units|^Done' "$out/$target.log" | sed "s/^/fuzz: $target: /"
  fi
  i=$((i + 1))
done
exit $status
