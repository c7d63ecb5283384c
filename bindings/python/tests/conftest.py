"""What the tests compare the package with: the answers of a C program
linked to the same module (VELQUORN_TEST_C_HOST), and the module file itself
(VELQUORN_TEST_MODULE). The suite runs against the installed wheel."""
import json
import os
import subprocess
from typing import Any, Dict

import pytest

import velquorn_cpuinfo

# Names the module does not know, each close to a known one.
UNKNOWN_NAMES = ["", "SSE", "Sse2", "avx3", " sse", "sse2 ", "x86-64", "hypervisor2", "sse\u00b2",
                 "\u017fse"]

# The report's members in order, and those that only CPUID decides.
MEMBERS = ["vendor", "brand", "family", "model", "stepping", "physical_cores", "logical_cores",
           "l1d_kb", "l1i_kb", "l2_kb", "l3_kb", "base_mhz", "max_mhz", "current_mhz",
           "features", "hypervisor", "x64"]
CPUID_MEMBERS = ["vendor", "brand", "family", "model", "stepping", "l1d_kb", "l1i_kb", "l2_kb",
                 "l3_kb", "max_mhz", "features", "hypervisor", "x64"]
NO_INTERVAL, NO_RATE = -1, -2147483648


def setting(name: str) -> str:
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(f"{name} is not set: run this suite through CTest (python_package)")
    return value


@pytest.fixture(scope="session")
def c_host() -> Dict[str, Any]:
    """The C program's answers: the cheap exports, every known and unknown
    name, a clock measurement and a report."""
    names = list(velquorn_cpuinfo.FEATURES) + UNKNOWN_NAMES
    done = subprocess.run([setting("VELQUORN_TEST_C_HOST")], input="\n".join(names) + "\n",
                          stdout=subprocess.PIPE, check=True, universal_newlines=True,
                          encoding="utf-8")
    answers: Dict[str, Any] = {"has": {}}
    for line in done.stdout.split("\n")[:-1]:
        key, _, value = line.partition("\t")
        if key == "has":
            name, _, answer = value.rpartition("\t")
            answers["has"][name] = int(answer)
        else:
            answers[key] = value
    answers["report"] = json.loads(answers["report"])
    for key in ("logical_cores", "current_mhz"):
        answers[key] = int(answers[key])
    assert list(answers["has"]) == names, "the C host did not answer every name"
    return answers


@pytest.fixture(scope="session")
def module_file() -> str:
    return setting("VELQUORN_TEST_MODULE")


def same_kind_of_clock(ours: int, theirs: int) -> bool:
    """Two clock measurements agree when both failed the same way or both
    are rates within a fifth of each other (the clock moves between runs)."""
    if ours in (NO_INTERVAL, NO_RATE) or theirs in (NO_INTERVAL, NO_RATE):
        return ours == theirs
    return ours > 0 and theirs > 0 and abs(ours - theirs) <= theirs / 5


def assert_matches_c_report(report: Dict[str, Any], c_report: Dict[str, Any]) -> None:
    assert list(report) == MEMBERS
    assert {k: report[k] for k in CPUID_MEMBERS} == {k: c_report[k] for k in CPUID_MEMBERS}
    for key in ("physical_cores", "logical_cores"):
        assert report[key] == c_report[key], key
    assert type(report["base_mhz"]) is int and report["base_mhz"] >= 0
    assert same_kind_of_clock(report["current_mhz"], c_report["current_mhz"])
