#!/usr/bin/env bash
# Installs what Moravista needs on Debian 12, builds it, and then either
# plays the demo item (demo) or runs the whole test suite three ways (test):
# a normal build, AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
mode=${1:-demo}
shift || true

say() { printf '\n== [%ss] %s\n' "$SECONDS" "$*"; }

packages=(
  build-essential cmake ninja-build pkg-config
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libass-dev libuchardet-dev libgtk-3-dev libx11-dev libxext-dev libxss-dev
  libsdl2-dev libpulse-dev libkeybinder-3.0-dev libnotify-dev libepoxy-dev libegl-dev libva-dev libegl-mesa0 libgl1-mesa-dri
  fonts-noto-cjk ffmpeg libgtest-dev libgmock-dev xvfb xauth xdotool xclip x11-utils dbus dbus-x11
  openbox pulseaudio pulseaudio-utils trayer
  playerctl libglib2.0-bin libxtst-dev
  clang libclang-rt-14-dev python3
)

install_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    say "packages: all present"
    return
  fi
  say "packages: installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# build DIR [cmake options...]
build() {
  local dir=$1; shift
  say "build: $dir $*"
  cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$root/$dir"
}

# The program, its desktop entry and icon under /usr/local, so desktops offer
# "Open with Moravista".
install_desktop() {
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  say "desktop: installing moravista, its desktop entry and icon under /usr/local"
  $sudo "$root/tools/install_desktop.sh" "$root/build/moravista" /usr/local || say "desktop: not installed"
}

run_tests() {
  local dir=$1
  say "tests: $dir"
  (cd "$root/$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 600)
}

case "$mode" in
  demo)
    install_packages
    build build
    install_desktop
    say "demo: making the demo item"
    "$root/tools/make_demo.sh" "$root/build/demo"
    if [ -n "${DISPLAY:-}" ]; then
      say "demo: playing in a window (close it or press Ctrl+C to end)"
      exec "$root/build/moravista" "$@" "$root/build/demo/demo.mkv"
    fi
    say "demo: no display, playing headless to the end (sound through SDL when a sound device exists)"
    "$root/build/moravista" --headless --audio=sdl --quit-at-end --no-settings \
      --stats="$root/build/demo/stats.json" --snapshot=3000:"$root/build/demo/picture.png" \
      "$@" "$root/build/demo/demo.mkv"
    say "demo: played; statistics in build/demo/stats.json, a picture in build/demo/picture.png"
    cat "$root/build/demo/stats.json"; echo
    ;;
  test)
    install_packages
    failed=0
    say "layers: the include graph between folders"
    python3 "$root/tools/check_layers.py" "$root" || failed=1
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    run_tests build || failed=1
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DMV_SANITIZE=address -DMV_BUILD_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" UBSAN_OPTIONS=print_stacktrace=1 run_tests build-asan || failed=1
    build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMV_SANITIZE=thread -DMV_BUILD_BENCH=OFF
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" run_tests build-tsan || failed=1
    # Fuzzing: the subtitle file, tag-stripping and window input targets, 30 s side by side under ASan (clang + libFuzzer).
    say "fuzz: subtitle and window input targets"
    "$root/fuzz/run.sh" "$root/build-fuzz" 30 || failed=1
    if [ $failed -ne 0 ]; then
      say "tests: FAILED"
      exit 1
    fi
    say "tests: all three builds passed"
    ;;
  *)
    echo "usage: tools/setup.sh demo|test" >&2
    exit 2
    ;;
esac
