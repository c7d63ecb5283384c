#!/usr/bin/env python3
"""Tests of the velquorn_cpuinfo wheels, run by CTest.

  linux    builds the manylinux wheel from a build's module, checks its
           contents, installs it into a fresh virtual environment with
           pip install --no-index and runs the package's pytest suite there
  windows  builds the win_amd64 wheel from a build's DLL, checks its contents,
           and runs a Windows report program beside the DLL taken out of the
           wheel (under the build's emulator)

Exit status: 0 passed, 1 failed, 77 skipped (a needed Debian package is
absent; the reason is printed).
"""
import argparse
import base64
import csv
import hashlib
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import build_wheel  # noqa: E402

SKIP = 77
LINUX = "manylinux_2_17_x86_64.manylinux2014_x86_64"
MODULE_ENV = "VELQUORN_CPUINFO_LIBRARY"
REPORT_MEMBERS = ["vendor", "brand", "family", "model", "stepping", "physical_cores",
                  "logical_cores", "l1d_kb", "l1i_kb", "l2_kb", "l3_kb", "base_mhz", "max_mhz",
                  "current_mhz", "features", "hypervisor", "x64"]


class Failure(Exception):
    pass


def record_digest(data):
    digest = hashlib.sha256(data).digest()
    return "sha256=" + base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def check_contents(wheel, version, platform):
    """The wheel holds exactly the package, the bundled module and its
    metadata; the tags, the version and every RECORD hash are right.
    Returns the module's bytes."""
    info = f"{build_wheel.PACKAGE}-{version}.dist-info"
    bundled = f"{build_wheel.PACKAGE}/{build_wheel.BUNDLED_FILE[platform]}"
    expected = sorted([f"{build_wheel.PACKAGE}/{n}" for n in build_wheel.PACKAGE_FILES]
                      + [bundled] + [f"{info}/{n}" for n in
                                     ("METADATA", "WHEEL", "top_level.txt", "RECORD")])
    with zipfile.ZipFile(wheel) as z:
        names = sorted(z.namelist())
        if names != expected:
            raise Failure(f"{os.path.basename(wheel)} holds {names}, expected {expected}")
        wheel_meta = z.read(f"{info}/WHEEL").decode("utf-8").splitlines()
        metadata = z.read(f"{info}/METADATA").decode("utf-8").splitlines()
        # Setuptools writes the name in its normalised form.
        tags = [f"Tag: py3-none-{p}" for p in platform.split(".")]
        if [line for line in wheel_meta if line.startswith("Tag:")] != tags:
            raise Failure(f"the wheel's tags are not {tags}: {wheel_meta}")
        for want, lines in (
                            ("Name: velquorn-cpuinfo", metadata),
                            (f"Version: {version}", metadata)):
            if want not in lines:
                raise Failure(f"{want!r} is not in the wheel's metadata: {lines}")
        rows = list(csv.reader(io.StringIO(z.read(f"{info}/RECORD").decode("utf-8"))))
        recorded = {row[0]: row[1] for row in rows}
        for name in expected:
            if name.endswith("/RECORD"):
                continue
            if recorded.get(name) != record_digest(z.read(name)):
                raise Failure(f"RECORD's hash of {name} does not match its bytes")
        return z.read(bundled)


def check_pe_module(data):
    # PE32+ image of an x86-64 (0x8664) DLL (characteristic 0x2000).
    if data[:2] != b"MZ":
        raise Failure("the bundled DLL has no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise Failure("the bundled DLL has no PE signature")
    machine, _, _, _, _, _, characteristics = struct.unpack_from("<HHIIIHH", data, pe + 4)
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    if machine != 0x8664 or magic != 0x20B or not characteristics & 0x2000:
        raise Failure(f"the bundled DLL is not a 64-bit x86 DLL (machine {machine:#x}, "
                      f"magic {magic:#x}, characteristics {characteristics:#x})")


def build(args, platform):
    wheel = build_wheel.build(args.module, platform, args.version,
                              os.path.join(args.work, "stage"), os.path.join(args.work, "dist"),
                              args.strip)
    print(f"built {os.path.basename(wheel)}")
    return wheel


def cmd_linux(args):
    missing = build_wheel.missing_packages()
    for module, package in (("venv", "python3-venv"), ("ensurepip", "python3-venv"),
                            ("pytest", "python3-pytest")):
        try:
            __import__(module)
        except ImportError:
            missing.append(package)
    if missing:
        print(f"SKIP: {sys.executable} lacks {', '.join(sorted(set(missing)))}")
        return SKIP
    wheel = build(args, LINUX)
    # The suite below loads the bundled module and checks its every answer.
    check_contents(wheel, args.version, LINUX)
    print("ok   wheel contents, tags, version and hashes")

    venv = os.path.join(args.work, "venv")
    shutil.rmtree(venv, ignore_errors=True)
    # System packages give the environment pytest; the package itself comes
    # only from the wheel.
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True)
    python = os.path.join(venv, "bin", "python")
    subprocess.run([python, "-m", "pip", "install", "--no-index", "--no-deps", "--no-cache-dir",
                    "--disable-pip-version-check", "--quiet", wheel], check=True)
    print("ok   installed into a fresh virtual environment")

    env = dict(os.environ)
    env.pop(MODULE_ENV, None)
    env.pop("PYTHONPATH", None)
    env.update(PYTHONDONTWRITEBYTECODE="1", VELQUORN_TEST_C_HOST=args.c_host,
               VELQUORN_TEST_MODULE=args.module)
    done = subprocess.run([python, "-m", "pytest", "-p", "no:cacheprovider", "-q", args.tests],
                          cwd=args.work, env=env)
    if done.returncode == 5:
        print("FAIL: pytest collected no tests")
        return 1
    return 0 if done.returncode == 0 else 1


def cmd_windows(args):
    wheel = build(args, "win_amd64")
    dll = check_contents(wheel, args.version, "win_amd64")
    check_pe_module(dll)
    print("ok   wheel contents, tags, version and hashes; a 64-bit DLL")
    if not args.report_program:
        return 0
    # The program loads the DLL by name; its own folder comes first in the
    # search, so it is the wheel's copy that answers.
    folder = os.path.join(args.work, "from-wheel")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(os.path.join(folder, build_wheel.BUNDLED_FILE["win_amd64"]), "wb") as f:
        f.write(dll)
    program = shutil.copy(args.report_program, folder)
    command = ([args.emulator] if args.emulator else []) + [program]
    done = subprocess.run(command, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    text = done.stdout.decode("latin-1")
    try:
        members = list(json.loads(text)) if done.returncode == 0 else None
    except ValueError:
        members = None
    if members != REPORT_MEMBERS:
        raise Failure(f"the report program beside the wheel's DLL gave status "
                      f"{done.returncode}, output {text!r}, errors {done.stderr!r}")
    print("ok   the wheel's DLL gives a report under the emulator")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("linux", "windows"):
        p = sub.add_parser(name)
        p.add_argument("--module", required=True, help="the build's module file")
        p.add_argument("--version", required=True)
        p.add_argument("--work", required=True, help="a folder for the stage, wheel and venv")
        p.add_argument("--strip")
    sub.choices["linux"].add_argument("--c-host", required=True)
    sub.choices["linux"].add_argument("--tests", required=True, help="the pytest folder")
    sub.choices["windows"].add_argument("--emulator", default="")
    sub.choices["windows"].add_argument("--report-program", default="")
    args = parser.parse_args()
    for name in ("module", "work", "c_host", "tests", "report_program"):
        if getattr(args, name, None):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    try:
        return {"linux": cmd_linux, "windows": cmd_windows}[args.command](args)
    except build_wheel.Skip as skip:
        print(f"SKIP: {skip}")
        return SKIP
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    except (OSError, RuntimeError, subprocess.SubprocessError) as err:
        print(f"FAIL: {err}")
        return 1


if __name__ == "__main__":
    sys.exit(main())
