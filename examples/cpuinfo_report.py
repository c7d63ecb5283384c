#!/usr/bin/env python3
"""Prints this machine's processor report, indented.

Usage: cpuinfo_report.py [MODULE]

MODULE is the path of the library; without it, the library is looked for
beside this script (velquorn-cpuid-cpu-info.dll on Windows,
libvelquorn-cpuid-cpu-info.so elsewhere). Only the standard library is used.
"""
import ctypes
import json
import os
import sys


def default_module():
    here = os.path.dirname(os.path.abspath(__file__))
    name = ("velquorn-cpuid-cpu-info.dll" if sys.platform == "win32"
            else "libvelquorn-cpuid-cpu-info.so")
    return os.path.join(here, name)


def load(path):
    lib = ctypes.CDLL(path)
    for name in ("cpuinfo_version", "cpuinfo_last_error", "cpuinfo_get_json"):
        getattr(lib, name).restype = ctypes.c_char_p
        getattr(lib, name).argtypes = []
    lib.cpuinfo_has_feature.restype = ctypes.c_int
    lib.cpuinfo_has_feature.argtypes = [ctypes.c_char_p]
    for name in ("cpuinfo_logical_cores", "cpuinfo_current_mhz"):
        getattr(lib, name).restype = ctypes.c_int
        getattr(lib, name).argtypes = []
    return lib


def main(argv):
    if len(argv) > 2:
        print("usage: cpuinfo_report.py [MODULE]", file=sys.stderr)
        return 2
    path = argv[1] if len(argv) == 2 else default_module()
    try:
        lib = load(path)
    except OSError as err:
        print(f"cpuinfo_report.py: cannot load {path}: {err}", file=sys.stderr)
        return 1
    # The library owns the text; copy it before the next report.
    report = json.loads(lib.cpuinfo_get_json().decode("ascii"))
    print(json.dumps(report, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
