# Helpers for driving the real tavrio under Xvfb with xdotool (sourced, not run).
# The caller sets $log (tavrio's log with tavrio.app debug lines) and $pid (tavrio's process).

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

# Grabs window `win` into `out` (PNG, or raw RGB when the name ends in .rgb).
grab() {
  local win=$1 out=$2
  eval "$(xdotool getwindowgeometry --shell "$win")"
  local fmt=()
  [[ "$out" == *.rgb ]] && fmt=(-f rawvideo -pix_fmt rgb24)
  ffmpeg -loglevel error -y -f x11grab -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 "${fmt[@]}" "$out"
}
