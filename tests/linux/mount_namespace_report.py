#!/usr/bin/env python3
"""The report of this machine in a private mount namespace where the files of
the Linux layer are missing, run by CTest.

  no-sysfs-cpu   /sys/devices/system/cpu is an empty tmpfs and /proc/cpuinfo an
                 empty file: the report is whole and valid, physical_cores
                 falls back to logical_cores, base_mhz is leaf 0x16's base or 0
  cpu-offline    one CPU's topology folder is hidden, as when that CPU goes
                 offline during the walk: the other cores are still counted

Needs root (a mount namespace of one's own and tmpfs mounts) and unshare and
mount from util-linux. Exit status: 0 passed, 1 failed, 77 skipped (the
reason is printed).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from report_checks import CPUID_MEMBERS, SKIP, Failure, check_printed_report  # noqa: E402

CPU_ROOT = "/sys/devices/system/cpu"


class Skip(Exception):
    pass


def read_cpu_list(path):
    """The CPUs of a kernel CPU list such as "0-3,8\\n"."""
    with open(path) as f:
        text = f.read().strip()
    cpus = []
    for part in text.split(","):
        first, _, last = part.partition("-")
        cpus.extend(range(int(first), int(last or first) + 1))
    return cpus


def machine_cores():
    """The cores of the online CPUs as sets of CPU numbers, read from sysfs
    here, independently of the library; Skip when sysfs does not say."""
    try:
        online = read_cpu_list(os.path.join(CPU_ROOT, "online"))
    except (OSError, ValueError) as err:
        raise Skip(f"this machine states no online CPUs ({err})")
    cores = set()
    for cpu in online:
        topology = os.path.join(CPU_ROOT, f"cpu{cpu}", "topology")
        for name in ("core_cpus_list", "thread_siblings_list"):
            try:
                cores.add(frozenset(read_cpu_list(os.path.join(topology, name))))
                break
            except FileNotFoundError:
                continue
            except (OSError, ValueError) as err:
                raise Skip(f"cpu{cpu}'s topology cannot be read ({err})")
        else:
            raise Skip(f"cpu{cpu} has no topology folder")
    return online, cores


class Runner:
    """Runs the report host, pinned to one CPU that this process may use
    (hybrid processors give different caches on different core types)."""

    def __init__(self, program):
        self.program = program
        self.cpu = min(os.sched_getaffinity(0))

    def _run(self, command):
        done = subprocess.run(command, capture_output=True, timeout=60,
                              preexec_fn=lambda: os.sched_setaffinity(0, {self.cpu}))
        out, err = done.stdout.decode("latin-1"), done.stderr.decode("latin-1")
        if done.returncode != 0:
            raise Failure(f"{command[0]}: exit status {done.returncode}, stderr {err!r}")
        if err:
            raise Failure(f"{command[0]}: stderr is not empty: {err!r}")
        return out

    def report(self):
        return check_printed_report(self._run([self.program]))

    def leaf16_base(self):
        return int(self._run([self.program, "--leaf16-base"]))

    def report_in_namespace(self, script, *args):
        """The report of the host run by `script` (sh, the host's path in "$1"
        and then args) inside a private mount namespace."""
        return check_printed_report(self._run(
            ["unshare", "--mount", "--propagation", "private", "sh", "-euc", script, "sh",
             self.program, *args]))


def check_can_unshare(work):
    if os.geteuid() != 0:
        raise Skip("not root: a private mount namespace with tmpfs mounts needs root")
    for tool in ("unshare", "mount"):
        if shutil.which(tool) is None:
            raise Skip(f"no {tool} program (util-linux)")
    done = subprocess.run(["unshare", "--mount", "--propagation", "private", "mount", "-t",
                           "tmpfs", "tmpfs", work], capture_output=True, timeout=60)
    if done.returncode != 0:
        reason = done.stderr.decode("latin-1").strip()
        raise Skip(f"a private mount namespace is not permitted here: {reason}")


def expect(checks, what, got, want):
    checks.append((what, got, want))


def no_sysfs_cpu(runner, outside, work):
    empty = os.path.join(work, "empty-cpuinfo")
    open(empty, "w").close()
    inside = runner.report_in_namespace(
        'mount -t tmpfs tmpfs /sys/devices/system/cpu; mount --bind "$2" /proc/cpuinfo; exec "$1"',
        empty)
    checks = []
    expect(checks, "physical_cores (the logical count)", inside["physical_cores"],
           inside["logical_cores"])
    expect(checks, "logical_cores at least 1", inside["logical_cores"] >= 1, True)
    expect(checks, "base_mhz (leaf 0x16's base, else 0)", inside["base_mhz"], runner.leaf16_base())
    for key in CPUID_MEMBERS:
        expect(checks, f"{key} (as outside)", inside[key], outside[key])
    return checks


def cpu_offline(runner, outside):
    online, cores = machine_cores()
    checks = []
    expect(checks, "outside: physical_cores (cores in sysfs)", outside["physical_cores"],
           len(cores))
    # The first CPU of the last core: the walk opens its sibling list, and its
    # siblings (if any) still name it first, so its whole core drops out.
    last_core = next(core for core in cores if max(online) in core)
    hidden = min(last_core)
    inside = runner.report_in_namespace(
        'mount -t tmpfs tmpfs "/sys/devices/system/cpu/cpu$2/topology"; exec "$1"', str(hidden))
    want = len(cores) - 1 if len(cores) > 1 else inside["logical_cores"]
    expect(checks, f"physical_cores with cpu{hidden}'s topology hidden", inside["physical_cores"],
           want)
    expect(checks, "logical_cores (as outside)", inside["logical_cores"], outside["logical_cores"])
    return checks


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="the report host (tests/linux)")
    args = parser.parse_args()
    runner = Runner(args.program)
    failed = skipped = False
    with tempfile.TemporaryDirectory(prefix="velquorn-ns-") as work:
        try:
            check_can_unshare(work)
        except Skip as why:
            print(f"SKIP: {why}")
            return SKIP
        try:
            outside = runner.report()
        except (Failure, OSError, subprocess.TimeoutExpired) as failure:
            print(f"FAIL report outside the namespace: {failure}")
            return 1
        print(f"pinned to CPU {runner.cpu}; outside: {outside['physical_cores']} cores, "
              f"{outside['logical_cores']} logical, base_mhz {outside['base_mhz']}")
        for name, scenario in (("no-sysfs-cpu", lambda: no_sysfs_cpu(runner, outside, work)),
                               ("cpu-offline", lambda: cpu_offline(runner, outside))):
            try:
                checks = scenario()
            except Skip as why:
                print(f"SKIP {name}: {why}")
                skipped = True
                continue
            except (Failure, OSError, subprocess.TimeoutExpired) as failure:
                print(f"FAIL {name}: {failure}")
                failed = True
                continue
            for what, got, want in checks:
                ok = got == want
                failed |= not ok
                print(f"{'ok  ' if ok else 'FAIL'} {name}: {what}: {got!r}"
                      + ("" if ok else f", expected {want!r}"))
    return 1 if failed else SKIP if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
