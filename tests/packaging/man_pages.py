#!/usr/bin/env python3
"""The manual pages against the programs they describe.

usage: man_pages.py TAVRIO TAVRIO_CLI MAN_DIR

The pages are written by hand; this holds them to the programs: every option `tavrio --help`
names is in tavrio(1) and every option there is in `tavrio --help`; every command `tavrio-cli`
lists is in tavrio-cli(1) with exactly the options the command's own --help names, and every
command there is one the program runs; the settings keys are those `tavrio-cli settings` prints;
both pages carry the programs' version and format without a warning.
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile

OPTION = re.compile(r"(?<![\w-])--?[a-z][a-z0-9-]*")

failures = []


def fail(message):
    failures.append(message)


def run(*args, env=None):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=60, env=env)


def plain(text):
    """Roff text as the reader sees it: escapes resolved, fonts dropped."""
    text = re.sub(r"\\f(\[[^]]*\]|\(..|.)", "", text)
    text = text.replace("\\-", "-").replace("\\(dq", '"').replace("\\&", "").replace("\\ ", " ")
    return text.replace("\\e", "\\")


def macro_text(line):
    """A line of the page as text: a font macro's arguments joined as the macro joins them."""
    if not line.startswith("."):
        return plain(line)
    name, _, rest = line[1:].partition(" ")
    try:
        args = shlex.split(rest.replace("\\", "\\\\"), posix=True)
    except ValueError:
        args = rest.split()
    args = [a.replace("\\\\", "\\") for a in args]
    if name in ("B", "I", "SM", "SB"):
        return plain(" ".join(args))
    if name in ("BR", "RB", "BI", "IB", "IR", "RI"):
        return plain("".join(args))
    return ""


class Page:
    """A man(7) page split into sections, each a list of entries: (tag, body lines, nested tags)."""

    def __init__(self, path):
        self.path = path
        self.source = open(path, encoding="utf-8").read()
        self.title = None
        self.sections = {}
        section = None
        entries = None
        expect_tag = False
        nested = 0
        for line in self.source.splitlines():
            if line.startswith('.\\"'):
                continue
            if line.startswith(".TH "):
                self.title = shlex.split(line[4:])
                continue
            if line.startswith(".SH "):
                section = plain(line[4:]).strip().strip('"')
                entries = self.sections.setdefault(section, [])
                nested = 0
                continue
            if entries is None:
                continue
            if line.startswith(".RS"):
                nested += 1
                continue
            if line.startswith(".RE"):
                nested -= 1
                continue
            if line.startswith(".TP"):
                expect_tag = True
                continue
            if expect_tag:
                expect_tag = False
                if nested == 0:
                    entries.append({"tag": macro_text(line), "body": [], "nested": []})
                elif entries:
                    entries[-1]["nested"].append(macro_text(line))
                continue
            if entries:
                entries[-1]["body"].append(macro_text(line))
            else:
                entries.append({"tag": "", "body": [macro_text(line)], "nested": []})

    def tags(self, section):
        return [e["tag"] for e in self.sections.get(section, [])]

    def text(self, section):
        return "\n".join(e["tag"] + "\n" + "\n".join(e["body"]) for e in self.sections.get(section, []))


def options_in(text):
    return set(OPTION.findall(text))


def compare(what, program, page):
    for o in sorted(program - page):
        fail(f"{what}: {o} is in the program's --help but not in the manual page")
    for o in sorted(page - program):
        fail(f"{what}: {o} is in the manual page but not in the program's --help")


def check_formatting(path):
    r = run("groff", "-man", "-ww", "-z", path)
    if r.returncode != 0 or r.stderr.strip():
        fail(f"{path}: groff warns: {r.stderr.strip()}")
    r = run("lexgrog", path)
    if r.returncode != 0:
        fail(f"{path}: no NAME section whatis/apropos can read ({r.stdout.strip()} {r.stderr.strip()})")


def check_version(page, program):
    r = run(program, "--version")
    version = r.stdout.split("\n", 1)[0].split()[-1] if r.returncode == 0 and r.stdout else None
    if not page.title or len(page.title) < 4 or page.title[3].split()[-1] != version:
        fail(f"{page.path}: the .TH line names {page.title[3] if page.title else None!r}, "
             f"the program says {version!r}")


def page_and_help(program, man_dir, name):
    """The program's page, checked for its formatting and version, and its --help (None when it fails)."""
    path = os.path.join(man_dir, name + ".1")
    page = Page(path)
    check_formatting(path)
    check_version(page, program)
    r = run(program, "--help")
    if r.returncode != 0:
        fail(f"{name} --help exits {r.returncode}: {r.stderr}")
        return page, None
    return page, r.stdout


def general_options(page):
    return options_in(page.text("SYNOPSIS")) | options_in("\n".join(page.tags("OPTIONS")))


def check_window(tavrio, man_dir):
    page, usage = page_and_help(tavrio, man_dir, "tavrio")
    if usage is not None:
        compare("tavrio", options_in(usage), general_options(page))


def cli_commands(help_text):
    """The command names of tavrio-cli --help: the indented lines after "commands:"."""
    names = []
    listing = False
    for line in help_text.splitlines():
        if line == "commands:":
            listing = True
        elif listing and not line.strip():
            break
        elif listing:
            m = re.match(r"  ([a-z][a-z0-9-]*)\b", line)
            if m:
                names.append(m.group(1))
    return names


def check_cli(cli, man_dir):
    page, usage = page_and_help(cli, man_dir, "tavrio-cli")
    if usage is None:
        return
    commands = cli_commands(usage)
    if not commands:
        fail(f"tavrio-cli --help lists no commands:\n{usage}")
        return
    compare("tavrio-cli", options_in(usage.split("commands:", 1)[0]), general_options(page))

    entries = {}
    for entry in page.sections.get("COMMANDS", []):
        words = entry["tag"].split()
        if not words:
            fail(f"{page.path}: an entry under COMMANDS has no command in its tag")
            continue
        entries[words[0]] = entry
    for name in commands:
        if name not in entries:
            fail(f"tavrio-cli {name}: not in the manual page")
    for name, entry in entries.items():
        usage = run(cli, name, "--help")
        if name not in commands or usage.returncode != 0:
            fail(f"tavrio-cli {name}: in the manual page, but the program does not have it "
                 f"({usage.stderr.strip()})")
            continue
        first = usage.stdout.split("\n", 1)[0]
        documented = options_in(entry["tag"]) | {o for tag in entry["nested"] for o in options_in(tag)
                                                  if tag.startswith("-")}
        compare(f"tavrio-cli {name}", options_in(first) - {"--help"}, documented)

    # The settings keys: what the program prints in a fresh home, against the settings entry.
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, TAVRIO_HOME=home)
        r = run(cli, "settings", env=env)
    keys = {line.split("=", 1)[0] for line in r.stdout.splitlines() if "=" in line}
    if r.returncode != 0 or not keys:
        fail(f"tavrio-cli settings printed no keys (exit {r.returncode}): {r.stderr}")
    elif "settings" in entries:
        documented = {tag.split()[0] for tag in entries["settings"]["nested"] if tag.split()}
        for k in sorted(keys - documented):
            fail(f"tavrio-cli settings: the key {k} is not in the manual page")
        for k in sorted(documented - keys):
            fail(f"tavrio-cli settings: the manual page names a key {k} the program does not have")


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    tavrio, cli, man_dir = sys.argv[1:]
    check_window(tavrio, man_dir)
    check_cli(cli, man_dir)
    for f in failures:
        print("FAIL:", f)
    if not failures:
        print("the manual pages match tavrio and tavrio-cli")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
