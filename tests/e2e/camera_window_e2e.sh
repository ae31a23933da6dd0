#!/usr/bin/env bash
# End to end: the camera screen in a window managed by openbox, driven by real clicks at the
# places the screen reports for its controls and by real keys.
#   landscape (1280x720): the picture fills the window; record, torch, slider and library work
#   with the mouse; Space records whatever was clicked last and again once the camera is back;
#   a minimized window keeps its take; at zoom 2 the preview frames what the export shows.
#   portrait (360x720): the phone's screen with its controls in their places, which starts
#   enlarged and records with its button and with Space.
# Usage: camera_window_e2e.sh landscape|portrait TAVRIO_BINARY TAVRIO_CLI
set -euo pipefail

mode=$1
bin=$2
cli=$3
source "$(dirname "$0")/xdrive.sh"
if [[ $mode == landscape ]]; then
  under_xvfb 280 1280x720x24 "$0" "$@"
else
  under_xvfb 200 360x720x24 "$0" "$@"
fi

xdrive_home
start_window_manager
# The test picture is filmed only when asked for.
launch_first_time --camera virtual --mic none
dismiss_notice
wait_log "camera: session running"
wait_log "camera: record enabled"
xdotool windowactivate --sync "$win"

# Where the screen last said its controls are (window pixels): place NAME.
place() {
  grep "camera: layout" "$log" | tail -1 | sed -n "s/.* $1 \([-0-9,]*\).*/\1/p"
}
click_at() {  # click_at X,Y
  xdotool mousemove --window "$win" "${1%,*}" "${1#*,}" click 1
  xdotool mousemove 0 0
}
count() { grep -c -- "$1" "$log" || true; }
# Runs the rest of the line and waits until PATTERN has been logged once more.
then_log() {
  local pattern=$1 n
  shift
  n=$(count "$pattern")
  "$@"
  wait_log "$pattern" $((n + 1))
}

layout=$(grep "camera: layout" "$log" | tail -1)
eval "$(xdotool getwindowgeometry --shell "$win")"

if [[ $mode == portrait ]]; then
  [[ $layout == *"layout portrait"* ]] || fail "a portrait window is not laid out as the phone's screen: $layout"
  # As on the phone: a 16:9 picture starts enlarged.
  wait_log "camera: full screen on"
  # The phone's screen scaled to the window's width, its controls where the phone has them: the
  # bar along the bottom with the library, record (in the middle) and settings, the slider just
  # above it across the screen, the torch at the top left.
  python3 - "$WIDTH" "$HEIGHT" "$(grep "camera: layout" "$log" | tail -1)" <<'PY' || fail "the phone's screen is not as it was: $layout"
import re, sys
w, h, line = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
def point(name):
    x, y = re.search(name + r" (-?\d+),(-?\d+)", line).groups()
    return int(x), int(y)
px, py, pw, ph = (int(v) for v in re.search(r"preview (-?\d+),(-?\d+) (\d+)x(\d+)", line).groups())
s = pw / 320
assert px == 0 and pw == w and abs(ph - 480 * s) <= 1 and abs(py - (h - ph) / 2) <= 1, "screen"
bar = py + 426 * s
(rx, ry), (lx, ly), (sx, sy), (tx, ty) = (point(n) for n in ("record", "library", "settings", "torch"))
ax, ay, bx, by = (int(v) for v in re.search(r"slider (\d+),(\d+)-(\d+),(\d+)", line).groups())
assert abs(rx - w / 2) <= 2, "record centred"
assert min(ry, ly, sy) > bar and max(ry, ly, sy) < py + ph, "bar row"
assert lx < w / 4 and sx > w * 3 / 4, "library left, settings right"
assert py + ph / 2 < ay < bar and ay == by and bx - ax > pw / 2 and abs((ax + bx) / 2 - w / 2) < w / 10, "slider above the bar"
assert tx < w / 4 and py < ty < py + ph / 8, "torch top left"
print("the phone's screen at", s, "pixels a point")
PY
  # Record and stop with the button, then with Space.
  then_log "camera: recording began" click_at "$(place record)"
  sleep 1
  then_log "camera: record enabled" then_log "camera: recording finished" click_at "$(place record)"
  then_log "camera: recording began" key space
  sleep 1
  then_log "camera: recording finished" key space
  [[ -s $home/Library/Originals/Out.mov && -s $home/Library/Originals/Out-1.mov ]] || fail "not both movies"
  echo "PASS"
  exit 0
fi

[[ $layout == *"layout landscape"* ]] || fail "a landscape window is not laid out for landscape: $layout"
grep -q "camera: full screen on" "$log" && fail "the picture was enlarged without being asked"

# The picture fills the window: the part of the middle row and column that is not black.
shot=$home/filled.rgb
grab "$win" "$shot"
python3 - "$shot" "$WIDTH" "$HEIGHT" <<'PY' || fail "the picture does not fill the window"
import sys
data = open(sys.argv[1], 'rb').read()
w, h = int(sys.argv[2]), int(sys.argv[3])
def lit(x, y):
    i = (y * w + x) * 3
    return max(data[i:i + 3]) > 12
across = sum(lit(x, h // 2) for x in range(w)) / w
down = sum(lit(w // 4, y) for y in range(h)) / h
print(f"picture covers {across:.1%} of the width, {down:.1%} of the height")
assert max(across, down) >= 0.9
PY

# Record and stop with the mouse, at the button's place.
then_log "camera: recording began" click_at "$(place record)"
sleep 1
then_log "camera: record enabled" then_log "camera: recording finished" click_at "$(place record)"
# A click on the torch, then Space: Space records (the torch keeps the keyboard, not the key).
then_log "camera: torch on" click_at "$(place torch)"
then_log "camera: recording began" key space
sleep 1
# Space stops; Space again at once, while the camera comes back, starts nothing (no failed
# start); Space once the camera runs records a new take.
enabled=$(count "camera: record enabled")
then_log "camera: record disabled" key space
then_log "camera: record key ignored" key space
wait_log "camera: record enabled" $((enabled + 1))
python3 - "$log" <<'PY' || fail "a take began while the record button was off"
import sys
on = True
for line in open(sys.argv[1], errors="replace"):
    if "camera: record disabled" in line: on = False
    elif "camera: record enabled" in line: on = True
    elif "camera: recording began" in line: assert on, line
PY
then_log "camera: recording began" key space
sleep 1
then_log "camera: record enabled" key space
grep -q "could not start" "$log" && fail "a start failed"

# Minimized during a take and restored: the take goes on, as long as the user let it run.
asked=$(date +%s.%N)
then_log "camera: recording began" click_at "$(place record)"
began=$(date +%s.%N)
finished=$(count "camera: recording finished")
xdotool windowminimize "$win"
for _ in $(seq 100); do
  xprop -id "$win" WM_STATE 2>/dev/null | grep -q Iconic && break
  sleep 0.1
done
xprop -id "$win" WM_STATE | grep -q Iconic || fail "the window was not minimized"
sleep 3
xdotool windowactivate --sync "$win"
restored=$(date +%s.%N)
(( $(count "camera: recording finished") == finished )) || fail "minimizing ended the take"
sleep 0.5
stopping=$(date +%s.%N)
then_log "camera: record disabled" key space
stopped=$(date +%s.%N)
wait_log "camera: record enabled" $(( $(count "camera: record enabled") + 1 ))
movie=$(grep "camera: recording finished" "$log" | tail -1 | sed 's/.*finished "\(.*\)"/\1/')
length=$("$cli" info "$movie" | sed -n 's/^seconds: *//p')
# The take began between the click and its log line and ended between Space and the button
# going off; a second either way is for the first and last pictures and the log's polling.
python3 - "$length" "$asked" "$began" "$stopping" "$stopped" <<'PY' || fail "the take is not as long as the time it ran (${length:-no} s)"
import sys
length, asked, began, stopping, stopped = (float(v) for v in sys.argv[1:])
print(f"take of {length:.2f} s; it ran between {stopping - began:.2f} and {stopped - asked:.2f} s")
assert stopping - began - 1.0 <= length <= stopped - asked + 1.0
PY

# A click on the slider's track brings the ball there: three quarters along is zoom 2.5.
slider=$(place slider)
from=${slider%-*}
to=${slider#*-}
x=$(( ${from%,*} + (${to%,*} - ${from%,*}) * 3 / 4 ))
then_log "camera: zoom" click_at "$x,${from#*,}"
zoom=$(grep "camera: zoom" "$log" | tail -1 | sed 's/.*zoom //')
python3 -c "import sys; assert abs(float(sys.argv[1]) - 2.5) < 0.05" "$zoom" || fail "a click at 3/4 of the track gave zoom $zoom"
then_log "camera: zoom 1$" key 0

# The framing: at zoom 2 the centre ring takes the same share of the preview's width as of the
# exported picture's width (the median of three looks: the test picture's bar sweeps across it).
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
read -r px py pw ph < <(grep "camera: layout" "$log" | tail -1 |
  sed -n 's/.* preview \([-0-9]*\),\([-0-9]*\) \([0-9]*\)x\([0-9]*\).*/\1 \2 \3 \4/p')
then_log "camera: recording began" key space
for _ in $(seq 10); do key plus; done
wait_log "camera: preview shows scale 2.000"
rings=()
for k in 1 2 3; do
  grab "$win" "$home/zoomed.rgb"
  # The test picture is 16:9 and so is the window: the picture's height is the preview's.
  rings+=("$(mark_ring "$home/zoomed.rgb" "$WIDTH" "$HEIGHT" $((px + pw / 2)) $((py + ph / 2)) $((ph / 50)))")
  sleep 0.7
done
ring=$(median "${rings[@]}")
sleep 1
then_log "camera: recording finished" key space
movie=$(grep "camera: recording finished" "$log" | tail -1 | sed 's/.*finished "\(.*\)"/\1/')
exported=$("$cli" export "$movie" --preset best 2>/dev/null | head -1)
[[ -s $exported ]] || fail "the take could not be exported"
eval "$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of default=nw=1 "$exported")"
erings=()
for t in 0.3 0.6 0.9; do
  ffmpeg -loglevel error -y -sseof -$t -i "$exported" -frames:v 1 -f rawvideo -pix_fmt rgb24 "$home/export.rgb"
  erings+=("$(mark_ring "$home/export.rgb" "$width" "$height" $((width / 2)) $((height / 2)) $((height / 50)))")
done
ering=$(median "${erings[@]}")
python3 - "$ring" "$pw" "$ph" "$ering" "$width" "$height" <<'PY' || fail "the preview does not frame what the export shows"
import sys
ring, pw, ph, ering, ew, eh = (float(v) for v in sys.argv[1:])
# The picture is fitted into the preview: as wide as the preview, or narrower in a window
# relatively wider than the picture.
shown = min(pw, ph * ew / eh)
a, b = ring / shown, ering / ew
print(f"centre ring: {ring} px of {shown:.0f} in the preview ({a:.4f}), {ering} px of {ew:.0f} exported ({b:.4f})")
assert ring >= 10 and ering >= 10
assert abs(a / b - 1) <= 0.03
PY
echo "PASS"
exit 0
