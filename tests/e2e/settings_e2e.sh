#!/usr/bin/env bash
# End to end: the real tavrio under a virtual X server, driven by real X key events. It closes
# the first-launch notice, opens the settings with the keyboard, picks "Average" as the export
# preset, and checks the settings file and a screenshot of the detail screen.
# Usage: settings_e2e.sh TAVRIO_BINARY   (runs itself under its own Xvfb)
set -euo pipefail

bin=$1
source "$(dirname "$0")/xdrive.sh"
under_xvfb 240 "$0" "$@"

xdrive_home

launch_first_time
wait_log "screen shown: Camera"
dismiss_notice

xdotool windowfocus --sync "$win"
key comma
wait_log "screen shown: Settings"
key Down Down Return           # Instructions -> Recording Quality -> Export Preset, open it
wait_log "screen shown: Detail"
key Down Down Return           # Best -> Good -> Average, choose it

ini=$home/settings.ini
for _ in $(seq 300); do
  grep -q '^exportOpt=2$' "$ini" 2>/dev/null && break
  sleep 0.1
done
grep -q '^exportOpt=2$' "$ini" || fail "exportOpt=2 not stored: $(cat "$ini" 2>/dev/null)"

# The detail screen as the user sees it: the dark ground and rows and the blue checkmark.
shot=$home/detail.rgb
grab "$win" "$shot" || fail "no screenshot"
eval "$(xdotool getwindowgeometry --shell "$win")"
python3 - "$shot" "$WIDTH" "$HEIGHT" <<'PY' || fail "the screenshot does not show the detail screen"
import sys
data = open(sys.argv[1], 'rb').read()
w, h = int(sys.argv[2]), int(sys.argv[3])
assert len(data) == w * h * 3, "size"
# The screen itself: a landscape window shows it centred between black margins.
lit = [x for x in range(w) if any(max(data[(y * w + x) * 3:(y * w + x) * 3 + 3]) > 3 for y in range(0, h, 8))]
px = [data[(y * w + x) * 3:(y * w + x) * 3 + 3] for y in range(h) for x in range(lit[0], lit[-1] + 1)]
dark = sum(1 for p in px if max(p) <= 45)
blue = sum(1 for p in px if p[2] >= 200 and p[0] <= 60 and 80 <= p[1] <= 150)
print(f"screenshot {w}x{h}, screen {len(lit)} wide: {dark / len(px):.0%} dark, {blue} checkmark-blue pixels")
assert dark / len(px) > 0.5, "not the dark look"
assert blue > 20, "no checkmark"
PY

key Escape
wait_log "screen shown: Settings" 2
echo "PASS"
exit 0
