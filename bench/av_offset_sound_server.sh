#!/usr/bin/env bash
# Picture against sound through a real sound server: a private PulseAudio
# server with a null sink, the player headless with its SDL output, and a
# 30 s clip made here. The player measures, for every picture shown, how
# much later its sound is heard: the picture's time minus the media time of
# the sound heard at that moment (as the sound device says);
# the server's own report of what it holds (buffer and sink latency, sampled
# by pactl while it plays) shows how far that estimate can be from the
# server's view. Usage: bench/av_offset_sound_server.sh [BINARY] [RUNS]
set -euo pipefail
bin=${1:-build/moravista}
runs=${2:-3}
work=$(mktemp -d)
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work PULSE_SERVER=unix:$work/native SDL_AUDIODRIVER=pulseaudio
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
  "--load=module-native-protocol-unix socket=$work/native auth-anonymous=1" \
  "--load=module-null-sink sink_name=bench_null" >/dev/null 2>&1 &
server=$!
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=640x360:rate=25:duration=30 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=30 -c:v libx264 -preset ultrafast \
  -c:a aac -shortest "$work/clip.mp4"
for run in $(seq "$runs"); do
  "$bin" --headless --audio=sdl --quit-at-end --no-settings --stats="$work/stats.json" "$work/clip.mp4" &
  player=$!
  : >"$work/latency.txt"
  while kill -0 $player 2>/dev/null; do
    pactl list sink-inputs 2>/dev/null | awk '/Buffer Latency/ {b=$3} /Sink Latency/ {print b + $3}' >>"$work/latency.txt"
    sleep 0.5
  done
  wait $player || true
  python3 - "$work/stats.json" "$work/latency.txt" "$run" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
lat = sorted(int(x) / 1000 for x in open(sys.argv[2]).read().split())
o = s["av_offset_ms"]
med = lat[len(lat) // 2] if lat else float("nan")
print(f"run {sys.argv[3]}: offset mean {o['mean']:.1f} ms, p95 |offset| {o['p95']} ms, max {o['max']} ms over "
      f"{o['count']} pictures; dropped {s['video_frames_dropped']}; server latency median {med:.1f} ms "
      f"(max {lat[-1] if lat else float('nan'):.0f} ms)")
PY
done
