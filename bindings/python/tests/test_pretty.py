"""The readable view of a report (python -m velquorn_cpuinfo --pretty)."""
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

EPYC_VIEW = """\
vendor:         AuthenticAMD
brand:          AMD EPYC 7B13 64-Core Processor
family:         25 (0x19)
model:          1 (0x1)
stepping:       1 (0x1)
physical cores: 2
logical cores:  4
L1 data:        32 KiB
L1 instruction: 32 KiB
L2:             512 KiB
L3:             32 MiB
base clock:     2450 MHz
max clock:      unknown
current clock:  2449 MHz
features:       sse sse2 htt sse3 ssse3 fma sse41 sse42 popcnt aes avx f16c
                rdrand bmi1 avx2 bmi2 rdseed sha
hypervisor:     yes
64-bit:         yes
"""


def test_view_of_a_report():
    assert render(EPYC, 80) == EPYC_VIEW


# (members changed, width, lines expected in the view)
CASES = [
    # A hypervisor can put any bytes in these texts: none reaches the terminal.
    ({"vendor": "Gen\x1b[2J\\ine\"\x7f\xe9", "brand": "\x00\t\n"}, 80,
     ["vendor:         Gen\\x1b[2J\\\\ine\"\\x7f\\xe9", "brand:          \\x00\\x09\\x0a"]),
    ({"l1d_kb": 48, "l1i_kb": 0, "l2_kb": 2048, "l3_kb": 1280}, 80,
     ["L1 data:        48 KiB", "L1 instruction: unknown", "L2:             2 MiB",
      "L3:             1280 KiB"]),
    ({"base_mhz": 0, "max_mhz": 5000, "current_mhz": -1}, 80,
     ["base clock:     unknown", "max clock:      5000 MHz",
      "current clock:  not measured (-1: no time passed)"]),
    ({"current_mhz": -2147483648}, 80,
     ["current clock:  not measured (-2147483648: no rate in range)"]),
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
