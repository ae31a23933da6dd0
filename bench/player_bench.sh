#!/usr/bin/env bash
# The player in the real window on Xvfb against ffplay on the same display (see player_bench.cpp).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/${TAVRIO_BUILD_DIR:-build}"
source "$here/tests/e2e/xdrive.sh"
under_xvfb 900 1024x1024x24 "$0" "$@"
unset QT_QPA_PLATFORM
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export TAVRIO_HOME=$home
# No sound server on Xvfb: both players run silent, on their own clocks.
export SDL_AUDIODRIVER=dummy
"$build/bench/player_bench"
