#!/usr/bin/env bash
# End to end: zooming a recording again in the real tavrio under a virtual X server with a window
# manager, driven by real X key events. A recording made by tavrio-cli is opened from the
# library, Zoom Again plays it in the player's zoom mode, + zooms at two points of the movie, the
# movie plays to its end, Keep stores the new track (orientation kept, the recorded track kept
# as the earlier version), and Undo Zoom Again puts the recorded track back byte for byte.
# Usage: zoom_again_e2e.sh TAVRIO_BINARY TAVRIO_CLI_BINARY   (runs itself under its own Xvfb)
set -euo pipefail

bin=$1
cli=$2
source "$(dirname "$0")/xdrive.sh"
under_xvfb 280 1280x1024x24 "$0" "$@"

xdrive_home
export TAVRIO_HOME=$home/data
recording=$("$cli" record --seconds 8 --orientation portrait --zoom "0:1,1:2" \
            --camera virtual --mic none 2>/dev/null | tail -1)
[[ -f "$recording" ]] || fail "tavrio-cli made no recording"
name=$(basename "$recording")
track=$TAVRIO_HOME/Library/Zooms/$name.zooms.lkbx
earlier=$TAVRIO_HOME/Library/Zooms/$name.zooms-previous.lkbx
cp "$track" "$home/recorded.lkbx"
orient=$("$cli" zooms "$recording" | head -1)

start_window_manager
launch_window

key l                                   # the library
wait_log "screen shown: Videos"
key Return
wait_log "screen shown: $name"
key Tab Tab Tab space                   # Play -> Export -> Delete -> Zoom Again
wait_log "screen shown: Zoom Again"
wait_log "player: total time"           # the movie is open and playing
key space                               # paused, so that the end cannot come first
key plus
wait_log "player: zoom again" 1
key Right                               # 5 s on, the zoom there again
key plus
wait_log "player: zoom again" 2
[[ -n "${TAVRIO_E2E_SHOTS:-}" ]] && grab "$win" "$TAVRIO_E2E_SHOTS/zoom-again.png"
key space                               # on to the end, where the choice comes
wait_log "zoom again: keep or discard?"
key Up Return                           # Cancel (go on) has the focus; Keep is above it
wait_log "zoom again kept: .*$name"
wait_log "screen shown: $name" 2

out=$("$cli" zooms "$recording") || fail "the kept track is unusable: $out"
# Entry 0 at 0 with the recorded orientation; the last entry 1.2x at 5 s or later.
[[ $(sed -n 1p <<<"$out") == "$orient" ]] || fail "orientation not kept ($orient): $out"
[[ $(sed -n 2p <<<"$out") == 0\ * ]] || fail "entry 0 is not at time 0: $out"
tail -1 <<<"$out" | awk '{ exit !($1 >= 5 && $2 > 1.19 && $2 < 1.21) }' || fail "the new zoom is not in the track: $out"
cmp -s "$earlier" "$home/recorded.lkbx" || fail "the recorded track was not kept as the earlier version"

key Tab Tab Tab Tab space               # Play -> Export -> Delete -> Zoom Again -> Undo Zoom Again
key Up Return                           # the sheet starts on Cancel; Undo is above it
wait_log "undo zoom again: done"
cmp -s "$track" "$home/recorded.lkbx" || fail "undo did not put the recorded track back"
[[ ! -e "$earlier" ]] || fail "an earlier version is left after the undo"
echo "PASS"
exit 0
