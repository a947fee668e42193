#!/bin/bash
# The main job: builds everything, then packs the bundled sample folder into a
# payload with wq2, lists it, verifies it, extracts it again and checks that the
# extracted files equal the originals.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh cmake ninja-build g++ pkg-config libgtest-dev libgtk-3-dev
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release

wq2=build/bin/wq2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== pack demo/sample"
"$wq2" pack -l max -o "$work/sample.wq2" demo/sample
echo "== list"
"$wq2" list "$work/sample.wq2"
echo "== verify"
"$wq2" verify "$work/sample.wq2"
echo "== extract"
"$wq2" extract "$work/sample.wq2" -C "$work/out"
# Entries are named by their file names alone, so compare file by file.
status=0
while IFS= read -r -d '' f; do
  if ! cmp -s "$f" "$work/out/$(basename "$f")"; then
    echo "differs after the round trip: $f" >&2
    status=1
  fi
done < <(find demo/sample -type f -print0)
[ $status -eq 0 ] && echo "every file came back byte for byte"
exit $status
