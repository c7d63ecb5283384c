"""Describes the processor this program runs on, through the
velquorn-cpuid-cpu-info module (CPUID, RDTSC and a few OS services).

The module is opened on first use from, in this order: the file named by the
environment variable VELQUORN_CPUINFO_LIBRARY, the copy bundled in this
package, the system loader's search. ``load(path)`` picks one explicitly.

Every function may be called from any thread. The module rewrites one shared
buffer for each report; ``report()`` and ``report_json()`` take a lock around
the call and the copy of its text, so Python threads need no lock of their
own (code outside this package that calls the module directly does not take
this lock).
"""
from __future__ import annotations

import ctypes
import threading
from typing import List, Optional, Tuple, TypedDict

from ._loader import ENVIRONMENT_VARIABLE, LibraryLoadError, PathLike, find, open_path

__all__ = [
    "ENVIRONMENT_VARIABLE", "FEATURES", "LibraryLoadError", "Report", "current_mhz",
    "has_feature", "last_error", "load", "logical_cores", "module_path", "report", "report_json",
    "version",
]

#: The 21 feature names that has_feature() accepts, in the order of the
#: report's "features" member ("hypervisor" has a member of its own there,
#: and "x64" too).
FEATURES: Tuple[str, ...] = (
    "sse", "sse2", "htt", "sse3", "ssse3", "fma", "sse41", "sse42", "popcnt", "aes", "avx",
    "f16c", "rdrand", "hypervisor", "bmi1", "avx2", "bmi2", "rdseed", "sha", "avx512f", "x64",
)


class Report(TypedDict):
    """The report's 17 members, in the module's order."""
    vendor: str
    brand: str
    family: int
    model: int
    stepping: int
    physical_cores: int
    logical_cores: int
    l1d_kb: int
    l1i_kb: int
    l2_kb: int
    l3_kb: int
    base_mhz: int
    max_mhz: int
    current_mhz: int
    features: List[str]
    hypervisor: int
    x64: int


_open_lock = threading.Lock()
_report_lock = threading.Lock()
_module: Optional[Tuple[ctypes.CDLL, str]] = None


def _opened() -> Tuple[ctypes.CDLL, str]:
    global _module
    module = _module
    if module is None:
        with _open_lock:
            if _module is None:
                _module = find()
            module = _module
    return module


def _library() -> ctypes.CDLL:
    return _opened()[0]


def module_path() -> str:
    """The module in use: the path it was opened from, or the name the
    system loader found. Opens it first when none is open yet."""
    return _opened()[1]


def load(path: Optional[PathLike] = None) -> str:
    """Opens the module file at path (or, without a path, the first copy
    found in the usual order) and uses it from now on; returns what was
    opened. Raises LibraryLoadError naming the places tried; the module in use
    before stays in use then."""
    global _module
    opened = find() if path is None else open_path(path)
    with _open_lock:
        _module = opened
    return opened[1]


def version() -> str:
    """The module's version, "1.0.0"."""
    text: bytes = _library().cpuinfo_version()
    return text.decode("ascii", "backslashreplace")


def last_error() -> str:
    """The module's last-error text (the module keeps it empty)."""
    text: bytes = _library().cpuinfo_last_error()
    return text.decode("ascii", "backslashreplace")


def logical_cores() -> int:
    """The number of logical processors that the operating system reports."""
    return int(_library().cpuinfo_logical_cores())


def has_feature(name: str) -> bool:
    """Whether the processor has the named feature (one of FEATURES).

    Raises ValueError, naming the accepted names, when the module does not
    know the name, and TypeError when name is not a str."""
    if not isinstance(name, str):
        raise TypeError(f"a feature name is a str, not {type(name).__name__}")
    answer = -1
    # The module reads up to the first NUL; a name holding one cannot be a
    # name it knows, so it is not asked (it would answer for the prefix).
    if "\0" not in name:
        try:
            answer = _library().cpuinfo_has_feature(name.encode("utf-8"))
        except UnicodeEncodeError:
            pass  # a lone surrogate: no byte string, no known name
    if answer == -1:
        raise ValueError(f"unknown feature name {name!r}; the accepted names are: "
                         + ", ".join(FEATURES))
    return answer == 1


def current_mhz() -> int:
    """The rate at which the time-stamp counter advanced over a sleep of
    about 50 ms, in MHz, exactly as the module gives it: -1 when the measured
    interval was not positive, -2147483648 when the rate is not a number or
    does not fit in 32 bits. Takes about 50 ms."""
    return int(_library().cpuinfo_current_mhz())


def report_json() -> str:
    """The report as the module writes it: one line of JSON, no newline.
    Takes about 50 ms (the report measures the clock)."""
    lib = _library()
    with _report_lock:
        # The c_char_p result is copied into bytes as the call returns, so
        # the text is whole before another thread may rewrite the buffer.
        text: bytes = lib.cpuinfo_get_json()
    return text.decode("ascii")


def report() -> Report:
    """The report, parsed: a dict of the 17 members in the module's order."""
    import json  # here, not at import: json (with re and enum) is most of the import time

    parsed: Report = json.loads(report_json())
    return parsed
