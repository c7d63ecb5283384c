#!/usr/bin/env python3
"""Checks of the report as programs print it, run by CTest.

  corpus       cpuid-replay over the recorded processors of a folder
  errors       cpuid-replay's exit status and messages for bad command lines
               and bad replay files
  compare      the CPUID members of two reports of this machine (the Windows
               build under Wine against the native build), both on one CPU
  python-host  the Python example host, from the source tree, against the C host

Exit status: 0 passed, 1 failed, 77 skipped (something the check needs is
absent; the reason is printed).
"""
import argparse
import concurrent.futures
import json
import os
import re
import subprocess
import sys

SKIP = 77

# The report's members in document order, with their kinds.
MEMBERS = [
    ("vendor", str), ("brand", str), ("family", int), ("model", int), ("stepping", int),
    ("physical_cores", int), ("logical_cores", int), ("l1d_kb", int), ("l1i_kb", int),
    ("l2_kb", int), ("l3_kb", int), ("base_mhz", int), ("max_mhz", int),
    ("current_mhz", int), ("features", list), ("hypervisor", int), ("x64", int),
]

# The members that only CPUID decides, the same on every operating system.
CPUID_MEMBERS = ["vendor", "brand", "family", "model", "stepping", "l1d_kb", "l1i_kb",
                 "l2_kb", "l3_kb", "max_mhz", "features", "hypervisor", "x64"]

# A line of Wine's own diagnostics ("0024:err:module:..."), not the program's.
WINE_DIAGNOSTIC = re.compile(r"^[0-9a-f]{4}:(err|warn|fixme|trace):")


class Failure(Exception):
    pass


def reject_constant(name):
    raise ValueError(f"{name} is not JSON")


def pairs_in_order(pairs):
    return pairs  # keep the members as a list, duplicates and order included


def parse_report(text):
    """The report as a dict, after checking its JSON, its members and kinds."""
    try:
        pairs = json.loads(text, object_pairs_hook=pairs_in_order, parse_constant=reject_constant)
    except ValueError as err:
        raise Failure(f"not JSON ({err}): {text!r}")
    if not isinstance(pairs, list):
        raise Failure(f"not a JSON object: {text!r}")
    keys = [k for k, _ in pairs]
    if keys != [k for k, _ in MEMBERS]:
        raise Failure(f"members {keys} are not the report's 17 in order")
    report = dict(pairs)
    for key, kind in MEMBERS:
        value = report[key]
        if type(value) is not kind:
            raise Failure(f"{key} is {value!r}, not of kind {kind.__name__}")
        if kind is int and not -2**31 <= value < 2**31:
            raise Failure(f"{key} is {value}, outside the int range")
    if not all(type(f) is str for f in report["features"]):
        raise Failure(f"features {report['features']!r} are not all strings")
    if "hypervisor" in report["features"]:
        raise Failure("hypervisor is listed among the features")
    for key in ("hypervisor", "x64"):
        if report[key] not in (0, 1):
            raise Failure(f"{key} is {report[key]}, not 0 or 1")
    return report


def escape(text):
    """A decoded string as the library writes it: quote and backslash get a
    backslash, code points below 0x20 and from 0x80 up become \\u00xx."""
    out = []
    for ch in text:
        code = ord(ch)
        if ch in '"\\':
            out.append("\\" + ch)
        elif code < 0x20 or 0x80 <= code <= 0xFF:
            out.append(f"\\u{code:04x}")
        elif code > 0xFF:
            raise Failure(f"code point U+{code:04X} cannot come from one byte")
        else:
            out.append(ch)
    return "".join(out)


def canonical(report):
    """The one-line document that the library writes for these values."""
    parts = []
    for key, kind in MEMBERS:
        value = report[key]
        if kind is str:
            text = '"' + escape(value) + '"'
        elif kind is list:
            text = "[" + ",".join('"' + escape(f) + '"' for f in value) + "]"
        else:
            text = str(value)
        parts.append(f'"{key}":{text}')
    return "{" + ",".join(parts) + "}"


def check_printed_report(stdout):
    """A program's output: exactly one report line and its newline, byte for
    byte the document that the library writes."""
    if not stdout.endswith("\n") or stdout.count("\n") != 1:
        raise Failure(f"output is not one line ending with a newline: {stdout!r}")
    line = stdout[:-1]
    report = parse_report(line)
    if canonical(report) != line:
        raise Failure(f"output is not in the report's one-line form: {line!r}")
    return report


def program_lines(stderr):
    return [l for l in stderr.splitlines() if not WINE_DIAGNOSTIC.match(l)]


def run(emulator, program, *args, timeout=120, cpu=None):
    """Runs the program (through the emulator, if any); pinned to one CPU when
    cpu is given (the affinity passes on to everything the program starts)."""
    command = ([emulator] if emulator else []) + [program] + list(args)
    pin = None if cpu is None else (lambda: os.sched_setaffinity(0, {cpu}))
    done = subprocess.run(command, capture_output=True, timeout=timeout, preexec_fn=pin)
    # Reports are ASCII; latin-1 keeps any stray byte visible in a message.
    return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")


def replay_files(folder):
    return sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".cpuid"))


def cmd_corpus(args):
    if not os.path.isdir(args.dumps):
        print(f"FAIL: no recorded processors: {args.dumps} does not exist")
        return 1
    files = replay_files(args.dumps)
    if not files:
        print(f"FAIL: no *.cpuid files in {args.dumps}")
        return 1
    if args.sample and args.sample < len(files):
        step = len(files) / args.sample  # evenly over the sorted names: every maker
        files = [files[int(i * step)] for i in range(args.sample)]

    def one(path):
        status, out, err = run(args.emulator, args.tool, path)
        try:
            if status != 0:
                raise Failure(f"exit status {status}, stderr {err!r}")
            if program_lines(err):
                raise Failure(f"stderr is not empty: {err!r}")
            check_printed_report(out)
            return None
        except Failure as failure:
            return f"{os.path.basename(path)}: {failure}"

    # Each run sleeps 50 ms in the clock measurement; runs overlap freely.
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        failures = [f for f in pool.map(one, files) if f]
    for f in failures:
        print("FAIL", f)
    print(f"{len(files) - len(failures)} of {len(files)} recorded processors give a valid report")
    return 1 if failures else 0


def cmd_errors(args):
    os.makedirs(args.work, exist_ok=True)
    malformed = os.path.join(args.work, "malformed.cpuid")
    duplicated = os.path.join(args.work, "duplicated.cpuid")
    missing = os.path.join(args.work, "missing.cpuid")
    with open(malformed, "w") as f:
        f.write("# leaf subleaf eax ebx ecx edx\n0 0 d 756e6547 6c65746e 49656e69\n"
                "1 0 906ea 100800 7ffafbff\n")
    with open(duplicated, "w") as f:
        f.write("0 0 d 756e6547 6c65746e 49656e69\n\n7 0 0 29c6fbf 0 0\n"
                "0x7 0x0 0 0 0 0  # the same pair again\n")
    if os.path.exists(missing):
        os.remove(missing)
    recorded = os.path.join(args.dumps, args.recorded)

    # (what, arguments, status, the stderr line must contain, stdout kind)
    cases = [
        ("recorded processor", [recorded], 0, None, "report"),
        ("malformed line", [malformed], 2, malformed + ":3:", None),
        ("duplicated pair", [duplicated], 2, duplicated + ":4:", None),
        ("missing file", [missing], 2, missing, None),
        ("directory", [args.work], 2, args.work, None),
        ("no arguments", [], 2, "usage:", None),
        ("two arguments", [recorded, recorded], 2, "usage:", None),
    ]
    failed = 0
    for what, arguments, want_status, want_text, want_out in cases:
        status, out, err = run(args.emulator, args.tool, *arguments)
        lines = program_lines(err)
        problems = []
        if status != want_status:
            problems.append(f"exit status {status}, expected {want_status}")
        if want_out == "report":
            try:
                check_printed_report(out)
            except Failure as failure:
                problems.append(str(failure))
            if lines:
                problems.append(f"stderr is not empty: {err!r}")
        else:
            if out:
                problems.append(f"stdout is not empty: {out!r}")
            if len(lines) != 1 or want_text not in lines[0]:
                problems.append(f"stderr is not one line naming {want_text!r}: {err!r}")
        print(("FAIL " if problems else "ok   ") + what + "".join("\n  " + p for p in problems))
        failed += bool(problems)
    return 1 if failed else 0


def cmd_compare(args):
    if not os.path.isfile(args.native):
        print(f"SKIP: no native report program at {args.native} "
              "(the native build makes it: cmake --workflow --preset test)")
        return SKIP
    # Both runs on one CPU that this process may use: the processors of a
    # hybrid part give different caches on different core types.
    cpu = min(os.sched_getaffinity(0))
    print(f"both reports pinned to CPU {cpu}")
    reports = {}
    for name, command in (("native", [args.native]), ("wine", [args.emulator, args.program])):
        status, out, err = run(None, *command, cpu=cpu)
        if status != 0:
            print(f"FAIL {name} report: exit status {status}, stderr {err!r}")
            return 1
        try:
            reports[name] = parse_report(out.strip())
        except Failure as failure:
            print(f"FAIL {name} report: {failure}")
            return 1
    differing = [k for k in CPUID_MEMBERS if reports["native"][k] != reports["wine"][k]]
    for key in CPUID_MEMBERS:
        mark = "FAIL" if key in differing else "ok  "
        print(f"{mark} {key}: native {reports['native'][key]!r}, wine {reports['wine'][key]!r}")
    return 1 if differing else 0


def cmd_python_host(args):
    """The example host from the source tree, on the package beside it, with
    the module named on its command line or by the package's variable."""
    status, out, err = run(None, args.native)
    if status != 0:
        print(f"FAIL: {args.native}: exit status {status}, stderr {err!r}")
        return 1
    native = parse_report(out.strip())
    missing = "/nonexistent/libvelquorn-cpuid-cpu-info.so"
    # (what, arguments, VELQUORN_CPUINFO_LIBRARY, status, stderr must hold)
    cases = [
        ("module argument", [args.module], None, 0, None),
        ("module by the variable", [], args.module, 0, None),
        ("a missing module", [missing], None, 1, f"{missing!r}"),
        ("a missing module by the variable", [], missing, 1,
         f"{missing!r}, named by VELQUORN_CPUINFO_LIBRARY"),
        ("two arguments", [args.module, args.module], None, 2, "usage:"),
    ]
    failed = 0
    for what, arguments, variable, want_status, want_text in cases:
        env = {k: v for k, v in os.environ.items()
               if k not in ("VELQUORN_CPUINFO_LIBRARY", "PYTHONPATH")}
        env["PYTHONDONTWRITEBYTECODE"] = "1"  # nothing written into the source tree
        if variable:
            env["VELQUORN_CPUINFO_LIBRARY"] = variable
        done = subprocess.run([sys.executable, args.script, *arguments], env=env,
                              capture_output=True, timeout=60)
        out, err = done.stdout.decode("latin-1"), done.stderr.decode("latin-1")
        problems = []
        if done.returncode != want_status:
            problems.append(f"exit status {done.returncode}, expected {want_status}: {err!r}")
        elif want_status == 0:
            try:
                report = parse_report(out)
                if "\n  \"vendor\": " not in out:
                    problems.append(f"the report is not indented: {out!r}")
                differing = [k for k in CPUID_MEMBERS if report[k] != native[k]]
                if differing:
                    problems.append(f"{differing} differ from the C host's report")
            except Failure as failure:
                problems.append(str(failure))
        elif out or want_text not in err:
            problems.append(f"stdout {out!r}, stderr without {want_text!r}: {err!r}")
        print(("FAIL " if problems else "ok   ") + what + "".join("\n  " + p for p in problems))
        failed += bool(problems)
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    corpus = sub.add_parser("corpus")
    corpus.add_argument("--tool", required=True)
    corpus.add_argument("--emulator", default="")
    corpus.add_argument("--dumps", required=True)
    corpus.add_argument("--sample", type=int, default=0, help="check only this many files")
    corpus.add_argument("--jobs", type=int, default=4)
    errors = sub.add_parser("errors")
    errors.add_argument("--tool", required=True)
    errors.add_argument("--emulator", default="")
    errors.add_argument("--dumps", required=True)
    errors.add_argument("--recorded", required=True, help="a file name in the dumps folder")
    errors.add_argument("--work", required=True, help="folder for the generated bad files")
    compare = sub.add_parser("compare")
    compare.add_argument("--native", required=True)
    compare.add_argument("--emulator", required=True)
    compare.add_argument("--program", required=True)
    host = sub.add_parser("python-host")
    host.add_argument("--script", required=True)
    host.add_argument("--module", required=True)
    host.add_argument("--native", required=True, help="the C program that prints the report")
    args = parser.parse_args()
    handler = {"corpus": cmd_corpus, "errors": cmd_errors, "compare": cmd_compare,
               "python-host": cmd_python_host}[args.command]
    try:
        return handler(args)
    except (OSError, subprocess.TimeoutExpired) as err:
        print(f"FAIL: {err}")
        return 1


if __name__ == "__main__":
    sys.exit(main())
