"""The readable view of a report (python -m velquorn_cpuinfo --pretty)."""
import json
import os

import pytest

from velquorn_cpuinfo._pretty import render

EPYC = {
    "vendor": "AuthenticAMD", "brand": "AMD EPYC 7B13 64-Core Processor", "family": 25,
    "model": 1, "stepping": 1, "physical_cores": 2, "logical_cores": 4, "l1d_kb": 32,
    "l1i_kb": 32, "l2_kb": 512, "l3_kb": 32768, "base_mhz": 2450, "max_mhz": 0,
    "current_mhz": 2449,
    "features": ["sse", "sse2", "htt", "sse3", "ssse3", "fma", "sse41", "sse42", "popcnt", "aes",
                 "avx", "f16c", "rdrand", "bmi1", "avx2", "bmi2", "rdseed", "sha"],
    "hypervisor": 1, "x64": 1,
}

# The golden texts of the command-line tool's readable view, each beside the
# report it shows: the binding's view of the same report is the same text.
GOLDENS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tests",
                       "data", "pretty")


@pytest.mark.parametrize("name", ["icelake-server-vm", "zen3-vermeer", "cyrix-6x86"])
def test_view_equals_the_tools_golden_text(name):
    with open(os.path.join(GOLDENS, name + ".json"), encoding="ascii") as f:
        report = json.load(f)
    with open(os.path.join(GOLDENS, name + ".txt"), encoding="ascii", newline="") as f:
        assert render(report, 80) == f.read()


# (members changed, width, lines expected in the view)
CASES = [
    # A hypervisor can put any bytes in these texts: none reaches the terminal.
    ({"vendor": "Gen\x1b[2J\\ine\"\x7f\xe9", "brand": "\x00\t\n"}, 80,
     ["vendor:         Gen\\x1b[2J\\\\ine\"\\x7f\\xe9", "brand:          \\x00\\x09\\x0a"]),
    ({"l1d_kb": 48, "l1i_kb": 0, "l2_kb": 2048, "l3_kb": 1280}, 80,
     ["L1d cache:      48 KiB", "L1i cache:      unknown", "L2 cache:       2 MiB",
      "L3 cache:       1280 KiB"]),
    ({"base_mhz": 0, "max_mhz": 5000, "current_mhz": -1}, 80,
     ["base clock:     unknown", "max clock:      5000 MHz", "current clock:  not measured"]),
    ({"current_mhz": -2147483648}, 80, ["current clock:  not measured"]),
    ({"features": [], "hypervisor": 0, "x64": 0}, 80,
     ["features:       none", "hypervisor:     no", "64-bit:         no"]),
    # Wrapped to the width; a name longer than the room stands alone.
    ({"features": ["sse", "sse2", "htt", "avx512f"]}, 30,
     ["features:       sse sse2 htt", "                avx512f"]),
    ({"features": ["sse", "sse2", "avx512f"]}, 20,
     ["features:       sse", "                sse2", "                avx512f"]),
]


@pytest.mark.parametrize("changes, width, expected", CASES)
def test_view_shows(changes, width, expected):
    lines = render({**EPYC, **changes}, width).splitlines()
    first = lines.index(expected[0])
    assert lines[first:first + len(expected)] == expected
