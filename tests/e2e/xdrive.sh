# Helpers for driving the real tavrio under Xvfb with xdotool (sourced, not run).
# After xdrive_home, $home is a fresh folder, $log tavrio's log (with tavrio.app debug lines)
# and $pid, which the caller sets when it starts tavrio, is killed on exit.
#
# Every tavrio started here watches its event loop (TAVRIO_STALL_MS, the 50 ms the window may
# take unless the caller chose another limit, as a sanitizer build does) and the test fails on
# any stall it logged. Time tavrio or the X server waited for a CPU is not counted, so a loaded
# machine is no stall. TAVRIO_E2E_STALLS=FILE collects every stall line instead of failing on them.

# Runs the calling script again under a virtual X server of its own (at most `limit` seconds);
# returns at once inside it. Usage: under_xvfb LIMIT [WxHxD] "$0" "$@"
under_xvfb() {
  local limit=$1 screen=1024x768x24
  shift
  [[ "$1" =~ ^[0-9]+x[0-9]+x[0-9]+$ ]] && { screen=$1; shift; }
  [[ -n "${TAVRIO_XVFB_INNER:-}" ]] && return 0
  export TAVRIO_XVFB_INNER=1
  # -noreset: by default the server resets when its last client leaves, and a client connecting
  # during that reset is refused (a probe such as xprop leaving just as openbox connects).
  # The server picks its own display number (-displayfd): it takes the first one whose lock it
  # can create, so runs started together never share one, as xvfb-run -a's look-then-start can.
  local dir xvfb rc=0
  dir=$(mktemp -d)
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/xvfb.log" &
  xvfb=$!
  # Waited for: a server still closing gives up its lock before its abstract socket, so a run
  # started meanwhile could take its number and have its clients reach the dying server.
  trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT
  for _ in $(seq 600); do
    [[ -s $dir/display ]] && break
    kill -0 "$xvfb" 2>/dev/null || { echo "FAIL: Xvfb did not start: $(cat "$dir/xvfb.log")" >&2; exit 1; }
    sleep 0.1
  done
  [[ -s $dir/display ]] || { echo "FAIL: Xvfb gave no display" >&2; exit 1; }
  export DISPLAY=:$(head -1 "$dir/display")
  timeout "$limit" "$@" || rc=$?
  exit "$rc"
}

# The real X server, not the offscreen platform of the unit tests; a home removed on exit.
xdrive_home() {
  unset QT_QPA_PLATFORM
  home=$(mktemp -d)
  log=$home/tavrio.log
  export XDG_DATA_HOME=$home/xdg-data   # what goes to the Trash stays in here
  mkdir -p "$XDG_DATA_HOME"
  pid=
  export TAVRIO_STALL_MS=${TAVRIO_STALL_MS:-50}
  stalls=
  trap xdrive_cleanup EXIT
}

# Takes the stall lines of the log of the tavrio that ran last (before the next one starts on
# the same log, and at the end) into $stalls, or into $TAVRIO_E2E_STALLS when collecting.
take_stalls() {
  [[ -f "$log" ]] || return 0
  local found
  found=$(grep -e "event loop stalled for" -e "event loop has not come back" "$log" || true)
  [[ -n "$found" ]] || return 0
  if [[ -n "${TAVRIO_E2E_STALLS:-}" ]]; then
    printf '%s\n' "$found" >>"$TAVRIO_E2E_STALLS"
  else
    stalls+="$found"$'\n'
  fi
}

xdrive_cleanup() {
  local rc=$?
  if [[ -n "$pid" ]]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  [[ -n "${wm:-}" ]] && kill "$wm" 2>/dev/null || true
  take_stalls
  rm -rf "$home"
  if [[ -n "$stalls" ]]; then
    echo "FAIL: tavrio's event loop stalled (limit ${TAVRIO_STALL_MS} ms):" >&2
    printf '%s' "$stalls" >&2
    exit 1
  fi
  exit "$rc"
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

# Starts tavrio (ARGS passed on) on a fresh first launch in $home, its debug lines in $log, and
# waits for its window ($win) and the first-launch notice inside it.
launch_first_time() {
  export TAVRIO_HOME=$home
  export QT_LOGGING_RULES="tavrio.app.debug=true"
  take_stalls
  "$bin" "$@" >"$log" 2>&1 &
  pid=$!
  win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tavrio$' | head -1) || fail "no Tavrio window"
  wait_log "alert shown: Note"
}

# Answers the first-launch notice as a user does: Return on its one button, which has the
# keyboard; waits until the window says it closed.
dismiss_notice() {
  if [[ -n "${wm:-}" ]]; then xdotool windowactivate --sync "$win"; else xdotool windowfocus --sync "$win"; fi
  xdotool key Return
  wait_log "alert closed: Note"
}

# Gives window `id` the keyboard once the window manager has made it the active one. A window
# just brought back from minimized may not be managed yet, and a request made then is lost.
activate_window() {
  for _ in $(seq 100); do
    xdotool windowactivate "$1" 2>/dev/null || true
    [[ "$(xdotool getactivewindow 2>/dev/null)" == "$1" ]] && return 0
    sleep 0.2
  done
  fail "window $1 never became the active one"
}

# Starts tavrio (ARGS passed on) on the data in $TAVRIO_HOME, its debug lines in $log, waits for
# its window ($win) and the camera screen, and gives the window the keyboard.
launch_window() {
  export QT_LOGGING_RULES="tavrio.app.debug=true"
  take_stalls
  "$bin" "$@" >"$log" 2>&1 &
  pid=$!
  win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tavrio$' | head -1) || fail "no Tavrio window"
  wait_log "screen shown: Camera"
  activate_window "$win"
}

# Starts openbox (stopped on exit) and waits until it manages the screen, for tests that need
# a window manager (minimizing, full screen, menus placed by it).
start_window_manager() {
  openbox >"$home/openbox.log" 2>&1 &
  wm=$!
  for _ in $(seq 600); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && return 0
    kill -0 "$wm" 2>/dev/null || fail "openbox ended on $DISPLAY: $(cat "$home/openbox.log")"
    sleep 0.1
  done
  fail "openbox did not start on $DISPLAY: $(cat "$home/openbox.log")"
}

# Grabs window `win` into `out` (PNG, or raw RGB when the name ends in .rgb).
grab() {
  local win=$1 out=$2
  eval "$(xdotool getwindowgeometry --shell "$win")"
  local fmt=()
  [[ "$out" == *.rgb ]] && fmt=(-f rawvideo -pix_fmt rgb24)
  ffmpeg -loglevel error -y -f x11grab -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 "${fmt[@]}" "$out"
}

# The length in pixels of the virtual camera's centre mark's horizontal arm (cross and ring) in a
# raw RGB picture W x H: the longest bright run through the middle. Usage: mark_arm FILE W H [CX]
# (CX: the picture's centre column, default the middle).
mark_arm() {
  python3 - "$@" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
w, h = int(sys.argv[2]), int(sys.argv[3])
cx = int(sys.argv[4]) if len(sys.argv) > 4 else w // 2
assert len(data) == w * h * 3
def bright(x, y):
    i = (y * w + x) * 3
    return min(data[i:i + 3]) >= 170
best = 0
for y in range(h // 2 - 2, h // 2 + 3):
    # The longest bright run that passes within a few pixels of the centre.
    x0 = cx - 3
    while x0 < cx + 3 and not bright(x0, y):
        x0 += 1
    if not bright(x0, y):
        continue
    a = b = x0
    # The vertical arm's dark halo cuts the horizontal one at the centre: gaps of a few
    # pixels do not end the run.
    def near(x, step):
        return any(0 <= x + step * k < w and bright(x + step * k, y) for k in range(1, 5))
    while near(a, -1):
        a -= 1
    while near(b, 1):
        b += 1
    best = max(best, b - a + 1)
print(best)
PY
}

# The width in pixels of the virtual camera's centre ring, measured along the row DY pixels below
# the centre (CX, CY) of a raw RGB picture W x H, between the middles of its two bright crossings
# (the arms lie on grid lines, the ring does not). Usage: mark_ring FILE W H CX CY DY
mark_ring() {
  python3 - "$@" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
w, h, cx, cy, dy = (int(v) for v in sys.argv[2:])
assert len(data) == w * h * 3
y = cy + dy
def bright(x):
    i = (y * w + x) * 3
    return min(data[i:i + 3]) >= 170
def crossing(step):
    # Outward from beside the vertical arm to the first bright run: its middle.
    x = cx + 6 * step
    while 0 <= x < w and not bright(x):
        x += step
    if not 0 <= x < w:
        return None
    first = x
    while 0 <= x < w and bright(x):
        x += step
    return (first + x - step) / 2
left, right = crossing(-1), crossing(1)
print(f"{right - left:.1f}" if left is not None and right is not None else "0")
PY
}
