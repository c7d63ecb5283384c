#!/usr/bin/env python3
"""Checks of velquorn-cpuinfo as a program, run by CTest.

  round-trip      record this machine, replay the file: the CPUID members of
                  the replayed report are those of the live one
  module          the tool's live report and feature answers against the
                  module's (through ctypes, or a program that loads it)
  same-as-replay  --replay FILE prints the bytes that cpuid-replay FILE prints,
                  over the recorded processors
  statuses        exit statuses, outputs and messages of the program

Exit status: 0 passed, 1 failed, 77 skipped (the reason is printed).
"""
import argparse
import concurrent.futures
import ctypes
import json
import os
import re
import subprocess
import sys

from report_checks import (CPUID_MEMBERS, SKIP, Failure, check_printed_report, parse_report,
                           program_lines, replay_files, run)


class Checks:
    """Collects failures; prints one line per check."""

    def __init__(self):
        self.failed = 0

    def check(self, what, problems):
        problems = [p for p in problems if p]
        print(("FAIL " if problems else "ok   ") + what + "".join("\n  " + p for p in problems))
        self.failed += bool(problems)

    def status(self):
        return 1 if self.failed else 0


def tool(args, *words):
    return run(args.emulator, args.tool, *words)


def clean(err):
    lines = program_lines(err)
    return f"stderr is not empty: {err!r}" if lines else None


def cmd_round_trip(args):
    checks = Checks()
    os.makedirs(args.work, exist_ok=True)
    path = os.path.join(args.work, "this-machine.cpuid")
    if os.path.exists(path):
        os.remove(path)
    status, out, err = tool(args, "--record", path)
    # The replay below loads the file with the replay loader, which rejects
    # a malformed line or a pair listed twice.
    checks.check("--record FILE writes the file", [
        status != 0 and f"exit status {status}", out and f"stdout {out!r}", clean(err),
        not os.path.isfile(path) and "no file"])
    if not os.path.isfile(path):
        return 1
    reports = {}
    for name, words in (("live", []), ("replayed", ["--replay", path])):
        status, out, err = tool(args, *words)
        try:
            reports[name] = check_printed_report(out)
            checks.check(f"{name} report", [status != 0 and f"exit status {status}", clean(err)])
        except Failure as failure:
            checks.check(f"{name} report", [str(failure)])
    if len(reports) == 2:
        checks.check("the replayed report has the live report's CPUID members", [
            f"{k}: live {reports['live'][k]!r}, replayed {reports['replayed'][k]!r}"
            for k in CPUID_MEMBERS if reports["live"][k] != reports["replayed"][k]])

    # Every processor: their record replays to the live groups.
    whole = os.path.join(args.work, "this-machine-all.cpuid")
    status, out, err = tool(args, "--all-cpus", "--record", whole)
    checks.check("--all-cpus --record FILE", [status != 0 and f"exit status {status}", clean(err)])
    groups = {}
    for name, words in (("live", []), ("replayed", ["--replay", whole])):
        status, out, err = tool(args, *words, "--all-cpus")
        checks.check(f"{name} --all-cpus", [status != 0 and f"exit status {status}", clean(err)])
        groups[name] = [g["cpus"] for g in json.loads(out)] if status == 0 else None
    checks.check("the record of every processor replays to the live groups", [
        groups["live"] != groups["replayed"] and f"{groups}"])

    # --cpu N: the recording names the processor it was held on.
    cpu = max(os.sched_getaffinity(0)) if not args.emulator else 0
    status, out, err = tool(args, "--cpu", str(cpu), "--record")
    checks.check(f"--cpu {cpu} --record names logical processor {cpu}", [
        status != 0 and f"exit status {status}", clean(err),
        f"# Logical processor: {cpu}\n" not in out and "the header names another processor"])
    return checks.status()


def module_answers(args, names):
    """The module's report and its answer for each name."""
    if args.module:
        lib = ctypes.CDLL(os.path.abspath(args.module))
        lib.cpuinfo_get_json.restype = ctypes.c_char_p
        lib.cpuinfo_has_feature.argtypes = [ctypes.c_char_p]
        report = parse_report(lib.cpuinfo_get_json().decode("latin-1"))
        return report, {n: lib.cpuinfo_has_feature(n.encode()) for n in names}
    status, out, err = run(args.emulator, args.report_program)
    if status != 0:
        raise Failure(f"{args.report_program}: exit status {status}, stderr {err!r}")
    report = parse_report(out.strip())
    # Without a direct call, the module's answers are what its report lists.
    answers = {n: int(n in report["features"]) for n in names}
    answers.update(hypervisor=report["hypervisor"], x64=report["x64"])
    return report, answers


def cmd_module(args):
    checks = Checks()
    status, out, err = tool(args)
    live = check_printed_report(out)
    status, listing, err = tool(args, "--features")
    lines = [l.split(" ") for l in listing.splitlines()]
    names = [l[0] for l in lines]
    checks.check("--features: 21 lines of a name and 1 or 0", [
        status != 0 and f"exit status {status}", clean(err),
        (len(lines) != 21 or any(len(l) != 2 or l[1] not in "01" for l in lines))
        and f"output {listing!r}"])
    report, answers = module_answers(args, names)
    members = CPUID_MEMBERS + ["physical_cores", "logical_cores"]
    checks.check("the tool's live report has the module's CPUID members and core counts", [
        f"{k}: tool {live[k]!r}, module {report[k]!r}" for k in members if live[k] != report[k]])
    checks.check("--features answers as the module does", [
        f"{n}: tool {v}, module {answers[n]}" for n, v in lines if int(v) != answers[n]])
    return checks.status()


def cpuid_base_clock(path):
    """True when the file's leaf 0x16 gives a base clock (else it comes from this machine)."""
    regs = {}
    with open(path) as f:
        for line in f:
            words = line.split("#", 1)[0].split()
            if len(words) == 6:
                regs[(int(words[0], 16), int(words[1], 16))] = [int(w, 16) for w in words[2:]]
    return regs.get((0, 0), [0])[0] >= 0x16 and regs.get((0x16, 0), [0])[0] & 0xFFFF != 0


def cmd_same_as_replay(args):
    files = replay_files(args.dumps)
    if not files:
        print(f"FAIL: no *.cpuid files in {args.dumps}")
        return 1
    if args.sample and args.sample < len(files):
        step = len(files) / args.sample
        files = [files[int(i * step)] for i in range(args.sample)]

    def one(path):
        outs = []
        for program in (args.tool, args.replay_tool):
            words = ["--replay", path] if program == args.tool else [path]
            status, out, err = run(args.emulator, program, *words)
            if status != 0 or program_lines(err):
                return f"{os.path.basename(path)}: {program}: status {status}, stderr {err!r}"
            # The clock is measured on each run; so is the base clock that a
            # file without leaf 0x16 leaves to this machine.
            out = re.sub(r'"current_mhz":-?\d+', '"current_mhz":_', out)
            if not cpuid_base_clock(path):
                out = re.sub(r'"base_mhz":\d+', '"base_mhz":_', out)
            outs.append(out)
        if outs[0] != outs[1]:
            return f"{os.path.basename(path)}:\n    tool         {outs[0]!r}\n    cpuid-replay {outs[1]!r}"
        return None

    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        failures = [f for f in pool.map(one, files) if f]
    for f in failures:
        print("FAIL", f)
    print(f"{len(files) - len(failures)} of {len(files)} recorded processors: "
          "--replay prints the bytes of cpuid-replay")
    return 1 if failures else 0


def cmd_statuses(args):
    """The statuses as the program gives them; cli_tests covers the rules in-process."""
    checks = Checks()
    os.makedirs(args.work, exist_ok=True)
    cyrix = os.path.join(args.dumps, "CyrixInstead0000520_6x86_CPUID.cpuid")
    absent_folder = os.path.join(args.work, "no-such-folder", "x.cpuid")
    multi = os.path.join(os.path.dirname(args.dumps), "multi")
    lakefield, arrow_lake_h, avx2_on_0 = (os.path.join(multi, n) for n in (
        "GenuineIntel00806A1_Lakefield_CPUID.cpuid", "GenuineIntel00C0652_ArrowLakeH_04_CPUID.cpuid",
        "avx2-on-cpu0-only.cpuid"))

    def groups(*cpus):  # the --all-cpus array with these groups, in order
        return re.compile(r"\[" + ",".join(r'\{"cpus":\[%s\],"report":\{[^{}]*\}\}' % ",".join(
            map(str, c)) for c in cpus) + r"\]\n\Z")
    # (arguments, status, stdout: None empty / the text it begins with / a
    # pattern it matches, stderr: None empty / a text it holds)
    rows = [
        (["--version"], 0, "velquorn-cpuinfo ", None),
        (["--help"], 0, "usage: velquorn-cpuinfo", None),
        (["--replay", cyrix, "--pretty"], 0, "vendor:         CyrixInstead\nbrand:          Unknown\n",
         None),
        (["--replay", cyrix, "--has", "sse", "--has", "x64"], 1, None, None),
        (["--has", "sse2", "--has", "avx-512"], 2, None, "unknown feature name 'avx-512'"),
        (["--frobnicate"], 2, None, "velquorn-cpuinfo: unknown argument '--frobnicate'\n"
         "Try 'velquorn-cpuinfo --help' for more information."),
        (["--cpu", "4096", "--has", "sse"], 2, None, "logical processor 4096 does not exist"),
        (["--record", absent_folder], 1, None, f"cannot write {absent_folder}"),
        (["--replay", lakefield, "--all-cpus"], 0, groups([0, 1, 2, 3], [4]), None),
        (["--replay", arrow_lake_h, "--all-cpus"], 0,
         groups([0, 1, 10, 11, 12, 13], range(2, 10), [14, 15]), None),
        (["--replay", arrow_lake_h, "--all-cpus", "--pretty"], 0,
         re.compile(r"(?s).*\n\ncpus  .*\n0-1, 10-13  .*\n2-9  .*\n14-15  [^\n]*\n\Z"), None),
        (["--replay", avx2_on_0, "--all-cpus", "--has", "sse2"], 0, None, None),
        (["--replay", avx2_on_0, "--all-cpus", "--has", "avx2"], 1, None, None),
        (["--replay", avx2_on_0, "--has", "avx2"], 0, None, None),
        (["--replay", avx2_on_0, "--cpu", "1", "--has", "avx2"], 1, None, None),
    ]
    for words, want_status, want_out, want_err in rows:
        status, out, err = tool(args, *words)
        lines = "\n".join(program_lines(err))
        checks.check(" ".join(os.path.basename(w) for w in words), [
            status != want_status and f"exit status {status}, expected {want_status}",
            want_out is None and out and f"stdout {out!r}",
            isinstance(want_out, str) and not out.startswith(want_out) and f"stdout {out!r}",
            hasattr(want_out, "match") and not want_out.match(out) and f"stdout {out!r}",
            want_err is None and lines and f"stderr {err!r}",
            want_err is not None and want_err not in lines and f"stderr {err!r}"])
    return checks.status()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("round-trip", "module", "same-as-replay", "statuses"):
        p = sub.add_parser(name)
        p.add_argument("--tool", required=True)
        p.add_argument("--emulator", default="")
        if name in ("round-trip", "statuses"):
            p.add_argument("--work", required=True)
        if name in ("same-as-replay", "statuses"):
            p.add_argument("--dumps", required=True)
        if name == "module":
            p.add_argument("--module", help="the shared library, loaded with ctypes")
            p.add_argument("--report-program", help="a program that prints the module's report")
        if name == "same-as-replay":
            p.add_argument("--replay-tool", required=True)
            p.add_argument("--sample", type=int, default=0)
            p.add_argument("--jobs", type=int, default=8)  # each run mostly sleeps
    args = parser.parse_args()
    if args.command == "module" and not (args.module or args.report_program):
        parser.error("module needs --module or --report-program")
    if args.command == "module" and args.report_program and not os.path.isfile(args.report_program):
        print(f"SKIP: no report program at {args.report_program}")
        return SKIP
    handler = {"round-trip": cmd_round_trip, "module": cmd_module,
               "same-as-replay": cmd_same_as_replay, "statuses": cmd_statuses}[args.command]
    try:
        return handler(args)
    except (Failure, OSError, subprocess.TimeoutExpired) as err:
        print(f"FAIL: {err}")
        return 1


if __name__ == "__main__":
    sys.exit(main())
