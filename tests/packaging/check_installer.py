#!/usr/bin/python3
"""Runs the Windows installer under Wine as a studio's deployment script would.

    check_installer.py <wine-run.sh> <hold_file.exe> <makensis> <installer.nsi> <setup.exe> <Quorvandile.aex>
                       <version>

In a Wine prefix of its own, made in a temporary folder and removed after: a
silent install with no After Effects in the registry fails with its code and
writes nothing; with After Effects versions registered (folders with spaces,
non-ASCII letters, a trailing backslash, one key with no plug-in folder) an
earlier version built here from the same script, then this one, leave only
this one's file, byte for byte, in the category subfolder of each registered
folder; the same version again repairs a damaged file; a folder that cannot be
written, or a file in use, gives its code; the silent uninstaller, run as the
README says, keeps a file in use recorded, with its code, and otherwise
removes every file it installed and its registry entry and nothing else.
Exit code 1 with the first failure.
"""
import contextlib
import os
import subprocess
import sys
import tempfile
import time

NAME = "Quorvandile"
CATEGORY = "Zenthi"
HOSTS_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Adobe\After Effects"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + NAME
UNINSTALL_DIR = r"C:\Program Files" + "\\" + NAME
SETUP = r"C:\setup\setup.exe"
UNINSTALL_SCRIPT = r"C:\setup\uninstall.cmd"
# The installer's documented exit codes.
EXIT_NO_HOST = 3
EXIT_NOT_WRITTEN = 4
EXIT_NOT_REMOVED = 5


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


class Prefix:
    """A Wine prefix of the test's own, and its C: drive seen from here."""

    def __init__(self, wine_run, hold_file, root):
        self.wine_run = wine_run
        self.hold_file = hold_file
        self.root = root
        self.env = dict(os.environ, WINEPREFIX=os.path.join(root, "prefix"))

    def run(self, *args):
        return subprocess.run([self.wine_run, *args], env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True).returncode

    def expect_exit(self, code, what, *args):
        """Runs a program, which must exit with `code`; `what` says what it does."""
        got = self.run(*args)
        expect(got == code, f"{what}: exit code {got}, not {code}")

    @contextlib.contextmanager
    def held(self, windows_path):
        """`windows_path` in use by a program that shares it with no one."""
        holder = subprocess.Popen([self.wine_run, self.hold_file, windows_path], env=self.env,
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            if holder.stdout.readline().strip() != b"held":
                holder.stdin.close()
                raise Failure(f"cannot hold {windows_path}: {holder.stderr.read().decode(errors='replace')}")
            yield
        finally:
            if not holder.stdin.closed:
                holder.stdin.close()
            holder.wait(timeout=60)

    def path(self, windows_path):
        expect(windows_path[:3].upper() == "C:\\", f"{windows_path} is not on C:")
        parts = [part for part in windows_path[3:].split("\\") if part]
        return os.path.join(self.env["WINEPREFIX"], "drive_c", *parts)

    def write(self, windows_path, data):
        os.makedirs(os.path.dirname(self.path(windows_path)), exist_ok=True)
        with open(self.path(windows_path), "wb") as file:
            file.write(data)

    def read(self, windows_path):
        with open(self.path(windows_path), "rb") as file:
            return file.read()

    def import_registry(self, lines):
        """Imports a .reg file of `lines` (UTF-16, so any letter goes through)."""
        text = "\r\n".join(["Windows Registry Editor Version 5.00", "", *lines, ""])
        self.write(r"C:\import.reg", b"\xff\xfe" + text.encode("utf-16-le"))
        expect(self.run("regedit", "/S", r"C:\import.reg") == 0, "regedit could not import the keys")

    def values(self, key):
        """{name: value} of a registry key (strings and DWORDs), or None without it."""
        if self.run("reg", "export", key, r"C:\export.reg", "/y") != 0:
            return None
        text = self.read(r"C:\export.reg").decode("utf-16")
        found = {}
        for line in text.splitlines():
            if not line.startswith('"'):
                continue
            name, _, value = line.partition('"=')
            name = name[1:]
            if value.startswith("dword:"):
                found[name] = int(value[6:], 16)
            else:
                found[name] = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        return found

    def files_outside_wine(self):
        """Every folder and file on C: but Windows' own and the users' ones."""
        drive = os.path.join(self.env["WINEPREFIX"], "drive_c")
        found = []
        for folder, folders, files in os.walk(drive):
            if folder == drive:
                folders[:] = [name for name in folders if name not in ("windows", "users")]
            found += [os.path.join(folder, name) for name in folders + files]
        return sorted(found)

    def plugin_files(self):
        """Every installed plug-in file on C:, as Windows paths."""
        drive = os.path.join(self.env["WINEPREFIX"], "drive_c")
        found = []
        for folder, _, files in os.walk(drive):
            if f"{NAME}.aex" in files:
                relative = os.path.relpath(os.path.join(folder, f"{NAME}.aex"), drive)
                found.append("C:\\" + relative.replace("/", "\\"))
        return sorted(found)


def host_key(version, folder=None):
    lines = [f"[{HOSTS_KEY}\\{version}]"]
    if folder is not None:
        lines.append('"PluginInstallPath"="' + folder.replace("\\", "\\\\") + '"')
    else:
        lines.append('"Language"="en_US"')
    return lines + [""]


def recorded(entry):
    """The installed files an uninstall entry records, sorted."""
    return sorted(entry.get(f"File{i}") for i in range(1, entry.get("FileCount", 0) + 1))


def installed(folder):
    return folder.rstrip("\\") + "\\" + CATEGORY + "\\" + NAME + ".aex"


def check(wine_run, hold_file, makensis, script, setup, aex_path, version):
    with open(aex_path, "rb") as file:
        aex = file.read()
    with tempfile.TemporaryDirectory(prefix="quorvandile-installer-") as root:
        wine = Prefix(wine_run, hold_file, root)
        started = time.monotonic()
        try:
            wine.expect_exit(0, "making a Wine prefix", "cmd", "/c", "exit", "0")
            made = time.monotonic()
            print(f"new Wine prefix: {made - started:.1f} s")
            run_checks(wine, makensis, script, setup, aex, version, root)
            print(f"installer runs: {time.monotonic() - made:.1f} s")
        finally:
            wine.run("--kill")


def run_checks(wine, makensis, script, setup, aex, version, root):
    spaces = r"C:\Program Files\Adobe\Adobe After Effects 2024\Support Files\Plug-ins"
    accents = "C:\\Effets spéciaux\\Après Effets Ærø 2025\\Plug-ins\\"
    dropped = r"C:\AE 2023\Plug-ins"
    others = {spaces + r"\Other Effect.aex": b"another effect",
              accents + CATEGORY + r"\Read me.txt": b"the category folder holds more than the effect"}
    for path, data in others.items():
        wine.write(path, data)
    for folder in (spaces, accents, dropped):
        os.makedirs(wine.path(folder), exist_ok=True)
    with open(setup, "rb") as file:
        wine.write(SETUP, file.read())

    # No After Effects: the documented code, and nothing written (Wine's own
    # folders aside: the installer unpacks its helper into the user's temp).
    before = wine.files_outside_wine()
    wine.expect_exit(EXIT_NO_HOST, "a silent install with no After Effects", SETUP, "/S")
    expect(wine.files_outside_wine() == before, "with no After Effects the install wrote files")
    expect(wine.values(UNINSTALL_KEY) is None, "with no After Effects the uninstaller is registered")

    # An earlier version in three folders; one of them is no longer registered
    # when this version comes.
    wine.import_registry(host_key("23.0", dropped) + host_key("24.0", spaces) + host_key("25.0", accents)
                         + host_key("Beta"))
    older = b"an earlier version of the plug-in"
    with open(os.path.join(root, "older.aex"), "wb") as file:
        file.write(older)
    older_setup = wine.path(r"C:\setup\older.exe")
    built = subprocess.run([makensis, "-V1", "-DVERSION=0.9.0", f"-DPAYLOAD={os.path.join(root, 'older.aex')}",
                            f"-DOUTFILE={older_setup}", script], capture_output=True, text=True)
    expect(built.returncode == 0, f"makensis could not build the earlier version:\n{built.stdout}{built.stderr}")
    wine.expect_exit(0, "the earlier version's silent install", r"C:\setup\older.exe", "/S")
    for folder in (spaces, accents, dropped):
        expect(wine.read(installed(folder)) == older, f"the earlier version is not in {folder}")
    wine.expect_exit(0, "reg delete", "reg", "delete", HOSTS_KEY + r"\23.0", "/f")

    wine.expect_exit(0, "a silent install", SETUP, "/S")
    current = [installed(spaces), installed(accents)]
    expect(wine.plugin_files() == sorted(current), f"installed plug-in files: {wine.plugin_files()}")
    for path in current:
        expect(wine.read(path) == aex, f"{path} is not the built plug-in file")
    expect(not os.path.exists(wine.path(dropped + "\\" + CATEGORY)),
           "the earlier version's emptied category folder is left")
    entry = wine.values(UNINSTALL_KEY)
    expect(entry is not None, "no uninstall entry")
    uninstaller = UNINSTALL_DIR + r"\Uninstall.exe"
    for value, wanted in (("DisplayVersion", version), ("UninstallString", f'"{uninstaller}"'),
                          ("QuietUninstallString", f'"{uninstaller}" /S'), ("NoModify", 1), ("NoRepair", 1)):
        expect(entry.get(value) == wanted, f"uninstall entry: {value} is {entry.get(value)!r}, not {wanted!r}")
    for value in ("DisplayName", "Publisher"):
        expect(entry.get(value), f"uninstall entry: no {value}")
    expect(recorded(entry) == sorted(current), f"the uninstall entry records {recorded(entry)}")
    expect(os.path.isfile(wine.path(uninstaller)), "no uninstaller")

    # The same version again repairs.
    wine.write(installed(spaces), b"damaged")
    wine.expect_exit(0, "the same version's silent install again", SETUP, "/S")
    expect(wine.read(installed(spaces)) == aex, "installing the same version again does not repair the file")
    expect(wine.values(UNINSTALL_KEY).get("FileCount") == 2, "installing again records a file twice")

    # A plug-in folder whose category subfolder cannot be made, and a file in
    # use: the others are still installed, and the file in use stays recorded.
    blocked = r"C:\AE 2026\Plug-ins"
    wine.write(blocked + "\\" + CATEGORY, b"a file where the category folder would go")
    wine.import_registry(host_key("26.0", blocked))
    wine.write(installed(spaces), b"damaged")
    with wine.held(installed(spaces)):
        wine.expect_exit(EXIT_NOT_WRITTEN, "a silent install with a file in use and a folder it cannot write",
                         SETUP, "/S")
    expect(wine.read(installed(spaces)) == b"damaged", "a file in use was replaced")
    expect(wine.read(installed(accents)) == aex, "a file in use stopped the install elsewhere")
    entry = wine.values(UNINSTALL_KEY) or {}
    expect(recorded(entry) == sorted(current), f"after a failed install the uninstall entry records {entry}")
    wine.expect_exit(0, "reg delete", "reg", "delete", HOSTS_KEY + r"\26.0", "/f")
    wine.expect_exit(0, "a silent install once the file is free", SETUP, "/S")
    expect(wine.read(installed(spaces)) == aex, "installing again does not replace a file once free")

    # The uninstaller as a script runs it: it returns once it is done. A file
    # in use stays recorded for the next run.
    wine.write(UNINSTALL_SCRIPT,
               f'@"{uninstaller}" /S _?={UNINSTALL_DIR}\r\n@exit /b %errorlevel%\r\n'.encode("ascii"))
    with wine.held(installed(spaces)):
        wine.expect_exit(EXIT_NOT_REMOVED, "a silent uninstall with a file in use", "cmd", "/c", UNINSTALL_SCRIPT)
    entry = wine.values(UNINSTALL_KEY) or {}
    expect(recorded(entry) == [installed(spaces)], f"after a failed removal the uninstall entry records {entry}")
    expect(wine.plugin_files() == [installed(spaces)], f"left after uninstalling: {wine.plugin_files()}")
    wine.expect_exit(0, "a silent uninstall", "cmd", "/c", UNINSTALL_SCRIPT)
    expect(wine.plugin_files() == [], f"left after uninstalling: {wine.plugin_files()}")
    expect(wine.values(UNINSTALL_KEY) is None, "the uninstall entry is left")
    expect(not os.path.exists(wine.path(spaces + "\\" + CATEGORY)), "the emptied category folder is left")
    for path, data in others.items():
        expect(os.path.isfile(wine.path(path)) and wine.read(path) == data, f"uninstalling changed {path}")
    # Its own file, in use while it ran, goes at the next restart.
    wine.expect_exit(0, "Wine's restart", "wineboot", "--restart")
    expect(not os.path.exists(wine.path(UNINSTALL_DIR)), "the uninstaller's folder is left after a restart")


def main():
    if len(sys.argv) != 8:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        check(*sys.argv[1:])
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    print(f"{os.path.basename(sys.argv[5])}: {os.path.getsize(sys.argv[5])} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
