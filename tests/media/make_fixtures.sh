#!/usr/bin/env bash
# Generates the small media the tests play, with the ffmpeg command-line tool.
# Usage: make_fixtures.sh OUTPUT_DIR. Each script in gen/ adds its own media
# with the helpers below; files already made are kept.
set -euo pipefail
out=${1:?usage: make_fixtures.sh OUTPUT_DIR}
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v ffmpeg >/dev/null 2>&1; then
  echo "make_fixtures: the ffmpeg command-line tool is missing (apt-get install ffmpeg)" >&2
  exit 1
fi
mkdir -p "$out"
cd "$out"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
# media NAME ffmpeg-arguments...: makes NAME unless it exists
media() {
  local name=$1; shift
  [ -s "$name" ] && return 0
  ff "$@" "tmp.$name" && mv "tmp.$name" "$name"
}
for script in "$here"/gen/*.sh; do
  # shellcheck source=/dev/null
  . "$script"
done
echo "make_fixtures: media ready in $out"
