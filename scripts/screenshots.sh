#!/usr/bin/env bash
# Makes the README's screenshots from the real program under a virtual X server, so they show
# what the code draws today: docs/screenshots/*.png. Needs xvfb-run, xdotool and ffmpeg.
# TAVRIO_SHOTS_SCREEN (WxH, default 1024x768) and TAVRIO_SHOTS_OUT (a folder) make them on
# another display, elsewhere, to look at.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${TAVRIO_BIN:-$here/${TAVRIO_BUILD_DIR:-build}/src/app/tavrio}
out=${TAVRIO_SHOTS_OUT:-$here/docs/screenshots}
screen=${TAVRIO_SHOTS_SCREEN:-1024x768}
if [[ -z "${TAVRIO_SHOTS_INNER:-}" ]]; then
  [[ -x "$bin" ]] || "$here/scripts/setup.sh"
  export TAVRIO_SHOTS_INNER=1
  exec timeout 300 xvfb-run -a -s "-screen 0 ${screen}x24" "$0" "$@"
fi

unset QT_QPA_PLATFORM
mkdir -p "$out"
home=$(mktemp -d)
log=$home/tavrio.log
pid=
trap '[[ -n "$pid" ]] && kill "$pid" 2>/dev/null; rm -rf "$home"' EXIT
source "$here/tests/e2e/xdrive.sh"

# A window manager places and sizes the window as a desktop or a phone shell would, so a screen
# smaller than the window's first size still shows all of it.
start_window_manager
export TAVRIO_HOME=$home QT_LOGGING_RULES="tavrio.app.debug=true"
"$bin" --camera virtual --mic virtual >"$log" 2>&1 &
pid=$!
win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tavrio$' | head -1) || fail "no window"
wait_log "alert shown: Note"
wait_log "screen shown: Camera"
xdotool mousemove 0 0  # no pointer in the pictures
wait_log "camera: record enabled"  # the virtual camera's picture is running, dimmed
sleep 1
# The first launch: the window with the notice drawn in it.
grab "$win" "$out/first-launch.png"
dismiss_notice
sleep 0.5
grab "$win" "$out/camera.png"

key comma
wait_log "screen shown: Settings"
grab "$win" "$out/settings.png"
key Down Down Return
wait_log "screen shown: Detail"
grab "$win" "$out/detail.png"
key Escape
wait_log "screen shown: Settings" 2
key Up Up Return
wait_log "screen shown: Instructions"
grab "$win" "$out/instructions.png"

# The library with a recording made the way a user makes one, its details and its player.
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=
cli=$(dirname "$bin")/../cli/tavrio-cli
"$cli" record --seconds 3 --orientation landscape --zoom "0:1,1:2.5,2.5:1.5" \
  --camera virtual --mic virtual >/dev/null 2>&1 || fail "tavrio-cli record failed"
: >"$log"
"$bin" --camera virtual --mic virtual >"$log" 2>&1 &
pid=$!
win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tavrio$' | head -1) || fail "no window"
wait_log "screen shown: Camera"
xdotool windowfocus --sync "$win"
xdotool mousemove 0 0
key l
wait_log "screen shown: Videos"
sleep 1  # the thumbnail is made in the background
grab "$win" "$out/library.png"
key Return
wait_log "screen shown: Out.mov"
grab "$win" "$out/details.png"
key space  # Play has the focus: the recording, zoomed as its export will be
wait_log "screen shown: Movie"
sleep 1.5
grab "$win" "$out/player.png"
echo "screenshots in $out"
