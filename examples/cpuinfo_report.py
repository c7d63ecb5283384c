#!/usr/bin/env python3
"""Prints this machine's processor report, indented.

Usage: cpuinfo_report.py [MODULE]

Uses the velquorn_cpuinfo package: the installed one (pip install the wheel),
else the copy in this source tree (bindings/python). MODULE is the library to
load; without it, the package looks where it always does: the file named by
VELQUORN_CPUINFO_LIBRARY, the copy bundled in the package, then the system
loader. From a source tree after `cmake --workflow --preset test`:

    examples/cpuinfo_report.py build/native/libvelquorn-cpuid-cpu-info.so
"""
import json
import os
import sys

try:
    import velquorn_cpuinfo
except ImportError:
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, os.path.join(here, os.pardir, "bindings", "python"))
    import velquorn_cpuinfo


def main(argv):
    if len(argv) > 2:
        print("usage: cpuinfo_report.py [MODULE]", file=sys.stderr)
        return 2
    try:
        if len(argv) == 2:
            velquorn_cpuinfo.load(argv[1])
        report = velquorn_cpuinfo.report()
    except velquorn_cpuinfo.LibraryLoadError as err:
        print(f"cpuinfo_report.py: {err}", file=sys.stderr)
        return 1
    print(json.dumps(report, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
