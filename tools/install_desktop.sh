#!/usr/bin/env bash
# Installs the built program with its desktop entry and icon, so file managers
# offer "Open with Moravista" for the media types it plays.
# Usage: install_desktop.sh [BINARY] [PREFIX]   (defaults: build/moravista, /usr/local)
set -euo pipefail
cd "$(dirname "$0")/.."
binary=${1:-build/moravista}
prefix=${2:-/usr/local}
if [ ! -x "$binary" ]; then
  echo "install_desktop: $binary is not built yet" >&2
  exit 1
fi
install -Dm755 "$binary" "$prefix/bin/moravista"
install -Dm644 data/moravista.desktop "$prefix/share/applications/moravista.desktop"
install -Dm644 data/moravista.svg "$prefix/share/icons/hicolor/scalable/apps/moravista.svg"
# The caches are refreshed where the tools exist; desktops rescan them anyway.
if command -v update-desktop-database >/dev/null 2>&1; then
  update-desktop-database -q "$prefix/share/applications" || true
fi
if command -v gtk-update-icon-cache >/dev/null 2>&1 && [ -f "$prefix/share/icons/hicolor/index.theme" ]; then
  gtk-update-icon-cache -q -t "$prefix/share/icons/hicolor" || true
fi
echo "install_desktop: moravista, its desktop entry and icon are in $prefix"
