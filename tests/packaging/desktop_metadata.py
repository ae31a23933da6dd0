#!/usr/bin/env python3
"""The desktop file and the AppStream metainfo, as a software centre and a menu read them.

usage: desktop_metadata.py DESKTOP_DIR SOURCE_DIR VERSION

Both validators must pass without an error or a warning (appstreamcli's pedantic hints aside);
the metainfo's newest release is this version; its screenshots are the README's own pictures;
the desktop file, the metainfo and the icon name one another.
"""
import configparser
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

APP_ID = "org.tavrio.Tavrio"
SCREENSHOT_URL = re.compile(r"^https://tavrio\.org/screenshots/([a-z0-9-]+)\.png$")

failures = []


def fail(message):
    failures.append(message)


def main():
    if len(sys.argv) != 4:
        print("usage: desktop_metadata.py DESKTOP_DIR SOURCE_DIR VERSION", file=sys.stderr)
        return 2
    desktop_dir, source_dir, version = sys.argv[1:]
    desktop = os.path.join(desktop_dir, APP_ID + ".desktop")
    metainfo = os.path.join(desktop_dir, APP_ID + ".metainfo.xml")

    r = subprocess.run(["appstreamcli", "validate", "--no-net", "--strict", "--explain", metainfo],
                       capture_output=True, text=True)
    if r.returncode != 0:
        fail(f"appstreamcli validate rejects {metainfo}:\n{r.stdout}{r.stderr}")
    r = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
    problems = [line for line in (r.stdout + r.stderr).splitlines() if "error:" in line or "warning:" in line]
    if r.returncode != 0 or problems:
        fail(f"desktop-file-validate rejects {desktop}:\n{r.stdout}{r.stderr}")

    root = ET.parse(metainfo).getroot()
    if root.findtext("id") != APP_ID:
        fail(f"the metainfo's id is {root.findtext('id')!r}, not {APP_ID}")
    launchable = root.find("launchable")
    if launchable is None or launchable.text != APP_ID + ".desktop":
        fail(f"the metainfo launches {launchable.text if launchable is not None else None!r}, "
             f"not {APP_ID}.desktop")
    if root.findtext("project_license") != "GPL-3.0-or-later":
        fail(f"project_license is {root.findtext('project_license')!r}")

    releases = root.findall("releases/release")
    if not releases or releases[0].get("version") != version:
        fail(f"the newest release in the metainfo is "
             f"{releases[0].get('version') if releases else None!r}, the program is {version}")

    # Screenshots are published from docs/screenshots under one URL pattern: each must be a
    # picture the README shows.
    readme = open(os.path.join(source_dir, "README.md"), encoding="utf-8").read()
    shots = root.findall("screenshots/screenshot")
    if not shots:
        fail("the metainfo has no screenshots")
    for shot in shots:
        url = shot.findtext("image")
        m = SCREENSHOT_URL.match(url or "")
        if not m:
            fail(f"screenshot {url!r} does not follow https://tavrio.org/screenshots/NAME.png")
            continue
        picture = f"docs/screenshots/{m.group(1)}.png"
        if not os.path.isfile(os.path.join(source_dir, picture)):
            fail(f"screenshot {url} has no {picture}")
        elif f"({picture})" not in readme:
            fail(f"screenshot {url}: the README does not show {picture}")
        if not shot.findtext("caption"):
            fail(f"screenshot {url} has no caption")

    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str
    entry.read(desktop, encoding="utf-8")
    section = entry["Desktop Entry"] if entry.has_section("Desktop Entry") else {}
    if section.get("Icon") != APP_ID:
        fail(f"the desktop file's icon is {section.get('Icon')!r}, installed as {APP_ID}")
    binaries = {b.text for b in root.findall("provides/binary")}
    if section.get("Exec", "").split(" ")[0] not in binaries:
        fail(f"the desktop file runs {section.get('Exec')!r}, which the metainfo does not provide")
    keywords = {k.text for k in root.findall("keywords/keyword")}
    if keywords != {k for k in section.get("Keywords", "").split(";") if k}:
        fail("the metainfo's keywords and the desktop file's differ")

    for f in failures:
        print("FAIL:", f)
    if not failures:
        print("desktop file and metainfo validate and agree")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
