#!/usr/bin/env bash
# Sets up (packages, build) and runs Tavrio.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
# Until the window exists, running Tavrio means its demo: record with a zoom, export the result.
# Arguments, when given, are a tavrio-cli command instead.
[ $# -gt 0 ] || set -- demo
exec "$here/${TAVRIO_BUILD_DIR:-build}/src/cli/tavrio-cli" "$@"
