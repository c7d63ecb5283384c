#!/usr/bin/env python3
"""Times the Python binding against the module's own report and against
py-cpuinfo's get_cpu_info(), in one run on this machine.

  bench_report.py [--module FILE] [--rounds N] [--py-cpuinfo-rounds N]

Uses the installed velquorn_cpuinfo, else the one in this source tree;
--module names the module file to load (else the package's usual search).
py-cpuinfo (Debian: python3-cpuinfo) is optional: without it, its rows are
left out. Prints a Markdown table.
"""
import argparse
import ctypes
import json
import os
import statistics
import subprocess
import sys
import time

try:
    import velquorn_cpuinfo as vc
except ImportError:
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
    import velquorn_cpuinfo as vc


def timed(call):
    start = time.perf_counter_ns()
    call()
    return time.perf_counter_ns() - start


def per_call(call, count):
    """Nanoseconds per call, the median of 5 batches of count calls."""
    batches = []
    for _ in range(5):
        start = time.perf_counter_ns()
        for _ in range(count):
            call()
        batches.append((time.perf_counter_ns() - start) / count)
    return statistics.median(batches)


def fresh_interpreter(code):
    """Seconds that code takes in a new interpreter (the median of 5)."""
    script = f"import time\nt = time.perf_counter()\n{code}\nprint(time.perf_counter() - t)"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    return statistics.median(
        float(subprocess.run([sys.executable, "-c", script], env=env, check=True,
                             stdout=subprocess.PIPE).stdout) for _ in range(5))


def ms(ns):
    return f"{ns / 1e6:.3f} ms"


def us(ns):
    return f"{ns / 1e3:.1f} µs"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--module")
    parser.add_argument("--rounds", type=int, default=60)
    parser.add_argument("--py-cpuinfo-rounds", type=int, default=5)
    args = parser.parse_args()
    if args.module:
        vc.load(args.module)
    path = vc.module_path()

    # The module's own report: the export called through a bare prototype
    # that returns the pointer, with no lock, no copy and no parsing.
    raw = ctypes.CDLL(path)
    raw.cpuinfo_get_json.restype = ctypes.c_void_p
    raw.cpuinfo_get_json.argtypes = []
    raw.cpuinfo_has_feature.restype = ctypes.c_int
    raw.cpuinfo_has_feature.argtypes = [ctypes.c_char_p]

    # Interleaved, in an order that turns each round, so that the machine's
    # drift and the order itself touch all three alike.
    kinds = [("module", raw.cpuinfo_get_json), ("report_json", vc.report_json),
             ("report", vc.report)]
    times = {k: [] for k, _ in kinds}
    vc.report()  # warm
    for round in range(args.rounds):
        for kind, call in kinds[round % 3:] + kinds[:round % 3]:
            times[kind].append(timed(call))
    median = {k: statistics.median(v) for k, v in times.items()}
    low = {k: min(v) for k, v in times.items()}

    # What the binding adds to the module's call, on a report's text: the
    # lock, the copy out of the module's buffer, the decoding and the parse.
    text = vc.report_json().encode("ascii")
    buffer = ctypes.create_string_buffer(text)
    address = ctypes.addressof(buffer)
    lock = vc._report_lock

    def own_work():
        with lock:
            copied = ctypes.string_at(address)
        return json.loads(copied.decode("ascii"))

    own = per_call(own_work, 20000)
    feature_binding = per_call(lambda: vc.has_feature("sse2"), 2000)
    feature_raw = per_call(lambda: raw.cpuinfo_has_feature(b"sse2"), 2000)

    rows = [
        ("module's report (bare ctypes call)", ms(median["module"]), ms(low["module"])),
        ("`report_json()`", ms(median["report_json"]), ms(low["report_json"])),
        ("`report()`", ms(median["report"]), ms(low["report"])),
        ("`report()` − module's report", us(median["report"] - median["module"]), ""),
        ("the binding's own work per report (lock, copy, decode, parse)", us(own), ""),
        ("`has_feature(\"sse2\")`", us(feature_binding), ""),
        ("`cpuinfo_has_feature(b\"sse2\")`, bare ctypes call", us(feature_raw), ""),
        ("`import velquorn_cpuinfo` and open the module (new interpreter)",
         ms(fresh_interpreter(f"import velquorn_cpuinfo as v\nv.load({path!r})") * 1e9), ""),
    ]
    try:
        import cpuinfo
    except ImportError:
        print("py-cpuinfo is absent (Debian: python3-cpuinfo): its rows are left out",
              file=sys.stderr)
    else:
        cpuinfo.get_cpu_info()  # warm
        theirs = [timed(cpuinfo.get_cpu_info) for _ in range(args.py_cpuinfo_rounds)]
        version = ".".join(map(str, cpuinfo.get_cpu_info()["cpuinfo_version"]))
        rows += [
            (f"`cpuinfo.get_cpu_info()` (py-cpuinfo {version})", ms(statistics.median(theirs)),
             ms(min(theirs))),
            ("py-cpuinfo's time / `report()`'s time",
             f"{statistics.median(theirs) / median['report']:.1f}×", ""),
            ("`import cpuinfo` (new interpreter)", ms(fresh_interpreter("import cpuinfo") * 1e9),
             ""),
        ]
    print(f"{args.rounds} rounds; module {path}; Python {sys.version.split()[0]}\n")
    print("| Measurement | Median | Min |\n|---|---|---|")
    for name, middle, least in rows:
        print(f"| {name} | {middle} | {least} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
