#!/bin/bash
# The scenario suite: every scenario of tests/scenarios/ is run twice on the
# same Wine prefix, once by the Linux updater (scenario_runner, in-process; the
# display only for scenarios that open other programs' windows) and once by
# the Windows updater under Wine (scenario_harness.exe working its windows),
# from the same starting state. The two transcripts (each
# box and its answer, the wizard's info text before each action, the exit
# code) and the two game folders afterwards (path, size, checksum, last-write
# time to the second, read-only or not) must be identical; a difference is
# printed as a diff. Each scenario's own expectations are checked too.
#
# Usage: scenarios.sh BIN_DIR STUB_EXE WINE_DIR [SCENARIO...]
#   BIN_DIR    the native build's programs: wq2, updater, scenario_runner
#   STUB_EXE   the x86_64 updater.exe without a payload; scenario_harness.exe
#              of the same Windows cross build is beside it
#   WINE_DIR   where the Wine prefix (WINE_DIR/scenarios), made once, and the
#              ja_JP.UTF-8 locale are kept
#   SCENARIO   names of scenarios to run (default: all)
# Skips (exit 77) when wine64 or the Windows programs are missing; installs
# nothing. WQ2_KEEP=DIR keeps the run's files for a look.
#
# A scenario file, one per scenario, is lines of "KEYWORD ARGUMENTS" ("#"
# starts a comment line). Paths use "/" and are relative to the demo patch's
# folder (payload) or the installed game's folder (game); texts are UTF-8 and
# become code page 932 files ending in CR LF.
#   name TEXT                    what the scenario shows
#   ini SECTION KEY=VALUE        sets a key of the patch's UPDATE.INI
#   ini-remove SECTION KEY       removes a key
#   ini-clear SECTION            removes every key of a section
#   ini-append LINE              adds a line as it is at the end
#   payload PATH TEXT            adds or replaces a file of the patch
#   payload-remove PATH          removes a file of the patch
#   payload-size PATH BYTES      a file of the patch of that many bytes
#   game PATH TEXT               a file of the installed game before the run
#   game-time PATH TIME          its last-write time (default 2020-04-01 12:00 UTC)
#   game-readonly PATH           marks it read-only
#   game-remove PATH             removes a file or folder of the installed game
#   game-folder PATH             makes a folder in it
#   install small-drive          the game is installed on drive S:, a file
#                                system of 1 MiB mounted for the scenario
#                                (GameDir DemoGameSmall); skipped where
#                                nothing can be mounted
#   disc absent                  the CD-ROM drive is empty until insert-disc
#   disc no-folder               the drive's folder itself is missing until then
#   disc-remove PATH             a file or folder missing from the disc
#   actions ACTION...            the user's actions, in order (appended):
#                                ok cancel (the next box), next back agree
#                                disagree cancel-wizard escape (the wizard),
#                                insert-disc (the disc goes into the drive),
#                                start-game close-game (the game's window),
#                                start-other-copy (another copy's wizard);
#                                those first in the list come before the start
#   expect exit CODE             the updater's exit code
#   expect box TEXT              a box showed TEXT (as the transcript writes it)
#   expect file PATH TEXT        a game file's content afterwards (CR LF dropped)
#   expect absent PATH           a game file that must not exist afterwards
set -euo pipefail
export LC_ALL=C
[ $# -ge 3 ] || { echo "usage: scenarios.sh BIN_DIR STUB_EXE WINE_DIR [SCENARIO...]" >&2; exit 2; }
bin=$(cd "$1" && pwd)
stub=$2
wine_dir=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

skip() {
  echo "SKIP: $*"
  exit 77
}
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || true)
[ -n "$wine" ] && [ -x "$wine" ] || skip "wine64 is not installed (Debian: wine64)"
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || skip "wineserver is not installed"
[ -n "$stub" ] && [ -f "$stub" ] ||
  skip "no x86_64 Windows updater configured ('$stub'; WQ2_WIN64_UPDATER, built by scripts/test.sh)"
winbin=$(cd "$(dirname "$stub")" && pwd)
stub=$winbin/$(basename "$stub")
[ -f "$winbin/scenario_harness.exe" ] || skip "no scenario_harness.exe beside $stub"
[ -n "$wine_dir" ] || skip "no WINE_DIR given"
for tool in localedef Xvfb iconv md5sum; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

started=$(date +%s.%N)
source "$here/x_display.sh"
mkdir -p "$wine_dir"
cache=$(cd "$wine_dir" && pwd)
# The ANSI calls must use code page 932, as on a Japanese system.
if [ ! -f "$cache/locale/ja_JP.UTF-8/LC_CTYPE" ]; then
  mkdir -p "$cache/locale"
  localedef -i ja_JP -f UTF-8 "$cache/locale/ja_JP.UTF-8" >/dev/null 2>&1 || true
  [ -f "$cache/locale/ja_JP.UTF-8/LC_CTYPE" ] || skip "localedef could not make ja_JP.UTF-8"
fi
export WINEPREFIX=$cache/scenarios WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's programs only: the script's own tools keep the C locale.
wine_do() { LOCPATH=$cache/locale LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$@"; }
cleanup_suite() {
  wine_do "$wineserver" -k 2>/dev/null || true
  unmount_small
  cleanup_display
}
trap cleanup_suite EXIT

game=$WINEPREFIX/drive_c/DemoGame
small=$cache/scenario-drive-s
drive=$cache/scenario-drive-q
staged=$cache/scenario-disc
company='デモ工房'
# The installed game as its installer leaves it: the record in the registry,
# the CD-ROM drive Q: as Wine declares one. Made once; the game folder and the
# disc are put back before every run.
# Every program runs in Wine's own desktop window: without a window manager a
# program would wait about 2 s for each of its windows to be withdrawn.
prefix_version=3
if [ "$(cat "$WINEPREFIX/.wq2-scenarios" 2>/dev/null)" != "$prefix_version" ]; then
  echo "== making the Wine prefix $WINEPREFIX (once)"
  rm -rf "$WINEPREFIX"
  wine_do "$wine" wineboot -i >/dev/null 2>&1
  key="HKCU\\Software\\$company\\DemoGame"
  wine_do "$wine" reg add "$key" /v InstPath /d 'C:\DemoGame' /f >/dev/null 2>&1
  wine_do "$wine" reg add "$key" /v DataPath /d 'C:\DemoGame\savedata' /f >/dev/null 2>&1
  wine_do "$wine" reg add "$key" /v InstMode /t REG_DWORD /d 1 /f >/dev/null 2>&1
  # The same game on a small drive, for the free-space checks.
  key="HKCU\\Software\\$company\\DemoGameSmall"
  wine_do "$wine" reg add "$key" /v InstPath /d 'S:\DemoGame' /f >/dev/null 2>&1
  wine_do "$wine" reg add "$key" /v DataPath /d 'S:\DemoGame\savedata' /f >/dev/null 2>&1
  wine_do "$wine" reg add "$key" /v InstMode /t REG_DWORD /d 1 /f >/dev/null 2>&1
  wine_do "$wine" reg add 'HKLM\Software\Wine\Drives' /v q: /d cdrom /f >/dev/null 2>&1
  wine_do "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d wq2scenarios /f >/dev/null 2>&1
  wine_do "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v wq2scenarios /d 800x600 /f >/dev/null 2>&1
  # The server writes the registry files as it ends; the Linux updater reads them.
  wine_do "$wineserver" -w
  grep -q '^"InstPath"="C:\\\\DemoGame"' "$WINEPREFIX/user.reg" &&
    grep -q '^"q:"="cdrom"' "$WINEPREFIX/system.reg" || { echo "FAIL: the prefix's registry was not written"; exit 1; }
  echo "$prefix_version" >"$WINEPREFIX/.wq2-scenarios"
fi
mkdir -p "$drive" "$staged" "$small"
ln -sfn "$drive" "$WINEPREFIX/dosdevices/q:"
ln -sfn "$small" "$WINEPREFIX/dosdevices/s:"
# One server for the whole suite, so each Windows run starts in a fraction of a second.
wine_do "$wineserver" -p
wine_do "$wine" cmd /c exit >/dev/null 2>&1 || true

# ---- Scenario files ------------------------------------------------------------

# Lines of the current scenario, without comments: keyword and rest.
declare -a lines_key lines_rest
read_scenario() {
  lines_key=() lines_rest=()
  local line
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%$'\r'}
    [[ "$line" =~ ^[[:space:]]*(#|$) ]] && continue
    lines_key+=("${line%% *}")
    if [[ "$line" == *" "* ]]; then lines_rest+=("${line#* }"); else lines_rest+=(""); fi
  done <"$1"
}

# write_text FILE TEXT: TEXT in code page 932 with CR LF.
write_text() {
  mkdir -p "$(dirname "$1")"
  printf '%s\r\n' "$2" | iconv -f UTF-8 -t CP932 >"$1"
}

# ini_edit FILE OP SECTION [KEY [VALUE]] on a UTF-8 copy without CRs: OP set
# (replaces the key, or adds it at the end of its section), remove or clear.
ini_edit() {
  OP=$2 SECTION=$3 KEY=${4:-} VALUE=${5:-} awk '
    BEGIN { op = ENVIRON["OP"]; want = "[" ENVIRON["SECTION"] "]"; key = ENVIRON["KEY"]; line = key "=" ENVIRON["VALUE"] }
    /^\[/ {
      if (inside && op == "set" && !done) { print line; done = 1 }
      inside = ($0 == want); if (inside) seen = 1; print; next
    }
    inside && op == "clear" && index($0, "=") { next }
    inside && index($0, "=") && substr($0, 1, index($0, "=") - 1) == key {
      if (op == "set" && !done) { print line; done = 1 }
      next
    }
    { print }
    END { if (op == "set" && !done) { if (!seen) print want; print line } }' "$1" >"$1.new"
  mv "$1.new" "$1"
}

# build_updaters DIR: the demo patch with the scenario's changes, packed, and
# made into a Linux and a Windows updater.
build_updaters() {
  local dir=$1 i key rest path
  cp -r "$root/demo/patch" "$dir/patch"
  iconv -f CP932 -t UTF-8 "$dir/patch/UPDATE.INI" | tr -d '\r' >"$dir/update.ini"
  for i in "${!lines_key[@]}"; do
    key=${lines_key[$i]} rest=${lines_rest[$i]}
    case $key in
      ini)
        local section=${rest%% *} setting=${rest#* }
        ini_edit "$dir/update.ini" set "$section" "${setting%%=*}" "${setting#*=}" ;;
      ini-remove) ini_edit "$dir/update.ini" remove "${rest%% *}" "${rest#* }" ;;
      ini-clear) ini_edit "$dir/update.ini" clear "$rest" ;;
      ini-append) printf '%s\n' "$rest" >>"$dir/update.ini" ;;
      payload) path=${rest%% *}; write_text "$dir/patch/$path" "${rest#* }" ;;
      payload-remove) rm -rf "${dir:?}/patch/$rest" ;;
      payload-size) path=${rest%% *}; mkdir -p "$(dirname "$dir/patch/$path")"
        head -c "${rest#* }" /dev/zero | tr '\0' 'x' >"$dir/patch/$path" ;;
    esac
  done
  sed 's/$/\r/' "$dir/update.ini" | iconv -f UTF-8 -t CP932 >"$dir/patch/UPDATE.INI"
  find "$dir/patch" -type f -exec touch -d '2024-06-01 12:00:00 UTC' {} +
  "$bin/wq2" pack -l fast -o "$dir/patch.wq2" "$dir/patch" >"$dir/wq2.out" 2>&1 &&
    "$bin/wq2" make-updater --stub "$bin/updater" --payload "$dir/patch.wq2" -o "$dir/updater" >>"$dir/wq2.out" 2>&1 &&
    "$bin/wq2" make-updater --target windows --stub "$stub" --payload "$dir/patch.wq2" \
      -o "$dir/updater.exe" >>"$dir/wq2.out" 2>&1
}

# reset_state: the installed game and the disc as the scenario starts them.
reset_state() {
  local i key rest path absent=
  chmod -R u+w "$game" "$drive" "$staged" 2>/dev/null || true
  rm -rf "$game" "$drive" "$staged"
  cp -r "$root/demo/game" "$game"
  find "$game" -type f -exec touch -d '2020-04-01 12:00:00 UTC' {} +
  # An image the player already has in a newer form than the patch's.
  touch -d '2025-01-01 12:00:00 UTC' "$game/cg/event.bmp"
  cp -r "$root/demo/disc" "$staged"
  find "$staged" -type f -exec touch -d '2020-04-01 12:00:00 UTC' {} +
  for i in "${!lines_key[@]}"; do
    key=${lines_key[$i]} rest=${lines_rest[$i]}
    case $key in
      game)
        path=${rest%% *}
        write_text "$game/$path" "${rest#* }"
        touch -d '2020-04-01 12:00:00 UTC' "$game/$path" ;;
      game-time) path=${rest%% *}; touch -d "${rest#* }" "$game/$path" ;;
      game-readonly) chmod a-w "$game/$rest" ;;
      game-remove) rm -rf "${game:?}/$rest" ;;
      game-folder) mkdir -p "$game/$rest" ;;
      disc) absent=$rest ;;
      disc-remove) rm -rf "${staged:?}/$rest" ;;
    esac
  done
  # Files on a disc are read-only.
  find "$staged" -type f -exec chmod a-w {} +
  if [ "$absent" = absent ]; then
    mkdir "$drive"
  elif [ "$absent" = "no-folder" ]; then
    :
  else
    mv "$staged" "$drive"
    mkdir "$staged"
  fi
}

# snapshot START OUT: every entry of the game folder with its size, checksum,
# last-write time to the second (or "written during the run" from START on)
# and whether it is read-only; then what the run left in TEMP_DIR.
snapshot() {
  local start=$1 out=$2 temp=$3 type path size time mode
  (cd "$game" && find . -mindepth 1 -printf '%y\t%P\t%s\t%T@\t%m\n' | sort) |
    while IFS=$'\t' read -r type path size time mode; do
      if [ "$type" = d ]; then
        printf '%s/\tfolder\n' "$path"
        continue
      fi
      time=${time%.*}
      if [ "$time" -ge "$start" ]; then
        time="written during the run"
      else
        time=$(date -u -d "@$time" '+%Y-%m-%d %H:%M:%S')
      fi
      [ $((8#$mode & 8#200)) -ne 0 ] && mode=rw || mode=ro
      printf '%s\t%s\t%s\t%s\t%s\n' "$path" "$size" "$(md5sum <"$game/$path" | cut -c1-8)" "$time" "$mode"
    done >"$out"
  find "$temp" -name 'UPDATE.INI' -printf 'temporary settings file left behind\n' >>"$out"
}

# check_files NAME: the scenario's expectations on the game folder, one line
# for each that does not hold.
check_files() {
  local i rest what arg path text got
  for i in "${!lines_key[@]}"; do
    [ "${lines_key[$i]}" = expect ] || continue
    rest=${lines_rest[$i]}
    what=${rest%% *} arg=${rest#* }
    case $what in
      file)
        path=${arg%% *} text=${arg#* }
        got=$(iconv -f CP932 -t UTF-8 "$game/$path" 2>&1 | tr -d '\r') || true
        [ "$got" = "$text" ] || echo "FAIL: $1: $path holds '$got', expected '$text'" ;;
      absent)
        [ ! -e "$game/$arg" ] || echo "FAIL: $1: $arg should not exist" ;;
    esac
  done
}

mounted=
# mount_small: a file system of 1 MiB on drive S:; false where none can be mounted.
mount_small() {
  mount -t tmpfs -o size=1m,mode=0755 wq2scenarios "$small" 2>/dev/null || return 1
  mounted=1
}
unmount_small() {
  [ -z "$mounted" ] || umount "$small" 2>/dev/null || true
  mounted=
}

windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

# as_text FILE: a transcript as UTF-8, for reading.
as_text() { iconv -f CP932 -t UTF-8 "$1" 2>/dev/null || cat "$1"; }

# ---- The runs ------------------------------------------------------------------

scenarios=()
if [ $# -gt 0 ]; then
  for name in "$@"; do scenarios+=("$root/tests/scenarios/${name%.scn}.scn"); done
else
  scenarios=("$root"/tests/scenarios/*.scn)
fi
windows_temp=$WINEPREFIX/drive_c/users
summary=()
for file in "${scenarios[@]}"; do
  name=$(basename "$file" .scn)
  dir=$work/$name
  mkdir -p "$dir"
  read_scenario "$file"
  title=$name
  actions=()
  on_small=
  for i in "${!lines_key[@]}"; do
    case ${lines_key[$i]} in
      name) title="$name: ${lines_rest[$i]}" ;;
      actions) read -r -a more <<<"${lines_rest[$i]}"; actions+=("${more[@]}") ;;
      install) [ "${lines_rest[$i]}" = small-drive ] && on_small=1 ;;
    esac
  done
  echo "== $title"
  game=$WINEPREFIX/drive_c/DemoGame
  if [ -n "$on_small" ]; then
    if ! mount_small; then
      echo "   skipped: no small file system can be mounted here (needs root)"
      summary+=("$(printf '%-30s skipped (no mount)' "$name")")
      continue
    fi
    game=$small/DemoGame
  fi
  # The Linux updater looks for other programs' windows on the display only
  # where the scenario opens some.
  runner_env=(-u DISPLAY)
  if printf '%s\n' "${actions[@]}" | grep -qE '^(start-game|start-other-copy)$'; then
    runner_env=(WQ2_TEST_WINDOW="$bin/test_window")
  fi
  t0=$(date +%s.%N)
  printf '%s\n' "${actions[@]}" >"$dir/actions"
  if ! build_updaters "$dir"; then
    fail "$name: the updaters could not be made: $(cat "$dir/wq2.out")"
    continue
  fi

  reset_state
  run=$dir/run
  mkdir -m 700 "$run"
  start=$(date +%s)
  env "${runner_env[@]}" XDG_RUNTIME_DIR="$run" timeout 120 "$bin/scenario_runner" "$dir/updater" "$dir/actions" \
    "$dir/linux.txt" "$staged" "$drive" >"$dir/linux.out" 2>&1 || true
  snapshot "$start" "$dir/linux.files" "$run"
  check_files "$name" >"$dir/expect.out"
  t1=$(date +%s.%N)

  reset_state
  find "$windows_temp" -name UPDATE.INI -delete 2>/dev/null || true
  start=$(date +%s)
  wine_do timeout 120 "$wine" "$(windows_path "$winbin/scenario_harness.exe")" \
    "$(windows_path "$dir/updater.exe")" "$(windows_path "$dir/actions")" "$(windows_path "$dir/windows.txt")" \
    "$(windows_path "$staged")" "$(windows_path "$drive")" >"$dir/windows.out" 2>&1 || true
  snapshot "$start" "$dir/windows.files" "$windows_temp"
  t2=$(date +%s.%N)

  bad=0
  [ -s "$dir/linux.txt" ] || { fail "$name: no transcript from the Linux runner: $(cat "$dir/linux.out")"; bad=1; }
  [ -s "$dir/windows.txt" ] || { fail "$name: no transcript from the Windows harness: $(cat "$dir/windows.out")"; bad=1; }
  if [ "$bad" = 0 ] && ! cmp -s "$dir/linux.txt" "$dir/windows.txt"; then
    fail "$name: the transcripts differ (- Linux, + Windows under Wine)"
    diff -u --label linux --label windows <(as_text "$dir/linux.txt") <(as_text "$dir/windows.txt") | sed 's/^/    /' || true
    bad=1
  fi
  if ! cmp -s "$dir/linux.files" "$dir/windows.files"; then
    fail "$name: the game folders differ afterwards (- Linux, + Windows under Wine)"
    diff -u --label linux --label windows "$dir/linux.files" "$dir/windows.files" | sed 's/^/    /' || true
    bad=1
  fi
  for t in linux windows; do
    if grep -q '^! ' "$dir/$t.txt" 2>/dev/null; then
      fail "$name: the $t run did not go as the scenario says: $(grep '^! ' "$dir/$t.txt" | as_text /dev/stdin)"
      bad=1
    fi
  done

  # The scenario's own expectations, on the Linux run (the Windows run's is
  # the same where nothing was reported above).
  transcript=$(as_text "$dir/linux.txt")
  for i in "${!lines_key[@]}"; do
    [ "${lines_key[$i]}" = expect ] || continue
    rest=${lines_rest[$i]}
    what=${rest%% *} arg=${rest#* }
    case $what in
      exit)
        [ "$(tail -n 1 <<<"$transcript")" = "exit $arg" ] || { fail "$name: expected exit $arg"; bad=1; } ;;
      box)
        grep '^box ' <<<"$transcript" | grep -qF -- "\"$arg\"" || { fail "$name: no box showed \"$arg\""; bad=1; } ;;
      file|absent) ;;
      *) fail "$name: unknown expectation '$what'"; bad=1 ;;
    esac
  done
  [ -z "$(cat "$dir/expect.out")" ] || { cat "$dir/expect.out"; bad=1; failures=$((failures + 1)); }
  summary+=("$(awk -v n="$name" -v r="$([ "$bad" = 0 ] && echo same || echo DIFFERENT)" -v a="$t0" -v b="$t1" -v c="$t2" \
    'BEGIN { printf "%-30s %-9s Linux %.1f s, Windows %.1f s", n, r, b - a, c - b }')")
  [ "$bad" = 0 ] && echo "   same transcript, same game folder"
  if [ -n "$on_small" ]; then
    chmod -R u+w "$game"
    rm -rf "$game"
    unmount_small
  fi
done

echo "== summary"
printf '  %s\n' "${summary[@]}"
awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "  total %.0f s\n", b - a }'
finish
