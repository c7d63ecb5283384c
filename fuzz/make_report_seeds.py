#!/usr/bin/env python3
"""Writes the seed machines of fuzz_report into corpus/fuzz_report/.

Each seed is the input layout that fuzz_report.cpp describes: the fake
operating system's answers, then 24-byte CPUID records.
"""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_report")


def core_records(count, smt):
    # RelationProcessorCore (0), Size 48, Flags, then zeros.
    return b"".join(struct.pack("<IIB39x", 0, 48, 1 if smt else 0) for _ in range(count))


def os_part(logical, cores, counters=(1000, 51000000), tscs=(5000, 130000000), mhz=0):
    cores_list = core_records(cores, logical > cores)
    head = struct.pack("<IIBIII", logical, logical, 0, 122, 0, 0)
    head += struct.pack("<H", len(cores_list)) + cores_list
    head += struct.pack("<qqqQQ", 1000000000, *counters, *tscs)
    head += struct.pack("<iiII", 0 if mhz else 2, 0, mhz, 4)
    return head


def regs(text):
    data = text.encode("latin-1").ljust(16, b"\0")
    return struct.unpack("<IIII", data)


def vendor(max_leaf, name):
    ebx, edx, ecx = struct.unpack("<III", name.encode())
    return (0, 0, max_leaf, ebx, ecx, edx)


def brand(text):
    text = text.ljust(48, "\0")
    return [(0x80000002 + i, 0, *regs(text[16 * i:16 * i + 16])) for i in range(3)]


def cpuid(records):
    return b"".join(struct.pack("<6I", *r) for r in records)


SEEDS = {
    # A descriptor-walking processor with leaf 16h and two threads per core.
    "intel-like": os_part(8, 4) + cpuid(
        [vendor(0x16, "GenuineIntel"), (1, 0, 0x000906E1, 0, 0x7FFAFBBF, 0xBFEBFBFF),
         (7, 0, 0, 0x029C67AF, 0, 0), (4, 0, 0x1C004121, 0x01C0003F, 0x3F, 0),
         (4, 1, 0x1C004122, 0x01C0003F, 0x3F, 0), (4, 2, 0x1C004143, 0x00C0003F, 0x3FF, 0),
         (4, 3, 0x1C03C163, 0x02C0003F, 0x1FFF, 6), (0x16, 0, 3000, 4500, 100, 0),
         (0x80000000, 0, 0x80000008, 0, 0, 0), (0x80000001, 0, 0, 0, 0x121, 0x2C100800)]
        + brand("  Made-up Core Processor @ 3.00GHz")),
    # A processor of the other vendor with leaf 8000001Dh, clock from "~MHz".
    "amd-like": os_part(4, 4, mhz=2800) + cpuid(
        [vendor(0x0D, "AuthenticAMD"), (1, 0, 0x00A00F11, 0, 0xF6F83203, 0x178BFBFF),
         (0x80000000, 0, 0x80000021, 0, 0, 0), (0x80000001, 0, 0, 0, 0x75C237FF, 0x2FD3FBFF),
         (0x8000001D, 0, 0x121, 0x01C0003F, 0x3F, 0), (0x8000001D, 1, 0x122, 0x01C0003F, 0x3F, 0),
         (0x8000001D, 2, 0x143, 0x01C0003F, 0x3FF, 2)]
        + brand("Made-up EPYC-ish Processor")),
    # An older processor of that vendor: sizes from 80000005h and 80000006h.
    "amd-size-leaves": os_part(2, 2) + cpuid(
        [vendor(0x01, "AuthenticAMD"), (0x80000000, 0, 0x80000006, 0, 0, 0),
         (0x80000005, 0, 0, 0, 0x40020140, 0x40020140),
         (0x80000006, 0, 0, 0, 0x02006140, 0x00200000)]),
    # A clock that does not advance and a brand full of bytes to escape.
    "stopped-clock": os_part(1, 0, counters=(7, 7), tscs=(9, 8)) + cpuid(
        [vendor(0x80000000, 'Quote"Back\\!'), (0x80000000, 0, 0x80000004, 0, 0, 0)]
        + brand("tab\tnewline\nhigh\xe9\x01")),
}

if __name__ == "__main__":
    os.makedirs(HERE, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
