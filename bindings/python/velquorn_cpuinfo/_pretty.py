"""The report as aligned "name: value" lines for a person to read: the same
text as velquorn-cpuinfo --pretty gives for the same report."""
from __future__ import annotations

from typing import List, Sequence, Tuple

from . import Report

#: Labels end here; values start in the column after.
_LABEL_WIDTH = 16

def printable(text: str) -> str:
    """The text with nothing a terminal would act on: printable ASCII is
    kept, a backslash is doubled, and every other character (the report's
    \\u00xx escapes of control and high bytes) is shown as \\xHH."""
    out = []
    for ch in text:
        code = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif 0x20 <= code < 0x7F:
            out.append(ch)
        elif code <= 0xFF:
            out.append(f"\\x{code:02x}")
        else:
            out.append(f"\\u{code:04x}")
    return "".join(out)


def _ident(value: int) -> str:
    return f"{value} (0x{value:x})"


def _cache(kib: int) -> str:
    if kib <= 0:
        return "unknown"
    if kib >= 1024 and kib % 1024 == 0:
        return f"{kib // 1024} MiB"
    return f"{kib} KiB"


def _nominal_clock(mhz: int) -> str:
    return f"{mhz} MHz" if mhz > 0 else "unknown"


def _measured_clock(mhz: int) -> str:
    # The measurement answers -1 or -2147483648 when it has no rate to give.
    return f"{mhz} MHz" if mhz >= 0 else "not measured"


def _yes_no(flag: int) -> str:
    return "yes" if flag != 0 else "no"


def _wrap(words: Sequence[str], width: int) -> List[str]:
    """Words joined by spaces into lines that fit width - _LABEL_WIDTH
    columns; a word longer than that stands alone on its line."""
    room = max(width - _LABEL_WIDTH, 1)
    lines: List[str] = []
    line = ""
    for word in words:
        if line and len(line) + 1 + len(word) > room:
            lines.append(line)
            line = word
        else:
            line = f"{line} {word}" if line else word
    lines.append(line)
    return lines


def render(report: Report, width: int = 80) -> str:
    """The readable view of a parsed report, lines ending in newlines; the
    feature list is wrapped to width columns."""
    r = report
    rows: List[Tuple[str, str]] = [
        ("vendor", printable(r["vendor"])),
        ("brand", printable(r["brand"])),
        ("family", _ident(r["family"])),
        ("model", _ident(r["model"])),
        ("stepping", _ident(r["stepping"])),
        ("physical cores", str(r["physical_cores"])),
        ("logical cores", str(r["logical_cores"])),
        ("L1d cache", _cache(r["l1d_kb"])),
        ("L1i cache", _cache(r["l1i_kb"])),
        ("L2 cache", _cache(r["l2_kb"])),
        ("L3 cache", _cache(r["l3_kb"])),
        ("base clock", _nominal_clock(r["base_mhz"])),
        ("max clock", _nominal_clock(r["max_mhz"])),
        ("current clock", _measured_clock(r["current_mhz"])),
    ]
    features = _wrap([printable(f) for f in r["features"]], width) if r["features"] else ["none"]
    rows.append(("features", features[0]))
    rows.extend(("", more) for more in features[1:])
    rows.append(("hypervisor", _yes_no(r["hypervisor"])))
    rows.append(("64-bit", _yes_no(r["x64"])))
    lines = [(label + ":" if label else "").ljust(_LABEL_WIDTH) + value for label, value in rows]
    return "".join(line + "\n" for line in lines)
