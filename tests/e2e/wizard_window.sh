#!/bin/bash
# The updater for the demo patch as a user runs it, on a virtual X display:
# the start notice, the wizard's start page with the agreement, the
# confirmation page, the update with its copy from the install disc, and the
# completion page; then a second copy, the running-game question and Cancel.
# WQ2_SHOTS=DIR keeps a picture of each page.
# Usage: wizard_window.sh BIN_DIR   (holding wq2, updater and test_window)
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/x_display.sh"
source "$here/../../scripts/demo_install.sh"

caption=$demo_caption
make_demo_install "$work/demo" "$bin/wq2" "$bin/updater"
export WINEPREFIX=$work/demo/prefix XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
game=$work/demo/c/DemoGame

window_shot() {
  if [ -n "${WQ2_SHOTS:-}" ]; then
    mkdir -p "$WQ2_SHOTS"
    import -window "$2" "$WQ2_SHOTS/$1.png"
  fi
}
press() {
  xdotool windowfocus --sync "$1" key "$2"
  sleep 0.3
}
# A file of the game folder as UTF-8 text without its CR LF line ends.
text() { iconv -f CP932 -t UTF-8 "$game/$1" 2>&1 | tr -d '\r'; }
# The info text is not readable from outside; the pages are told apart by the
# state they leave on disk and by the pictures.

# ---- A whole update ---------------------------------------------------------------
demo_listing "$game" >"$work/before.txt"
# Next on the start page is tried before "同意する": had it gone on, the next
# Enter would already have updated when the confirmation page shows.
demo_on_confirm() {
  [ "$(text game.exe)" = "demo game program, version 1.00" ] || fail "updated before the confirmation page's Next"
}
click_through_demo "$work/demo/updater" "${WQ2_SHOTS:-}" >"$work/run.out" 2>&1 || fail "a window of the demo did not come"
[ "${demo_status:-}" = 1 ] || fail "a finished update ended with ${demo_status:-none} ($(cat "$work/run.out"))"
demo_listing "$game" >"$work/after.txt"

expect_file() { [ "$(text "$1")" = "$2" ] || fail "$1: '$(text "$1")', expected '$2'"; }
expect_file game.exe "demo game program, version 1.01"
expect_file cg/title.bmp "title image, version 1.01"
expect_file cg/event.bmp "event image, newer than the patch"
expect_file savedata/config.dat "player settings: volume=7, text speed=fast"
expect_file savedata/bonus.dat "bonus data added by 1.01"
expect_file se/click.wav "click sound, version 1.01"
expect_file bonus/wall1.bmp "wallpaper 1"
expect_file extra.dat "extra data from the disc"
expect_file readme.txt "デモゲーム 説明書 (1.01)"
cmp -s "$game/movie/op.mpg" "$work/demo/disc/movie/op.mpg" || fail "movie/op.mpg not copied"
for absent in manual.txt se/voice.wav full.dat; do
  [ ! -e "$game/$absent" ] || fail "$absent should not have been written"
done
[ -w "$game/movie/op.mpg" ] || fail "the copied file kept the disc's read-only attribute"
[ -z "$(ls -A "$XDG_RUNTIME_DIR")" ] || fail "left in the temporary folder: $(ls -A "$XDG_RUNTIME_DIR")"
echo "== what changed in the game folder"
diff "$work/before.txt" "$work/after.txt" | grep '^[<>]' || true

# ---- A second copy while the first shows its wizard --------------------------------
"$work/demo/updater" >"$work/first.out" 2>&1 &
first=$!
track "$first"
press "$(window_titled UPDATE)" Return
wizard=$(window_titled "$caption" || true)
# The second copy shows its start notice, then finds the first one's wizard.
timeout 20 "$work/demo/updater" >"$work/second.out" 2>&1 &
second=$!
track "$second"
press "$(window_titled UPDATE)" Return
status=0
wait "$second" || status=$?
[ "$status" -eq 0 ] || fail "the second copy ended with $status"
[ "$(xdotool getwindowfocus)" = "$wizard" ] || fail "the first wizard was not brought forward"
press "$wizard" Escape
press "$(window_titled "$caption")" Return   # "アップデートが中断されました"
status=0
wait "$first" || status=$?
[ "$status" -eq 0 ] || fail "a cancelled wizard ended with $status"

# ---- The game is running ----------------------------------------------------------------
"$bin/test_window" --class DemoGameWindow --name demo --title 'デモゲーム' >"$work/game.out" 2>&1 &
gamewin=$!
track "$gamewin"
wait_for "$work/game.out" '^ready' || fail "no game window"
"$work/demo/updater" >"$work/busy.out" 2>&1 &
pid=$!
track "$pid"
press "$(window_titled UPDATE)" Return
question=$(window_titled "$caption" || true)
window_shot game-running "$question"
press "$question" Return          # OK while the game still runs: asked again
sleep 0.5
question=$(window_titled "$caption" || true)
[ -n "$question" ] || fail "the question did not come again"
press "$question" Escape          # Cancel
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || fail "cancelling the question ended with $status"
grep -q '^focus' "$work/game.out" || fail "the game window was not brought forward"
kill "$gamewin"

finish
