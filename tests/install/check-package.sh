#!/bin/sh
# Usage: check-package.sh BUILD_DIR WORK_DIR SANITIZE(ON|OFF)
# Builds the Debian package of BUILD_DIR with CPack into WORK_DIR (emptied first), checks
# that lintian finds no error in it, that its Depends names the libraries the programs link
# and that its files are laid out under /usr. Skipped (77) in a sanitizer build, whose
# programs are not for installing, and where cpack, dpkg-shlibdeps or lintian is missing.
set -u
build=$1
work=$2
sanitize=$3
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
have() { command -v "$1" >/dev/null 2>&1; }

case $sanitize in
  ON|on|1|TRUE|true|YES|yes) echo "SKIP: a sanitizer build is not packaged"; exit 77 ;;
esac
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
  if ! have $tool; then
    echo "SKIP: $tool is not installed (dpkg-dev, lintian)"
    exit 77
  fi
done

rm -rf "$work"
mkdir -p "$work"
if ! cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack -G DEB"
  exit 1
fi
set -- "$work"/talven77-pc-player_*_*.deb
if [ $# -ne 1 ] || [ ! -s "$1" ]; then
  cat "$work/cpack.log"
  echo "FAIL: cpack wrote no talven77-pc-player_<version>_<arch>.deb"
  exit 1
fi
deb=$1
version=$(dpkg-deb --field "$deb" Version)
arch=$(dpkg-deb --field "$deb" Architecture)
[ "$(basename "$deb")" = "talven77-pc-player_${version}_$arch.deb" ] ||
  fail "the package is named $(basename "$deb")"

# lintian: errors fail the test; warnings and notes are shown.
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
grep -v '^running with root privileges' "$work/lintian.log"
grep -q '^E:' "$work/lintian.log" && fail "lintian reports errors"

# dpkg-shlibdeps found every library the programs link.
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for library in libc6 libqt6core6 libqt6widgets6 libqt6multimedia6 libqt6dbus6 libmpg123-0 \
               libmp3lame0 libsoundtouch1 libtag1v5 libsqlite3-0 libudev1 libqt6svg6; do
  echo "$depends" | tr ',' '\n' | grep -q "^ *$library\b" || fail "Depends does not name $library"
done
for field in Maintainer Section Description Recommends; do
  [ -n "$(dpkg-deb --field "$deb" $field)" ] || fail "the package has no $field"
done

# The files, unpacked: the programs stripped under /usr/bin, the rule where udev reads it,
# the manual pages compressed, the copyright and changelog.
root=$work/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
for program in talven77-pc-player talven77-tool; do
  file=$root/usr/bin/$program
  if [ ! -x "$file" ]; then
    fail "usr/bin/$program is missing"
  elif have readelf && readelf -S "$file" | grep -q '\.debug_info\|\.symtab'; then
    fail "usr/bin/$program is not stripped"
  fi
done
for file in usr/lib/udev/rules.d/70-talven77-pedal.rules \
            usr/share/applications/talven77-pc-player.desktop \
            usr/share/icons/hicolor/scalable/apps/talven77-pc-player.svg \
            usr/share/metainfo/jp.corvane.talven77.metainfo.xml \
            usr/share/bash-completion/completions/talven77-tool \
            usr/share/man/man1/talven77-pc-player.1.gz usr/share/man/man1/talven77-tool.1.gz \
            usr/share/doc/talven77-pc-player/copyright usr/share/doc/talven77-pc-player/changelog.gz; do
  [ -s "$root/$file" ] || fail "$file is missing or empty"
done
for page in "$root"/usr/share/man/man1/*.gz; do
  [ -e "$page" ] || continue
  gzip -t "$page" || fail "${page#"$root"/} is not gzip data"
done
zcat "$root/usr/share/doc/talven77-pc-player/changelog.gz" 2>/dev/null | head -1 |
  grep -q "^talven77-pc-player ($version)" || fail "the changelog's first entry is not version $version"
leftover=$(find "$root" -path "$root/usr" -prune -o -mindepth 1 -print)
[ -z "$leftover" ] || fail "files outside /usr: $leftover"

echo "failed: $failures"
[ $failures -eq 0 ]
