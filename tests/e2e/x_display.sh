# Shared by the tests on a virtual X display; source it. Starts Xvfb on a free
# display (DISPLAY is exported), makes $work, and cleans both up on exit,
# together with every process registered with `track PID`. WQ2_KEEP=DIR keeps
# a copy of $work (the programs' output) for a look after a failure.
work=$(mktemp -d)
tracked=()
track() { tracked+=("$1"); }
cleanup_display() {
  local pid
  for pid in "${tracked[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  [ -n "${WQ2_KEEP:-}" ] && cp -r "$work" "$WQ2_KEEP"; rm -rf "$work"
}
trap cleanup_display EXIT

for _ in $(seq 20); do
  number=$((100 + RANDOM % 400))
  [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] || break
done
Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$number"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "no virtual display"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# wait_for FILE PATTERN: true once a line of FILE matches PATTERN (10 s at most).
wait_for() {
  local _i
  for _i in $(seq 100); do
    grep -qE -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# The id of the visible window titled exactly TITLE, waiting up to 10 s.
window_titled() {
  timeout 10 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}

# shot NAME: a screenshot in $WQ2_SHOTS, when set, to look at what a user sees.
shot() {
  if [ -n "${WQ2_SHOTS:-}" ]; then
    mkdir -p "$WQ2_SHOTS"
    import -window root "$WQ2_SHOTS/$1.png"
  fi
}

finish() {
  # Programs built with the sanitizers report there; their output is kept in $work.
  local reports
  reports=$(find "$work" -type f -exec grep -lE 'Sanitizer|runtime error' {} + 2>/dev/null || true)
  [ -z "$reports" ] || fail "sanitizer reports in: $reports"
  if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
  fi
  echo "all passed"
}
