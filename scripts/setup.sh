#!/usr/bin/env bash
# Installs the Debian packages Tavrio needs (only the missing ones), then configures and builds.
# Idempotent: on a machine that has everything it only runs an incremental build.
# --packages-only installs the packages and stops there (CI checks the formatting before building).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done < scripts/packages.txt

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

[[ "${1:-}" == --packages-only ]] && exit 0

build=${TAVRIO_BUILD_DIR:-build}
build_type=${TAVRIO_BUILD_TYPE:-RelWithDebInfo}
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$build_type"
fi
cmake --build "$build" -j "$(nproc)"
