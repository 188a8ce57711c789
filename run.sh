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
  if [ ! -d "$demo/save" ]; then
    # A save folder of its own with a few months of recordings, to search through.
    rm -rf "$demo/archive"
    build/tools/talven77-tool make-card "$demo/archive" --number 3 --recordings 150 --seed 33
    mkdir -p "$demo/save.new"
    for day in "$demo"/archive/003_TALVEN-77/*/*/; do
      mv "$day" "$demo/save.new/$(basename "$(dirname "$day")")$(basename "$day")"
    done
    rm -rf "$demo/archive"
    mkdir -p "$demo/config/Corvane"
    printf '[Settings]\nSavePath=%s\n' "$demo/save" > "$demo/config/Corvane/TALVEN-77-PC Player.conf"
    mv "$demo/save.new" "$demo/save"
  fi
  export TALVEN77_DRIVES="$demo/drives.txt"
  # The demo keeps settings of its own, whose save folder is the demo's.
  export XDG_CONFIG_HOME="$demo/config"
fi
exec build/src/app/talven77-pc-player "$@"
