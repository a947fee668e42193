# Source this: make_demo_install DIR WQ2 STUB builds, under DIR, an installed demo
# game in a Wine-style prefix and an updater for the demo patch:
#   DIR/prefix   WINEPREFIX: drive C: is DIR/c, drive Q: (a CD-ROM drive, as the
#                prefix's system.reg records it) holds the install disc DIR/disc,
#                Z: is the root; user.reg holds the installation record
#   DIR/c/DemoGame       the installed game (demo/game), data in savedata/
#   DIR/updater          the updater carrying demo/patch
# File times are fixed so the newer-only entries behave the same on every run.
demo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

make_demo_install() {
  local dir=$1 wq2=$2 stub=$3
  mkdir -p "$dir/prefix/dosdevices" "$dir/c"
  ln -sfn "$dir/c" "$dir/prefix/dosdevices/c:"
  ln -sfn "$dir/disc" "$dir/prefix/dosdevices/q:"
  ln -sfn / "$dir/prefix/dosdevices/z:"
  rm -rf "$dir/c/DemoGame" "$dir/disc" "$dir/patch"
  cp -r "$demo_root/demo/game" "$dir/c/DemoGame"
  cp -r "$demo_root/demo/disc" "$dir/disc"
  cp -r "$demo_root/demo/patch" "$dir/patch"
  find "$dir/c/DemoGame" "$dir/disc" -type f -exec touch -d '2020-04-01 12:00:00 UTC' {} +
  find "$dir/patch" -type f -exec touch -d '2024-06-01 12:00:00 UTC' {} +
  # An image the player already has in a newer form than the patch's.
  touch -d '2025-01-01 12:00:00 UTC' "$dir/c/DemoGame/cg/event.bmp"
  # Files on a disc are read-only.
  find "$dir/disc" -type f -exec chmod a-w {} +

  # The record the game's installer left: HKCU\Software\デモ工房\DemoGame, in
  # Wine's text form (non-ASCII characters as \x escapes of UTF-16 units).
  cat >"$dir/prefix/user.reg" <<'REG'
WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Software\\\x30c7\x30e2\x5de5\x623f\\DemoGame] 1700000000
#time=1d9a1b2c3d4e5f6
"DataPath"="C:\\DemoGame\\savedata"
"InstMode"=dword:00000001
"InstPath"="C:\\DemoGame"
REG
  cat >"$dir/prefix/system.reg" <<'REG'
WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Wine\\Drives] 1700000000
#time=1d9a1b2c3d4e5f6
"q:"="cdrom"
REG

  # The patch, entries named by their file names.
  (cd "$dir/patch" && find . -type f | sort) >"$dir/patch.list"
  "$wq2" pack -l max -o "$dir/patch.wq2" "$dir/patch" >/dev/null
  "$wq2" make-updater --stub "$stub" --payload "$dir/patch.wq2" -o "$dir/updater" >/dev/null
}

# What the update did: each file of the game folder with its size, time and a
# checksum, to compare before and after.
demo_listing() {
  (cd "$1" && find . -type f -printf '%p\t%s\t%TY-%Tm-%Td %TH:%TM\t' -exec sh -c 'md5sum <"$1" | cut -c1-8' _ {} \; | sort)
}

# The title of the demo updater's wizard and boxes.
demo_caption='デモゲーム アップデータ 1.01'

# click_through_demo UPDATER [SHOTS_DIR]: runs UPDATER on the current display and
# works it as a user would with xdotool: the start notice, "同意する", Next on
# the start and confirmation pages, and "完了". Pictures of each page go to
# SHOTS_DIR when given. Sets demo_status to the updater's exit code; returns 1
# when a window it waited for did not come.
click_through_demo() {
  local updater=$1 shots=${2:-} pid notice wizard
  _demo_window() { timeout 15 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
  _demo_shot() { [ -z "$shots" ] || { mkdir -p "$shots" && import -window "$2" "$shots/$1.png"; }; }
  _demo_key() { xdotool windowfocus --sync "$1" key "$2"; sleep 0.4; }
  "$updater" &
  pid=$!
  demo_status=
  notice=$(_demo_window UPDATE || true)
  [ -n "$notice" ] || { kill "$pid" 2>/dev/null; return 1; }
  _demo_shot notice "$notice"
  _demo_key "$notice" Return
  wizard=$(_demo_window "$demo_caption" || true)
  [ -n "$wizard" ] || { kill "$pid" 2>/dev/null; return 1; }
  sleep 0.5
  _demo_shot wizard-start "$wizard"
  # Enter does nothing until "同意する" is chosen; the radio button sits at
  # dialog units (10..235, 177..187) of the 364 x 222 template.
  _demo_key "$wizard" Return
  eval "$(xdotool getwindowgeometry --shell "$wizard")"
  xdotool mousemove "$((X + 20 * WIDTH / 364))" "$((Y + 182 * HEIGHT / 222))" click 1
  sleep 0.4
  _demo_key "$wizard" Return
  _demo_shot wizard-confirm "$wizard"
  # A caller may look at the game folder while the confirmation page shows.
  if declare -F demo_on_confirm >/dev/null; then demo_on_confirm; fi
  _demo_key "$wizard" Return
  sleep 1
  _demo_shot wizard-done "$wizard"
  _demo_key "$wizard" Return
  demo_status=0
  wait "$pid" || demo_status=$?
}
