# Helpers for driving the real tavrio under Xvfb with xdotool (sourced, not run).
# After xdrive_home, $home is a fresh folder, $log tavrio's log (with tavrio.app debug lines)
# and $pid, which the caller sets when it starts tavrio, is killed on exit.

# Runs the calling script again under a virtual X server of its own (at most `limit` seconds);
# returns at once inside it. Usage: under_xvfb LIMIT [WxHxD] "$0" "$@"
under_xvfb() {
  local limit=$1 screen=1024x768x24
  shift
  [[ "$1" =~ ^[0-9]+x[0-9]+x[0-9]+$ ]] && { screen=$1; shift; }
  [[ -n "${TAVRIO_XVFB_INNER:-}" ]] && return 0
  export TAVRIO_XVFB_INNER=1
  exec timeout "$limit" xvfb-run -a -s "-screen 0 $screen" "$@"
}

# The real X server, not the offscreen platform of the unit tests; a home removed on exit.
xdrive_home() {
  unset QT_QPA_PLATFORM
  home=$(mktemp -d)
  log=$home/tavrio.log
  export XDG_DATA_HOME=$home/xdg-data   # what goes to the Trash stays in here
  mkdir -p "$XDG_DATA_HOME"
  pid=
  trap xdrive_cleanup EXIT
}

xdrive_cleanup() {
  if [[ -n "$pid" ]]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  [[ -n "${wm:-}" ]] && kill "$wm" 2>/dev/null || true
  rm -rf "$home"
}

fail() {
  echo "FAIL: $*" >&2
  echo "--- tavrio's log:" >&2
  cat "$log" >&2 || true
  exit 1
}

# Waits (up to 60 s) until `pattern` is in the log `count` times; the app logs each screen as
# it appears ("screen shown: Settings"), so no step depends on how fast the machine is.
wait_log() {
  local pattern=$1 count=${2:-1}
  for _ in $(seq 600); do
    (( $(grep -c -- "$pattern" "$log" || true) >= count )) && return 0
    kill -0 "$pid" 2>/dev/null || fail "tavrio exited while waiting for '$pattern'"
    sleep 0.1
  done
  fail "no '$pattern' in the log"
}

# Waits (up to 30 s) until no visible window has the name `name`.
wait_gone() {
  for _ in $(seq 300); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "window '$1' did not close"
}

key() { xdotool key --delay 80 "$@"; }

# Starts openbox (stopped on exit) and waits until it manages the screen, for tests that need
# a window manager (minimizing, full screen, menus placed by it).
start_window_manager() {
  openbox >/dev/null 2>&1 &
  wm=$!
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && return 0
    sleep 0.1
  done
  fail "openbox did not start"
}

# Grabs window `win` into `out` (PNG, or raw RGB when the name ends in .rgb).
grab() {
  local win=$1 out=$2
  eval "$(xdotool getwindowgeometry --shell "$win")"
  local fmt=()
  [[ "$out" == *.rgb ]] && fmt=(-f rawvideo -pix_fmt rgb24)
  ffmpeg -loglevel error -y -f x11grab -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 "${fmt[@]}" "$out"
}
