#!/usr/bin/env python3
"""Marks a 64-bit PE file compatible with CET shadow stacks, as link.exe's
/CETCOMPAT does: a debug directory of one entry of type 20 (extended DLL
characteristics) whose four bytes hold IMAGE_DLLCHARACTERISTICS_EX_CET_COMPAT.

GNU ld 2.40 has no option for it, so the entry is added after the link: objcopy
appends a read-only section .cetcomp (the entry, then the four bytes) after the
last section, and the optional header's debug directory is pointed at it.
Nothing else changes: not the imports, the entry point, the sections that
exist, or the header time. The file must have no debug directory yet.

  pe_cetcompat.py --objcopy <objcopy> <file.dll or file.exe>
"""
import argparse
import os
import struct
import subprocess
import sys

DEBUG_TYPE_EX_DLLCHARACTERISTICS = 20
EX_CET_COMPAT = 0x01
SECTION = ".cetcomp"
ENTRY = struct.Struct("<IIHHIIII")  # IMAGE_DEBUG_DIRECTORY, 28 bytes


def layout(data):
    """The optional header's offset and the section table (name, size, rva, raw offset)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0" or struct.unpack_from("<H", data, pe + 24)[0] != 0x20B:
        raise SystemExit("pe_cetcompat.py: not a 64-bit PE file")
    count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    table = pe + 24 + optional_size
    sections = []
    for at in range(table, table + 40 * count, 40):
        size, rva, _, raw = struct.unpack_from("<IIII", data, at + 8)
        sections.append((data[at:at + 8].rstrip(b"\0").decode("latin-1"), size, rva, raw))
    return pe + 24, sections


def checksum(data, field):
    """The PE image checksum: the 16-bit words summed with end-around carry, plus the length."""
    length = len(data)
    data = data[:field] + bytes(4) + data[field + 4:] + bytes(length % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return total + length


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objcopy", required=True)
    parser.add_argument("file")
    args = parser.parse_args()
    with open(args.file, "rb") as f:
        data = f.read()
    optional, sections = layout(data)
    if struct.unpack_from("<II", data, optional + 112 + 6 * 8) != (0, 0):
        raise SystemExit(f"pe_cetcompat.py: {args.file} already has a debug directory")
    image_base, alignment = struct.unpack_from("<QI", data, optional + 24)
    rva = max(r + s for _, s, r, _ in sections)
    rva = (rva + alignment - 1) // alignment * alignment
    blob = args.file + ".cetcomp"
    with open(blob, "wb") as f:
        f.write(ENTRY.pack(0, 0, 0, 0, DEBUG_TYPE_EX_DLLCHARACTERISTICS, 4, 0, 0))
        f.write(struct.pack("<I", EX_CET_COMPAT))
    try:
        subprocess.run([args.objcopy, "--add-section", f"{SECTION}={blob}",
                        "--set-section-flags", f"{SECTION}=contents,alloc,load,readonly,data",
                        "--change-section-address", f"{SECTION}={image_base + rva:#x}",
                        args.file], check=True)
    finally:
        os.remove(blob)
    with open(args.file, "rb") as f:
        data = bytearray(f.read())
    optional, sections = layout(data)
    found = [(r, raw) for name, _, r, raw in sections if name == SECTION]
    if len(found) != 1 or found[0][0] != rva:
        raise SystemExit(f"pe_cetcompat.py: objcopy did not place {SECTION} at {rva:#x}")
    raw = found[0][1]
    struct.pack_into("<II", data, raw + 20, rva + ENTRY.size, raw + ENTRY.size)
    struct.pack_into("<II", data, optional + 112 + 6 * 8, rva, ENTRY.size)
    if struct.unpack_from("<I", data, optional + 64)[0]:
        struct.pack_into("<I", data, optional + 64, checksum(bytes(data), optional + 64))
    with open(args.file, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
