#!/bin/bash
# The dialogs as real windows on a virtual X display, worked with the pointer
# and the keyboard through xdotool: dialog_probe opens a template with a
# procedure that reports what reaches it.
# Usage: dialog_window.sh BIN_DIR   (holding dialog_probe and test_window)
set -euo pipefail
bin=$(cd "$1" && pwd)
source "$(dirname "$0")/x_display.sh"

# The dialog's place on the screen, and control centres from dialog units.
geometry() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  DLG_CX=$2 DLG_CY=$3
}
at() { echo "$((X + ($1 + $3 / 2) * WIDTH / DLG_CX)) $((Y + ($2 + $4 / 2) * HEIGHT / DLG_CY))"; }
# A pointer resting on a control, reached by a stream of movements as a hand
# gives: GTK may hold the last movement of a stream back until the next event.
point_at() {
  local x y
  read -r x y <<<"$(at "$@")"
  xdotool mousemove "$x" "$y"
  sleep 0.1
  xdotool mousemove "$((x + 1))" "$y"
}
click_at() {
  xdotool mousemove $(at "$@") click 1
  sleep 0.3
}
# crop NAME DU_X DU_Y DU_W DU_H: that part of the screen, to compare states.
crop() {
  local x0 y0 w h
  x0=$((X + $2 * WIDTH / DLG_CX)) y0=$((Y + $3 * HEIGHT / DLG_CY))
  w=$(($4 * WIDTH / DLG_CX)) h=$(($5 * HEIGHT / DLG_CY))
  import -window root -crop "${w}x${h}+${x0}+${y0}" +repage "$work/$1.png"
}
commands() { grep -c '^command' "$1" || true; }

# ---- The agreement template: clicks, typing, keys, a box over the dialog -------
out=$work/agreement.out
"$bin/dialog_probe" 101 --box-on-next --end-on-cancel >"$out" 2>"$work/agreement.err" &
probe=$!
track "$probe"
dialog=$(window_titled "Probe 101")
[ -n "$dialog" ] || { fail "no dialog titled Probe 101"; cat "$work/agreement.err"; finish; }
wait_for "$out" '^init 42$' || fail "WM_INITDIALOG did not carry the parameter"
geometry "$dialog" 364 222
shot agreement

# Centred on the screen.
[ $((X * 2 + WIDTH - 1024)) -ge -2 ] && [ $((X * 2 + WIDTH - 1024)) -le 2 ] || fail "not centred across: x $X width $WIDTH"
[ $((Y * 2 + HEIGHT - 768)) -ge -2 ] && [ $((Y * 2 + HEIGHT - 768)) -le 2 ] || fail "not centred down: y $Y height $HEIGHT"

# Every window of ours carries the one class.
xprop -id "$dialog" WM_CLASS | grep -q '"Wq2Updater"' || fail "dialog class: $(xprop -id "$dialog" WM_CLASS)"

# The pointer over the text, then over the dialog's background.
point_at 16 9 331 65
wait_for "$out" '^setcursor 1001$' || fail "no WM_SETCURSOR over the text"
point_at 300 177 10 10
wait_for "$out" '^setcursor -1$' || fail "no WM_SETCURSOR over the dialog"

# The disabled Back button sends nothing; a plain radio button reports the
# click and keeps its mark where the program has it.
crop radios_before 10 177 12 22
click_at 214 202 44 14
click_at 10 177 225 10
wait_for "$out" '^command 1002 agree=0 disagree=1' || fail "radio click: $(tail -n 1 "$out")"
grep -q '^command 4' "$out" && fail "the disabled Back button sent a command"
point_at 300 177 10 10
sleep 0.5
crop radios_after 10 177 12 22
[ "$(compare -metric AE "$work/radios_before.png" "$work/radios_after.png" null: 2>&1)" = 0 ] ||
  fail "a click moved the radio mark"

# Typing into the agreement box reaches the program's text.
click_at 6 81 351 92
xdotool windowfocus --sync "$dialog" key ctrl+End type --delay 50 'xyz'
sleep 0.3
# Enter in the edit box is the default button's: Next, which opens a box
# owned by the dialog.
xdotool key Return
wait_for "$out" '^command 1 .*agreement=.*xyz' || fail "Enter or typing: $(tail -n 1 "$out")"
box=$(window_titled "Probe box")
if [ -z "$box" ]; then
  fail "no box opened from the command"
else
  shot agreement_box
  transient=$(xprop -id "$box" WM_TRANSIENT_FOR | grep -o '0x[0-9a-f]*' || true)
  [ "$((transient))" -eq "$dialog" ] || fail "box is transient for '$transient', not the dialog $dialog"
  xprop -id "$box" WM_CLASS | grep -q '"Wq2Updater"' || fail "box class: $(xprop -id "$box" WM_CLASS)"
  # The dialog takes no clicks while its box is up.
  before=$(commands "$out")
  click_at 311 202 44 14
  [ "$(commands "$out")" -eq "$before" ] || fail "the dialog took a click under its box"
  xdotool windowfocus --sync "$box" key Return
  wait_for "$out" '^box answered 1$' || fail "box answer: $(tail -n 1 "$out")"
fi

# Escape gives Cancel's command; the procedure ends the dialog with 7.
xdotool windowfocus --sync "$dialog" key Escape
status=0
timeout 10 tail --pid="$probe" -f /dev/null || true
wait "$probe" || status=$?
[ "$status" -eq 7 ] || fail "Escape: exit $status, expected 7 ($(tail -n 2 "$out"))"
grep -q '^command 2' "$out" || fail "Escape sent no Cancel command"

# ---- The plain template: the close box, and Enter on a focused button ---------
out=$work/plain.out
"$bin/dialog_probe" 100 --end-on-cancel >"$out" 2>"$work/plain.err" &
probe=$!
track "$probe"
dialog=$(window_titled "Probe 100")
[ -n "$dialog" ] || { fail "no dialog titled Probe 100"; finish; }
geometry "$dialog" 247 93
shot plain
xdotool windowfocus --sync "$dialog" key Return
wait_for "$out" '^command 1$' || fail "Enter without focus: $(tail -n 1 "$out")"
"$bin/test_window" --close "$dialog"
status=0
timeout 10 tail --pid="$probe" -f /dev/null || true
wait "$probe" || status=$?
[ "$status" -eq 7 ] || fail "close box: exit $status, expected 7 ($(tail -n 2 "$out"))"

finish
