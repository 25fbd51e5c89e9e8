#!/usr/bin/python3
"""Checks that a plug-in file asks its operating system for nothing of its own.

    check_imports.py <Quorvandile.so | Quorvandile.aex> [nm]

The plug-in lives in the host's process: it has no configuration, reads no
files and asks the system nothing about the machine (its choices come from
the processor, through cpuid). Fails (exit code 1, naming each one) when the
file imports a function that reads the environment, asks for system
information, opens or finds files, reads the registry or loads other
libraries. Prints every import, so that what remains can be reviewed.

An ELF file's imports are its undefined dynamic symbols (read with nm, the
second argument, default "nm"); a PE file's are its import table (pefile).
"""
import re
import subprocess
import sys

# Whole names, as the C library (glibc, msvcrt.dll) or KERNEL32.dll export them.
FORBIDDEN = [
    # the environment
    r"getenv", r"secure_getenv", r"_wgetenv", r"getenv_s", r"_dupenv_s", r"_wdupenv_s", r"putenv", r"_putenv",
    r"setenv", r"unsetenv", r"environ", r"__environ", r"_environ", r"GetEnvironmentVariable[AW]?",
    r"SetEnvironmentVariable[AW]?", r"GetEnvironmentStrings[AW]?", r"ExpandEnvironmentStrings[AW]?",
    # what the system says of the machine
    r"sysconf", r"get_nprocs(_conf)?", r"sysinfo", r"uname", r"GetSystemInfo", r"GetNativeSystemInfo",
    r"GetLogicalProcessorInformation(Ex)?", r"GlobalMemoryStatus(Ex)?", r"GetSystemFirmwareTable",
    r"GetVersion(Ex[AW]?)?", r"IsProcessorFeaturePresent",
    # files and directories
    r"fopen(64)?", r"_wfopen", r"fopen_s", r"freopen(64)?", r"open(64)?", r"openat(64)?", r"_open", r"_wopen",
    r"_sopen(_s)?", r"_wsopen(_s)?", r"creat(64)?", r"opendir", r"stat(64)?", r"__xstat(64)?", r"access",
    r"CreateFile[AW2]?", r"OpenFile", r"_lopen", r"FindFirstFile(Ex)?[AW]?", r"GetFileAttributes(Ex)?[AW]?",
    r"DeleteFile[AW]?", r"GetModuleFileName[AW]?",
    # the registry
    r"Reg[A-Z]\w*",
    # other libraries
    r"dlopen", r"dlsym", r"LoadLibrary(Ex)?[AW]?", r"GetProcAddress",
]
FORBIDDEN_NAME = re.compile("|".join(f"(?:{name})" for name in FORBIDDEN))


def elf_imports(path, nm):
    listed = subprocess.run([nm, "-D", "--undefined-only", path], check=True, capture_output=True, text=True)
    # "   U getenv@GLIBC_2.2.5": the name without its version
    return [("", line.split()[-1].split("@")[0]) for line in listed.stdout.splitlines() if line.strip()]


def pe_imports(path):
    import pefile

    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    return [(entry.dll.decode(), imported.name.decode() if imported.name else f"#{imported.ordinal}")
            for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) for imported in entry.imports]


def main():
    path = sys.argv[1]
    nm = sys.argv[2] if len(sys.argv) > 2 else "nm"
    with open(path, "rb") as f:
        magic = f.read(4)
    imports = elf_imports(path, nm) if magic == b"\x7fELF" else pe_imports(path)
    print(f"{path}: {len(imports)} imports: " + ", ".join(f"{lib}!{name}" if lib else name for lib, name in imports))
    forbidden = [(lib, name) for lib, name in imports if FORBIDDEN_NAME.fullmatch(name)]
    for lib, name in forbidden:
        print(f"{path}: imports {lib + '!' if lib else ''}{name}: the plug-in calls no such system service")
    return 1 if forbidden else 0


if __name__ == "__main__":
    sys.exit(main())
