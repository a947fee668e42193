#!/bin/bash
# FindWindowA on a virtual X display: other programs' windows by class and
# exact title, a Wine program's window by its title alone, another copy's
# dialog or message box by the system's dialog class, with and without a
# window manager's list; then SetForegroundWindow and ShowWindow bringing a
# found window forward.
# Usage: window_search.sh BIN_DIR   (holding window_probe, test_window, dialog_probe)
set -euo pipefail
bin=$(cd "$1" && pwd)
source "$(dirname "$0")/x_display.sh"

# start NAME ARGS...: a test window; its id lands in ${ids[NAME]}.
declare -A ids
start() {
  local name=$1
  shift
  "$bin/test_window" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  track $!
  eval "pid_$name=$!"
  wait_for "$work/$name.out" '^ready ' || { fail "$name: no window"; return; }
  ids[$name]=$(awk '/^ready/ { print $2; exit }' "$work/$name.out")
}

# expect ANSWER CLASS TITLE: what window_probe says for that search.
expect() {
  local answer=$1 got
  shift
  got=$("$bin/window_probe" "$@" 2>>"$work/window_probe.err" | head -n 1) || true
  [ "$got" = "$answer" ] || fail "search '$1' '$2': $got, expected $answer"
}

# The colour of one screen pixel, as rrggbb.
pixel() {
  import -window root -crop "1x1+$1+$2" +repage -depth 8 txt:- | grep -oE '#[0-9A-F]{6}' | head -n 1 | tr -d '#'
}

start game --class GameWindowClass --name game --title 'ゲーム タイトル' --geometry 0,0,300,200 --color FF0000
start wine --class Wine --name GAME.EXE --title 'ワインのゲーム' --geometry 400,0,200,100 --color 00FF00
start oldname --class OldToolkit --name old --title '古い題名' --geometry 700,0,100,100 --wm-name-only
start cover --class Cover --name cover --title 'Cover' --geometry 50,50,300,200 --color 0000FF

# Class (or instance name) and the exact title.
expect found GameWindowClass 'ゲーム タイトル'
expect found game 'ゲーム タイトル'
expect found - 'ゲーム タイトル'
expect found GameWindowClass -
expect none OtherClass 'ゲーム タイトル'
expect none GameWindowClass 'ゲーム'
expect none GameWindowClass 'ゲーム タイトル '
expect none dialog 'ゲーム タイトル'
# A title only in WM_NAME, in whatever encoding Xlib chose for it.
expect found OldToolkit '古い題名'
# Wine names the class after the program's file: the title alone decides.
expect found AnyGameClass 'ワインのゲーム'
expect found dialog 'ワインのゲーム'
expect none AnyGameClass 'ワインの'

# A window that is not viewable is not found.
kill -USR1 "$pid_cover"
wait_for "$work/cover.out" '^unmapped$' || fail "cover did not unmap"
expect none Cover Cover
xdotool windowmap --sync "${ids[cover]}"
expect found Cover Cover

# A window manager's list decides when there is one: only the listed window.
start wm --manage "${ids[wine]}"
expect none GameWindowClass 'ゲーム タイトル'
expect found AnyGameClass 'ワインのゲーム'
kill "$pid_wm"
sleep 0.3
expect found GameWindowClass 'ゲーム タイトル'

# SetForegroundWindow raises the found window above the one covering it and
# gives it the keyboard focus.
[ "$(pixel 100 100)" = 0000FF ] || fail "cover is not on top: $(pixel 100 100)"
"$bin/window_probe" GameWindowClass 'ゲーム タイトル' foreground >"$work/foreground.out" 2>>"$work/window_probe.err"
grep -q '^foreground 1$' "$work/foreground.out" || fail "foreground: $(cat "$work/foreground.out")"
sleep 0.3
[ "$(pixel 100 100)" = FF0000 ] || fail "the game window was not raised: $(pixel 100 100)"
[ "$(xdotool getwindowfocus)" -eq "$((ids[game]))" ] || fail "focus is on $(xdotool getwindowfocus)"
wait_for "$work/game.out" '^focus$' || fail "the game window got no focus event"

# ShowWindow maps again a window found before it went away, and raises it.
mkfifo "$work/go"
"$bin/window_probe" Cover Cover wait show <"$work/go" >"$work/show.out" 2>>"$work/window_probe.err" &
probe=$!
track "$probe"
exec 3>"$work/go"
wait_for "$work/show.out" '^found$' || fail "show: cover not found"
kill -USR1 "$pid_cover"
wait_for "$work/cover.out" '^unmapped$' || fail "cover did not unmap"
echo go >&3
exec 3>&-
wait "$probe" || fail "show: window_probe failed"
grep -q '^show 1$' "$work/show.out" || fail "show: $(cat "$work/show.out")"
xwininfo -id "${ids[cover]}" | grep -q IsViewable || fail "ShowWindow did not map the window"
[ "$(pixel 100 100)" = 0000FF ] || fail "ShowWindow did not raise the window: $(pixel 100 100)"

# Another copy's wizard and its message box, by the system's dialog class.
"$bin/dialog_probe" 100 --box-on-next >"$work/dialog.out" 2>&1 &
track $!
dialog=$(window_titled "Probe 100")
[ -n "$dialog" ] || fail "no dialog"
expect found dialog 'Probe 100'
expect found '#32770' 'Probe 100'
expect found Wq2Updater 'Probe 100'
expect none dialog 'Probe'
expect none GameWindowClass 'Probe 100'
xdotool windowfocus --sync "$dialog" key Return
box=$(window_titled "Probe box")
[ -n "$box" ] || fail "no message box"
expect found dialog 'Probe box'

finish
