#!/bin/bash
# The whole test suite: the Windows cross builds (the i686 updater that ships and
# the x86_64 one that runs under Wine), then an optimised build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build, each with every test; the
# tests read the Windows updaters' resources and run one under Wine, and the
# scenario suite runs the Linux updater and the x86_64 Windows updater (under
# Wine) through the same scenarios. Run from anywhere; exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh cmake ninja-build g++ pkg-config libgtest-dev libgtk-3-dev g++-mingw-w64-x86-64 \
  g++-mingw-w64-i686 xvfb xdotool x11-utils imagemagick time python3 fonts-ipafont-gothic libx11-dev \
  genisoimage fuseiso wine64 locales

# First, since the host builds' tests read these executables.
echo "== Windows cross builds (mingw-w64): i686 and x86_64"
bash scripts/build.sh build-win32 -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-i686.cmake"
bash scripts/build.sh build-win -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake"
ls -l build-win32/bin/ build-win/bin/
windows_updaters=(-DWQ2_WIN32_UPDATER="$PWD/build-win32/bin/updater.exe"
                  -DWQ2_WIN64_UPDATER="$PWD/build-win/bin/updater.exe")

echo "== optimised build and tests"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release "${windows_updaters[@]}"
(cd build && ctest --output-on-failure -j"$(nproc)")

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DWQ2_SANITIZE=ON "${windows_updaters[@]}"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$(nproc)")
echo "== all tests passed"
