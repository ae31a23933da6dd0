#!/usr/bin/env bash
# The camera screen while recording: 60 s of 1280x720 30 fps from the virtual camera in the real
# window under Xvfb, against `tavrio-cli record` making the same recording without a window.
# Prints the movie's dropped frames, the pictures the preview painted per second, the median
# time from capture to paint, and the window's CPU time over the CLI's (targets: 0 dropped,
# 29 fps or more, at most 1.3 times the CPU, median latency 40 ms or less).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/${TAVRIO_BUILD_DIR:-build}"
seconds=${SECONDS_TO_RECORD:-60}
source "$here/tests/e2e/xdrive.sh"
under_xvfb $((seconds * 3 + 240)) "$0" "$@"
xdrive_home
export TAVRIO_HOME=$home
cli=$build/src/cli/tavrio-cli
"$cli" settings resolutionOpt=0 >/dev/null 2>&1  # High: 1280x720 from the virtual camera

frames_of() {
  ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames,duration -of default=nw=1 "$1" | tr '\n' ' '
}
cpu_seconds() {  # user + system time of process $1 so far
  awk -v tck="$(getconf CLK_TCK)" '{print ($14 + $15) / tck}' "/proc/$1/stat"
}

# The reference: the command line records the same, with no window.
ref_cpu=$(python3 - "$cli" "$seconds" <<'PY'
import resource, subprocess, sys
subprocess.run([sys.argv[1], "record", "--seconds", sys.argv[2], "--camera", "virtual", "--mic", "virtual"],
               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(r.ru_utime + r.ru_stime)
PY
)
ref_movie=$(ls -t "$home/Library/Originals/"*.mov | head -1)

export QT_LOGGING_RULES="tavrio.app.debug=true"
"$build/src/app/tavrio" --camera virtual --mic virtual >"$log" 2>&1 &
pid=$!
win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tavrio$' | head -1) || fail "no Tavrio window"
wait_log "camera: session running"
wait_log "camera: full screen on"
xdotool windowfocus --sync "$win"
xdotool mousemove 0 0
sleep 1
cpu0=$(cpu_seconds "$pid")
key space
wait_log "camera: recording began"
sleep "$seconds"
key space
cpu1=$(cpu_seconds "$pid")
wait_log "camera: saving animation finished"
movie=$(grep -o 'recording finished "[^"]*"' "$log" | tail -1 | sed 's/.*"\(.*\)"/\1/')
stats=$(grep 'camera: preview painted' "$log" | tail -1)

python3 - "$(frames_of "$movie")" "$(frames_of "$ref_movie")" "$stats" "$cpu0" "$cpu1" "$ref_cpu" <<'PY'
import re, sys
def dropped(fields):
    kv = dict(f.split("=", 1) for f in fields.split())
    frames, duration = int(kv["nb_read_frames"]), float(kv["duration"])
    return round(duration * 30) - frames, frames, duration
d, n, dur = dropped(sys.argv[1])
rd, rn, rdur = dropped(sys.argv[2])
m = re.search(r"painted (\d+) pictures in ([\d.]+) s \(([\d.]+) per second\) of (\d+) captured, "
              r"median capture-to-paint ([\d.]+) ms", sys.argv[3])
fps, captured, latency = float(m.group(3)), int(m.group(4)), float(m.group(5))
captured_fps = captured / float(m.group(2))
cpu = float(sys.argv[5]) - float(sys.argv[4])
ref = float(sys.argv[6])
print(f"window:   {n} frames in {dur:.2f} s, dropped {d}; preview {fps:.1f} fps of {captured_fps:.1f} captured, median capture-to-paint {latency:.1f} ms; CPU {cpu:.1f} s")
print(f"tavrio-cli record: {rn} frames in {rdur:.2f} s, dropped {rd}; CPU {ref:.1f} s")
print(f"CPU ratio window / cli: {cpu / ref:.2f} (target <= 1.3); preview fps target >= 29; latency target <= 40 ms; dropped target 0")
PY
