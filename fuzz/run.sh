#!/bin/bash
# Builds the fuzz targets with clang (ASan + UBSan + libFuzzer) and runs each for
# SECONDS (default 60): the archive targets seeded with archives packed from
# demo/sample, the settings-file and user.reg readers with real files of their
# kinds. Usage: fuzz/run.sh [SECONDS [TARGET...]] (default: every target).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(block_decoder_fuzz payload_reader_fuzz ini_reader_fuzz user_reg_fuzz)
bash scripts/deps.sh clang libclang-rt-14-dev cmake ninja-build libgtest-dev
# Only the targets and the packer for the seeds: clang cannot build the whole
# tree (it has no -fexec-charset=CP932, which the updater's sources need).
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DWQ2_SANITIZE=ON -DWQ2_BUILD_FUZZ=ON -DWQ2_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target wq2 "${targets[@]}"
mkdir -p build-fuzz/seeds build-fuzz/seeds-ini build-fuzz/seeds-reg
build-fuzz/bin/wq2 pack -l fast -o build-fuzz/seeds/sample.wq2 demo/sample/UPDATE.INI demo/sample/text
build-fuzz/bin/wq2 pack -l fast --plain-directory -o build-fuzz/seeds/plain.wq2 demo/sample/UPDATE.INI
cp demo/sample/UPDATE.INI build-fuzz/seeds-ini/
cat > build-fuzz/seeds-ini/small.ini <<'INI'
k=top
[SETUP]
CompanyName = "Maker"
;CompanyName=hidden
[表]
ゾ='x'
INI
iconv -f UTF-8 -t CP932 -o build-fuzz/seeds-ini/small-cp932.ini build-fuzz/seeds-ini/small.ini
cp tests/fixtures/wine_user.reg build-fuzz/seeds-reg/
cat > build-fuzz/seeds-reg/small.reg <<'REG'
WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Software\\Maker\\Game] 1700000000
#time=1dd893e91137c56
"InstPath"="C:\\Games\\\x8868\x793a"
"InstMode"=dword:00000002
"Exp"=hex(2):25,00,41,00,\
  25,00,00,00
@="default"

[Software\\Maker\\Game\\Sub] 1700000000
"V"=str(7):"a\0b\0"
REG
for t in "${targets[@]}"; do
  case $t in
  ini_reader_fuzz) seeds=(build-fuzz/seeds-ini -dict=fuzz/ini_reader.dict) ;;
  user_reg_fuzz) seeds=(build-fuzz/seeds-reg -dict=fuzz/user_reg.dict) ;;
  *) seeds=(build-fuzz/seeds) ;;
  esac
  mkdir -p "build-fuzz/corpus-$t"
  build-fuzz/bin/$t -max_total_time="$seconds" -max_len=65536 "build-fuzz/corpus-$t" "${seeds[@]}"
done
