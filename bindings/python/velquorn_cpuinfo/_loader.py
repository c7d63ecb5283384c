"""Finding and opening the velquorn-cpuid-cpu-info module."""
from __future__ import annotations

import ctypes
import os
import sys
from typing import List, Tuple, Union

#: The environment variable that names the module file to use.
ENVIRONMENT_VARIABLE = "VELQUORN_CPUINFO_LIBRARY"

#: The module's name for the system loader.
MODULE_NAME = "velquorn-cpuid-cpu-info"

#: The file name of the copy that a wheel bundles inside the package.
BUNDLED_FILE = ("velquorn-cpuid-cpu-info.dll" if sys.platform == "win32" else
                "libvelquorn-cpuid-cpu-info.so")

PathLike = Union[str, "os.PathLike[str]"]


class LibraryLoadError(OSError):
    """No copy of the module could be opened; the message names every place
    that was tried and why each one failed."""


def _open(path: str) -> ctypes.CDLL:
    """Opens the module at path and declares the six exports' prototypes.

    The text results are c_char_p: ctypes copies the module's text into a
    Python bytes object as the call returns and never frees the module's
    pointer, which points into the module's own static storage."""
    lib = ctypes.CDLL(path)
    try:
        for name in ("cpuinfo_version", "cpuinfo_last_error", "cpuinfo_get_json"):
            function = getattr(lib, name)
            function.restype = ctypes.c_char_p
            function.argtypes = []
        for name in ("cpuinfo_logical_cores", "cpuinfo_current_mhz"):
            function = getattr(lib, name)
            function.restype = ctypes.c_int
            function.argtypes = []
        lib.cpuinfo_has_feature.restype = ctypes.c_int
        lib.cpuinfo_has_feature.argtypes = [ctypes.c_char_p]
    except AttributeError as err:
        raise OSError(f"it is not the {MODULE_NAME} module ({err})") from None
    return lib


def open_path(path: PathLike) -> Tuple[ctypes.CDLL, str]:
    """Opens the module file that the caller names; no other place is tried."""
    text = os.fspath(path)
    try:
        return _open(text), text
    except OSError as err:
        raise LibraryLoadError(
            f"cannot load the {MODULE_NAME} module from {text!r}: {err}") from None


def find() -> Tuple[ctypes.CDLL, str]:
    """Opens the module from the first place that has it: the file named by
    VELQUORN_CPUINFO_LIBRARY, the copy bundled in this package, then the
    system loader's search. A set variable is the only place tried, so a wrong
    path is an error rather than a silent change to another copy."""
    named = os.environ.get(ENVIRONMENT_VARIABLE)
    if named:
        try:
            return _open(named), named
        except OSError as err:
            raise LibraryLoadError(
                f"cannot load the {MODULE_NAME} module from {named!r}, named by "
                f"{ENVIRONMENT_VARIABLE}: {err}\n(with {ENVIRONMENT_VARIABLE} set, no other place "
                "is tried; unset it to use the bundled copy or the system's)") from None

    tried: List[str] = [f"{ENVIRONMENT_VARIABLE}: not set"]
    bundled = os.path.join(os.path.dirname(os.path.abspath(__file__)), BUNDLED_FILE)
    if os.path.isfile(bundled):
        try:
            return _open(bundled), bundled
        except OSError as err:
            tried.append(f"the copy bundled in the package, {bundled}: {err}")
    else:
        tried.append(f"the copy bundled in the package, {bundled}: no such file")

    import ctypes.util  # only here: it brings subprocess, re and more

    system = ctypes.util.find_library(MODULE_NAME)
    if system:
        try:
            return _open(system), system
        except OSError as err:
            tried.append(f"the system loader, {system}: {err}")
    else:
        tried.append(f"the system loader: find_library({MODULE_NAME!r}) found nothing")

    raise LibraryLoadError(f"cannot load the {MODULE_NAME} module; tried:\n  " + "\n  ".join(tried))
