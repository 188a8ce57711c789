#!/bin/sh
# Usage: check-install.sh BUILD_DIR PREFIX PNGS(ON|OFF)
# Installs BUILD_DIR into PREFIX (emptied first) and checks every installed file. A check
# whose tool is missing is left out with the reason; when every validator is missing the
# test is reported as skipped (77).
set -u
build=$1
prefix=$2
pngs=$3
failures=0
skipped=0
ran=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; skipped=$((skipped + 1)); }
have() { command -v "$1" >/dev/null 2>&1; }

rm -rf "$prefix"
if ! cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
  cat "$prefix.log"
  echo "FAIL: cmake --install"
  exit 1
fi

app=jp.corvane.talven77
desktop=$prefix/share/applications/talven77-pc-player.desktop
metainfo=$prefix/share/metainfo/$app.metainfo.xml
completion=$prefix/share/bash-completion/completions/talven77-tool
rule=$prefix/lib/udev/rules.d/70-talven77-pedal.rules
for file in bin/talven77-pc-player bin/talven77-tool libexec/talven77-pc-player/talven77-tool-play; do
  [ -x "$prefix/$file" ] || fail "$file is not installed as a program"
done
# The installed tool finds its play program: a missing file is the play program's own error.
out=$("$prefix/bin/talven77-tool" play "$prefix/no-such-recording.mp3" 2>&1)
case $out in
  *"cannot start"*|"") fail "the installed tool does not run its play program: $out" ;;
esac
for file in "$desktop" "$metainfo" "$completion" "$rule" \
            "$prefix/share/icons/hicolor/scalable/apps/talven77-pc-player.svg" \
            "$prefix/share/man/man1/talven77-pc-player.1" "$prefix/share/man/man1/talven77-tool.1"; do
  [ -s "$file" ] || fail "${file#"$prefix"/} is missing or empty"
done
if [ "$pngs" = ON ]; then
  for size in 16 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x$size/apps/talven77-pc-player.png
    if [ ! -s "$png" ]; then
      fail "the ${size}px icon is missing"
    elif have file && ! file "$png" | grep -q "PNG image data, $size x $size"; then
      fail "the ${size}px icon is $(file -b "$png")"
    fi
  done
else
  skip "icon bitmaps: no SVG renderer (rsvg-convert) at build time, only the scalable icon"
fi
# The desktop entry, the icon and the AppStream description name one another.
grep -qx 'Icon=talven77-pc-player' "$desktop" || fail "the desktop entry names another icon"
grep -q '<launchable type="desktop-id">talven77-pc-player.desktop</launchable>' "$metainfo" ||
  fail "the AppStream description launches another desktop entry"
grep -q '@PROJECT_VERSION@' "$metainfo" "$prefix"/share/man/man1/*.1 && fail "a version was left unfilled"

if have desktop-file-validate; then
  ran=$((ran + 1))
  out=$(desktop-file-validate "$desktop" 2>&1)
  { [ $? -eq 0 ] && [ -z "$out" ]; } || fail "desktop-file-validate: $out"
else
  skip "desktop-file-validate (desktop-file-utils) is not installed"
fi

if have appstreamcli; then
  ran=$((ran + 1))
  appstreamcli validate --no-net --pedantic --explain "$metainfo" >"$prefix.appstream" 2>&1 ||
    { cat "$prefix.appstream"; fail "appstreamcli validate"; }
else
  skip "appstreamcli (appstream) is not installed"
fi

for page in talven77-pc-player talven77-tool; do
  file=$prefix/share/man/man1/$page.1
  if have groff; then
    ran=$((ran + 1))
    out=$(groff -man -Tutf8 -ww -z "$file" 2>&1)
    { [ $? -eq 0 ] && [ -z "$out" ]; } || fail "groff on $page.1: $out"
  else
    skip "groff (groff-base) is not installed"
  fi
  if have man; then
    ran=$((ran + 1))
    out=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "man -l on $page.1: $out"
    # Every command of the tool has its entry in its page.
    if [ $page = talven77-tool ]; then
      text=$(MANWIDTH=200 man -l "$file" 2>/dev/null)
      for command in inspect edit scan make-card search drives play silences export; do
        echo "$text" | grep -q "^       $command\b" || fail "talven77-tool.1 has no entry for $command"
      done
    fi
  else
    skip "man (man-db) is not installed"
  fi
done

if have bash; then
  ran=$((ran + 1))
  bash -n "$completion" || fail "bash -n on the completion"
  # shellcheck disable=SC2016
  got=$(bash -c '
    source "$1" || exit 1
    complete -p talven77-tool | grep -q _talven77_tool || exit 1
    COMP_WORDS=(talven77-tool ex); COMP_CWORD=1; _talven77_tool; echo "${COMPREPLY[*]}"
    COMP_WORDS=(talven77-tool play f.mp3 --speed ""); COMP_CWORD=4; _talven77_tool; echo "${COMPREPLY[*]}"
    COMP_WORDS=(talven77-tool make-card c --s); COMP_CWORD=3; _talven77_tool; echo "${COMPREPLY[*]}"
  ' completion "$completion")
  expected=$(printf 'export\nfast normal slow\n--seed --silences')
  [ "$got" = "$expected" ] || fail "completion gave [$got], not [$expected]"
else
  skip "bash is not installed"
fi

if have udevadm && udevadm verify --help >/dev/null 2>&1; then
  ran=$((ran + 1))
  udevadm verify "$rule" || fail "udevadm verify"
else
  skip "udevadm verify (systemd 254 or later) is not available"
fi

echo "checks run: $ran, left out: $skipped, failed: $failures"
[ $failures -eq 0 ] || exit 1
[ $ran -gt 0 ] || exit 77
exit 0
