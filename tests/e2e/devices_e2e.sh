#!/usr/bin/env bash
# End to end: the real tavrio under a virtual X server on a machine without a camera, driven by
# real X key events. The camera screen says "No camera found" and offers no recording; the user
# opens the settings, picks the test picture on the Devices screen's Camera row, closes the
# settings and records a second. The movie must be there with its zoom track, and the choice
# remembered by the camera's id.
# Usage: devices_e2e.sh TAVRIO_BINARY   (runs itself under its own Xvfb)
set -euo pipefail

bin=$1
source "$(dirname "$0")/xdrive.sh"
under_xvfb 240 "$0" "$@"

xdrive_home

launch_first_time
wait_log "screen shown: Camera"
dismiss_notice
wait_log "camera: no camera shown"

xdotool windowfocus --sync "$win"
key space                          # nothing to record with: nothing starts
sleep 0.5
grep -q "camera: recording began" "$log" && fail "a recording began without a camera"

key comma
wait_log "screen shown: Settings"
key Down Down Down Down Return     # Instructions, the three qualities, then Devices: Camera
wait_log "screen shown: Camera" 2  # the camera choice screen
sleep 1                            # the devices are listed off the main thread
key Down Return                    # the only camera here: Test Picture
wait_log "devices: chose virtual-camera"
key Escape                         # back to the settings
wait_log "screen shown: Settings" 2
key Escape                         # and out of them, as Done
wait_log "camera: session running"
wait_log "camera: no camera hidden"

ini=$home/settings.ini
grep -q '^cameraDevice=virtual-camera$' "$ini" || fail "the choice is not remembered: $(cat "$ini")"

wait_log "camera: record enabled"  # the settings have slid away; the chosen camera runs
sleep 0.5
xdotool windowfocus --sync "$win"
key space
wait_log "camera: recording began"
sleep 1.5
key space
wait_log "camera: recording finished"
movie=$home/Library/Originals/Out.mov
[[ -s "$movie" ]] || fail "no movie"
[[ -s "$home/Library/Zooms/Out.mov.zooms.lkbx" ]] || fail "no zoom track"
ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$movie" | grep -q '^1920,1080$' ||
  fail "High did not record the test picture's 1920x1080"
echo "PASS"
exit 0
