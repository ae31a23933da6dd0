#!/usr/bin/env bash
# Builds and runs the benchmarks one after another; each prints its own ratios against a
# reference measured in the same run. Add new benchmarks as further lines at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/${TAVRIO_BUILD_DIR:-build}"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target render_bench zoom_track_read_bench -j2

echo "== render_bench"
"$build/bench/render_bench" "$@"

echo "== zoom_track_read_bench"
"$build/bench/zoom_track_read_bench"

echo "== export_bench"
"$here/bench/export_bench.sh"

cmake --build "$build" --target capture_record_bench -j2
echo "== capture_record_bench (60 s of recording, then 60 s of ffmpeg)"
"$build/bench/capture_record_bench"

cmake --build "$build" --target tavrio bare_window -j2
echo "== startup_bench (tavrio's window vs a bare Qt Widgets window, to the first paint)"
"$here/bench/startup_bench.sh"

cmake --build "$build" --target player_bench -j2
echo "== player_bench (60 s zoomed 1080p in the window, then 60 s of ffplay; seeks)"
"$here/bench/player_bench.sh"

cmake --build "$build" --target library_bench -j2
echo "== library_bench (500 movies with thumbnails shown; 100 without: thumbnails against ffmpegthumbnailer)"
"$build/bench/library_bench"

cmake --build "$build" --target tavrio tavrio-cli -j2
echo "== camera_bench (60 s in the window, then 60 s with tavrio-cli record)"
"$here/bench/camera_bench.sh"
echo "== pipewire_camera_bench (60 s from a PipeWire test node in the window, then 60 s of the test picture)"
"$here/bench/pipewire_camera_bench.sh"

cmake --build "$build" --target camera_stall_bench -j2
echo "== camera_stall_bench (the UI thread while cameras come and go and the preset changes)"
"$build/bench/camera_stall_bench"

cmake --build "$build" --target tavrio tavrio-cli -j2
echo "== ui_stall_bench (the UI thread's longest stall in the library, camera and details end-to-end tests)"
"$here/bench/ui_stall_bench.sh"
