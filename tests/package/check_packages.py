#!/usr/bin/env python3
"""Checks of the release packages that CPack made, run by CTest (label "package").

  manifests         each archive's (or the NuGet package's) file list against its manifest,
                    and no shipped file naming the source or build folder
  windows-binaries  the ZIP's DLL and programs: exports, imports (the DLL's exactly),
                    the DLL's entry point DllMain and no TLS directory, version
                    resource, size, no debug sections, a debug link that matches the
                    debug ZIP, the ASLR, NX and CET marks
  linux-binaries    the .tar.gz's module and programs (SONAME, exports, no debug
                    sections, debug links) and the .deb's control fields
  mingw-host        a C host built by MinGW against the ZIP's .dll.a, run under Wine
  msvc-host         hosts compiled for x86_64-pc-windows-msvc and linked by lld-link
                    against the ZIP's .lib, by hand and through find_package (clang-cl),
                    run under Wine
  cmake-consumer    a find_package consumer of the unpacked ZIP (MinGW, under Wine) or
                    of the unpacked, moved .tar.gz (with a pkg-config consumer beside it)
  deb-install       the .deb installed with dpkg, consumers built against the system
                    paths, the package removed, nothing of it left (root only)
  elf-audit         every ELF file of the .tar.gz, .deb and Linux wheel (or of the npm
                    package): no glibc version newer than 2.17, no library but the C
                    library (manylinux2014; the npm addon also needs the module beside it);
                    full RELRO, immediate binding, a stack that is not executable, CET
                    marks; the hardening options recorded in each file of the debug archive;
                    the npm package's PE files marked ASLR, NX and CET as the ZIP's are
  lintian           Debian 12's lintian on the .deb: no error and no warning
  npm-install       the npm package installed offline into a fresh project: nothing
                    compiled, no file but the package's own
  bullseye          in a Debian 11 root (debootstrap, kept in the build tree): the .deb's
                    round trip, the wheel in Python 3.9, the .tar.gz's tool (root only)
  quick-start       in a copy of a pristine Debian 12 root (debootstrap, kept in the build
                    tree), the README's quick start as it stands: its first apt line and
                    the report command (last line a report), then its second apt line
                    and the test command (root only)
  versions          project version, cpuinfo_version(), the .pc file, the CMake version
                    file, the DLL's version resource and the package and wheel file
                    names agree
  release           the release folder: every platform's files and the NuGet package,
                    and one SHA256SUMS that lists exactly the files there and verifies
  reproducible      the release check; the whole release folder rebuilt from a copy of
                    the source in another folder, later, is the same bytes (the
                    differing files are named)

Exit status: 0 passed, 1 failed, 77 skipped (the reason is printed).
"""
import argparse
import glob
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import time
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from report_checks import Failure, parse_report  # noqa: E402

SKIP = 77
NAME = "velquorn-cpuid-cpu-info"
EXPORTS = sorted(["cpuinfo_version", "cpuinfo_last_error", "cpuinfo_logical_cores",
                  "cpuinfo_has_feature", "cpuinfo_current_mhz", "cpuinfo_get_json"])
# DLLs that every 64-bit Windows has; a shipped binary imports nothing else.
SYSTEM_DLL = re.compile(r"^(kernel32|advapi32|msvcrt|ucrtbase|ntdll|api-ms-win-[a-z0-9-]+)\.dll$")
MAX_DLL_BYTES = 64 * 1024
# What a Linux binary may ask of the system: the manylinux2014 rule.
MAX_GLIBC = (2, 17)
C_LIBRARY = ["libc.so.6", "ld-linux-x86-64.so.2"]
HARDENING = ["-fstack-protector-strong", "-fstack-clash-protection", "-fcf-protection"]


class Skip(Exception):
    pass


def run(*command, env=None, cwd=None, timeout=300):
    """Runs a command; returns its stdout, or raises Failure with its output."""
    done = subprocess.run([str(c) for c in command], capture_output=True, env=env, cwd=cwd,
                          timeout=timeout)
    out = done.stdout.decode("latin-1")
    if done.returncode != 0:
        raise Failure(f"{' '.join(map(str, command))} failed ({done.returncode}):\n{out}"
                      f"{done.stderr.decode('latin-1')}")
    return out


class Packages:
    """The packages of one platform, by kind, as CPack names them."""

    def __init__(self, args):
        self.args = args
        self.version = args.version
        self.dist = args.dist
        self.work = args.work
        self.top = ""
        if args.platform == "release":
            # The release folder: every other platform's files, under one SHA256SUMS.
            platforms = ("win64", "linux-x86_64", "nuget", "npm")
            self.archives, self.files = {}, sorted(f for p in platforms for f in Packages(
                argparse.Namespace(**{**vars(args), "platform": p})).files)
            return
        if args.platform == "nuget":
            # The NuGet package of both modules: its files at the top of the zip.
            self.archives = {"package": f"Velquorn.CpuInfo.{self.version}.nupkg"}
            self.files = list(self.archives.values())
            return
        if args.platform == "npm":
            self.archives = {"package": f"velquorn-cpuinfo-{self.version}.tgz"}
            self.files, self.top = list(self.archives.values()), "package"
            return
        if args.platform == "win64":
            stem = f"{NAME}-{self.version}-win64"
            self.archives = {"main": stem + ".zip", "debug": stem + "-debug.zip"}
            wheel_platform = "win_amd64"
        else:
            stem = f"{NAME}-{self.version}-linux-x86_64"
            self.archives = {"main": stem + ".tar.gz", "debug": stem + "-debug.tar.gz",
                             "deb": f"{NAME}_{self.version}_amd64.deb"}
            wheel_platform = "manylinux_2_17_x86_64.manylinux2014_x86_64"
        # The Python wheel that bundles the module lies beside the archives.
        self.wheel = f"velquorn_cpuinfo-{self.version}-py3-none-{wheel_platform}.whl"
        self.top = stem
        self.files = list(self.archives.values()) + [self.wheel]

    def path(self, kind):
        path = os.path.join(self.dist, self.archives[kind])
        if not os.path.isfile(path):
            raise Failure(f"{path} does not exist: run the package workflow first")
        return path

    def unpack(self, kinds, into):
        """Unpacks the archives of `kinds` into one fresh folder; returns the top folder."""
        target = os.path.join(self.work, into)
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(target)
        for kind in kinds:
            path = self.path(kind)
            if path.endswith((".zip", ".nupkg")):
                with zipfile.ZipFile(path) as z:
                    z.extractall(target)
            else:
                with tarfile.open(path) as t:
                    t.extractall(target)
        return os.path.join(target, self.top)


def open_tar(path):
    """A .tar.gz, or the files of a .deb, as a tarfile."""
    if path.endswith(".deb"):
        data = subprocess.run(["dpkg-deb", "--fsys-tarfile", path], capture_output=True,
                              check=True).stdout
        return tarfile.open(fileobj=io.BytesIO(data))
    return tarfile.open(path)


def archive_members(path):
    """The files and links of an archive (folders left out), as stored."""
    if path.endswith((".zip", ".nupkg")):
        with zipfile.ZipFile(path) as z:
            return [n for n in z.namelist() if not n.endswith("/")]
    with open_tar(path) as t:
        return [m.name for m in t.getmembers() if not m.isdir()]


def read_manifest(path):
    with open(path) as f:
        return [line.strip() for line in f if line.strip() and not line.startswith("#")]


def cmd_manifests(pk):
    failures = []
    for kind, archive in sorted(pk.archives.items()):
        manifest = os.path.join(pk.args.manifests, f"{pk.args.platform}-{kind}.txt")
        members = archive_members(pk.path(kind))
        if kind == "deb":
            files = [m[1:] if m.startswith("./") else m for m in members]
        else:
            prefix = pk.top + "/" if pk.top else ""
            outside = [m for m in members if not m.startswith(prefix)]
            failures += [f"{archive}: {m} is outside the top folder {prefix}" for m in outside]
            files = ["/" + m[len(prefix):] for m in members if m.startswith(prefix)]
        expected = read_manifest(manifest)
        missing = sorted(set(expected) - set(files))
        stray = sorted(set(files) - set(expected))
        failures += [f"{archive}: missing {m}" for m in missing]
        failures += [f"{archive}: stray {m}" for m in stray]
        print(f"{archive}: {len(files)} files, manifest {os.path.basename(manifest)} "
              f"{'matches' if not missing and not stray else 'differs'}")
    # Nothing shipped, debug files included, may name the folders it was built in.
    tops = [pk.unpack([kind], "contents-" + kind) for kind in pk.archives if kind != "deb"]
    build_paths = [os.path.abspath(pk.args.source).encode(),
                   os.path.abspath(os.path.dirname(pk.dist)).encode()]
    for top in tops:
        for folder, _, names in os.walk(top):
            for name in names:
                path = os.path.join(folder, name)
                if os.path.islink(path):
                    continue
                with open(path, "rb") as f:
                    data = f.read()
                failures += [f"{os.path.relpath(path, top)} names the build path {p.decode()}"
                             for p in build_paths if p in data]
    if failures:
        raise Failure("\n".join(failures))


def section_names(objdump, binary):
    out = run(objdump, "-h", binary)
    return re.findall(r"^\s*\d+\s+(\S+)\s", out, re.M)


def debuglink(objdump, binary):
    """The file name and CRC-32 that the .gnu_debuglink section holds."""
    out = run(objdump, "-s", "-j", ".gnu_debuglink", binary)
    data = bytearray()
    for line in out.splitlines():
        m = re.match(r"^ [0-9a-f]+ ((?:[0-9a-f]{2,8} ?){1,4})", line)
        if m:
            data += bytes.fromhex(m.group(1).replace(" ", ""))
    name_end = data.index(0)
    crc_at = (name_end + 4) & ~3
    return data[:name_end].decode(), int.from_bytes(data[crc_at:crc_at + 4], "little")


def check_split(objdump, binary, debug_dir):
    """No debug sections; a debug link naming a .debug file beside it whose CRC matches."""
    problems = []
    name = os.path.basename(binary)
    sections = section_names(objdump, binary)
    debug_sections = [s for s in sections if s.startswith((".debug", ".zdebug"))]
    if debug_sections:
        problems.append(f"{name} has debug sections {debug_sections}")
    if ".gnu_debuglink" not in sections:
        return problems + [f"{name} has no .gnu_debuglink section"]
    link, crc = debuglink(objdump, binary)
    if link != name + ".debug":
        problems.append(f"{name} links {link}, not {name}.debug")
    debug_file = os.path.join(debug_dir, link)
    if not os.path.isfile(debug_file):
        return problems + [f"the debug archive has no {link} beside {name}"]
    with open(debug_file, "rb") as f:
        actual = zlib.crc32(f.read())
    if actual != crc:
        problems.append(f"{link}: CRC {actual:08x}, the link says {crc:08x}")
    if not any(s.startswith(".debug_info") for s in section_names(objdump, debug_file)):
        problems.append(f"{link} holds no .debug_info")
    return problems


def pe_imports(objdump, binary):
    return [d.lower() for d in re.findall(r"DLL Name: (\S+)", run(objdump, "-p", binary))]


def pe_exports(objdump, binary):
    out = run(objdump, "-p", binary)
    at = out.find("[Ordinal/Name Pointer] Table")
    if at < 0:
        return []
    table = out[at:].split("\n\n")[0]
    return sorted(re.findall(r"\[\s*\d+\] (\S+)", table))


def version_resource(binary):
    """FILEVERSION (four numbers) and the FileVersion and ProductVersion texts of a
    PE file's version resource, read from the resource bytes."""
    with open(binary, "rb") as f:
        data = f.read()
    at = data.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO signature
    if at < 0:
        raise Failure(f"{binary} has no version resource")
    ms = int.from_bytes(data[at + 8:at + 12], "little")
    ls = int.from_bytes(data[at + 12:at + 16], "little")
    fixed = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    texts = {}
    for key in ("FileVersion", "ProductVersion"):
        needle = (key + "\0").encode("utf-16-le")
        k = data.find(needle, at)
        if k < 0:
            raise Failure(f"{binary}: no {key} text in the version resource")
        v = (k + len(needle) + 3) & ~3  # values start on a 32-bit boundary
        end = v
        while data[end:end + 2] != b"\0\0":
            end += 2
        texts[key] = data[v:end].decode("utf-16-le")
    return fixed, texts


def check_dll_tables(pk, dll, debug_file):
    """The module's table checks of the build tree, on the shipped DLL: the exact
    import list, DllMain as entry point (found in its debug file), no TLS directory."""
    out = run(pk.args.cmake, f"-DMODULE={dll}", f"-DTOOL={pk.args.objdump}", "-DWINDOWS=1",
              f"-DEXPORTS={os.path.join(pk.args.source, 'src', 'exports.map')}",
              f"-DNM={pk.args.nm}", f"-DSYMBOLS={debug_file}",
              "-P", os.path.join(pk.args.source, "tests", "check_module_tables.cmake"))
    print(out.strip())


def cmd_windows_binaries(pk):
    top = pk.unpack(["main", "debug"], "binaries")
    objdump = pk.args.objdump
    bin_dir = os.path.join(top, "bin")
    problems = []
    dll = os.path.join(bin_dir, NAME + ".dll")
    size = os.path.getsize(dll)
    print(f"{NAME}.dll: {size} bytes")
    if size >= MAX_DLL_BYTES:
        problems.append(f"{NAME}.dll is {size} bytes, not under {MAX_DLL_BYTES}")
    exports = pe_exports(objdump, dll)
    if exports != EXPORTS:
        problems.append(f"{NAME}.dll exports {exports}, not {EXPORTS}")
    check_dll_tables(pk, dll, dll + ".debug")
    fixed, texts = version_resource(dll)
    want = tuple(int(p) for p in pk.version.split(".")) + (0,)
    if fixed != want or texts != {"FileVersion": pk.version, "ProductVersion": pk.version}:
        problems.append(f"version resource {fixed} {texts}, expected {want} and {pk.version}")
    programs = sorted(n for n in os.listdir(bin_dir) if n.endswith((".dll", ".exe")))
    for name in programs:
        path = os.path.join(bin_dir, name)
        imports = pe_imports(objdump, path)
        foreign = [d for d in imports if not SYSTEM_DLL.match(d)]
        if foreign:
            problems.append(f"{name} imports {foreign}, which are not system DLLs")
        problems += check_split(objdump, path, bin_dir)
        marks = pe_marks(objdump, path)
        problems += [] if len(marks) == 4 else [f"{name} is marked {marks} only"]
        print(f"{name}: imports {imports}, marked {marks}")
    if problems:
        raise Failure("\n".join(problems))


def pe_marks(objdump, path):
    """ASLR (high entropy), NX, and CET shadow-stack compatible: a debug entry of
    type 20 whose data has bit 0 (cmake/pe_cetcompat.py)."""
    header = run(objdump, "-p", path)
    marks = [m for m in ("HIGH_ENTROPY_VA", "DYNAMIC_BASE", "NX_COMPAT") if m in header]
    entry = re.search(r"^ 20 +\S+ +[0-9a-f]{8} [0-9a-f]{8} ([0-9a-f]{8})$", header, re.M)
    with open(path, "rb") as f:
        marks += ["CET_COMPAT"] if entry and f.read()[int(entry.group(1), 16)] & 1 else []
    return marks


def elf_dynamic(binary):
    out = run("objdump", "-p", binary)
    return (re.findall(r"^\s+NEEDED\s+(\S+)", out, re.M),
            re.findall(r"^\s+SONAME\s+(\S+)", out, re.M))


def deb_control(path):
    out = run("dpkg-deb", "--field", path)
    fields = {}
    key = None
    for line in out.splitlines():
        if line.startswith((" ", "\t")) and key:
            fields[key] += "\n" + line.strip()
        elif ":" in line:
            key, value = line.split(":", 1)
            fields[key] = value.strip()
    return fields


def cmd_linux_binaries(pk):
    top = pk.unpack(["main", "debug"], "binaries")
    problems = []
    libdir = os.path.join(top, "lib", pk.args.multiarch)
    real = os.path.join(libdir, f"lib{NAME}.so.{pk.version}")
    major = pk.version.split(".")[0]
    needed, soname = elf_dynamic(real)
    if soname != [f"lib{NAME}.so.{major}"]:
        problems.append(f"SONAME {soname}, expected lib{NAME}.so.{major}")
    for link, target in ((f"lib{NAME}.so.{major}", f"lib{NAME}.so.{pk.version}"),
                         (f"lib{NAME}.so", f"lib{NAME}.so.{major}")):
        path = os.path.join(libdir, link)
        if not os.path.islink(path) or os.readlink(path) != target:
            problems.append(f"{link} is not a link to {target}")
    dynsym = run("nm", "-D", "--defined-only", real)
    exports = sorted(re.findall(r"^[0-9a-f]+ [TtDdBbRrWwVviu] ([^@\s]+)", dynsym, re.M))
    if exports != EXPORTS:
        problems.append(f"the module exports {exports}, not {EXPORTS}")
    binaries = [real]
    bin_dir = os.path.join(top, "bin")
    if os.path.isdir(bin_dir):
        binaries += [os.path.join(bin_dir, n) for n in sorted(os.listdir(bin_dir))
                     if not n.endswith(".debug")]
    for path in binaries:  # what they need of the system: elf-audit
        problems += check_split("objdump", path, os.path.dirname(path))

    control = deb_control(pk.path("deb"))
    print("deb control:", {k: v for k, v in control.items() if k != "Description"})
    expected = {"Package": NAME, "Version": pk.version, "Architecture": "amd64"}
    for key, value in expected.items():
        if control.get(key) != value:
            problems.append(f".deb {key} is {control.get(key)!r}, not {value!r}")
    depends = [d.strip() for d in control.get("Depends", "").split(",") if d.strip()]
    libc6 = [re.fullmatch(r"libc6(?: \(>= (\d+)\.(\d+)\))?", d) for d in depends]
    if len(libc6) != 1 or not libc6[0] or tuple(map(int, libc6[0].groups(0))) > MAX_GLIBC:
        problems.append(f".deb Depends is {depends}, not libc6 (>= 2.17 or older) alone")
    for key in ("Maintainer", "Description"):
        if not control.get(key):
            problems.append(f".deb has no {key}")
    if problems:
        raise Failure("\n".join(problems))


def glibc(version):
    """(2, 17) for GLIBC_2.17; a version of another form (GLIBC_PRIVATE) is newer than all."""
    m = re.fullmatch(r"GLIBC_(\d+)\.(\d+)(?:\.\d+)?", version)
    return (int(m.group(1)), int(m.group(2))) if m else (99, 0)


def cmd_elf_audit(pk):
    problems = []
    copy = os.path.join(pk.work, "elf")
    allowed = C_LIBRARY
    packages = [(".tgz", pk.path("package"))] if pk.args.platform == "npm" else [
        (".tar.gz", pk.path("main")), (".deb", pk.path("deb")),
        ("wheel", os.path.join(pk.dist, pk.wheel))]
    if pk.args.platform == "npm":
        allowed = C_LIBRARY + [f"lib{NAME}.so.{pk.version.split('.')[0]}"]
    for label, path in packages:
        if path.endswith(".whl"):
            with zipfile.ZipFile(path) as z:
                files = [(n, z.read(n)) for n in z.namelist()]
        else:
            with open_tar(path) as t:
                files = [(m.name, t.extractfile(m).read()) for m in t.getmembers() if m.isfile()]
        elves = [(n, data) for n, data in files if data[:4] == b"\x7fELF"]
        for name, data in [(n, data) for n, data in files if n.endswith((".node", ".dll"))
                           and data[:2] == b"MZ"]:
            with open(copy, "wb") as f:
                f.write(data)
            marks = pe_marks(pk.args.objdump, copy)
            problems += [] if len(marks) == 4 else [f"{label}: {name} is marked {marks} only"]
            print(f"{label}: {name}: marked {marks}")
        problems += [] if elves else [f"{label}: no ELF file in {path}"]
        for name, data in elves:
            with open(copy, "wb") as f:
                f.write(data)
            needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(\S+)\]",
                                run("readelf", "-dW", copy))
            # Each glibc version that the file needs, with the symbols that need it.
            versions = {v: [] for v in re.findall(r"Name: (GLIBC_\S+)",
                                                  run("readelf", "-VW", copy))}
            for symbol, v in re.findall(r" UND (\S+?)@+(GLIBC_[^\s(]+)",
                                        run("readelf", "--dyn-syms", "-W", copy)):
                versions.setdefault(v, []).append(symbol)
            # Full RELRO, immediate binding, a stack that is not executable, and
            # the CET marks (not on the static tool: Debian 12's libc.a has none).
            segments, notes = run("readelf", "-lW", copy), run("readelf", "-nW", copy)
            hardened = {"RELRO": "GNU_RELRO" in segments, "BIND_NOW": re.search(
                r"\(FLAGS(?:_1)?\) .*\bNOW\b", run("readelf", "-dW", copy)),
                "NX stack": re.search(r"GNU_STACK( +\S+){5} +RW ", segments),
                "IBT, SHSTK": "x86 feature: IBT, SHSTK" in notes or "/bin/" in name}
            problems += [f"{label}: {name} lacks {k}" for k, v in hardened.items() if not v]
            problems += [f"{label}: {name} needs {n}, not the C library" for n in needed
                         if n not in allowed]
            problems += [f"{label}: {name} needs {v} for {s or 'no symbol'}"
                         for v, s in versions.items() if glibc(v) > MAX_GLIBC]
            print(f"{label}: {name}: NEEDED {needed}, newest glibc version "
                  f"{max(versions, key=glibc, default='none')}, RELRO, BIND_NOW, NX stack")
    # The compiler's options, as the debug archive records them for each unit.
    debug_files = []
    if pk.args.platform != "npm":
        with open_tar(pk.path("debug")) as t:
            debug_files = [(m.name, t.extractfile(m).read()) for m in t.getmembers() if m.isfile()]
    for name, data in debug_files:
        with open(copy, "wb") as f:
            f.write(data)
        units = re.findall(r"DW_AT_producer .*?: (GNU C.*)", run("readelf", "--debug-dump=info",
                                                                   copy))
        lacking = {flag for unit in units for flag in HARDENING if flag not in unit}
        lacking |= set() if re.search(r" __(?!stack_)\w+_chk\b", run("nm", copy)) else {
            "-D_FORTIFY_SOURCE (no __*_chk call)"}
        problems += [f"{name}: no {flag}" for flag in sorted(lacking)] if units else [
            f"{name}: no compile unit records its options"]
        print(f"{name}: {len(units)} compile units with {' '.join(HARDENING)}; fortified calls")
    if problems:
        raise Failure("\n".join(problems))


def cmd_lintian(pk):
    if not shutil.which("lintian"):
        raise Skip("no lintian (Debian: lintian)")
    # (--show-overrides would make the overridden warnings fail the run.)
    out = run("lintian", "--fail-on", "error,warning", pk.path("deb"))
    print(f"{out}{run('lintian', '--version').strip()}: no error and no warning")


def cmd_npm_install(pk):
    """`npm install FILE.tgz --offline` into a fresh project with an empty npm cache."""
    project = os.path.join(pk.work, "project")
    shutil.rmtree(project, ignore_errors=True)
    os.makedirs(project)
    with open(os.path.join(project, "package.json"), "w") as f:
        f.write('{"name": "velquorn-consumer", "version": "1.0.0", "private": true}\n')
    env = dict(os.environ, npm_config_cache=os.path.join(pk.work, "npm-cache"),
               npm_config_update_notifier="false", npm_config_foreground_scripts="true")
    done = subprocess.run([pk.args.npm, "install", "--offline", "--no-audit", "--no-fund",
                           "--loglevel=info", os.path.abspath(pk.path("package"))], cwd=project,
                          env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    out = done.stdout
    if done.returncode != 0:
        raise Failure(f"npm install failed ({done.returncode}):\n{out}")
    installed = os.path.join(project, "node_modules", "velquorn-cpuinfo")
    files = sorted(os.path.relpath(os.path.join(d, n), installed)
                   for d, _, names in os.walk(installed) for n in names)
    packed = sorted(m[len("package/"):] for m in archive_members(pk.path("package")))
    problems = [f"installed {f}, which the package does not hold"
                for f in sorted(set(files) - set(packed))]
    problems += [f"the package's {f} is not installed" for f in sorted(set(packed) - set(files))]
    # npm logs each script that it runs ("npm info run PACKAGE EVENT"); node-gyp names itself.
    problems += [f"npm ran a script or node-gyp:\n{out}" for _ in
                 re.findall(r"^npm info run |gyp", out, re.M)[:1]]
    others = sorted(os.listdir(os.path.join(project, "node_modules")))
    if others not in (["velquorn-cpuinfo"], [".package-lock.json", "velquorn-cpuinfo"]):
        problems.append(f"node_modules holds {others}: the package has no dependencies")
    for name in pk.args.copy or []:
        shutil.copy(name, project)
    if problems:
        raise Failure("\n".join(problems))
    print(f"installed offline: {len(files)} files, as packed, nothing compiled; in {project}")


def check_host_output(label, out):
    """A host prints the report, then "version V, sse2 1, logical N"."""
    lines = out.splitlines()
    if len(lines) != 2:
        raise Failure(f"{label}: expected the report and one line, got {out!r}")
    report = parse_report(lines[0])
    m = re.fullmatch(r"version (\S+), sse2 1, logical (\d+)", lines[1])
    if not m:
        raise Failure(f"{label}: unexpected answers line {lines[1]!r}")
    print(f"{label}: {report['vendor']} {report['brand']!r}, version {m.group(1)}, "
          f"{m.group(2)} logical")
    return m.group(1)


def run_windows(pk, exe, label):
    """Runs a Windows program under Wine with the package's DLL beside it."""
    folder = os.path.dirname(exe)
    top = os.path.join(pk.work, "zip", pk.top)
    shutil.copy(os.path.join(top, "bin", NAME + ".dll"), folder)
    return check_host_output(label, run(pk.args.emulator, exe, cwd=folder))


def consumer_source(pk):
    return os.path.join(pk.args.source, "tests", "consumer")


def cmd_mingw_host(pk):
    top = pk.unpack(["main"], "zip")
    out_dir = os.path.join(pk.work, "mingw-host")
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    exe = os.path.join(out_dir, "consumer.exe")
    run(pk.args.cc, os.path.join(consumer_source(pk), "consumer.c"), "-I",
        os.path.join(top, "include"), os.path.join(top, "lib", NAME + ".dll.a"), "-o", exe)
    imports = pe_imports("x86_64-w64-mingw32-objdump", exe) if shutil.which(
        "x86_64-w64-mingw32-objdump") else []
    if imports and NAME + ".dll" not in imports:
        raise Failure(f"the MinGW host does not import {NAME}.dll: {imports}")
    return run_windows(pk, exe, "MinGW host (.dll.a)")


def cmd_msvc_host(pk):
    """The MSVC model twice: a host linked by hand against the .lib, and a CMake
    project (clang-cl, lld-link) to which find_package gives the .lib."""
    for tool in (pk.args.clang, pk.args.lld_link, pk.args.dlltool):
        if not tool or not shutil.which(tool):
            raise Skip(f"no {tool or 'clang/lld-link/llvm-dlltool'}: the MSVC-model hosts "
                       "need clang, lld and llvm-dlltool")
    top = pk.unpack(["main"], "zip")
    tests = os.path.join(pk.args.source, "tests", "package")
    hosts = os.path.join(tests, "hosts")
    out_dir = os.path.join(pk.work, "msvc-host")
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    obj = os.path.join(out_dir, "msvc_host.obj")
    exe = os.path.join(out_dir, "msvc_host.exe")
    kernel32 = os.path.join(pk.work, "kernel32.lib")
    run(pk.args.dlltool, "-m", "i386:x86-64", "-d", os.path.join(hosts, "kernel32.def"),
        "-l", kernel32)
    run(pk.args.clang, "--target=x86_64-pc-windows-msvc", "-O2", "-ffreestanding",
        "-fno-stack-protector", "-fno-builtin", "-Wall", "-Wextra", "-Werror", "-I",
        os.path.join(top, "include"), "-c", os.path.join(hosts, "msvc_host.c"), "-o", obj)
    run(pk.args.lld_link, "/nologo", "/subsystem:console", "/entry:host_main", "/nodefaultlib",
        f"/out:{exe}", obj, os.path.join(top, "lib", NAME + ".lib"), kernel32)
    run_windows(pk, exe, "MSVC-model host (.lib, lld-link)")

    build = os.path.join(pk.work, "msvc-cmake-consumer")
    cmake_build(os.path.join(tests, "msvc-consumer"), build, "-G", "Ninja",
                f"-DCMAKE_TOOLCHAIN_FILE={os.path.join(tests, 'msvc-clang-cl.cmake')}",
                f"-DVelquornCpuInfo_DIR={top}/lib/cmake/VelquornCpuInfo",
                f"-DVELQUORN_KERNEL32_LIB={kernel32}")
    return run_windows(pk, os.path.join(build, "msvc_host.exe"),
                       "MSVC-model find_package consumer (clang-cl, .lib)")


def cmake_build(source, build, *options):
    shutil.rmtree(build, ignore_errors=True)
    run("cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release", *options)
    run("cmake", "--build", build)


def cmd_cmake_consumer(pk):
    if pk.args.platform == "win64":
        top = pk.unpack(["main"], "zip")
        build = os.path.join(pk.work, "cmake-consumer")
        # A cross build searches only its own root; the package's folder is named.
        cmake_build(consumer_source(pk), build, f"-DCMAKE_TOOLCHAIN_FILE={pk.args.toolchain}",
                    f"-DVelquornCpuInfo_DIR={top}/lib/cmake/VelquornCpuInfo")
        return run_windows(pk, os.path.join(build, "consumer.exe"), "find_package consumer")
    # The .tar.gz unpacked, then moved: the CMake package and the .pc file must
    # find the files relative to themselves.
    staged = pk.unpack(["main"], "tarball-staged")
    top = os.path.join(pk.work, "tarball", "moved")
    shutil.rmtree(os.path.dirname(top), ignore_errors=True)
    os.makedirs(os.path.dirname(top))
    shutil.move(staged, top)
    env = dict(os.environ, LD_LIBRARY_PATH=os.path.join(top, "lib", pk.args.multiarch))
    build = os.path.join(pk.work, "cmake-consumer")
    cmake_build(consumer_source(pk), build, f"-DCMAKE_PREFIX_PATH={top}")
    version = check_host_output("find_package consumer",
                                run(os.path.join(build, "consumer"), env=env))
    pc_env = dict(env, PKG_CONFIG_PATH=os.path.join(top, "lib", pk.args.multiarch, "pkgconfig"))
    flags = run("pkg-config", "--cflags", "--libs", NAME, env=pc_env).split()
    exe = os.path.join(pk.work, "pc-consumer")
    run("cc", os.path.join(consumer_source(pk), "consumer.c"), *flags, "-o", exe)
    check_host_output("pkg-config consumer", run(exe, env=env))
    return version


class System:
    """Where a package is installed and run: this machine (root ""), or a root
    folder entered with chroot in a private mount namespace into which /proc,
    /sys and /dev are bound, so that its programs see the real processor."""

    ENTER = 'for d in proc sys dev; do mount --rbind "/$d" "$0/$d"; done; exec chroot "$0" "$@"'

    def __init__(self, root, scratch):
        self.root, self.scratch = root, scratch
        self.env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": "/root"} if root else None
        shutil.rmtree(self.outside(scratch), ignore_errors=True)
        os.makedirs(self.outside(scratch))

    def outside(self, path):
        return self.root + path

    def command(self, *command):
        return ["unshare", "--mount", "--propagation", "private", "sh", "-ec", self.ENTER,
                self.root, *command] if self.root else list(command)

    def run(self, *command, timeout=300):
        return run(*self.command(*command), env=self.env, timeout=timeout)

    def status(self, *command):
        return subprocess.run(self.command(*command), capture_output=True, text=True, env=self.env)

    def copy_in(self, path):
        shutil.copy(path, self.outside(self.scratch))
        return os.path.join(self.scratch, os.path.basename(path))


def deb_round_trip(pk, system, label, while_installed):
    """Installs the .deb with dpkg, runs `while_installed`, a pkg-config consumer
    and the tool, then removes the package: nothing of it may be left."""
    deb = pk.path("deb")
    files = [f[1:] if f.startswith("./") else f for f in archive_members(deb)]
    try:
        system.run("dpkg", "-i", system.copy_in(deb))
        while_installed()
        flags = system.run("pkg-config", "--cflags", "--libs", NAME).split()
        exe = os.path.join(system.scratch, "pc-consumer")
        system.run("cc", system.copy_in(os.path.join(consumer_source(pk), "consumer.c")), *flags,
                   "-o", exe)
        check_host_output(f"pkg-config consumer ({label})", system.run(exe))
        out = system.run("/usr/bin/velquorn-cpuinfo", "--version").strip()
        if out != f"velquorn-cpuinfo {pk.version}":
            raise Failure(f"velquorn-cpuinfo --version says {out!r}")
        print(f"velquorn-cpuinfo --version ({label}): {out}")
    finally:
        system.status("dpkg", "-r", NAME)
    left = [f for f in files if os.path.lexists(system.outside(f))]
    state = system.status("dpkg-query", "-W", "-f=${Status}", NAME).stdout
    if left or "installed" in state.split():
        raise Failure(f"after dpkg -r ({label}): status {state!r}, files left {left}")
    print(f"{label}: installed {len(files)} files, removed: nothing left")


def cmd_deb_install(pk):
    if os.geteuid() != 0:
        raise Skip("installing the .deb needs root (CI runs as root)")
    if not shutil.which("dpkg"):
        raise Skip("no dpkg on this machine")
    system = System("", pk.work)
    if "installed" in system.status("dpkg-query", "-W", "-f=${Status}", NAME).stdout.split():
        raise Skip(f"{NAME} is already installed here; the test does not replace it")

    def cmake_consumer_and_manual():
        build = os.path.join(pk.work, "deb-cmake-consumer")
        cmake_build(consumer_source(pk), build)  # no prefix path: the system's
        check_host_output("find_package consumer (system)", run(os.path.join(build, "consumer")))
        if shutil.which("man"):
            out = run("man", "-P", "cat", "velquorn-cpuinfo", env=dict(os.environ, MANWIDTH="80"))
            if "--replay" not in out or "EXIT STATUS" not in out:
                raise Failure(f"man velquorn-cpuinfo does not show the manual page:\n{out}")
            print(f"man velquorn-cpuinfo: {len(out.splitlines())} lines")
    deb_round_trip(pk, system, "this system", cmake_consumer_and_manual)


def apt_mirror():
    """The first archive in apt's sources (one-line or deb822) but the security archive."""
    for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*")):
        if path.endswith((".list", ".sources")) and os.path.isfile(path):
            with open(path) as f:
                for uri in re.findall(r"^(?:deb\s+(?:\[[^]]*\]\s+)?|URIs:\s*)(https?://\S+)",
                                      f.read(), re.M):
                    if "security" not in uri:
                        return uri
    raise Skip("apt's sources name no Debian mirror to make a Debian 11 root from")


BULLSEYE_PACKAGES = "gcc,libc6-dev,pkg-config,python3-venv"


def debian_root(pk, suite, packages=""):
    """A Debian root made by debootstrap (minbase and `packages`) beside the
    checks' scratch folders, reused by later runs once a stamp beside it says
    it is whole."""
    if os.geteuid() != 0:
        raise Skip("a Debian root needs root (debootstrap, chroot, mount namespaces)")
    for tool in ("debootstrap", "unshare", "chroot"):
        if not shutil.which(tool):
            raise Skip(f"no {tool} program (Debian: debootstrap, util-linux, coreutils)")
    started = time.monotonic()
    root, how = os.path.join(os.path.dirname(pk.work), f"debian-{suite}"), "reused"
    if not os.path.isfile(root + ".complete"):
        mirror, how = apt_mirror(), "made"
        shutil.rmtree(root, ignore_errors=True)
        print(f"debootstrap {suite} from {mirror} with {packages or 'nothing more'}")
        # In a mount namespace of its own, so that nothing it mounts outlives it.
        run("unshare", "--mount", "--propagation", "private", "debootstrap", "--variant=minbase",
            *([f"--include={packages}"] if packages else []), suite, root, mirror, timeout=3600)
        open(root + ".complete", "w").close()
    print(f"Debian {suite} root {how} in {time.monotonic() - started:.0f} s: {root}")
    return root


def cmd_bullseye(pk):
    started = time.monotonic()
    root = debian_root(pk, "bullseye", BULLSEYE_PACKAGES)
    system = System(root, "/tmp/velquorn-test")
    system.status("dpkg", "--purge", NAME)  # what an interrupted run left installed
    host_tool = os.path.join(pk.unpack(["main"], "host"), "bin", "velquorn-cpuinfo")
    host = parse_report(run(host_tool))

    def check_report(label, text):
        report = parse_report(text)
        got, want = [(r["physical_cores"], r["logical_cores"]) for r in (report, host)]
        if got != want:
            raise Failure(f"{label}: (physical, logical) cores {got}, on this machine {want}")
        print(f"{label}: valid report, {got[0]} cores, {got[1]} logical as on this machine")

    def tool():
        check_report("velquorn-cpuinfo (.deb)", system.run("/usr/bin/velquorn-cpuinfo"))
        system.run("/usr/bin/velquorn-cpuinfo", "--has", "sse2")
    deb_round_trip(pk, system, "Debian 11", tool)

    venv = os.path.join(system.scratch, "venv")
    system.run("python3", "-m", "venv", venv)
    python = os.path.join(venv, "bin", "python")
    system.run(python, "-m", "pip", "install", "--no-index", "--no-cache-dir",
               "--disable-pip-version-check", "--quiet",
               system.copy_in(os.path.join(pk.dist, pk.wheel)))
    check_report(f"wheel in {system.run(python, '--version').strip()}", system.run(
        python, "-c", "import json, velquorn_cpuinfo as v; print(json.dumps(v.report()))"))
    system.run(python, "-m", "velquorn_cpuinfo", "--has", "sse2")

    tarball = os.path.join(system.scratch, "tarball")
    with tarfile.open(pk.path("main")) as t:
        t.extractall(system.outside(tarball))
    check_report("velquorn-cpuinfo (.tar.gz)",
                 system.run(os.path.join(tarball, pk.top, "bin", "velquorn-cpuinfo")))
    print(f"done in {time.monotonic() - started:.0f} s")


def quick_start(source):
    """The shell lines of the README's quick-start block, comments dropped:
    its two apt-get lines and its two cmake lines, each pair in order."""
    with open(os.path.join(source, "README.md")) as f:
        section = re.search(r"^## Quick start\n(.*?)^## ", f.read(), re.M | re.S)
    block = section and re.search(r"^```sh\n(.*?)^```", section.group(1), re.M | re.S)
    lines = [line.split("#")[0].strip() for line in block.group(1).splitlines()] if block else []
    apt, cmake = ([line for line in lines if line.startswith(w)] for w in ("apt-get", "cmake"))
    if len(apt) != 2 or len(cmake) != 2:
        raise Failure(f"README.md's quick start has apt lines {apt} and cmake lines {cmake}; "
                      "the check expects two of each")
    return apt, cmake


def cmd_quick_start(pk):
    apt, cmake = quick_start(pk.args.source)
    started = time.monotonic()
    pristine = debian_root(pk, "bookworm")
    # Each run starts from a copy, so the kept root stays as debootstrap left it.
    root = os.path.join(pk.work, "root")
    shutil.rmtree(root, ignore_errors=True)
    run("cp", "-a", pristine, root, timeout=600)
    shutil.copy("/etc/resolv.conf", os.path.join(root, "etc"))
    system = System(root, "/root/quick-start")
    system.env["DEBIAN_FRONTEND"] = "noninteractive"
    source = os.path.join(system.scratch, "source")
    shutil.copytree(pk.args.source, system.outside(source), symlinks=True,
                    ignore=lambda d, names: ["build", ".git"] if d == pk.args.source else [])

    def step(line, timeout=1800):
        print(f"$ {line}", flush=True)
        begun = time.monotonic()
        out = system.run("sh", "-ec", f"cd {source} && {line}", timeout=timeout)
        print(f"  ({time.monotonic() - begun:.0f} s)", flush=True)
        return out

    step(apt[0])
    last = step(cmake[0]).rstrip("\n").splitlines()[-1]
    report = parse_report(last)
    print(f"report: {report['vendor']} {report['brand']!r}, {report['logical_cores']} logical")
    step(apt[1])
    tail = step(cmake[1], timeout=3600).rstrip("\n").splitlines()[-12:]
    print("\n".join(tail))
    shutil.rmtree(root, ignore_errors=True)
    print(f"done in {time.monotonic() - started:.0f} s")


def cmd_versions(pk):
    v = pk.version
    found = {}
    problems = []
    top = pk.unpack(["main"], "versions")
    # The packages and the wheel are named with the project version: a file of
    # that name must exist.
    for name in list(pk.archives.values()) + [pk.wheel]:
        exists = os.path.isfile(os.path.join(pk.dist, name))
        found[f"file {name}"] = v if exists else "missing"
    libdir = os.path.join(top, "lib") if pk.args.platform == "win64" else os.path.join(
        top, "lib", pk.args.multiarch)
    with open(os.path.join(libdir, "pkgconfig", NAME + ".pc")) as f:
        found[".pc Version"] = re.search(r"^Version: (\S+)$", f.read(), re.M).group(1)
    with open(os.path.join(libdir, "cmake", "VelquornCpuInfo",
                           "VelquornCpuInfoConfigVersion.cmake")) as f:
        found["CMake PACKAGE_VERSION"] = re.search(r'set\(PACKAGE_VERSION "([^"]+)"\)',
                                                   f.read()).group(1)
    if pk.args.platform == "win64":
        fixed, texts = version_resource(os.path.join(top, "bin", NAME + ".dll"))
        found["DLL FILEVERSION"] = ".".join(map(str, fixed[:3])) if fixed[3] == 0 else str(fixed)
        found.update({f"DLL {k}": t for k, t in texts.items()})
        found["cpuinfo_version()"] = cmd_mingw_host(pk)
    else:
        found["cpuinfo_version()"] = cmd_cmake_consumer(pk)
    for what, value in found.items():
        mark = "ok  " if value == v else "FAIL"
        print(f"{mark} {what}: {value}")
        if value != v:
            problems.append(f"{what} is {value}, the project version is {v}")
    if problems:
        raise Failure("\n".join(problems))


def cmd_release(pk):
    run("sha256sum", "--check", "--strict", "SHA256SUMS", cwd=pk.dist)
    with open(os.path.join(pk.dist, "SHA256SUMS")) as f:
        listed = sorted(line.rstrip("\n").split("  ", 1)[1] for line in f)
    present = sorted(set(os.listdir(pk.dist)) - {"SHA256SUMS"})
    problems = [f"no {name} in {pk.dist}" for name in pk.files if name not in present]
    if listed != present:
        problems.append(f"SHA256SUMS lists {listed}; the folder holds {present}")
    if problems:
        raise Failure("\n".join(problems))
    print(f"{pk.dist}: {len(present)} release files, the {len(pk.files)} expected among them; "
          "SHA256SUMS lists exactly them and verifies")


def cmd_reproducible(pk):
    cmd_release(pk)
    # The normalizer refuses a ZIP link rather than write it back as a file.
    link_zip, link = os.path.join(pk.work, "link.zip"), zipfile.ZipInfo("lib/libx.so")
    link.external_attr = 0o120777 << 16
    with zipfile.ZipFile(link_zip, "w") as z:
        z.writestr(link, "libx.so.1")
    done = subprocess.run([sys.executable, os.path.join(pk.args.source, "packaging",
                           "normalize_archives.py"), "--mtime", "0", link_zip], capture_output=True)
    if done.returncode != 1 or b"lib/libx.so: only files and folders" not in done.stderr:
        raise Failure(f"a ZIP link member: status {done.returncode}, {done.stderr!r}")
    # The same source in another folder (no .git: the time is given), built
    # later by the release preset itself, under another umask, without the
    # workflows' tests, which ran with the first build.
    top, source = os.path.abspath(pk.args.source), os.path.join(pk.work, "elsewhere", "source")
    shutil.rmtree(os.path.dirname(source), ignore_errors=True)
    shutil.copytree(top, source, symlinks=True, ignore=lambda folder, entries: [
        e for e in entries if e == "__pycache__" or (folder == top and e in ("build", ".git"))])
    started = time.monotonic()
    os.umask(0o002)
    env = dict(os.environ, SOURCE_DATE_EPOCH=pk.args.source_date_epoch)
    run(pk.args.cmake, "--preset", "release", "-DVELQUORN_RELEASE_TESTS=OFF", cwd=source, env=env)
    run(pk.args.cmake, "--build", "--preset", "release", cwd=source, timeout=3600, env=env)
    again = os.path.join(source, os.path.relpath(os.path.abspath(pk.dist), top))
    names = sorted(set(os.listdir(pk.dist)) | set(os.listdir(again)))
    print(f"{len(names)} files; rebuilt in {again} in {time.monotonic() - started:.0f} s")
    differ = []
    for name in names:
        paths = [os.path.join(d, name) for d in (pk.dist, again)]
        data = [open(p, "rb").read() if os.path.isfile(p) else None for p in paths]
        differ += [f"{name} (diffoscope {' '.join(paths)})"] if data[0] != data[1] else []
    if differ:
        raise Failure("the rebuild differs:\n" + "\n".join(differ))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", choices=["manifests", "windows-binaries", "linux-binaries",
                                            "mingw-host", "msvc-host", "cmake-consumer",
                                            "deb-install", "versions", "elf-audit",
                                            "bullseye", "quick-start", "lintian", "release",
                                            "reproducible", "npm-install"])
    parser.add_argument("--platform", required=True,
                        choices=["win64", "linux-x86_64", "nuget", "npm", "release"])
    parser.add_argument("--version", required=True, help="the project version")
    parser.add_argument("--dist", required=True, help="folder of the packages")
    parser.add_argument("--work", required=True, help="scratch folder of this check")
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--manifests", help="folder of the archive manifests")
    parser.add_argument("--multiarch", default="x86_64-linux-gnu", help="Debian library folder")
    parser.add_argument("--objdump", default="objdump")
    parser.add_argument("--nm", default="nm")
    parser.add_argument("--emulator", help="runs Windows programs (Wine)")
    parser.add_argument("--cc", help="MinGW C compiler")
    parser.add_argument("--toolchain", help="MinGW CMake toolchain file")
    parser.add_argument("--clang")
    parser.add_argument("--lld-link")
    parser.add_argument("--dlltool")
    parser.add_argument("--cmake", default="cmake", help="cmake that runs the package workflow")
    parser.add_argument("--source-date-epoch", help="the time that the packages record")
    parser.add_argument("--npm", default="npm")
    parser.add_argument("--copy", nargs="*", help="files copied into the npm test project")
    args = parser.parse_args()
    args.work = os.path.join(args.work, args.command)
    os.makedirs(args.work, exist_ok=True)
    handler = globals()["cmd_" + args.command.replace("-", "_")]
    try:
        handler(Packages(args))
    except Skip as skip:
        print(f"SKIP: {skip}")
        return SKIP
    except (Failure, OSError, subprocess.SubprocessError) as err:
        print(f"FAIL: {err}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
