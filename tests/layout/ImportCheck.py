#!/usr/bin/env python3
"""Both programs start on the oldest Windows they are made for: the 32-bit Tarvex.exe on 32-bit Windows XP, the
64-bit Tarvex64.exe on Windows XP x64 / Server 2003. A loader refuses a program whose import table names a
function its system does not export, before any code runs, and Wine cannot show that. This reads the import
tables of both built programs and fails naming every import that OldestWindowsExports.txt (beside this file)
does not list for that program.

Usage: ImportCheck.py <repository root> (the programs are found in TARVEX_BUILD and TARVEX_BUILD64, by default
build/ and build64/ of the root)."""
import os
import struct
import sys


def read_imports(path):
    """The (DLL, function) pairs of a PE file's import table; DLL names upper case, ordinals as '#N'."""
    with open(path, "rb") as file:
        data = file.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(path + " is not a PE file")
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    wide = magic == 0x20B
    directories = optional + (112 if wide else 96)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    table = optional + optional_size
    spans = []
    for i in range(sections):
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        spans.append((virtual_address, max(virtual_size, raw_size), raw_offset))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address 0x%x lies in no section of %s" % (rva, path))

    def text(rva):
        at = offset(rva)
        return data[at:data.index(b"\0", at)].decode("ascii")

    imports = set()
    entry = offset(import_rva)
    thunk_size, ordinal_bit = (8, 1 << 63) if wide else (4, 1 << 31)
    while True:
        lookup, _, _, name, first = struct.unpack_from("<IIIII", data, entry)
        if name == 0:
            break
        dll = text(name).upper()
        at = offset(lookup or first)
        while True:
            value = struct.unpack_from("<Q" if wide else "<I", data, at)[0]
            if value == 0:
                break
            if value & ordinal_bit:
                imports.add((dll, "#%d" % (value & 0xFFFF)))
            else:
                imports.add((dll, text((value & 0x7FFFFFFF) + 2)))
            at += thunk_size
        entry += 20
    return imports


def read_list(path):
    """The listed exports: {(DLL, function): 'both', 'x64' or 'x86'}."""
    listed = {}
    with open(path, encoding="utf-8") as file:
        for number, line in enumerate(file, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            if len(words) not in (2, 3) or (len(words) == 3 and words[2] not in ("x64", "x86")):
                raise ValueError("%s, line %d: 'DLL FUNCTION [x64|x86]' expected" % (path, number))
            listed[(words[0].upper(), words[1])] = words[2] if len(words) == 3 else "both"
    return listed


def unlisted(imports, listed, wide):
    own = "x64" if wide else "x86"
    return sorted(pair for pair in imports if listed.get(pair) not in ("both", own))


def main():
    root = sys.argv[1]
    listed = read_list(os.path.join(os.path.dirname(os.path.abspath(__file__)), "OldestWindowsExports.txt"))
    programs = [
        (os.environ.get("TARVEX_BUILD", os.path.join(root, "build")), "Tarvex.exe", False, "32-bit Windows XP"),
        (os.environ.get("TARVEX_BUILD64", os.path.join(root, "build64")), "Tarvex64.exe", True,
         "Windows XP x64 / Server 2003"),
    ]
    failed = 0
    for folder, name, wide, system in programs:
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            print("%s is missing: build both programs first (scripts/build.sh)" % path)
            failed = 1
            continue
        imports = read_imports(path)
        missing = unlisted(imports, listed, wide)
        for dll, function in missing:
            print("%s imports %s!%s, which %s does not export (or which nobody has checked yet: "
                  "see OldestWindowsExports.txt)" % (name, dll, function, system))
        print("%s: %d imports, %d not on the list" % (name, len(imports), len(missing)))
        failed |= bool(missing)
    return failed


if __name__ == "__main__":
    sys.exit(main())
