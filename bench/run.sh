#!/bin/bash
# Builds and runs the codec benchmark, then prints its Markdown summary.
#
# Usage: bench/run.sh [codec_bench options...]
#   e.g. bench/run.sh --benchmark_filter=decode/ --benchmark_repetitions=3
# Environment:
#   WQ2_CORPUS  corpus folder (default /tmp/game-corpus/corpus, built with
#               bench/make_corpus.sh when it is missing)
# Output, besides the console: build-bench/codec_bench.json (every run),
# build-bench/codec_bench.txt (console log), build-bench/codec_bench_summary.md.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build-bench

# --- packages (Debian 12), installed only when missing ------------------------------
need=(cmake g++ make libbenchmark-dev zlib1g-dev libdeflate-dev liblz4-dev util-linux)
if [ -z "${WQ2_CORPUS:-}" ] && [ ! -d /tmp/game-corpus/corpus ]; then
  # what make_corpus.sh runs; it installs these itself too, but without refreshing the
  # package lists first, which a fresh machine needs
  need+=(imagemagick sox espeak-ng binutils python3)
fi
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "run.sh: installing ${missing[*]}" >&2
  SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# --- corpus ---------------------------------------------------------------------------
if [ -n "${WQ2_CORPUS:-}" ]; then
  [ -d "$WQ2_CORPUS" ] || { echo "run.sh: WQ2_CORPUS=$WQ2_CORPUS is not a directory" >&2; exit 1; }
else
  export WQ2_CORPUS=/tmp/game-corpus/corpus
  if [ ! -d "$WQ2_CORPUS" ]; then
    echo "run.sh: building the corpus in /tmp/game-corpus (takes a while)" >&2
    bash bench/make_corpus.sh /tmp/game-corpus
  fi
fi

# --- build (the bench target only: the rest of the tree need not build) ---------------
cmake -S . -B "$BUILD" -DWQ2_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release -DWQ2_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target codec_bench -j2

# --- run, pinned to one core so the speeds do not depend on scheduling ----------------
core=1
[ "$(nproc --all)" -gt 1 ] || core=0
export WQ2_BENCH_SUMMARY="$BUILD/codec_bench_summary.md"
rm -f "$WQ2_BENCH_SUMMARY"
taskset -c "$core" "$BUILD/bin/codec_bench" \
  --benchmark_out="$BUILD/codec_bench.json" --benchmark_out_format=json "$@" 2>&1 | tee "$BUILD/codec_bench.txt"
echo
echo "run.sh: results in $BUILD/codec_bench.json, summary in $WQ2_BENCH_SUMMARY (pinned to CPU $core)"
