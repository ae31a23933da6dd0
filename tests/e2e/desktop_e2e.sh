#!/usr/bin/env bash
# End to end: the desktop habits of the library and player in the real tavrio under a virtual X
# server with a window manager (openbox) and a session bus of its own with a file manager on it
# (test_file_manager, which prints what it is asked to show). A recording made by tavrio-cli:
# right click on its row -> Show in Files reaches the file manager; played with the time beside
# the scrubber; full screen and back; exported, saved, and the screen says where the copy went.
# Usage: desktop_e2e.sh TAVRIO_BINARY TAVRIO_CLI_BINARY TEST_FILE_MANAGER   (runs itself under
# its own Xvfb and dbus-run-session)
set -euo pipefail

bin=$1
cli=$2
files=$3
source "$(dirname "$0")/xdrive.sh"
under_xvfb 400 1280x720x24 "$0" "$@"
if [[ -z "${TAVRIO_DBUS_INNER:-}" ]]; then
  export TAVRIO_DBUS_INNER=1
  exec dbus-run-session -- "$0" "$@"
fi

xdrive_home
export TAVRIO_HOME=$home/data
export XDG_VIDEOS_DIR=$home/Videos
recording=$("$cli" record --seconds 3 --orientation landscape --zoom "0:1,1:2,2:1.5" \
            --camera virtual --mic none 2>/dev/null | tail -1)
[[ -f "$recording" ]] || fail "tavrio-cli made no recording"
name=$(basename "$recording")

shown=$home/shown.txt
"$files" >"$shown" 2>&1 &
fm=$!
trap 'kill $fm 2>/dev/null || true; xdrive_cleanup' EXIT
start_window_manager
for _ in $(seq 100); do
  grep -q ready "$shown" && break
  sleep 0.1
done
grep -q ready "$shown" || fail "the test file manager did not start: $(cat "$shown")"

export QT_LOGGING_RULES="tavrio.app.debug=true"
"$bin" >"$log" 2>&1 &
pid=$!
win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tavrio$' | head -1) || fail "no Tavrio window"
wait_log "screen shown: Camera"
xdotool windowactivate --sync "$win"

key l
wait_log "screen shown: Videos"
# Right click on the first row: the screen is 320 x 480 points scaled to fit the window, and
# the row's middle is 84 points down (the bar is 44, the row 80).
eval "$(xdotool getwindowgeometry --shell "$win")"
read -r rx ry < <(awk -v w="$WIDTH" -v h="$HEIGHT" 'BEGIN {
  s = w / 320; if (h / 480 < s) s = h / 480
  printf "%d %d\n", w / 2, (h - 480 * s) / 2 + 84 * s }')
xdotool mousemove --window "$win" "$rx" "$ry" click 3
wait_log "library: menu shown for $name"
key Down Down Return                    # Open With Default Player, Show in Files
uri="file://$(dirname "$recording")/$name"
for _ in $(seq 300); do
  grep -qxF "$uri" "$shown" && break
  sleep 0.1
done
grep -qxF "$uri" "$shown" || fail "the file manager was not asked to show $uri: $(cat "$shown")"

xdotool windowactivate --sync "$win"
key Return                              # the row's details
wait_log "screen shown: $name"
key space                               # Play
wait_log "screen shown: Movie"
# The movie's own length (a loaded machine's camera may deliver the last frame a little short of
# the three seconds asked for), in whole seconds as the player shows it.
secs=$("$cli" info "$recording" | sed -n 's/^seconds: //p')
total=$(awk -v s="$secs" 'BEGIN { s = int(s); printf "%d:%02d", s / 60, s % 60 }')
wait_log "player: total time $total"
key f
wait_log "player: full screen on"
full=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tavrio: Movie$' | head -1) || fail "no full-screen window"
eval "$(xdotool getwindowgeometry --shell "$full")"
[[ "$WIDTH" == 1280 && "$HEIGHT" == 720 ]] || fail "full screen is ${WIDTH}x${HEIGHT}, not the display"
xdotool windowactivate --sync "$full" 2>/dev/null || true
key f
wait_log "player: full screen off"
wait_gone '^Tavrio: Movie$'
xdotool windowactivate --sync "$win"
key Escape
wait_log "screen shown: $name" 2

key Tab space                           # Play -> Export
wait_log "export ended: Export Successful!"
key Tab space                           # Play -> Save
wait_log "save note: Saved to Videos/Tavrio/Video.mov"
cmp -s "$TAVRIO_HOME/Documents/Video.mov" "$XDG_VIDEOS_DIR/Tavrio/Video.mov" || fail "the saved copy differs"
key space                               # Save again: already there, no silent copy
wait_log "save note: Already saved as Videos/Tavrio/Video.mov"
[[ ! -e "$XDG_VIDEOS_DIR/Tavrio/Video-1.mov" ]] || fail "a second save made a copy unasked"
echo "PASS"
exit 0
