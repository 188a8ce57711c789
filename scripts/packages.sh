# Debian packages the build, the tests and the program need; sourced by run.sh and test.sh.

BUILD_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-multimedia-dev libgl-dev
  libmpg123-dev libsoundtouch-dev libmp3lame-dev libbenchmark-dev
  tzdata
)

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

# Configures and builds into ./build.
build_project() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)"
}
