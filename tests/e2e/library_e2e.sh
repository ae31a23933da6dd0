#!/usr/bin/env bash
# End to end: the library in the real tavrio under a virtual X server, driven by real X key
# events. A recording made by tavrio-cli is opened from the library, exported ("Export
# Successful!"), saved to the Videos folder, played, and deleted; the files on disk follow.
# Usage: library_e2e.sh TAVRIO_BINARY TAVRIO_CLI_BINARY   (runs itself under its own Xvfb)
set -euo pipefail

bin=$1
cli=$2
source "$(dirname "$0")/xdrive.sh"
under_xvfb 280 "$0" "$@"

xdrive_home

export TAVRIO_HOME=$home/data
export XDG_VIDEOS_DIR=$home/Videos
# The recording the user made earlier (this also gets the first-launch notice out of the way).
recording=$("$cli" record --seconds 2 --orientation landscape --zoom "0:1,0.5:2,1.5:1.5" \
            --camera virtual --mic virtual 2>/dev/null | tail -1)
[[ -f "$recording" ]] || fail "tavrio-cli made no recording"
name=$(basename "$recording")

export QT_LOGGING_RULES="tavrio.app.debug=true"
"$bin" >"$log" 2>&1 &
pid=$!
win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tavrio$' | head -1) || fail "no Tavrio window"
wait_log "screen shown: Camera"
xdotool windowfocus --sync "$win"

key l                                   # the library
wait_log "screen shown: Videos"
key Return                              # the first (only) row's details
wait_log "screen shown: $name"
key Tab space                           # Play -> Export, press it
wait_log "export ended: Export Successful!"
[[ ! -e "$recording" ]] || fail "the recording is still there after a completed export"
exported=$TAVRIO_HOME/Documents/Video.mov
[[ -s "$exported" ]] || fail "no exported movie"

key Tab space                           # Play -> Save
for _ in $(seq 300); do
  [[ -s "$XDG_VIDEOS_DIR/Tavrio/Video.mov" ]] && break
  sleep 0.1
done
cmp -s "$exported" "$XDG_VIDEOS_DIR/Tavrio/Video.mov" || fail "the saved copy differs from the export"

key shift+Tab space                     # back to Play: the exported movie as it is
wait_log "screen shown: Movie"
key Escape
wait_log "screen shown: Video.mov"

key Tab Tab space                       # Play -> Save -> Delete, which asks first
key Up Return                           # Cancel has the focus in the sheet; Delete is above
wait_log "screen shown: Videos" 2
[[ ! -e "$exported" ]] || fail "the export is still there after Delete"
[[ -s "$XDG_VIDEOS_DIR/Tavrio/Video.mov" ]] || fail "deleting from the library took the saved copy"
key Escape
echo "PASS"
exit 0
