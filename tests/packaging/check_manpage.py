#!/usr/bin/python3
"""Checks the manual page against the tool it documents.

    check_manpage.py <quorvandile> <quorvandile.1>

Fails (exit code 1, with every finding) when groff warns about the page, when
it names another version than `quorvandile --version`, when an option that
the tool's help or a command's help shows is missing from it, or when a
control the plug-in registers is missing from its table of parameters with
its kind and default.
"""
import os
import re
import subprocess
import sys

COMMANDS = ["render", "lut", "params", "info", "demo"]
# The kinds of control that take a value, as `quorvandile params` names them.
VALUE_KINDS = ["popup", "colour", "slider", "percentage"]


def run(tool, *args):
    environment = {key: value for key, value in os.environ.items() if key != "QUORVANDILE_PLUGIN"}
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True, env=environment).stdout


def render(page):
    """The page as plain text, wide and unhyphenated, and groff's warnings."""
    result = subprocess.run(["groff", "-t", "-man", "-Tascii", "-ww", "-rLL=200n", "-rHY=0", page],
                            capture_output=True, text=True, env={**os.environ, "GROFF_NO_SGR": "1"})
    text = re.sub(r".\x08", "", result.stdout)  # overstruck bold and underline
    return text, result.stderr.strip()


def options(help_text):
    """Every option a help text shows, short and long."""
    return set(re.findall(r"(?:^|[\s,(\[])(--?[a-z][a-z0-9-]*)", help_text, re.MULTILINE))


def controls(listing):
    """(name, kind, default) of each control `quorvandile params` lists with a value."""
    found = []
    for line in listing.splitlines():
        columns = re.split(r"\s{2,}", line.strip())
        if len(columns) >= 4 and columns[0].isdigit() and columns[2] in VALUE_KINDS:
            found.append((columns[1], columns[2], columns[-1]))
    return found


def check(tool, page):
    findings = []
    text, warnings = render(page)
    if warnings:
        findings.append(f"groff warns: {warnings}")

    version = run(tool, "--version").splitlines()[0].split()[-1]  # "quorvandile M.m.b", then the plug-in's
    if not re.search(rf"\bQuorvandile {re.escape(version)}\b", text):
        findings.append(f"the page does not name version {version}")

    shown = options(run(tool, "--help"))
    for command in COMMANDS:
        shown |= options(run(tool, command, "--help"))
    for option in sorted(shown):
        if not re.search(rf"(?<![\w-]){re.escape(option)}(?![\w-])", text):
            findings.append(f"option {option} is not documented")

    listed = controls(run(tool, "params"))
    if not listed:
        findings.append("quorvandile params listed no controls")
    for name, kind, default in listed:
        row = rf"^\s*{re.escape(name)}\s{{2,}}{kind}\s+{re.escape(default)}\s"
        if not re.search(row, text, re.MULTILINE):
            findings.append(f"parameter {name} ({kind}, default {default}) is not in the table")

    print(f"{page}: version {version}; {len(shown)} options, {len(listed)} parameters checked")
    return findings


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    findings = check(sys.argv[1], sys.argv[2])
    for finding in findings:
        print(f"FAIL: {finding}", file=sys.stderr)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
