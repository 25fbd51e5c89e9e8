#!/usr/bin/python3
"""Makes the release archive as make release does and checks what it holds.

    check_release_archive.py <cpack> <CPackConfig.cmake> <version> <Quorvandile.aex> <README.md>

Fails (exit code 1, with every finding) unless the archive is named after the
effect and the version, holds the built plug-in file and INSTALL.txt at its
top and nothing else, and INSTALL.txt (Windows line ends) names the category
and the name the file registers, the version, the installer, and every host
suite the README's table lists, at its version.
"""
import io
import os
import re
import subprocess
import sys
import tempfile
import zipfile

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "windows"))
import check_aex  # noqa: E402  (the PiPL decoder of the plug-in file's check)


def registration(aex):
    """{key: value} of the plug-in file's PiPL."""
    found = check_aex.resources(pefile.PE(data=aex))
    blob = next(iter(found[("PIPL", check_aex.PIPL_ID)].values()))
    encodings = {key: encoding for key, encoding, _ in check_aex.EXPECTED_PIPL}
    return {key: check_aex.decode_value(encodings[key], raw) for key, raw in check_aex.decode_pipl(blob)}


def suites(readme):
    """(name, version) of each row of the README's table of host suites."""
    return re.findall(r'^\| "([^"]+)" \| (\d+) \|', readme, re.MULTILINE)


def check(cpack, config, version, aex_path, readme_path):
    findings = []
    with open(aex_path, "rb") as file:
        aex = file.read()
    pipl = registration(aex)
    name, category = pipl["name"], pipl["catg"]

    with tempfile.TemporaryDirectory() as directory:
        made = subprocess.run([cpack, "-G", "ZIP", "--config", config, "-B", directory],
                              capture_output=True, text=True)
        if made.returncode != 0:
            return [f"cpack failed:\n{made.stdout}{made.stderr}"]
        archive_name = f"{name}-{version}-win64.zip"
        archive_path = os.path.join(directory, archive_name)
        if not os.path.exists(archive_path):
            return [f"no {archive_name}; cpack made {sorted(os.listdir(directory))}"]
        with zipfile.ZipFile(archive_path) as archive:
            names = sorted(archive.namelist())
            contents = {entry: archive.read(entry) for entry in names}
        size = os.path.getsize(archive_path)

    plugin_file = f"{name}.aex"
    if names != sorted([plugin_file, "INSTALL.txt"]):
        return [f"the archive holds {names}, expected {plugin_file} and INSTALL.txt"]
    if contents[plugin_file] != aex:
        findings.append(f"{plugin_file} in the archive is not the built file")

    raw = contents["INSTALL.txt"]
    if raw.count(b"\r\n") != raw.count(b"\n"):
        findings.append("INSTALL.txt has line ends other than CR LF")
    install = raw.decode("utf-8")
    for fact in (f'"{category}"', f'"{name}"', f"{name} {version}", plugin_file, f"{name}-{version}-win64-setup.exe"):
        if fact not in install:
            findings.append(f"INSTALL.txt does not say {fact}")
    with open(readme_path, encoding="utf-8") as file:
        listed = suites(file.read())
    if not listed:
        findings.append("the README lists no host suites")
    for suite, suite_version in listed:
        if not re.search(rf'^\s*"{re.escape(suite)}"\s+{suite_version}\r?$', install, re.MULTILINE):
            findings.append(f'INSTALL.txt does not list "{suite}" {suite_version}')
    mentioned = re.findall(r'^\s*"[^"]+ Suite"\s+\d+\r?$', install, re.MULTILINE)
    if len(mentioned) != len(listed):
        findings.append(f"INSTALL.txt lists {len(mentioned)} suites, the README {len(listed)}")

    print(f"{archive_name}: {size} bytes; " + ", ".join(f"{entry} ({len(contents[entry])} bytes)" for entry in names))
    return findings


def main():
    if len(sys.argv) != 6:
        print(__doc__, file=sys.stderr)
        return 2
    findings = check(*sys.argv[1:])
    for finding in findings:
        print(f"FAIL: {finding}", file=sys.stderr)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
