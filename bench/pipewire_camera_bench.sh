#!/usr/bin/env bash
# The camera screen recording from a PipeWire camera: 60 s from a GStreamer test node (1280x720
# YUY2, 30 fps) on a private PipeWire daemon, in the real window under Xvfb, against the same
# window recording the test picture through V4L2's reading path in the same run. The test
# picture's nearest mode is 1920x1080 MJPEG (its JPEG encoding, a webcam's hardware's job, is left
# out), so the CPU is compared per picture element as well as whole. The test node's own CPU
# (gst-launch, another process) is not the window's and is printed apart. Targets: 0 dropped
# frames; CPU per picture element at most 1.1 times the reference's.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/${TAVRIO_BUILD_DIR:-build}"
seconds=${SECONDS_TO_RECORD:-60}
for program in pipewire wireplumber gst-launch-1.0 dbus-run-session; do
  command -v "$program" >/dev/null || { echo "pipewire_camera_bench: $program is missing (scripts/packages.txt)"; exit 1; }
done
source "$here/tests/e2e/xdrive.sh"
under_xvfb $((seconds * 5 + 300)) "$0" "$@"
if [[ -z "${TAVRIO_PRIVATE_BUS:-}" ]]; then
  export TAVRIO_PRIVATE_BUS=1
  exec dbus-run-session -- "$0" "$@"
fi
xdrive_home
export TAVRIO_HOME=$home
export XDG_RUNTIME_DIR=$home/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
cli=$build/src/cli/tavrio-cli
"$cli" settings resolutionOpt=0 >/dev/null 2>&1  # High: the node's 1280x720, the test picture's 1080p

helpers=()
cleanup() {
  for p in "${helpers[@]}"; do kill "$p" 2>/dev/null || true; done
  xdrive_cleanup
}
trap cleanup EXIT
pipewire >"$home/pipewire.log" 2>&1 & helpers+=($!)
for _ in $(seq 100); do [[ -S $XDG_RUNTIME_DIR/pipewire-0 ]] && break; sleep 0.1; done
wireplumber >"$home/wireplumber.log" 2>&1 & helpers+=($!)
gst-launch-1.0 -q videotestsrc is-live=true pattern=ball ! video/x-raw,format=YUY2,width=1280,height=720,framerate=30/1 \
  ! pipewiresink mode=provide "stream-properties=props,media.class=Video/Source,media.role=Camera" client-name=TestCam \
  >"$home/gst.log" 2>&1 &
gst=$!
helpers+=($gst)
for _ in $(seq 100); do "$cli" devices 2>/dev/null | grep -q "pipewire:TestCam" && break; sleep 0.2; done
"$cli" devices 2>/dev/null | grep -q "pipewire:TestCam" || fail "the test node was not listed"

frames_of() {
  ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames,duration,width,height -of default=nw=1 "$1" | tr '\n' ' '
}
cpu_seconds() {  # user + system time of process $1 so far
  awk -v tck="$(getconf CLK_TCK)" '{print ($14 + $15) / tck}' "/proc/$1/stat"
}

# Records $seconds in the window from camera $1; prints "frames-info|cpu|jpeg-cpu|preview-stats".
record_in_window() {
  : >"$log"
  QT_LOGGING_RULES="tavrio.app.debug=true" "$build/src/app/tavrio" --camera "$1" --mic none >"$log" 2>&1 &
  pid=$!
  local win
  win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Tavrio$' | head -1) || fail "no Tavrio window"
  wait_log "camera: session running"
  wait_log "camera: full screen on"
  xdotool windowfocus --sync "$win"
  xdotool mousemove 0 0
  sleep 1
  local cpu0 cpu1 g0 g1
  cpu0=$(cpu_seconds "$pid"); g0=$(cpu_seconds "$gst")
  xdotool key space
  wait_log "camera: recording began"
  sleep "$seconds"
  xdotool key space
  cpu1=$(cpu_seconds "$pid"); g1=$(cpu_seconds "$gst")
  wait_log "camera: saving animation finished"
  local movie stats jpeg
  movie=$(grep -o 'recording finished "[^"]*"' "$log" | tail -1 | sed 's/.*"\(.*\)"/\1/')
  stats=$(grep 'camera: preview painted' "$log" | tail -1)
  jpeg=$(grep -o 'test picture JPEG encoding [0-9.]* s' "$log" | tail -1 | awk '{print $5}')
  grep -i 'dropped' "$log" | sed "s|^|$1: |" >&2 || true
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=
  echo "$(frames_of "$movie")|$(awk "BEGIN{print $cpu1 - $cpu0}")|${jpeg:-0}|$(awk "BEGIN{print $g1 - $g0}")|$stats"
}

pw_run=$(record_in_window pipewire:TestCam)
v4l2_run=$(record_in_window virtual)

python3 - "$pw_run" "$v4l2_run" <<'PY'
import re, sys
def parse(run):
    frames, cpu, jpeg, gst, stats = run.split("|", 4)
    kv = dict(f.split("=", 1) for f in frames.split())
    n, dur = int(kv["nb_read_frames"]), float(kv["duration"])
    w, h = int(kv["width"]), int(kv["height"])
    m = re.search(r"\(([\d.]+) per second\)", stats)
    return dict(n=n, dur=dur, w=w, h=h, dropped=round(dur * 30) - n, cpu=float(cpu) - float(jpeg),
                jpeg=float(jpeg), gst=float(gst), fps=float(m.group(1)) if m else 0.0)
p, r = parse(sys.argv[1]), parse(sys.argv[2])
print(f"PipeWire node: {p['w']}x{p['h']}, {p['n']} frames in {p['dur']:.2f} s, dropped {p['dropped']}; preview {p['fps']:.1f} fps; "
      f"window CPU {p['cpu']:.1f} s (the node's gst-launch: {p['gst']:.1f} s, apart)")
print(f"V4L2 path, test picture: {r['w']}x{r['h']}, {r['n']} frames in {r['dur']:.2f} s, dropped {r['dropped']}; preview {r['fps']:.1f} fps; "
      f"window CPU {r['cpu']:.1f} s (its JPEG encoding, {r['jpeg']:.1f} s, left out)")
per = lambda x: x["cpu"] / (x["w"] * x["h"] * max(x["n"], 1))
print(f"CPU ratio PipeWire / V4L2: {p['cpu'] / r['cpu']:.2f} whole, {per(p) / per(r):.2f} per picture element "
      f"(target <= 1.1); dropped target 0")
PY
