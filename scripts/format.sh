#!/bin/bash
# Formats the C++ sources with the repository's .clang-format.
#   scripts/format.sh           rewrite every tracked .cpp/.h in place
#   scripts/format.sh --check   change nothing; list the files that would change, exit 1 if any
#   scripts/format.sh FILE...   only these files (with or without --check)
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
files=()
for arg in "$@"; do
    case "$arg" in
        --check) check=1 ;;
        -h|--help) sed -n '2,5p' "$0"; exit 0 ;;
        -*) echo "format.sh: unknown option $arg" >&2; exit 2 ;;
        *) files+=("$arg") ;;
    esac
done
if ! command -v clang-format >/dev/null; then
    echo "format.sh: clang-format is not installed (apt-get install clang-format)" >&2
    exit 2
fi
if [ ${#files[@]} -eq 0 ]; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
fi

status=0
for f in "${files[@]}"; do
    if [ "$check" -eq 1 ]; then
        if ! clang-format "$f" | cmp -s "$f" -; then
            echo "$f"
            status=1
        fi
    else
        clang-format -i "$f"
    fi
done
exit $status
