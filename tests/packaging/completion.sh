#!/usr/bin/env bash
# The bash completion of tavrio-cli, driven as bash drives it (COMP_WORDS, COMP_CWORD) against the
# built program: commands, each command's options, option values, and no trace in the user's data.
# usage: completion.sh COMPLETION_SCRIPT TAVRIO_CLI
set -uo pipefail
script=$1 cli=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export TAVRIO_HOME=$home
# shellcheck source=/dev/null
source "$script"
failures=0

# complete WORD... : the completions offered for the last word, sorted, space-separated.
complete_line() {
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _tavrio_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

expect() {
    local want=$1
    shift
    local got
    got=$(complete_line "$@")
    if [[ "$got" != "$want" ]]; then
        echo "FAIL: tavrio-cli $*<TAB> offers [$got], expected [$want]"
        failures=$((failures + 1))
    fi
}

commands=$("$cli" --help | sed -n 's/^  \([a-z][a-z0-9-]*\).*/\1/p' | sort | tr '\n' ' ' | sed 's/ $//')
[[ -n "$commands" ]] || { echo "FAIL: tavrio-cli --help lists no commands"; exit 1; }
expect "--help --version $commands" ""
expect "export" "ex"
expect "--help" "--he"

expect "--preset --replace --rescale" export Out.mov --
expect "--preset --rescale" export Out.mov --replace --
expect "average best good low" export Out.mov --preset ""
expect "good" export Out.mov --rescale g
expect "--rescale" export Out.mov --replace --re
expect "" export Out.mov --replace ""  # a switch: the movie's name, from the files

# Options already given are not offered again; every other option of record is.
expect "--camera --camera-rotation --mic --orientation --quality --zoom" record --seconds 3 --
expect "0 180 270 90" record --camera-rotation ""
expect "landscape portrait" record --orientation ""
expect "virtual" record --camera vi
expect "" record --seconds ""  # a number to type

expect "--size" thumbnail Out.mov --
expect "" paths --
expect "" no-such-command --

# Completing asked the program only for its help: no settings, no data folders.
if [[ -n "$(ls -A "$home")" ]]; then
    echo "FAIL: completing wrote into TAVRIO_HOME: $(ls -A "$home")"
    failures=$((failures + 1))
fi
((failures == 0)) && echo "completion offers tavrio-cli's commands, options and values"
exit $((failures > 0))
