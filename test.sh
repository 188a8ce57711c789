#!/usr/bin/env bash
# Builds the project and runs every test twice: a normal build with GCC in build/,
# then a build with Clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/, which also replays the fuzzing harnesses' corpora (fuzz/). So both
# compilers of Debian 12 build the project, at the cost of one build each.
# Installs missing Debian packages first; fails when either run fails.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
ensure_japanese_locale
build_project
start_test_audio_server

failed=()
(cd build && ctest --output-on-failure -j"$(nproc)") || failed+=(normal)

# A tree configured earlier with another compiler is configured afresh.
if [ -f build-asan/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++' build-asan/CMakeCache.txt; then
  rm -rf build-asan
fi
build_project build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTALVEN77_SANITIZE=ON -DTALVEN77_FUZZ=ON -DTALVEN77_BUILD_BENCHMARKS=OFF
# Undefined behaviour ends the test that hit it; the report shows its stack.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
(cd build-asan && ctest --output-on-failure -j"$(nproc)") || failed+=(sanitized)

if [ ${#failed[@]} -gt 0 ]; then
  echo "Tests failed in the ${failed[*]} run(s)." >&2
  exit 1
fi
