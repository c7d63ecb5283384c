#!/usr/bin/env python3
"""The documents and the manual page, run by CTest (docs_check): every relative link
of README.md, ARCHITECTURE.md and docs/ leads to a file, and to a heading where it
names one (GitHub's anchors); the manual page passes `mandoc -Tlint` silently; its
long options are those of `velquorn-cpuinfo --help`. Exit 0 passed, 1 failed, 77
skipped the manual page's lint (no mandoc; the other checks ran)."""
import collections, glob, os, re, subprocess, sys

LINK = re.compile(r"\]\(([^)\s]+)\)")
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z-]*")


def prose(text):
    """The text without fenced code blocks and code spans, where no link lives."""
    return re.sub(r"`[^`\n]*`", "", re.sub(r"^```.*?^```", "", text, flags=re.M | re.S))


def anchors(path):
    """GitHub's heading anchors: lower case, punctuation dropped, spaces as hyphens,
    a repeated heading numbered -1, -2, ..."""
    seen, found = collections.Counter(), set()
    for heading in re.findall(r"^#{1,6} +(.+?) *$", prose(open(path).read()), re.M):
        slug = re.sub(r"[^\w\- ]", "", heading.replace("`", "").lower()).replace(" ", "-")
        found.add(slug if not seen[slug] else f"{slug}-{seen[slug]}")
        seen[slug] += 1
    return found


def main(source, tool, mandoc=""):
    page = os.path.join(source, "docs", "man", "velquorn-cpuinfo.1")
    documents = [os.path.join(source, n) for n in ("README.md", "ARCHITECTURE.md")]
    documents += sorted(glob.glob(os.path.join(source, "docs", "**", "*.md"), recursive=True))
    problems = []
    for doc in documents:
        for target in LINK.findall(prose(open(doc).read())):
            if re.match(r"^[a-z]+:", target):
                continue  # a web address or mail link
            path, _, anchor = target.partition("#")
            path = os.path.normpath(os.path.join(os.path.dirname(doc), path)) if path else doc
            name = f"{os.path.relpath(doc, source)}: ({target})"
            if not os.path.exists(path):
                problems.append(f"{name}: no file {os.path.relpath(path, source)}")
            elif anchor and (not path.endswith(".md") or anchor not in anchors(path)):
                problems.append(f"{name}: no heading #{anchor}")
    helped = set(OPTION.findall(subprocess.run([tool, "--help"], capture_output=True,
                                               text=True, check=True).stdout))
    manual = set(OPTION.findall(open(page).read().replace("\\-", "-")))
    problems += [f"--help has {o}, the manual page has not" for o in sorted(helped - manual)]
    problems += [f"the manual page has {o}, --help has not" for o in sorted(manual - helped)]
    if mandoc:
        lint = subprocess.run([mandoc, "-Tlint", page], capture_output=True, text=True)
        if lint.returncode != 0 or lint.stdout or lint.stderr:
            problems.append(f"mandoc -Tlint ({lint.returncode}):\n{lint.stdout}{lint.stderr}")
    print(f"{len(documents)} documents, {len(helped)} long options in --help and the manual")
    print("".join(f"FAIL: {p}\n" for p in problems), end="")
    if not mandoc and not problems:
        print("SKIP: no mandoc (Debian: mandoc), so the manual page was not linted")
    return 1 if problems else 0 if mandoc else 77


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))  # SOURCE_DIR TOOL [MANDOC]
