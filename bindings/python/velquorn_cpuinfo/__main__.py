"""python -m velquorn_cpuinfo [--pretty | --has NAME [--has NAME ...]]

  (nothing)    the report, exactly the module's text, and a newline; status 0
  --pretty     the same facts as aligned "name: value" lines; status 0
  --has NAME   prints nothing; status 0 when every named feature is present,
               1 when one is absent, 2 when a name is unknown (standard error
               names it and lists the accepted names)
  --help       this text; status 0

Anything else prints the usage on standard error, status 2. When the module
cannot be loaded, standard error names every place tried, status 2.
"""
from __future__ import annotations

import shutil
import sys
from typing import List, Optional, Sequence

from . import FEATURES, LibraryLoadError, has_feature, report, report_json
from ._pretty import render

PROGRAM = "python -m velquorn_cpuinfo"
USAGE = f"usage: {PROGRAM} [--pretty | --has NAME [--has NAME ...] | --help]\n"

EXIT_OK = 0
EXIT_ABSENT = 1
EXIT_ERROR = 2


def _has_names(args: Sequence[str]) -> Optional[List[str]]:
    """The names of "--has NAME [--has NAME ...]", or None when args are not
    of that form."""
    if not args or len(args) % 2 != 0:
        return None
    names = []
    for i in range(0, len(args), 2):
        if args[i] != "--has":
            return None
        names.append(args[i + 1])
    return names


def _has(names: Sequence[str]) -> int:
    present = []
    for name in names:
        try:
            present.append(has_feature(name))
        except ValueError:
            sys.stderr.write(f"{PROGRAM}: unknown feature name {name!r}; the accepted names "
                             f"are: {' '.join(FEATURES)}\n")
            return EXIT_ERROR
    return EXIT_OK if all(present) else EXIT_ABSENT


def _write(text: str) -> None:
    # Bytes, so that the line ends in "\n" on every platform, as the
    # command-line tool's does.
    sys.stdout.flush()
    sys.stdout.buffer.write(text.encode("ascii", "backslashreplace"))
    sys.stdout.buffer.flush()


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = list(sys.argv[1:] if argv is None else argv)
    try:
        if not args:
            _write(report_json() + "\n")
            return EXIT_OK
        if args == ["--pretty"]:
            width = shutil.get_terminal_size((80, 24)).columns
            _write(render(report(), width))
            return EXIT_OK
        if args in (["--help"], ["-h"]):
            sys.stdout.write(USAGE + "\n" + (__doc__ or "").split("\n", 2)[2])
            return EXIT_OK
        names = _has_names(args)
        if names is not None:
            return _has(names)
    except LibraryLoadError as err:
        sys.stderr.write(f"{PROGRAM}: {err}\n")
        return EXIT_ERROR
    sys.stderr.write(USAGE)
    return EXIT_ERROR


if __name__ == "__main__":
    sys.exit(main())
