#!/bin/bash
# The whole test suite: an optimised build and an AddressSanitizer +
# UndefinedBehaviorSanitizer build, each with every test, and the Windows cross
# build, which must compile. Run from anywhere; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh cmake ninja-build g++ pkg-config libgtest-dev libgtk-3-dev g++-mingw-w64-x86-64 \
  xvfb xdotool x11-utils imagemagick time python3 fonts-ipafont-gothic libx11-dev genisoimage fuseiso

echo "== optimised build and tests"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
(cd build && ctest --output-on-failure -j"$(nproc)")

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DWQ2_SANITIZE=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$(nproc)")

echo "== Windows cross build (mingw-w64, x86_64)"
bash scripts/build.sh build-win -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake"
ls -l build-win/bin/
echo "== all tests passed"
