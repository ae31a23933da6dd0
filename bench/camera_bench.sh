#!/usr/bin/env bash
# The camera screen while recording: 60 s of 1920x1080 30 fps from the test picture's MJPEG mode
# (as a webcam delivers 1080p) in the real window under Xvfb, against `ffmpeg` decoding the same
# MJPEG stream and encoding it with the same x264 settings, in the same run. Prints the movie's
# dropped frames, the pictures the preview painted per second, the median time from capture to
# paint, and the window's CPU time over ffmpeg's (targets: 0 dropped, 29 fps or more, at most 1.2
# times the CPU, median latency 40 ms or less). The window's CPU leaves out the test picture's own
# JPEG encoding, which a webcam does in its hardware (the window logs it apart).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/${TAVRIO_BUILD_DIR:-build}"
seconds=${SECONDS_TO_RECORD:-60}
source "$here/tests/e2e/xdrive.sh"
under_xvfb $((seconds * 3 + 240)) "$0" "$@"
xdrive_home
export TAVRIO_HOME=$home
cli=$build/src/cli/tavrio-cli
"$cli" settings resolutionOpt=0 >/dev/null 2>&1  # High: the test picture's 1920x1080 MJPEG mode

frames_of() {
  ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames,duration -of default=nw=1 "$1" | tr '\n' ' '
}
cpu_seconds() {  # user + system time of process $1 so far
  awk -v tck="$(getconf CLK_TCK)" '{print ($14 + $15) / tck}' "/proc/$1/stat"
}

export QT_LOGGING_RULES="tavrio.app.debug=true"
"$build/src/app/tavrio" --camera virtual --mic none >"$log" 2>&1 &
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
jpeg=$(grep -o 'test picture JPEG encoding [0-9.]* s' "$log" | tail -1 | awk '{print $5}')
kill "$pid" 2>/dev/null || true

# The reference: the same pictures as the MJPEG stream a webcam sends (4:2:2, quality 4, made
# untimed), decoded and encoded by ffmpeg at the camera's pace with the recorder's x264 settings.
stream=$home/stream.avi
ffmpeg -v error -y -i "$movie" -an -c:v mjpeg -q:v 4 -pix_fmt yuvj422p "$stream"
ref_cpu=$(python3 - "$stream" "$home/ffmpeg.mov" <<'PY'
import resource, subprocess, sys
subprocess.run(["ffmpeg", "-v", "error", "-y", "-re", "-i", sys.argv[1], "-c:v", "libx264", "-preset", "veryfast",
                "-tune", "zerolatency", "-crf", "23", "-g", "30", "-bf", "0", "-pix_fmt", "yuv420p", sys.argv[2]],
               check=True)
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(r.ru_utime + r.ru_stime)
PY
)
ref_movie=$home/ffmpeg.mov

python3 - "$(frames_of "$movie")" "$(frames_of "$ref_movie")" "$stats" "$cpu0" "$cpu1" "$ref_cpu" "${jpeg:-0}" <<'PY'
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
jpeg = float(sys.argv[7])
cpu = float(sys.argv[5]) - float(sys.argv[4]) - jpeg
ref = float(sys.argv[6])
print(f"window:   {n} frames in {dur:.2f} s, dropped {d}; preview {fps:.1f} fps of {captured_fps:.1f} captured, median capture-to-paint {latency:.1f} ms; CPU {cpu:.1f} s (the test picture's JPEG encoding, {jpeg:.1f} s, left out)")
print(f"ffmpeg MJPEG -> x264: {rn} frames in {rdur:.2f} s; CPU {ref:.1f} s")
print(f"CPU ratio window / ffmpeg: {cpu / ref:.2f} (target <= 1.2); preview fps target >= 29; latency target <= 40 ms; dropped target 0")
PY
