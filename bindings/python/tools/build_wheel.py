#!/usr/bin/env python3
"""Builds the velquorn_cpuinfo wheel that bundles one build's module.

  build_wheel.py --module FILE --platform PLATFORM --version V
                 --stage DIR --outdir DIR [--strip TOOL]

PLATFORM is the wheel's platform tag: win_amd64, or on Linux
manylinux_2_17_x86_64.manylinux2014_x86_64 (the module needs nothing newer
than glibc 2.17 and no library but the C library: the manylinux2014 rule,
under its PEP 600 name and its legacy alias).

The package sources (the folder above this script) and the module are copied
into the stage folder, which is emptied first; the wheel is built there,
offline, by this interpreter's setuptools and wheel (Debian: python3-build,
python3-setuptools, python3-wheel), and written to the output folder. Prints
the wheel's path. Exit status 0 built, 1 failed, 77 a needed package is absent.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGE = "velquorn_cpuinfo"

# The module's file name inside the package, by wheel platform tag.
BUNDLED_FILE = {
    "manylinux_2_17_x86_64.manylinux2014_x86_64": "libvelquorn-cpuid-cpu-info.so",
    "win_amd64": "velquorn-cpuid-cpu-info.dll",
}

# What the package ships besides the module.
PACKAGE_FILES = ["__init__.py", "__main__.py", "_loader.py", "_pretty.py", "py.typed"]


class Skip(Exception):
    pass


def missing_packages():
    """The Debian packages whose Python modules this interpreter lacks."""
    wanted = {"build": "python3-build", "setuptools": "python3-setuptools",
              "wheel": "python3-wheel"}
    missing = []
    for module, package in wanted.items():
        try:
            __import__(module)
        except ImportError:
            missing.append(package)
    return missing


def wheel_name(version, platform):
    return f"{PACKAGE}-{version}-py3-none-{platform}.whl"


def add_platform_tags(built, wheel, extra):
    """Copies the wheel `built` to `wheel`, its WHEEL file listing the tags of the
    `extra` platforms after its own (bdist_wheel writes one platform only), and
    RECORD rewritten for it."""
    from wheel.wheelfile import WheelFile
    with zipfile.ZipFile(built) as z, WheelFile(wheel, "w") as out:
        for info in z.infolist():
            data = z.read(info)
            if info.filename.endswith(".dist-info/RECORD"):
                continue  # WheelFile writes it
            if info.filename.endswith(".dist-info/WHEEL"):
                text = data.decode("utf-8")
                tag = re.search(r"^Tag: (\S+)-(\S+)-(\S+)$", text, re.M)
                lines = [f"Tag: {tag.group(1)}-{tag.group(2)}-{p}\n" for p in extra]
                data = (text[:tag.end() + 1] + "".join(lines) + text[tag.end() + 1:]).encode()
            out.writestr(info, data)
    os.remove(built)


def build(module, platform, version, stage, outdir, strip=None):
    """Stages the package with the module and builds the wheel; returns its path."""
    missing = missing_packages()
    if missing:
        raise Skip(f"{sys.executable} cannot build wheels without {', '.join(missing)}")
    if not os.path.isfile(module):
        raise RuntimeError(f"no module at {module}")
    # The wheel records the modes of the files that setuptools copies: the
    # same ones whatever the caller's umask.
    os.umask(0o022)
    shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(os.path.join(stage, PACKAGE))
    for name in ("pyproject.toml", "README.md"):
        shutil.copyfile(os.path.join(SOURCE, name), os.path.join(stage, name))
    for name in PACKAGE_FILES:
        shutil.copyfile(os.path.join(SOURCE, PACKAGE, name), os.path.join(stage, PACKAGE, name))
    with open(os.path.join(stage, "VERSION"), "w") as f:
        f.write(version + "\n")
    bundled = os.path.join(stage, PACKAGE, BUNDLED_FILE[platform])
    if strip:
        # Debug sections stay with the build (and the debug packages); the
        # build ID note stays in the copy, so a debugger still finds them.
        subprocess.run([strip, "--strip-unneeded", "-o", bundled, module], check=True)
    else:
        shutil.copyfile(module, bundled)
    os.makedirs(outdir, exist_ok=True)
    first, *aliases = platform.split(".")
    built = os.path.join(outdir, wheel_name(version, first))
    wheel = os.path.join(outdir, wheel_name(version, platform))
    for old in {built, wheel}:
        if os.path.exists(old):
            os.remove(old)
    done = subprocess.run(
        [sys.executable, "-m", "build", "--wheel", "--no-isolation", "--outdir", outdir,
         f"--config-setting=--build-option=--plat-name={first}", stage],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)
    if done.returncode != 0 or not os.path.isfile(built):
        raise RuntimeError(f"building {os.path.basename(built)} failed "
                           f"(status {done.returncode}):\n{done.stdout}")
    if aliases:
        add_platform_tags(built, wheel, aliases)
    return wheel


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--module", required=True)
    parser.add_argument("--platform", required=True, choices=sorted(BUNDLED_FILE))
    parser.add_argument("--version", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--outdir", required=True)
    parser.add_argument("--strip")
    args = parser.parse_args()
    try:
        print(build(args.module, args.platform, args.version, args.stage, args.outdir, args.strip))
    except Skip as skip:
        # Building the wheel is a build step, not a test: a missing tool fails it,
        # naming the Debian packages to install.
        print(f"build_wheel.py: error: {skip}; install them: "
              f"apt-get install {' '.join(missing_packages())}", file=sys.stderr)
        return 1
    except (OSError, RuntimeError, subprocess.CalledProcessError) as err:
        print(f"build_wheel.py: {err}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
