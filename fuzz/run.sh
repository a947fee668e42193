#!/bin/bash
# Builds the fuzz targets with clang (ASan + UBSan + libFuzzer) and runs each for
# SECONDS (default 60), seeded with archives packed from demo/sample.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/deps.sh clang libclang-rt-14-dev cmake ninja-build libgtest-dev
bash scripts/build.sh build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DWQ2_SANITIZE=ON -DWQ2_BUILD_FUZZ=ON -DWQ2_BUILD_TESTS=OFF
mkdir -p build-fuzz/seeds
build-fuzz/bin/wq2 pack -l fast -o build-fuzz/seeds/sample.wq2 demo/sample/UPDATE.INI demo/sample/text
build-fuzz/bin/wq2 pack -l fast --plain-directory -o build-fuzz/seeds/plain.wq2 demo/sample/UPDATE.INI
for t in block_decoder_fuzz payload_reader_fuzz; do
  mkdir -p "build-fuzz/corpus-$t"
  build-fuzz/bin/$t -max_total_time="$seconds" -max_len=65536 "build-fuzz/corpus-$t" build-fuzz/seeds
done
