#!/usr/bin/env bash
# Installs what Moravista needs on Debian 12, builds it, and then either
# plays the demo item (demo), builds the Debian package (package) or runs the
# whole test suite three ways (test): a normal build, AddressSanitizer +
# UndefinedBehaviorSanitizer, ThreadSanitizer, with the package built,
# checked, installed, played and removed after the normal build's tests.
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
  libsdl2-dev libpulse-dev libkeybinder-3.0-dev libxfixes-dev libepoxy-dev libegl-dev libva-dev libegl-mesa0 libgl1-mesa-dri
  fonts-noto-cjk ffmpeg libgtest-dev libgmock-dev xvfb xauth xdotool xclip x11-utils dbus dbus-x11
  openbox pulseaudio pulseaudio-utils trayer
  notification-daemon xfwm4 xfce4-panel xfce4-notifyd metacity dunst weston xwayland
  playerctl libglib2.0-bin libxtst-dev
  clang libclang-rt-14-dev python3
  dpkg-dev lintian appstream librsvg2-bin
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

# Builds moravista_<version>_amd64.deb from the normal build with CPack and
# puts it in the repository root; prints its path.
make_package() {
  say "package: building the Debian package" >&2
  (cd "$root/build" && cpack -G DEB >&2)
  local built
  built=$(ls -t "$root"/build/package/moravista_*_amd64.deb | head -n 1)
  cp "$built" "$root/"
  echo "$root/$(basename "$built")"
}

# The package as a user gets it: checked by lintian and AppStream, installed
# with apt-get, the installed program (called by its full path: one under
# /usr/local would come first) lists its version and plays the demo without a
# window; then the package is removed again, whatever happened.
test_package() {
  local deb demo="$root/build/package-demo" failed=0
  "$root/tools/make_demo.sh" "$demo" >/dev/null 2>&1 &
  local demo_job=$!
  deb=$(make_package) || return 1
  say "package: $(basename "$deb"), $(stat -c %s "$deb") bytes; Depends: $(dpkg-deb -f "$deb" Depends)"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  lintian --fail-on error "$deb" || failed=1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$deb" >/dev/null || failed=1
  appstreamcli validate --no-net /usr/share/metainfo/org.moravista.Moravista.metainfo.xml || failed=1
  local version
  version=$(sed -n 's/^project(moravista VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
  [ "$(/usr/bin/moravista --version)" = "moravista $version" ] || { echo "package: wrong --version" >&2; failed=1; }
  local warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l /usr/share/man/man1/moravista.1.gz 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "package: the manual page has faults: $warnings" >&2; failed=1; }
  wait "$demo_job" || failed=1
  printf '2000 quit\n' > "$demo/quit.txt"
  /usr/bin/moravista --headless --no-settings --input="$demo/quit.txt" --stats="$demo/stats.json" \
    "$demo/demo.mkv" || failed=1
  grep -q '"opened":true' "$demo/stats.json" && ! grep -q '"video_frames_presented":0,' "$demo/stats.json" ||
    { echo "package: the installed program did not play the demo" >&2; failed=1; }
  DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -q moravista >/dev/null || failed=1
  [ ! -e /usr/bin/moravista ] || { echo "package: /usr/bin/moravista is left after the removal" >&2; failed=1; }
  return $failed
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
  package)
    install_packages
    build build
    deb=$(make_package)
    say "package: $deb (install it with: sudo apt install ./$(basename "$deb"))"
    ;;
  test)
    install_packages
    failed=0
    say "layers: the include graph between folders"
    python3 "$root/tools/check_layers.py" "$root" || failed=1
    build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    run_tests build || failed=1
    # Its own step, not a ctest test: it installs into the system as root,
    # which no test run beside it, nor a developer's ctest, should do.
    say "package: build, check, install, play, remove"
    test_package || { say "package: FAILED"; failed=1; }
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DMV_SANITIZE=address -DMV_BUILD_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" UBSAN_OPTIONS=print_stacktrace=1 run_tests build-asan || failed=1
    build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMV_SANITIZE=thread -DMV_BUILD_BENCH=OFF
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" run_tests build-tsan || failed=1
    # Fuzzing: the subtitle file, tag-stripping, window input, settings file and data message targets, 30 s side by side under ASan (clang + libFuzzer).
    say "fuzz: subtitle, window input, settings file and data message targets"
    "$root/fuzz/run.sh" "$root/build-fuzz" 30 || failed=1
    if [ $failed -ne 0 ]; then
      say "tests: FAILED"
      exit 1
    fi
    say "tests: all three builds passed"
    ;;
  *)
    echo "usage: tools/setup.sh demo|package|test" >&2
    exit 2
    ;;
esac
