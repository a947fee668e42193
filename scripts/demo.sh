#!/bin/bash
# The main job: builds everything, installs the demo game in a scratch
# Wine-style prefix (installation record in user.reg, SETUP.INI, game files, a
# data folder, a CD-ROM drive holding the install disc), builds the demo patch
# into an updater with `wq2 make-updater`, and runs it. With a display the
# updater opens there for you to work; without one it runs on a virtual display
# (Xvfb) and is clicked through with xdotool, keeping a picture of each page.
# Prints what changed in the game folder and the updater's exit code.
# Environment: WQ2_DEMO_DIR keeps the scratch installation there (default: a
# temporary folder, removed afterwards); WQ2_DEMO_AUTO=1 clicks through even
# when a display is there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/deps.sh cmake ninja-build g++ pkg-config libgtest-dev libgtk-3-dev libx11-dev \
  xvfb xdotool x11-utils imagemagick fonts-ipafont-gothic
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
source scripts/demo_install.sh

if [ -n "${WQ2_DEMO_DIR:-}" ]; then
  work=$(mkdir -p "$WQ2_DEMO_DIR" && cd "$WQ2_DEMO_DIR" && pwd)
  keep=1
else
  work=$(mktemp -d)
  keep=
fi
cleanup() {
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  [ -n "$keep" ] || rm -rf "$work"
}
trap cleanup EXIT

echo "== the demo patch: $(wc -l <"$root/demo/patch/UPDATE.INI") lines of UPDATE.INI, payload entries:"
make_demo_install "$work" "$root/build/bin/wq2" "$root/build/bin/updater"
"$root/build/bin/wq2" list "$work/patch.wq2"
export WINEPREFIX=$work/prefix
game=$work/c/DemoGame
demo_listing "$game" >"$work/before.txt"

shots=$root/out/demo-shots
if [ -z "${WQ2_DEMO_AUTO:-}" ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "== the updater opens on $DISPLAY: work through it"
  demo_status=0
  "$work/updater" || demo_status=$?
else
  number=$((100 + RANDOM % 400))
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=":$number"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  echo "== no display: the updater runs on the virtual display $DISPLAY and is clicked through"
  rm -rf "$shots"
  click_through_demo "$work/updater" "$shots" || { echo "a window of the updater did not come" >&2; exit 1; }
  echo "pictures of each page: $shots"
fi
demo_listing "$game" >"$work/after.txt"

echo "== what changed in the game folder (file, size, last write, checksum)"
diff "$work/before.txt" "$work/after.txt" | sed -n 's/^< /  before: /p; s/^> /  after:  /p' || true
echo "== the updater's exit code: $demo_status (1: the update was finished)"
[ -n "$keep" ] && echo "the installation stays in $work"
[ "$demo_status" = 1 ]
