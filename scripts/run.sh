#!/usr/bin/env bash
# Sets up (packages, build) and runs Tavrio: the window (on a machine without a camera it offers
# the test picture). Without a display it says so and runs the command line's demo instead.
# Arguments, when given, are a tavrio-cli command instead.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
build=$here/${TAVRIO_BUILD_DIR:-build}
if [[ $# -gt 0 ]]; then
  exec "$build/src/cli/tavrio-cli" "$@"
fi
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "run: no display to open the window on; running tavrio-cli demo instead"
  exec "$build/src/cli/tavrio-cli" demo
fi
exec "$build/src/app/tavrio"
