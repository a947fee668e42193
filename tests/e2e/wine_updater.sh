#!/bin/bash
# The Windows updater as a user gets it: `wq2 make-updater --target windows`
# puts a payload into the cross-built x86_64 updater, and the result runs under
# Wine on a virtual display. Its settings file lacks a key, so the program must
# find its payload through FindResourceA, read UPDATE.INI from it, show the
# missing-key box "DEDODEDO", and end with exit code 0 once it is answered.
#
# Wine runs in a Japanese locale made here (no change to the system), so the
# ANSI calls use code page 932. The Wine prefix and the locale are kept in
# WINE_DIR, since the first start makes a prefix of about 700 MB in some
# seconds; later runs take about a second.
#
# Usage: wine_updater.sh BIN_DIR STUB_EXE WINE_DIR
#   BIN_DIR   holds wq2
#   STUB_EXE  the x86_64 updater.exe without a payload (empty: nothing to run)
# Exit codes: 0 passed, 1 failed, 77 skipped (no stub configured, or Wine
# cannot be installed).
set -euo pipefail
bin=$(cd "$1" && pwd)
stub=$2
wine_dir=$3
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

if [ -z "$stub" ]; then
  echo "skipped: no x86_64 Windows updater configured (WQ2_WIN64_UPDATER); scripts/test.sh builds one"
  exit 77
fi
[ -f "$stub" ] || { echo "FAIL: $stub does not exist"; exit 1; }

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
if [ ! -x "$wine" ]; then
  if ! bash "$source_dir/scripts/deps.sh" wine64 >&2; then
    echo "skipped: Wine (wine64) cannot be installed here"
    exit 77
  fi
fi
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver

source "$(dirname "$0")/x_display.sh"

now() { date +%s%N; }
# Seconds since START (from `now`), with a tenth.
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", (b - a) / 1e9 }'; }

mkdir -p "$wine_dir/locale"
if [ ! -d "$wine_dir/locale/ja_JP.UTF-8" ]; then
  localedef -i ja_JP -f UTF-8 "$wine_dir/locale/ja_JP.UTF-8" 2>/dev/null || true
  [ -d "$wine_dir/locale/ja_JP.UTF-8" ] || { echo "FAIL: cannot make the ja_JP.UTF-8 locale"; exit 1; }
fi
export LOCPATH=$wine_dir/locale LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEPREFIX=$wine_dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stop_wine() { "$wineserver" -k >/dev/null 2>&1 || true; }
trap 'stop_wine; cleanup_display' EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  started=$(now)
  timeout 180 "$wine" wineboot -i >"$work/wineboot.out" 2>&1 || { echo "FAIL: wineboot: $(cat "$work/wineboot.out")"; exit 1; }
  echo "made the Wine prefix in $(since "$started") s"
fi

# A payload whose UPDATE.INI has no GameClass key.
mkdir -p "$work/in"
printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Demo\r\nGameDir=Demo\r\n' >"$work/in/UPDATE.INI"
printf 'data' >"$work/in/a.dat"
"$bin/wq2" pack -o "$work/payload.wq2" "$work/in" >/dev/null
"$bin/wq2" make-updater --target windows --stub "$stub" --payload "$work/payload.wq2" -o "$work/update.exe"

started=$(now)
"$wine" "$work/update.exe" >"$work/update.out" 2>&1 &
pid=$!
track "$pid"
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^DEDODEDO$' 2>/dev/null | head -n 1) || true
if [ -z "$win" ]; then
  fail "no box titled DEDODEDO appeared ($(cat "$work/update.out"))"
  kill "$pid" 2>/dev/null || true
else
  echo "box after $(since "$started") s"
  sleep 0.3  # its text is drawn just after the window maps
  shot wine_missing_key
  xdotool windowfocus --sync "$win" key Return
fi
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || fail "exit code $status, expected 0 ($(cat "$work/update.out"))"
echo "updater under Wine: exit $status after $(since "$started") s"
finish
