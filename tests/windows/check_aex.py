#!/usr/bin/python3
"""Checks the shape of the finished Windows plug-in file: what a host and
Windows read from it before any of its code runs.

    check_aex.py <Quorvandile.aex>

Fails (exit code 1, with every finding) when the file is not a 64-bit DLL, when
it exports anything but the undecorated EntryPointFunc, imports a library that
is not part of Windows, carries other resources or languages than the PiPL and
the manifest in US English, when the PiPL (decoded here on its own from the
host's published layout) says anything else than the effect declares, or when
the manifest asks for elevation or UI access.
"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

US_ENGLISH = 0x0409
RT_MANIFEST = 24
PIPL_ID = 16000
MANIFEST_ID = 2
# Libraries every Windows installation has; the C and C++ runtimes are linked in.
SYSTEM_LIBRARIES = {"kernel32.dll", "msvcrt.dll"}

# The effect's registration, in the order of the resource.
EXPECTED_PIPL = [
    ("kind", "fourcc", "eFKT"),
    ("name", "pascal", "Quorvandile"),
    ("catg", "pascal", "Zenthi"),
    ("8664", "cstring", "EntryPointFunc"),
    ("ePVR", "version", (2, 0)),
    ("eSVR", "version", (13, 0)),
    ("eVER", "long", 0x80601),
    ("eINF", "long", 0),
    ("eGLO", "long", 0x06000000),
    ("eGL2", "long", 0x1400),
    ("eMNA", "pascal", "Quorvandile"),
    ("aeFL", "long", 8),
]


def padded4(size):
    return (size + 3) // 4 * 4


def fourcc(raw):
    """A four-character code as stored on Windows: byte-reversed."""
    return raw[::-1].decode("latin-1")


def decode_pipl(data):
    """The properties of a PiPL blob as (key, data) pairs; raises ValueError."""
    if len(data) < 10:
        raise ValueError("shorter than the PiPL header")
    reserved, list_version, count = struct.unpack_from("<HII", data, 0)
    if reserved != 1 or list_version != 0:
        raise ValueError(f"header {reserved}, {list_version}: expected 1, 0")
    at, properties = 10, []
    for _ in range(count):
        if at + 16 > len(data):
            raise ValueError("a property header runs past the end")
        vendor, key = fourcc(data[at:at + 4]), fourcc(data[at + 4:at + 8])
        prop_id, length = struct.unpack_from("<II", data, at + 8)
        if vendor != "8BIM" or prop_id != 0:
            raise ValueError(f"property {key}: vendor {vendor!r}, id {prop_id}")
        at += 16
        if at + length > len(data) or length % 4:
            raise ValueError(f"property {key}: length {length} does not fit")
        properties.append((key, data[at:at + length]))
        at += length
    if at != len(data):
        raise ValueError(f"{len(data) - at} bytes after the last property")
    return properties


def decode_value(encoding, raw):
    if encoding == "fourcc":
        return fourcc(raw) if len(raw) == 4 else None
    if encoding == "long":
        return struct.unpack("<I", raw)[0] if len(raw) == 4 else None
    if encoding == "version":
        return struct.unpack("<HH", raw) if len(raw) == 4 else None
    if encoding == "pascal":
        if not raw or len(raw) != padded4(1 + raw[0]) or any(raw[1 + raw[0]:]):
            return None
        return raw[1:1 + raw[0]].decode("latin-1")
    if encoding == "cstring":
        text = raw.split(b"\0", 1)[0]
        if len(raw) != padded4(len(text) + 1) or any(raw[len(text):]):
            return None
        return text.decode("latin-1")
    raise AssertionError(encoding)


def check_pipl(data, findings):
    try:
        properties = decode_pipl(data)
    except ValueError as error:
        findings.append(f"PiPL is malformed: {error}")
        return
    keys = [key for key, _ in properties]
    if keys != [key for key, _, _ in EXPECTED_PIPL]:
        findings.append(f"PiPL keys {keys}")
        return
    for (key, raw), (_, encoding, expected) in zip(properties, EXPECTED_PIPL):
        value = decode_value(encoding, raw)
        if value != expected:
            findings.append(f"PiPL {key} is {value!r} (data {raw.hex()}), expected {expected!r}")


def check_manifest(data, findings):
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        findings.append(f"manifest is not XML: {error}")
        return
    levels = [element for element in root.iter() if element.tag.endswith("}requestedExecutionLevel")]
    if len(levels) != 1:
        findings.append(f"manifest has {len(levels)} requestedExecutionLevel elements")
        return
    attributes = dict(levels[0].attrib)
    if attributes != {"level": "asInvoker", "uiAccess": "false"}:
        findings.append(f"manifest asks for {attributes}")


def resources(pe):
    """{(type, id): {language: bytes}}; a named type by its name."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        kind = str(type_entry.name) if type_entry.name is not None else type_entry.id
        for name_entry in type_entry.directory.entries:
            name = str(name_entry.name) if name_entry.name is not None else name_entry.id
            for language_entry in name_entry.directory.entries:
                entry = language_entry.data.struct
                found.setdefault((kind, name), {})[language_entry.id] = pe.get_data(
                    entry.OffsetToData, entry.Size)
    return found


def check(path):
    findings = []
    pe = pefile.PE(path)
    characteristics = pe.FILE_HEADER.Characteristics
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]:
        findings.append(f"machine {pe.FILE_HEADER.Machine:#x}, not AMD64")
    if not characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_DLL"]:
        findings.append("not a DLL")
    if pe.OPTIONAL_HEADER.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS:
        findings.append("not a PE32+ image")

    exports = []
    if hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
        exports = [symbol.name.decode() if symbol.name else f"#{symbol.ordinal}"
                   for symbol in pe.DIRECTORY_ENTRY_EXPORT.symbols]
    if exports != ["EntryPointFunc"]:
        findings.append(f"exports {exports}, expected only EntryPointFunc")

    imports = sorted(entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    foreign = [name for name in imports if name.lower() not in SYSTEM_LIBRARIES]
    if foreign:
        findings.append(f"imports libraries that are not part of Windows: {foreign}")

    found = resources(pe)
    expected_keys = {("PIPL", PIPL_ID), (RT_MANIFEST, MANIFEST_ID)}
    if set(found) != expected_keys:
        findings.append(f"resources {sorted(map(str, found))}, expected {sorted(map(str, expected_keys))}")
    for key in expected_keys & set(found):
        if list(found[key]) != [US_ENGLISH]:
            findings.append(f"resource {key} in languages {[hex(l) for l in found[key]]}, expected 0x409")
    if ("PIPL", PIPL_ID) in found:
        check_pipl(next(iter(found[("PIPL", PIPL_ID)].values())), findings)
    if (RT_MANIFEST, MANIFEST_ID) in found:
        check_manifest(next(iter(found[(RT_MANIFEST, MANIFEST_ID)].values())), findings)

    print(f"{path}: {len(pe.__data__)} bytes; exports {exports}; imports {imports}; resources "
          + ", ".join(f"{kind}/{name}/{','.join(hex(l) for l in languages)}"
                      for (kind, name), languages in sorted(found.items(), key=str)))
    return findings


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    findings = check(sys.argv[1])
    for finding in findings:
        print(f"FAIL: {finding}", file=sys.stderr)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
