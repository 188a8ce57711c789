# Debian packages the build, the tests and the program need; sourced by run.sh and test.sh.

BUILD_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-multimedia-dev libgl-dev
  libmpg123-dev libsoundtouch-dev libmp3lame-dev libbenchmark-dev libudev-dev libtag1-dev
  libsqlite3-dev
  tzdata
  librsvg2-bin # renders the application icon's bitmap sizes for installing
)

# What the program needs to run: Japanese glyphs, and the Japanese locale and the C
# library's message catalogue that put operating-system errors in Japanese; Qt's SVG
# image plugin, which draws the program's icon.
RUN_PACKAGES=(fonts-noto-cjk qt6-translations-l10n locales libc-l10n libqt6svg6)

# What the tests need besides: a sound server with a null sink and its recorder
# (parec), a message bus daemon for the disk-service tests' private bus, mkfs.btrfs
# for a file system nested without a mount (a subvolume) in the removal tests, and the
# Japanese locale for the operating-system error texts; the desktop's trash clients
# (trash-cli, gio) that read back the trash entries, Python's csv module that reads
# back the exported list, ffmpeg (ffprobe) and mpg123, the decoders and chapter
# reader an exported MP3 is checked with; Clang and its runtime libraries (the
# sanitizers' and libFuzzer's, which the compiler package only recommends) for the
# sanitizer build and its fuzzing harnesses; dpkg-shlibdeps (dpkg-dev) and lintian, which
# build and check the Debian package.
TEST_PACKAGES=(pulseaudio pulseaudio-utils dbus-daemon btrfs-progs locales libc-l10n trash-cli libglib2.0-bin python3
  ffmpeg mpg123 clang libclang-rt-dev libqt6svg6 desktop-file-utils appstream man-db groff-base
  dpkg-dev lintian)

# Installs whichever of the given packages are missing: apt-get as root, else through sudo.
ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "These packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
      return 1
    fi
    sudo=(sudo)
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Generates the ja_JP.UTF-8 locale when it is missing (the locales package only
# ships its source): as root, else through sudo; a machine without either goes on
# with operating-system errors in English.
ensure_japanese_locale() {
  if locale -a 2>/dev/null | grep -ix 'ja_JP\.utf-\?8' >/dev/null; then
    return 0
  fi
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "warning: the ja_JP.UTF-8 locale is missing and neither root nor sudo is available" >&2
      return 0
    fi
    sudo=(sudo)
  fi
  echo "Generating the ja_JP.UTF-8 locale"
  if grep -q '^[# ]*ja_JP\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    "${sudo[@]}" sed -i 's/^[# ]*ja_JP\.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  else
    echo 'ja_JP.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo[@]}" locale-gen >/dev/null
}

# Configures and builds into ./build, or into the folder given first with the
# CMake options that follow it.
build_project() {
  local dir="${1:-build}"
  if [ $# -gt 0 ]; then shift; fi
  # A compiler cache, where one is installed, spares a rebuild what an earlier build of the
  # same sources already compiled.
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  # Line tables are enough for readable stacks and cost far less to build than full debug information.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

# Starts a private PulseAudio server whose default sink is a null sink, for the
# audio tests; it is stopped when the calling script exits.
start_test_audio_server() {
  export XDG_RUNTIME_DIR="$PWD/build/audio-runtime"
  mkdir -p "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  pulseaudio --kill >/dev/null 2>&1 || true
  pulseaudio --daemonize=yes -n --exit-idle-time=-1 --disallow-exit --use-pid-file=yes \
    --load="module-null-sink sink_name=talven77_null" --load="module-native-protocol-unix" \
    --log-target=file:"$XDG_RUNTIME_DIR/pulseaudio.log" >/dev/null 2>&1 || true
  trap 'pulseaudio --kill >/dev/null 2>&1 || true' EXIT
  # The server runs its sink thread in real time but answers its clients from its main
  # thread; with every core busy that thread can wait a second or more, and a client with
  # a short buffer (as the program keeps, so that a speed or volume change is heard at
  # once) then runs dry, while paplay's two-second buffer rides it out. Its raised nice
  # value was not enough on a machine with a busy compiler on every core, so here, where
  # this user may, the main thread gets real-time priority too.
  local server_pid
  server_pid="$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null || true)"
  if [ -n "$server_pid" ]; then
    chrt -r -p 5 "$server_pid" >/dev/null 2>&1 || true
  fi
  if pactl info >/dev/null 2>&1; then
    export TALVEN77_REQUIRE_AUDIO=1
  else
    echo "warning: the test sound server did not start; the audio tests will be skipped" >&2
  fi
}
