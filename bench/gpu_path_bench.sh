#!/usr/bin/env bash
# The GPU presentation path against the CPU path: CPU seconds and peak RSS
# of headless real-time playback of the same clip drawn by each (--gpu draws
# off-screen through OpenGL; on a machine without a GPU that is Mesa's
# llvmpipe, which renders on the CPU, so the figure there is informational),
# with hardware decoding on and off, against the FFmpeg decode floor, and
# against mpv (--vo=gpu, --hwdec=auto-copy) when it is installed. Medians of
# RUNS runs each.
# Usage: bench/gpu_path_bench.sh [BINARY] [WORK_DIR] [RUNS]
set -euo pipefail
bin=${1:-build/moravista}
work=${2:-/tmp/moravista-gpu-bench}
runs=${3:-3}
size=${SIZE:-1280x720}
mkdir -p "$work"

clip() { # NAME ARGS...: makes the clip once
  local name=$1; shift
  [ -s "$work/$name" ] && return 0
  ffmpeg -hide_banner -loglevel error -nostdin -y "$@" "$work/tmp.$name" && mv "$work/tmp.$name" "$work/$name"
}
duration=${DURATION:-10}
resolution=${RESOLUTION:-1920x1080}
clip h264.mp4 -f lavfi -i "testsrc2=size=$resolution:rate=30:duration=$duration" -c:v libx264 -preset veryfast \
  -pix_fmt yuv420p -g 60
clip hevc10.mkv -f lavfi -i "testsrc2=size=$resolution:rate=30:duration=$duration" -c:v libx265 -preset ultrafast \
  -pix_fmt yuv420p10le -x265-params log-level=none

# median_of NAME COMMAND...: the median "cpu_s peak_rss_kb" over the runs.
median_of() {
  local name=$1; shift
  for i in $(seq "$runs"); do
    /usr/bin/time -f "%U %S %M" -o "$work/$name.$i.time" "$@" >"$work/$name.$i.out" 2>&1 || true
    awk '{ printf "%.2f %d\n", $1 + $2, $3 }' "$work/$name.$i.time"
  done | sort -n | awk '{ cpu[NR] = $1; rss[NR] = $2 } END { m = int((NR + 1) / 2); printf "%s %s\n", cpu[m], rss[m] }'
}

hw_setting() { # 0 or 1: the settings file the program reads beside itself
  local dir=$work/prog_hw$1
  mkdir -p "$dir"
  cp "$bin" "$dir/moravista"
  printf '\xff\xfe' > "$dir/moravista.ini"
  printf '[Moravista]\r\n硬解=%s\r\n' "$1" | iconv -f UTF-8 -t UTF-16LE >> "$dir/moravista.ini"
  echo "$dir/moravista"
}
prog_sw=$(hw_setting 0)
prog_hw=$(hw_setting 1)

printf '%-34s %10s %12s\n' "run ($size, $runs runs, medians)" "CPU s" "peak RSS MB"
for c in h264.mp4 hevc10.mkv; do
  read -r cpu rss < <(median_of "floor_$c" ffmpeg -hide_banner -nostdin -threads 0 -i "$work/$c" -f null -)
  printf '%-34s %10s %12.1f\n' "$c ffmpeg decode floor" "$cpu" "$(echo "$rss / 1024" | bc -l)"
  for hw in 0 1; do
    prog=$prog_sw
    [ "$hw" = 1 ] && prog=$prog_hw
    for path in cpu gl; do
      args=(--headless --audio=null --quit-at-end --size="$size" --stats="$work/stats.json")
      [ "$path" = gl ] && args+=(--gpu)
      read -r cpu rss < <(median_of "${c}_${path}_hw$hw" "$prog" "${args[@]}" "$work/$c")
      what=$(python3 -c "import json;i=json.load(open('$work/stats.json'))['items'][0];print(i['decoder']+'/'+i['presenter'])" \
             2>/dev/null || echo "?")
      printf '%-34s %10s %12.1f\n' "$c hwdec=$hw $path ($what)" "$cpu" "$(echo "$rss / 1024" | bc -l)"
    done
  done
  if command -v mpv >/dev/null 2>&1 && [ -n "${DISPLAY:-}" ]; then
    for hwdec in no auto-copy; do
      read -r cpu rss < <(median_of "mpv_${c}_$hwdec" mpv --no-config --really-quiet --vo=gpu --gpu-context=x11egl \
        --hwdec=$hwdec --ao=null --geometry="$size" "$work/$c")
      printf '%-34s %10s %12.1f\n' "$c mpv --vo=gpu --hwdec=$hwdec" "$cpu" "$(echo "$rss / 1024" | bc -l)"
    done
  fi
done
