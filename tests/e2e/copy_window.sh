#!/bin/bash
# The shell's copy and its progress window on a virtual X display, started
# from a wizard dialog as the updater starts it: a 200 MB copy is cancelled
# with the window's own button (a pointer click) and again with Escape, and
# neither leaves a partial file or a temporary; a smaller copy runs to its end.
# Usage: copy_window.sh BIN_DIR   (holding copy_probe)
# WQ2_SHOTS=DIR keeps screenshots there.
set -euo pipefail
bin=$(cd "$1" && pwd)
source "$(dirname "$0")/x_display.sh"

export WINEPREFIX=$work/prefix
mkdir -p "$WINEPREFIX/dosdevices" "$work/c/disc"
ln -s "$work/c" "$WINEPREFIX/dosdevices/c:"
name='表示データ.dat'
# Sparse: quick to make and to read, while every byte of the copy is written.
truncate -s 200M "$work/c/disc/$name"
head -c 20M /dev/urandom >"$work/c/disc/small.dat"
title='コピーしています...'

# Names left in the destination folder: the copy's temporaries end in ".~wq2copy".
leftovers() { ls -A "$work/c/Game/data" 2>/dev/null || true; }

# start_copy CASE FROM TO [ARGS...]: runs the probe, presses Enter on its dialog
# and leaves the dialog's window id in $dialog.
start_copy() {
  local case=$1
  shift
  "$bin/copy_probe" "$@" >"$work/$case.out" 2>"$work/$case.err" &
  probe=$!
  track "$probe"
  dialog=$(window_titled "Copy probe")
  if [ -z "$dialog" ]; then
    fail "$case: no dialog titled Copy probe ($(cat "$work/$case.err"))"
    return 1
  fi
  xdotool windowfocus --sync "$dialog" key Return
}

# end_copy CASE EXPECTED-LINE: the probe's report and its exit.
end_copy() {
  wait_for "$work/$1.out" "^$2\$" || fail "$1: reported '$(cat "$work/$1.out")', expected '$2'"
  local status=0
  wait "$probe" || status=$?
  [ "$status" -eq 0 ] || fail "$1: exit code $status ($(cat "$work/$1.err"))"
}

# ---- Cancelled with a click on キャンセル --------------------------------------
if start_copy click "C:\\disc\\$name" "C:\\Game\\data\\$name" --slow 50; then
  progress=$(window_titled "$title")
  if [ -z "$progress" ]; then
    fail "click: no progress window"
  else
    # One of ours, and owned by the dialog it was started from.
    xprop -id "$progress" WM_CLASS | grep -q '"Wq2Updater"' || fail "class: $(xprop -id "$progress" WM_CLASS)"
    owner=$(xprop -id "$progress" WM_TRANSIENT_FOR | grep -o '0x[0-9a-f]*' || true)
    [ -n "$owner" ] && [ $((owner)) -eq "$dialog" ] || fail "not owned by the dialog: '$owner' vs $dialog"
    # Part of the file is written before the cancel.
    for _ in $(seq 100); do
      [ -n "$(find "$work/c/Game/data" -name '*.~wq2copy' -size +1M 2>/dev/null)" ] && break
      sleep 0.1
    done
    [ -n "$(find "$work/c/Game/data" -name '*.~wq2copy' -size +1M 2>/dev/null)" ] || fail "click: nothing written yet"
    sleep 0.5
    shot copy_progress
    # The button sits in the window's lower right corner, inside a 12 pixel border.
    eval "$(xdotool getwindowgeometry --shell "$progress")"
    xdotool mousemove $((X + WIDTH - 40)) $((Y + HEIGHT - 24)) click 1
  fi
  end_copy click 'copy result=1223 aborted=1'
  [ -z "$(leftovers)" ] || fail "click: left $(leftovers)"
fi

# ---- Cancelled with Escape -------------------------------------------------------
if start_copy escape "C:\\disc\\$name" "C:\\Game\\data\\$name" --slow 50; then
  progress=$(window_titled "$title")
  if [ -z "$progress" ]; then
    fail "escape: no progress window"
  else
    sleep 0.5
    xdotool windowfocus --sync "$progress" key Escape
  fi
  end_copy escape 'copy result=1223 aborted=1'
  [ -z "$(leftovers)" ] || fail "escape: left $(leftovers)"
fi

# ---- Run to its end ---------------------------------------------------------------
if start_copy whole 'C:\disc\small.dat' 'C:\Game\data\small.dat'; then
  end_copy whole 'copy result=0 aborted=0'
  cmp -s "$work/c/disc/small.dat" "$work/c/Game/data/small.dat" || fail "whole: the copy differs"
  [ "$(leftovers)" = small.dat ] || fail "whole: the folder holds $(leftovers)"
  [ -z "$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null || true)" ] ||
    fail "whole: the progress window stayed"
fi

finish
