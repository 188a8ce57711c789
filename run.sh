#!/usr/bin/env bash
# Builds and starts TALVEN-77-PC Player; installs missing Debian packages first.
#   ./run.sh          with the real drives of this machine
#   ./run.sh --demo   with a simulated recorder and card (made once, then reused)
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
ensure_japanese_locale
build_project

if [ "${1:-}" = "--demo" ]; then
  shift
  demo="${XDG_DATA_HOME:-$HOME/.local/share}/Corvane/TALVEN-77-PC Player/demo"
  # A demo made before its recordings had pauses of their own is made again.
  if [ ! -f "$demo/drives.txt" ] || [ ! -f "$demo/with-silences" ]; then
    rm -rf "$demo"
    build/tools/talven77-tool make-card "$demo/recorder" --number 1 --recordings 24 --seed 11 --silences
    build/tools/talven77-tool make-card "$demo/card" --number 2 --recordings 16 --seed 22 --silences
    printf 'usb %s\ncard %s\n' "$demo/recorder" "$demo/card" > "$demo/drives.txt"
    touch "$demo/with-silences"
  fi
  export TALVEN77_DRIVES="$demo/drives.txt"
fi
exec build/src/app/talven77-pc-player "$@"
