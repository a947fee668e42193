#!/bin/bash
# Runs made updaters as processes on a virtual X display and answers their boxes
# with the keyboard, as a user would: a program without a payload, a damaged
# payload, a payload without its settings file, settings missing a key, an
# installer's file missing a key (no box at all), and a 1 GiB payload that must
# start at once without being read whole.
# Usage: startup_exits.sh BIN_DIR   (holding wq2 and updater)
set -euo pipefail
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
cleanup() {
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# A Wine-style prefix whose Z: drive is the root, and a private temporary folder.
export WINEPREFIX=$work/prefix XDG_RUNTIME_DIR=$work/run
mkdir -p "$WINEPREFIX/dosdevices" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
ln -s / "$WINEPREFIX/dosdevices/z:"
# An installed game: its record in user.reg and its folder on drive C:.
mkdir -p "$work/c/Game"
ln -s "$work/c" "$WINEPREFIX/dosdevices/c:"
printf '%s\n' 'WINE REGISTRY Version 2' '' '[Software\\Maker\\Demo] 1700000000' \
  '"InstMode"=dword:00000001' '"InstPath"="C:\\Game"' >"$WINEPREFIX/user.reg"
printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Demo\r\nGameDir=Demo\r\nUninstExe=u.exe\r\n' \
  >"$work/c/Game/SETUP.INI"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs an updater; when TITLE is given, waits for a box of that title, saves a
# screenshot, presses Enter on it, and expects the program to end with CODE.
# Without a TITLE no box may appear: a program still running after 20 s has one.
run_case() {
  local name=$1 program=$2 title=$3 code=$4
  if [ -n "$title" ]; then
    "$program" >"$work/$name.out" 2>&1 &
  else
    timeout 20 "$program" >"$work/$name.out" 2>&1 &
  fi
  local pid=$!
  if [ -n "$title" ]; then
    local win
    win=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | head -n 1) || true
    if [ -z "$win" ]; then
      fail "$name: no box titled $title"
      kill "$pid" 2>/dev/null || true
    else
      # Screenshots are kept where WQ2_SHOTS points, to look at what a user sees.
      [ -n "${WQ2_SHOTS:-}" ] && mkdir -p "$WQ2_SHOTS" && import -window root "$WQ2_SHOTS/$name.png"
      xdotool windowfocus --sync "$win" key Return
    fi
  fi
  local status=0
  wait "$pid" || status=$?
  [ "$status" -eq "$code" ] || fail "$name: exit code $status, expected $code ($(cat "$work/$name.out"))"
  if [ -n "$(ls -A "$XDG_RUNTIME_DIR")" ]; then
    fail "$name: left files in the temporary folder: $(ls -A "$XDG_RUNTIME_DIR")"
    rm -rf "${XDG_RUNTIME_DIR:?}"/*
  fi
  echo "$name: exit $status"
}

# make_case NAME UPDATE.INI-TEXT: an updater whose payload holds that settings file
# (none when the text is empty) and a data file.
make_case() {
  mkdir -p "$work/in/$1"
  [ -n "$2" ] && printf "$2" >"$work/in/$1/UPDATE.INI"
  printf 'data' >"$work/in/$1/a.dat"
  "$bin/wq2" pack -o "$work/$1.wq2" "$work/in/$1" >/dev/null
  "$bin/wq2" make-updater --stub "$bin/updater" --payload "$work/$1.wq2" -o "$work/$1" >/dev/null
}
make_case full '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Demo\r\nGameClass=DemoClass\r\nGameDir=Demo\r\n'
make_case noclass '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Demo\r\nGameDir=Demo\r\n'
make_case noini ''
cp "$work/full" "$work/damaged"
# Point the damaged copy's directory past the end of its payload.
python3 - "$work/damaged" "$(stat -c %s "$bin/updater")" <<'PY'
import struct, sys
path, start = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, 'rb').read())
at = data.find(b'WQ2\0', start)
assert at >= 0, 'payload not found'
struct.pack_into('<I', data, at + 8, 0xFFFFFFF0)
open(path, 'wb').write(data)
PY

run_case no_payload "$bin/updater" "" 0
run_case damaged "$work/damaged" UPDATE 0
run_case no_settings "$work/noini" UPDATE 0
run_case no_game_class "$work/noclass" DEDODEDO 0
run_case no_game_exe "$work/full" "" 0

# 1 GiB stored entry: the payload is mapped, not read, so start-up stays quick and
# the resident memory far below the payload's size.
mkdir -p "$work/in/big"
cp "$work/in/full/UPDATE.INI" "$work/in/big/"
truncate -s 1G "$work/in/big/huge.bin"
"$bin/wq2" pack --store '*.bin' -o "$work/big.wq2" "$work/in/big" >/dev/null
"$bin/wq2" make-updater --stub "$bin/updater" --payload "$work/big.wq2" -o "$work/big" >/dev/null
rm -f "$work/big.wq2" "$work/in/big/huge.bin"
sync
# Without a display its one box goes to standard error, so nothing waits for a user.
/usr/bin/time -f '%e %M' -o "$work/big.time" env -u DISPLAY "$work/big" >/dev/null 2>&1 || fail "big: non-zero exit"
read -r seconds rss_kb <"$work/big.time"
echo "1 GiB payload: ${seconds}s, max resident ${rss_kb} KiB"
awk -v s="$seconds" 'BEGIN { exit !(s < 1.0) }' || fail "big: start-up took ${seconds}s"
[ "$rss_kb" -lt 200000 ] || fail "big: resident memory ${rss_kb} KiB"

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "all start-up exits behaved"
