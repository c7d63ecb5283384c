"""python -m velquorn_cpuinfo: output and exit statuses."""
import json
import os
import subprocess
import sys

import pytest
from conftest import MEMBERS, assert_matches_c_report

import velquorn_cpuinfo as vc
from velquorn_cpuinfo import __main__ as command

USAGE = "usage: python -m velquorn_cpuinfo"


def run(*args, env_changes=None):
    env = {k: v for k, v in os.environ.items() if k != vc.ENVIRONMENT_VARIABLE}
    env.update(env_changes or {})
    return subprocess.run([sys.executable, "-m", "velquorn_cpuinfo", *args], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)


def has_status(c_host, names):
    return 0 if all(c_host["has"][n] == 1 for n in names) else 1


def check_report(out, c_host):
    assert out.endswith(b"\n") and out.count(b"\n") == 1
    text = out[:-1].decode("ascii")
    parsed = json.loads(text)
    assert json.dumps(parsed, separators=(",", ":")) == text
    assert_matches_c_report(parsed, c_host["report"])


def check_pretty(out, c_host):
    lines = out.decode("ascii").splitlines()
    labels = [line.split(":")[0] for line in lines if not line.startswith(" ")]
    assert labels == ["vendor", "brand", "family", "model", "stepping", "physical cores",
                      "logical cores", "L1d cache", "L1i cache", "L2 cache", "L3 cache", "base clock",
                      "max clock", "current clock", "features", "hypervisor", "64-bit"]
    assert all(len(line) <= 80 for line in lines)  # not a terminal: 80 columns
    report = c_host["report"]
    assert lines[0].split(None, 1)[1] == report["vendor"]
    assert " ".join(l[16:] for l in lines[14:-2]).split() == report["features"]


# (arguments, exit status (a function of the C host's answers), what stdout
#  holds, a text that stderr holds)
CASES = [
    ([], 0, check_report, None),
    (["--pretty"], 0, check_pretty, None),
    (["--has", "sse2"], lambda c: has_status(c, ["sse2"]), None, None),
    ([a for n in vc.FEATURES for a in ("--has", n)], lambda c: has_status(c, vc.FEATURES), None,
     None),
    (["--has", "avx3"], 2, None, "unknown feature name 'avx3'; the accepted names are: "
     + " ".join(vc.FEATURES) + "\n"),
    (["--has", "sse2", "--has", "AVX2"], 2, None, "'AVX2'"),
    (["--has"], 2, None, USAGE),
    (["--has", "sse2", "sse3"], 2, None, USAGE),
    (["--pretty", "--has", "sse2"], 2, None, USAGE),
    (["--bogus"], 2, None, USAGE),
    (["--help"], 0, lambda out, c: out.startswith(USAGE.encode()), None),
]


@pytest.mark.parametrize("args, status, stdout, stderr", CASES,
                         ids=[" ".join(c[0])[:40] or "(none)" for c in CASES])
def test_command(c_host, args, status, stdout, stderr):
    done = run(*args)
    want = status(c_host) if callable(status) else status
    assert done.returncode == want, done.stderr
    if stdout is None:
        assert done.stdout == b""
    else:
        assert stdout(done.stdout, c_host) is not False
    if stderr is None:
        assert done.stderr == b""
    else:
        assert stderr in done.stderr.decode("utf-8")


def test_command_names_the_places_tried_when_the_module_is_missing():
    done = run("--has", "sse2", env_changes={vc.ENVIRONMENT_VARIABLE: "/nonexistent/module.so"})
    assert (done.returncode, done.stdout) == (2, b"")
    assert b"'/nonexistent/module.so', named by VELQUORN_CPUINFO_LIBRARY" in done.stderr


@pytest.mark.parametrize("answers, status", [
    ({"sse2": True, "avx2": True}, 0),
    ({"sse2": False, "avx2": True}, 1),
])
def test_has_status_follows_the_answers(monkeypatch, answers, status):
    # This machine may have every feature; the absent case is taken here
    # with the answers given.
    monkeypatch.setattr(command, "has_feature", answers.__getitem__)
    assert command.main(["--has", "sse2", "--has", "avx2"]) == status


def test_report_members_are_the_documented_ones():
    assert list(vc.Report.__annotations__) == MEMBERS
