#!/usr/bin/env python3
"""Rewrites release archives so that their bytes depend on their contents alone.

  normalize_archives.py --mtime SECONDS FILE...

Each FILE (.zip, .tar.gz or .deb) is written again in place: members sorted by
name (a .deb keeps its three ar members in the order dpkg needs), owned by
0/0 (root), with mode 0755 for folders and executables and 0644 for other
files, every time set to SECONDS (SOURCE_DATE_EPOCH), and no extra fields,
PAX records or gzip file name and time. The contents are left as they are, but
for the postinst and postrm that CPack 3.25 writes into every .deb with a library
under /usr/lib, whatever the package asks: they only run ldconfig, which the
package's ldconfig trigger does, so they are left out.
A member of another kind (a device; in a ZIP, a link too) is refused.
"""
import argparse
import gzip
import io
import os
import re
import sys
import tarfile
import time
import zipfile


def file_mode(executable):
    return 0o755 if executable else 0o644


LDCONFIG_SCRIPT = re.compile(rb'#!/bin/sh\s+set -e\s+if \[ "\$1" = "(configure|remove)" \]; '
                             rb'then\s+ldconfig\s+fi\s*')


def cpack_ldconfig_script(source, member):
    return member.name in ("./postinst", "./postrm") and LDCONFIG_SCRIPT.fullmatch(
        source.extractfile(member).read())


def normalize_tar(data, mtime, control=False):
    """The bytes of a tar archive (not compressed) with normalized members."""
    out = io.BytesIO()
    with tarfile.open(fileobj=io.BytesIO(data)) as source, \
            tarfile.open(fileobj=out, mode="w", format=tarfile.GNU_FORMAT) as target:
        for member in sorted(source.getmembers(), key=lambda m: m.name):
            if control and member.isfile() and cpack_ldconfig_script(source, member):
                continue
            if not (member.isfile() or member.isdir() or member.issym()):
                raise ValueError(f"{member.name}: only files, folders and links are shipped")
            entry = tarfile.TarInfo(member.name)
            entry.type = member.type
            entry.linkname = member.linkname
            entry.mtime = mtime
            entry.uid = entry.gid = 0
            entry.uname = entry.gname = "root"
            if member.issym():
                entry.mode = 0o777
            else:
                entry.mode = file_mode(member.isdir() or member.mode & 0o111)
            content = None
            if member.isfile():
                entry.size = member.size
                content = source.extractfile(member)
            target.addfile(entry, content)
    return out.getvalue()


def gzip_bytes(data):
    out = io.BytesIO()
    # No file name and time zero in the gzip header.
    with gzip.GzipFile(filename="", mode="wb", fileobj=out, compresslevel=9, mtime=0) as z:
        z.write(data)
    return out.getvalue()


def normalize_tar_gz(data, mtime, control=False):
    return gzip_bytes(normalize_tar(gzip.decompress(data), mtime, control))


def normalize_zip(data, mtime):
    # A ZIP time is local date and time from 1980 on; the UTC one is stored.
    stamp = time.gmtime(max(mtime, 315532800))[:6]
    out = io.BytesIO()
    with zipfile.ZipFile(io.BytesIO(data)) as source, \
            zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as target:
        for info in sorted(source.infolist(), key=lambda i: i.filename):
            entry = zipfile.ZipInfo(info.filename, date_time=stamp)
            entry.create_system = 3  # Unix, so that the modes below are read
            unix_mode = info.external_attr >> 16
            if info.is_dir():
                entry.external_attr = (0o40755 << 16) | 0x10
                target.writestr(entry, b"")
                continue
            # A link (or any kind but a file) would be written back as a file
            # holding its target's name: refused, as the tar path refuses devices.
            if unix_mode & 0o170000 not in (0, 0o100000):
                raise ValueError(f"{info.filename}: only files and folders are shipped in a ZIP")
            entry.external_attr = (0o100000 | file_mode(unix_mode & 0o111)) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            target.writestr(entry, source.read(info))
    return out.getvalue()


AR_MAGIC = b"!<arch>\n"


def read_ar(data):
    if not data.startswith(AR_MAGIC):
        raise ValueError("not an ar archive")
    at, members = len(AR_MAGIC), []
    while at < len(data):
        header = data[at:at + 60]
        name = header[:16].decode().rstrip().rstrip("/")
        size = int(header[48:58].decode())
        members.append((name, data[at + 60:at + 60 + size]))
        at += 60 + size + (size & 1)
    return members


def write_ar(members, mtime):
    out = bytearray(AR_MAGIC)
    for name, content in members:
        out += (f"{name:<16}{mtime:<12}{0:<6}{0:<6}{100644:<8}{len(content):<10}`\n").encode()
        out += content
        if len(content) & 1:
            out += b"\n"
    return bytes(out)


def normalize_deb(data, mtime):
    members = []
    for name, content in read_ar(data):
        control = name.startswith("control.")
        if name.endswith(".tar.gz"):
            content = normalize_tar_gz(content, mtime, control)
        elif name.endswith(".tar"):
            content = normalize_tar(content, mtime, control)
        elif name != "debian-binary":
            raise ValueError(f"{name}: a .deb member that this script cannot normalize")
        members.append((name, content))
    return write_ar(members, mtime)


def normalize(path, mtime):
    with open(path, "rb") as f:
        data = f.read()
    if path.endswith(".zip") or path.endswith(".whl"):
        data = normalize_zip(data, mtime)
    elif path.endswith(".tar.gz"):
        data = normalize_tar_gz(data, mtime)
    elif path.endswith(".deb"):
        data = normalize_deb(data, mtime)
    else:
        raise ValueError("not a .zip, .whl, .tar.gz or .deb")
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (mtime, mtime))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mtime", type=int, required=True, help="SOURCE_DATE_EPOCH")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    for path in args.files:
        try:
            normalize(path, args.mtime)
        except (OSError, ValueError, tarfile.TarError, zipfile.BadZipFile) as err:
            print(f"normalize_archives.py: {path}: {err}", file=sys.stderr)
            return 1
        print(f"normalized {os.path.basename(path)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
