#!/usr/bin/env bash
# Builds the project and runs every test; installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
build_project
start_test_audio_server
cd build
ctest --output-on-failure -j"$(nproc)"
