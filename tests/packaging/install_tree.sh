#!/usr/bin/env bash
# What `cmake --install` puts on a system: exactly the programs, desktop file, icons, metainfo,
# manual pages, completion and copyright, each where the desktop, man and bash look for it; the
# installed programs run and say their licence; nothing points back into the build tree.
# usage: install_tree.sh BUILD_DIR
set -uo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! out=$(DESTDIR=$dest cmake --install "$build" --prefix /usr 2>&1); then
    echo "FAIL: cmake --install: $out"
    exit 1
fi

expected="bin/tavrio
bin/tavrio-cli
share/applications/org.tavrio.Tavrio.desktop
share/bash-completion/completions/tavrio-cli
share/doc/tavrio/changelog.gz
share/doc/tavrio/copyright
share/icons/hicolor/256x256/apps/org.tavrio.Tavrio.png
share/icons/hicolor/scalable/apps/org.tavrio.Tavrio.svg
share/man/man1/tavrio-cli.1.gz
share/man/man1/tavrio.1.gz
share/metainfo/org.tavrio.Tavrio.metainfo.xml"
installed=$(cd "$dest/usr" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort)
if [[ "$installed" != "$(LC_ALL=C sort <<<"$expected")" ]]; then
    fail "installed files differ from the expected ones:"
    diff <(LC_ALL=C sort <<<"$expected") <(echo "$installed") | sed -n 's/^[<>]/  &/p'
fi

# The desktop file, metainfo and icon as the software centre finds them together.
if ! out=$(appstreamcli validate-tree --no-net --strict "$dest" 2>&1); then
    fail "appstreamcli validate-tree: $out"
fi

for program in tavrio tavrio-cli; do
    bin=$dest/usr/bin/$program
    [[ -x "$bin" ]] || continue
    version=$("$bin" --version 2>&1) || fail "$program --version exits $?"
    [[ "$version" == "$program "[0-9]* ]] || fail "$program --version says: $version"
    grep -q 'GPL-3.0-or-later' <<<"$version" || fail "$program --version names no licence: $version"
    if readelf -d "$bin" | grep -Eq 'RPATH|RUNPATH'; then
        fail "$program keeps a library search path: $(readelf -d "$bin" | grep -E 'RPATH|RUNPATH')"
    fi
done

for page in tavrio tavrio-cli; do
    gz=$dest/usr/share/man/man1/$page.1.gz
    [[ -f "$gz" ]] || continue
    text=$(MANWIDTH=80 man -l "$gz" 2>&1) || fail "man -l $page.1.gz: $text"
    grep -q "^NAME" <<<"$text" || fail "the installed $page(1) shows no NAME section"
done

((failures == 0)) && echo "cmake --install installs the programs, desktop files, manual pages and completion"
exit $((failures > 0))
