#!/usr/bin/env bash
# Builds the Debian package, build/package/tavrio_<version>_amd64.deb (cpack -G DEB), checks it
# with lintian, then proves it on a clean Debian 12: a minimal root made with debootstrap from
# the mirror this machine's apt uses, where
#   - apt installs the package as a user's `apt install ./tavrio_...deb` would (without
#     recommended packages, so the dependencies alone must do),
#   - an ordinary user runs tavrio --version, tavrio-cli demo and the window under Xvfb (its
#     picture is kept as build/package/clean-system-window.png), reads man tavrio-cli, and
#     AppStream finds the application,
#   - purging the package leaves the root exactly as it was before the install.
# Run as root (debootstrap and chroot need it). Exit status: 0 passed, 1 a check failed, 77 the
# clean system was skipped because the Debian mirror cannot be reached (one "skipped: ..." line).
# Nothing is kept between runs: every run starts from a fresh debootstrap.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/${TAVRIO_BUILD_DIR:-build}
out=$build/package
suite=bookworm

fail() {
    echo "package: FAIL: $*" >&2
    exit 1
}
started=$SECONDS
phase=$SECONDS
timed() {  # one line per phase, with its duration, so CI shows where the time goes
    echo "package: $* ($((SECONDS - phase)) s)"
    phase=$SECONDS
}

# --- The package --------------------------------------------------------------------------------
"$here/scripts/setup.sh"
phase=$SECONDS
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
rm -rf "$out"
(cd "$build" && cpack -G DEB) >"$build/cpack.log" 2>&1 || fail "cpack -G DEB: $(tail -20 "$build/cpack.log")"
deb=$out/tavrio_${version}_amd64.deb
[[ -f "$deb" ]] || fail "cpack made no $deb ($(ls "$out" 2>/dev/null))"

field() { dpkg-deb --field "$deb" "$1"; }
[[ "$(field Package) $(field Version) $(field Architecture)" == "tavrio $version amd64" ]] ||
    fail "the package calls itself $(field Package) $(field Version) $(field Architecture)"
# dpkg-shlibdeps' findings, plus the library capture opens at run time.
depends=$(field Depends)
for dependency in libqt6widgets6 libavcodec libavdevice libzimg; do
    [[ "$depends" == *"$dependency"* ]] || fail "Depends lacks $dependency: $depends"
done
(($(field Description | wc -l) > 3)) || fail "the description is only: $(field Description)"
changelog=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/tavrio/changelog.gz | gzip -dc | head -1)
[[ "$changelog" == "tavrio ($version) "* ]] || fail "the changelog's newest entry is not $version: $changelog"
if ! lint=$(lintian --allow-root --fail-on error,warning "$deb" 2>&1); then
    fail "lintian: $lint"
fi
timed "built and checked $(basename "$deb"), $(($(stat -c %s "$deb") / 1024)) KiB, Installed-Size $(field Installed-Size) KiB"

# --- A clean Debian 12 --------------------------------------------------------------------------
[[ $(id -u) -eq 0 ]] || fail "the clean-system test needs root (debootstrap, chroot): sudo $0"
# The mirror as apt itself reads this machine's sources (one-line and deb822 alike).
targets=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' | sort -u)
mirror=$(awk -v s="$suite" '$2 == s && $3 == "main" { print $1; exit }' <<<"$targets")
if [[ -z "$mirror" ]]; then
    echo "skipped: the clean Debian 12 install: no $suite mirror in this machine's apt sources"
    exit 77
fi
if ! reason=$(wget -nv -O /dev/null --timeout=20 --tries=2 "${mirror%/}/dists/$suite/InRelease" 2>&1); then
    reason=${reason##*$'\n'}
    echo "skipped: the clean Debian 12 install: the Debian mirror $mirror cannot be reached${reason:+ ($reason)}"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/var/tmp}/tavrio-package.XXXXXX")
root=$work/root
cleanup() {
    # Mounts live in the namespaces of debootstrap and in_root below and end with them; never
    # delete through one that did not.
    if [[ "$(findmnt -rn -o TARGET)" == *"$work/"* ]]; then
        echo "package: left $work in place: something is still mounted under it" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

# Runs a bash script in the root as root, with /proc and /dev/shm mounted for it alone.
in_root() {
    unshare --mount --propagation private --fork -- bash -c '
        mount -t proc proc "$1/proc" && mount -t tmpfs -o mode=1777 shm "$1/dev/shm" &&
        exec chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
            DEBIAN_FRONTEND=noninteractive /bin/bash -euo pipefail -c "$2"' in_root "$root" "$1"
}
# The same as the ordinary user "person", in a login-like environment without a desktop session.
as_person() {
    in_root "runuser -u person -- env -i PATH=/usr/bin:/bin HOME=/home/person LANG=C.UTF-8 \
             XDG_RUNTIME_DIR=/tmp/person-runtime /bin/bash -euo pipefail -c $(printf '%q' "$1")"
}

# debootstrap mounts /proc and /sys in the root while it works: in a namespace of its own, even
# when it is interrupted.
unshare --mount --propagation private --fork -- \
    debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    fail "debootstrap: $(tail -20 "$work/debootstrap.log")"
# The sources a Debian 12 installation has, from the same mirrors.
awk -v s="$suite" '($2 == s || $2 == s "-updates" || $2 == s "-security") && $3 == "main" {
    print "deb " $1 " " $2 " main" }' <<<"$targets" >"$root/etc/apt/sources.list"
timed "debootstrap $suite from $mirror"

# The root brought up to date as an installed Debian 12 is (else installing the package would
# upgrade what it shares with the system, and the purge could not undo that), and what the test
# itself needs, both before the picture of the root is taken.
in_root 'apt-get update -qq && apt-get upgrade -y -qq >/tmp/tools.log 2>&1 &&
         apt-get install -y -qq --no-install-recommends xvfb xauth man-db appstream \
             >>/tmp/tools.log 2>&1 || { tail -20 /tmp/tools.log; exit 1; }
         useradd --create-home --shell /bin/bash person
         mkdir -p -m 700 /tmp/person-runtime && chown person: /tmp/person-runtime' ||
    fail "setting up the test tools in the root"
# Everything but what changes whatever is installed (kernel views, temporary files, apt's
# caches and logs) and the user's home, whose files no package removal touches. dpkg's database
# is compared by its packages, versions and states: dpkg rewrites unrelated packages' Priority
# fields in its status file as apt works.
snapshot() {
    in_root 'find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /run \
                 -o -path /var/cache -o -path /var/log -o -path /var/lib/apt/lists -o -path /home/person \) -prune \
                 -o -type d -printf "%p %M\n" -o -printf "%p %M %s\n" | grep -Ev "^/var/lib/dpkg/(status|[a-z-]*-old) " |
                 LC_ALL=C sort
             dpkg-query -W -f "package \${Package} \${Version} \${db:Status-Abbrev}\n"'
}
snapshot >"$work/before.txt" || fail "listing the root"
timed "updates, test tools (xvfb, man-db, appstream) and a user in the root"

cp "$deb" "$root/tmp/"
in_root "apt-get install -y -qq --no-install-recommends /tmp/$(basename "$deb") >/tmp/install.log 2>&1 ||
         { tail -30 /tmp/install.log; exit 1; }" || fail "apt-get install ./$(basename "$deb") in the clean root"
added=$(($(in_root 'dpkg-query -W -f "\${Package}\n" | wc -l') - $(grep -c '^package ' "$work/before.txt")))
timed "installed $(basename "$deb") with apt and $((added - 1)) packages it depends on"

# --- As a user of that system -------------------------------------------------------------------
transcript=$work/transcript.txt
{
    as_person 'tavrio --version'
    as_person 'cd && tavrio-cli demo 2>&1 && tavrio-cli info "$(tavrio-cli paths | sed -n "s/^documents: //p")/Video.mov"'
} >"$transcript" 2>&1 || fail "the programs in the clean root: $(cat "$transcript")"
grep -qx "tavrio $version" "$transcript" || fail "tavrio --version: $(cat "$transcript")"
grep -q "GPL-3.0-or-later" "$transcript" || fail "tavrio --version names no licence: $(cat "$transcript")"
grep -q "^recorded /home/person/.local/share/Tavrio/Library/Originals/Out.mov " "$transcript" ||
    fail "tavrio-cli demo recorded nothing: $(cat "$transcript")"
grep -q "^exported /home/person/.local/share/Tavrio/Documents/Video.mov " "$transcript" ||
    fail "tavrio-cli demo exported nothing: $(cat "$transcript")"
grep -q "^video: h264 " "$transcript" || fail "the exported movie has no video: $(cat "$transcript")"
# An installed program must not reach back into the tree it was built in.
if grep -F "$here" "$transcript"; then fail "the programs name the build's source tree"; fi
timed "tavrio --version, tavrio-cli demo (record 6 s, export Best) as a user"

# The window under Xvfb, with the test picture, until the camera's picture is painted.
as_person 'mkdir -p /tmp/person-fb
    Xvfb :7 -screen 0 1024x768x24 -fbdir /tmp/person-fb -nolisten tcp >/tmp/person-xvfb.log 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do [[ -S /tmp/.X11-unix/X7 ]] && break; sleep 0.1; done
    DISPLAY=:7 QT_LOGGING_RULES="tavrio.app.debug=true" tavrio --camera virtual --mic virtual \
        >/tmp/person-window.log 2>&1 &
    window=$!
    for _ in $(seq 300); do
        grep -q "camera: preview shows" /tmp/person-window.log && break
        kill -0 $window 2>/dev/null || break
        sleep 0.1
    done
    sleep 1  # a few more pictures, for the screenshot
    cp /tmp/person-fb/Xvfb_screen0 /tmp/person-window.xwd
    alive=0; kill -0 $window 2>/dev/null && alive=1
    kill $window $xvfb 2>/dev/null; wait 2>/dev/null || true
    cat /tmp/person-window.log
    [[ $alive == 1 ]] || { echo "the window is gone"; exit 1; }' >"$work/window.log" 2>&1 ||
    fail "the window in the clean root: $(cat "$work/window.log")"
for line in "screen shown: Camera" "camera: session running" "camera: preview shows"; do
    grep -q "$line" "$work/window.log" || fail "the window never logged \"$line\": $(cat "$work/window.log")"
done
ffmpeg -loglevel error -y -i "$root/tmp/person-window.xwd" "$out/clean-system-window.png" ||
    fail "cannot read the window's screenshot"
colours=$(ffmpeg -loglevel error -i "$out/clean-system-window.png" -vf scale=256:192 -f rawvideo -pix_fmt rgb24 - |
    python3 -c 'import sys; d = sys.stdin.buffer.read(); print(len({d[i:i + 3] for i in range(0, len(d), 3)}))')
((colours > 50)) || fail "the screenshot of the window is nearly blank ($colours colours): $out/clean-system-window.png"
timed "the window under Xvfb painted the camera's picture ($out/clean-system-window.png)"

# The manual, the menu entry, the software centre's catalogue and the completion, as installed.
in_root 'for f in /usr/share/applications/org.tavrio.Tavrio.desktop /usr/share/icons/hicolor/256x256/apps/org.tavrio.Tavrio.png; do
             [[ -f $f ]] || { echo "no $f"; exit 1; }
         done
         appstreamcli refresh-cache --force >/dev/null 2>&1
         appstreamcli get org.tavrio.Tavrio >/tmp/appstream.txt 2>&1
         grep -q "^Name: Tavrio" /tmp/appstream.txt || { echo "appstreamcli get:"; cat /tmp/appstream.txt; exit 1; }' \
    >"$work/installed.log" 2>&1 || fail "the installed desktop entry or AppStream data: $(cat "$work/installed.log")"
as_person 'MANWIDTH=80 man tavrio-cli >/tmp/person-man.txt 2>&1
    grep -q "^COMMANDS" /tmp/person-man.txt || { echo "man tavrio-cli shows:"; cat /tmp/person-man.txt; exit 1; }
    whatis tavrio tavrio-cli
    source /usr/share/bash-completion/completions/tavrio-cli
    COMP_WORDS=(tavrio-cli ex)
    COMP_CWORD=1
    _tavrio_cli
    [[ "${COMPREPLY[*]}" == export ]] || { echo "completing \"tavrio-cli ex\" offers: ${COMPREPLY[*]}"; exit 1; }' \
    >"$work/manual.log" 2>&1 || fail "the installed manual or completion: $(cat "$work/manual.log")"
timed "man tavrio-cli, whatis, the desktop entry, appstreamcli get and the completion"

# --- Removed without a trace --------------------------------------------------------------------
in_root 'apt-get purge -y -qq --autoremove tavrio >/tmp/purge.log 2>&1 || { tail -20 /tmp/purge.log; exit 1; }
         appstreamcli refresh-cache --force >/dev/null 2>&1
         if appstreamcli get org.tavrio.Tavrio >/dev/null 2>&1; then echo "AppStream still lists Tavrio"; exit 1; fi' \
    >"$work/purge.log" 2>&1 || fail "purging the package: $(cat "$work/purge.log")"
snapshot >"$work/after.txt" || fail "listing the root"
if ! diff -u "$work/before.txt" "$work/after.txt" >"$work/left.diff"; then
    fail "the root differs after purging tavrio and its dependencies:
$(grep '^[-+]/\|^[-+]package' "$work/left.diff" | head -40)"
fi
leftovers=$(find "$root" -xdev -iname '*tavrio*' -not -path "$root/home/person/*" -not -path "$root/tmp/*")
[[ -z "$leftovers" ]] || fail "left behind: $leftovers"
timed "apt-get purge --autoremove left the root as it was"
echo "package: passed in $((SECONDS - started)) s: $deb"
