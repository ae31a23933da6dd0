#!/usr/bin/env bash
# End to end: the real tavrio under a virtual X server with the virtual camera, driven by real X
# key events. It records about three seconds while zooming in and out with + and -, stops, and
# checks the movie, its zoom track, thumbnail and duration file, and that a screenshot taken
# while zoomed shows the camera's centre mark as many times larger as the zoom says.
# Usage: camera_e2e.sh TAVRIO_BINARY   (runs itself under its own Xvfb)
set -euo pipefail

bin=$1
source "$(dirname "$0")/xdrive.sh"
under_xvfb 240 "$0" "$@"

xdrive_home

launch_first_time --camera virtual --mic virtual
wait_log "screen shown: Camera"
dismiss_notice
wait_log "camera: session running"
xdotool windowfocus --sync "$win"
xdotool mousemove 0 0  # the pointer stays out of the screenshots

# The length of the centre mark's horizontal arm (cross and ring), in pixels of a screenshot:
# the bright run through the middle of the window. The virtual camera's bar sweeps across the
# mark every two seconds and hides part of it, so three shots 0.7 s apart (the bar is then far
# away in at least two) and the longest run counts.
arm_length() {
  local best=0 n
  for k in 1 2 3; do
    n=$(arm_length_once "$1-$k")
    (( n > best )) && best=$n
    sleep 0.7
  done
  echo "$best"
}
arm_length_once() {
  local shot=$home/$1.rgb
  grab "$win" "$shot" || fail "no screenshot"
  eval "$(xdotool getwindowgeometry --shell "$win")"
  mark_arm "$shot" "$WIDTH" "$HEIGHT"
}

# The preview says when the first picture at a new scale is on the screen; a landscape window
# shows the whole picture, not enlarged.
wait_log "camera: preview shows scale 1.000"
before=$(arm_length unzoomed)
(( before >= 10 )) || fail "no centre mark in the preview (arm $before px)"

key space
wait_log "camera: recording began"
for _ in $(seq 10); do key plus; done   # 10 steps of 0.1: zoom 2
wait_log "camera: preview shows scale 2.000"
zoomed=$(arm_length zoomed)
for _ in $(seq 4); do key minus; done   # back to 1.6
sleep 1.5
key space
wait_log "camera: recording finished"
wait_log "camera: saving animation finished"

python3 - "$before" "$zoomed" <<'PY' || fail "the preview is not zoomed 2x (arm $before px, then $zoomed px)"
import sys
before, zoomed = int(sys.argv[1]), int(sys.argv[2])
ratio = zoomed / before
print(f"centre mark arm {before} px unzoomed, {zoomed} px at zoom 2: ratio {ratio:.2f}")
assert 1.8 <= ratio <= 2.2
PY

lib=$home/Library
movie=$lib/Originals/Out.mov
[[ -s "$movie" ]] || fail "no movie $movie"
[[ -s "$lib/Thumbs/Out.mov.jpeg" ]] || fail "no thumbnail"
[[ -s "$lib/Durations/Out.mov.duration.lkbx" ]] || fail "no duration file"
track=$lib/Zooms/Out.mov.zooms.lkbx
[[ -s "$track" ]] || fail "no zoom track"
python3 - "$track" <<'PY' || fail "the zoom track does not hold the zooming: $(cat "$track")"
import plistlib, sys
entries = plistlib.load(open(sys.argv[1], 'rb'))
zooms = [e["zoom"] for e in entries]
times = [e["atTime"] for e in entries]
print(f"{len(entries)} entries, zoom {min(zooms):.2f} to {max(zooms):.2f}, last {zooms[-1]:.2f} at {times[-1]:.2f} s")
assert entries[0]["zoom"] == 1.0 and entries[0]["atTime"] == 0.0 and "orient" in entries[0]
# Each move after a rest is preceded by the resting zoom, held until just before it.
holds = [i for i in range(1, len(entries) - 1)
         if zooms[i] == zooms[i - 1] and times[i + 1] - times[i] < 0.01]
assert holds, "no rest held before a move"
assert len(entries) - len(holds) == 15, "one entry per key press after entry 0"
assert abs(max(zooms) - 2.0) < 1e-3 and abs(zooms[-1] - 1.6) < 1e-3
assert all(b >= a for a, b in zip(times, times[1:])) and times[-1] > 0
PY
echo "PASS"
exit 0
