#!/usr/bin/env bash
# Sets up (packages, build) and runs Tavrio.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
exec "$here/${TAVRIO_BUILD_DIR:-build}/src/cli/tavrio-cli" paths "$@"
