#!/usr/bin/env bash
# End to end: an export keeps running through what a desktop does to a window and through
# leaving its details screen. In the real tavrio under a virtual X server with a window manager
# (openbox, so that the window can be minimized), driven by real X events: one export runs while
# the window is minimized, another after the details screen was left for the list; both
# complete, and each replaced recording is in the Trash. A third cannot be written and says why.
# Usage: export_e2e.sh TAVRIO_BINARY TAVRIO_CLI_BINARY   (runs itself under its own Xvfb)
set -euo pipefail

bin=$1
cli=$2
source "$(dirname "$0")/xdrive.sh"
under_xvfb 400 1280x1024x24 "$0" "$@"

xdrive_home
export TAVRIO_HOME=$home/data
# Two recordings long enough that an export is still running when the window is minimized.
for _ in 1 2; do
  "$cli" record --seconds 6 --quality high --orientation landscape --zoom "0:1,2:2,4:1.5" \
         --camera virtual --mic none >/dev/null 2>&1 || fail "tavrio-cli made no recording"
done
originals=$TAVRIO_HOME/Library/Originals
[[ -f $originals/Out.mov && -f $originals/Out-1.mov ]] || fail "the recordings are missing"

start_window_manager

export QT_LOGGING_RULES="tavrio.app.debug=true"
"$bin" >"$log" 2>&1 &
pid=$!
win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tavrio$' | head -1) || fail "no Tavrio window"
wait_log "screen shown: Camera"
xdotool windowactivate --sync "$win"

key l                                   # the library; the newest recording first
wait_log "screen shown: Videos"
key Return
wait_log "screen shown: Out-1.mov"
key Tab space                           # Play -> Export
wait_log "export of Out-1.mov started"
xdotool windowminimize "$win"
# The window manager unmaps the window and then marks it iconic.
for _ in $(seq 100); do
  xprop -id "$win" WM_STATE 2>/dev/null | grep -q Iconic && break
  sleep 0.1
done
xprop -id "$win" WM_STATE | grep -q Iconic || fail "the window was not minimized"
grep -q "export of Out-1.mov ended" "$log" && fail "the export ended before the window was minimized"
wait_log "export of Out-1.mov ended: 3"  # completed, not cancelled
wait_log "export ended: Export Successful!"
[[ ! -e $originals/Out-1.mov ]] || fail "the recording is still there after its export"
[[ -f $XDG_DATA_HOME/Trash/files/Out-1.mov ]] || fail "the replaced recording is not in the Trash"
[[ -s $TAVRIO_HOME/Documents/Video.mov ]] || fail "no exported movie"

activate_window "$win"
key Escape                              # back to the list: the export first, then Out.mov
wait_log "screen shown: Videos" 2
key Down Return
wait_log "screen shown: Out.mov"
key Tab space
wait_log "export of Out.mov started"
key Escape                              # leave the details screen while it runs
wait_log "screen shown: Videos" 3
wait_log "export of Out.mov ended: 3"
[[ ! -e $originals/Out.mov ]] || fail "the recording is still there after its export"
[[ -f $XDG_DATA_HOME/Trash/files/Out.mov ]] || fail "the replaced recording is not in the Trash"
[[ -s $TAVRIO_HOME/Documents/Video-1.mov ]] || fail "no movie from the export that ran without its screen"

# An export that cannot be written (a file stands where the Documents folder was): the details
# screen says why, in words, and the recording stays.
wait_log "alert shown: Export Successful!"  # told in the window, no screen having shown it
key Escape
wait_log "alert closed: Export Successful!"
key Escape                              # the list closes: the camera
wait_log "screen shown: Camera" 2
mv "$TAVRIO_HOME/Documents" "$home/Documents.kept"
: >"$TAVRIO_HOME/Documents"
"$cli" record --seconds 1 --orientation landscape --camera virtual --mic none >/dev/null 2>&1 ||
  fail "tavrio-cli made no third recording"
key l
wait_log "screen shown: Videos" 4
key Return
wait_log "screen shown: Out.mov" 2
key Tab space
wait_log "export failure shown: The exported movie could not be created. Not a directory"
wait_log "export ended: Try Exporting Again"
[[ -f $originals/Out.mov ]] || fail "the recording went with its failed export"
echo "PASS"
exit 0
