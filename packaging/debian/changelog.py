#!/usr/bin/env python3
"""Writes the .deb's changelog.gz in Debian's form from CHANGELOG.md.

  changelog.py --source CHANGELOG.md --package NAME --version V
               --maintainer "Name <address>" --output changelog.gz

One entry per released version ("## [1.0.0] - 2026-12-09"), newest first, each
bullet as one "*" item under its section's name; the Unreleased section is left
out. The newest entry must be the package's version. Compressed as gzip -9n:
no file name, no time, so the same bytes on every build.
"""
import argparse
import datetime
import gzip
import re
import sys
import textwrap


def entries(text):
    """[(version, date, [(section, item text)])] of the released versions."""
    found = []
    for block in re.split(r"^## ", text, flags=re.M)[1:]:
        head = re.match(r"\[([^]]+)\] - (\d{4}-\d{2}-\d{2})", block)
        if not head:
            continue  # Unreleased
        items, section = [], ""
        parts = re.split(r"^(### .*|- )", block, flags=re.M)
        for mark, body in zip(parts[1::2], parts[2::2]):
            if mark.startswith("### "):
                section = mark[4:].strip()
            else:
                items.append((section, " ".join(body.split())))
        found.append((head.group(1), head.group(2), items))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("source", "package", "version", "maintainer", "output"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()
    with open(args.source, encoding="utf-8") as f:
        released = entries(f.read())
    if not released or released[0][0] != args.version:
        print(f"changelog.py: the newest version in {args.source} is not {args.version}",
              file=sys.stderr)
        return 1
    out = []
    for version, date, items in released:
        out.append(f"{args.package} ({version}) unstable; urgency=medium\n")
        for section, item in items:
            out.append(textwrap.fill(f"{section}: {item}", 78, initial_indent="  * ",
                                     subsequent_indent="    ", break_on_hyphens=False))
        day = datetime.datetime.strptime(date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
        out.append(f"\n -- {args.maintainer}  {day.strftime('%a, %d %b %Y %H:%M:%S +0000')}\n")
    with open(args.output, "wb") as f:
        with gzip.GzipFile(filename="", mode="wb", fileobj=f, compresslevel=9, mtime=0) as z:
            z.write("\n".join(out).encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
