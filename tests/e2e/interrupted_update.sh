#!/bin/bash
# An update killed (SIGKILL) while it writes a large file: the target keeps its
# old content whole, and the next run finishes the update and leaves no
# temporary file behind.
# Usage: interrupted_update.sh BIN_DIR   (holding wq2 and updater)
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/x_display.sh"

export WINEPREFIX=$work/prefix XDG_RUNTIME_DIR=$work/run
mkdir -p "$WINEPREFIX/dosdevices" "$work/c/Game" "$XDG_RUNTIME_DIR" "$work/patch"
chmod 700 "$XDG_RUNTIME_DIR"
ln -s "$work/c" "$WINEPREFIX/dosdevices/c:"
ln -s / "$WINEPREFIX/dosdevices/z:"
printf '%s\n' 'WINE REGISTRY Version 2' '' '[Software\\Maker\\Demo] 1700000000' \
  '"InstMode"=dword:00000001' '"InstPath"="C:\\Game"' >"$WINEPREFIX/user.reg"
printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Demo\r\nGameDir=Demo\r\nGameExe=g.exe\r\nUninstExe=u.exe\r\nSetupBmp=a.bmp\r\nInstallSelects=0\r\nShortcuts=0\r\n' \
  >"$work/c/Game/SETUP.INI"
printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Demo\r\nGameClass=DemoClass\r\nGameDir=Demo\r\n[UPDATE]\r\nUpdateFile00=big.dat\r\n' \
  >"$work/patch/UPDATE.INI"
printf 'the old content of big.dat\r\n' >"$work/c/Game/big.dat"
cp "$work/c/Game/big.dat" "$work/old.dat"
# 768 MiB, stored: long enough to write that the kill lands in the middle.
head -c $((768 << 20)) /dev/zero | tr '\0' 'N' >"$work/patch/big.dat"
"$bin/wq2" pack --store '*.dat' -o "$work/patch.wq2" "$work/patch" >/dev/null 2>&1
rm "$work/patch/big.dat"
"$bin/wq2" make-updater --stub "$bin/updater" --payload "$work/patch.wq2" -o "$work/updater" >/dev/null
rm "$work/patch.wq2"
caption='Demo アップデータ '

# Starts the updater and presses Next twice; the update then runs.
start_update() {
  "$work/updater" >"$work/$1.out" 2>&1 &
  pid=$!
  track "$pid"
  wizard=$(window_titled "$caption" || true)
  [ -n "$wizard" ] || { fail "$1: no wizard"; finish; }
  xdotool windowfocus --sync "$wizard" key Return
  sleep 0.3
  xdotool windowfocus --sync "$wizard" key Return
}

start_update killed
temp=
for _ in $(seq 3000); do
  temp=$(find "$work/c/Game" -name '*~upd*' -size +1M 2>/dev/null | head -n 1)
  [ -n "$temp" ] && break
  sleep 0.01
done
[ -n "$temp" ] || fail "never saw the update writing"
kill -9 "$pid"
wait "$pid" 2>/dev/null || true
echo "killed while $(basename "$temp") held $(stat -c %s "$temp" 2>/dev/null || echo '?') bytes"
cmp -s "$work/c/Game/big.dat" "$work/old.dat" || fail "big.dat is neither old nor new after the kill ($(stat -c %s "$work/c/Game/big.dat") bytes)"

start_update again
for _ in $(seq 600); do
  [ -f "$work/c/Game/big.dat" ] && [ "$(stat -c %s "$work/c/Game/big.dat")" -eq $((768 << 20)) ] && break
  sleep 0.1
done
sleep 0.5
xdotool windowfocus --sync "$wizard" key Return
status=0
wait "$pid" || status=$?
[ "$status" -eq 1 ] || fail "the second run ended with $status"
[ "$(head -c 4 "$work/c/Game/big.dat")" = NNNN ] || fail "big.dat was not updated"
left=$(find "$work/c" -name '*~upd*')
[ -z "$left" ] || fail "temporary files left: $left"
finish
