#!/usr/bin/python3
"""Checks that each instruction-set variant of the passes keeps its code to itself.

    check_variant_symbols.py <nm> <archive>...

The variant files (pass_sse41, pass_avx2, pass_avx512, pass_avx512_icl) are
compiled with their own instruction-set flags. A function they share with
another object by name (an inline function of a header, a template
instantiated alike, a standard-library helper the compiler did not inline)
is emitted by each object that uses it, and the linker keeps one copy: it may
be the one compiled for AVX-512, which then runs on processors without it.
Fails (exit code 1, naming each symbol and its objects) when a variant object
defines a weak or global symbol that another object of the archives also
defines. Weak ELF symbols and COFF's COMDAT definitions are both global
definitions to nm.
"""
import collections
import re
import subprocess
import sys

VARIANT = re.compile(r"pass_(sse41|avx2|avx512|avx512_icl)\.cpp\.(o|obj)$")
# Defined symbols that another object can share: global or weak code and data.
SHARABLE_TYPES = set("TDBRVWuiGS")
# Type descriptors (typeinfo and its name, which UndefinedBehaviorSanitizer's
# function checks emit): the ABI makes them the same bytes in every object,
# and they hold no instructions.
TYPE_DESCRIPTOR = re.compile(r"_ZT[IS]")
LINE = re.compile(r"^[^:]*:(?P<member>[^:]+):\s*(?:[0-9a-fA-F]+\s+)?(?P<kind>\S)\s+(?P<symbol>\S+)$")


def definitions(nm, archive):
    """(member, symbol) for each sharable symbol a member defines."""
    listed = subprocess.run([nm, "-A", "--defined-only", archive], check=True, capture_output=True, text=True)
    found = []
    for line in listed.stdout.splitlines():
        # "archive:member:address type name" (GNU), "archive:member: address type name" (LLVM)
        line_match = LINE.match(line)
        if line_match and line_match["kind"] in SHARABLE_TYPES and not TYPE_DESCRIPTOR.match(line_match["symbol"]):
            found.append((line_match["member"], line_match["symbol"]))
    return found


def demangled(symbols):
    try:
        out = subprocess.run(["c++filt"], input="\n".join(symbols), check=True, capture_output=True, text=True)
        return out.stdout.splitlines()
    except (OSError, subprocess.CalledProcessError):
        return list(symbols)


def main():
    nm, archives = sys.argv[1], sys.argv[2:]
    owners = collections.defaultdict(set)
    for archive in archives:
        for member, symbol in definitions(nm, archive):
            owners[symbol].add(member)
    variants = sorted({m for members in owners.values() for m in members if VARIANT.search(m)})
    if not variants:
        print("no variant objects in " + ", ".join(archives) + ": nothing checked")
        return 1
    shared = sorted(s for s, members in owners.items()
                    if len(members) > 1 and any(VARIANT.search(m) for m in members))
    print(f"{len(variants)} variant objects: {', '.join(variants)}; {len(shared)} symbols shared with another object")
    for symbol, name in zip(shared, demangled(shared)):
        print(f"  {name}: defined by {', '.join(sorted(owners[symbol]))}")
    return 1 if shared else 0


if __name__ == "__main__":
    sys.exit(main())
