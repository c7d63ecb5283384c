"""The package's answers against the C host's, from the installed wheel."""
import importlib.metadata
import json
import os
import sys
import threading

import pytest
from conftest import UNKNOWN_NAMES, assert_matches_c_report, same_kind_of_clock

import velquorn_cpuinfo as vc


def test_the_installed_wheel_is_what_runs():
    package = os.path.dirname(vc.__file__)
    assert package.startswith(sys.prefix + os.sep), f"{package} is not in {sys.prefix}"
    assert os.path.isfile(os.path.join(package, "py.typed"))
    # With the variable unset, the copy bundled in the package is the first
    # place that has the module.
    assert os.environ.get(vc.ENVIRONMENT_VARIABLE) is None
    assert vc.module_path() == os.path.join(package, "libvelquorn-cpuid-cpu-info.so")
    assert importlib.metadata.version("velquorn_cpuinfo") == vc.version()


@pytest.mark.parametrize("key, call", [("version", vc.version), ("last_error", vc.last_error),
                                       ("logical_cores", vc.logical_cores)])
def test_cheap_answers_equal_the_c_hosts(c_host, key, call):
    assert call() == c_host[key]


def test_feature_answers_equal_the_c_hosts(c_host):
    assert len(vc.FEATURES) == len(set(vc.FEATURES)) == 21
    answers = {name: vc.has_feature(name) for name in vc.FEATURES}
    assert all(c_host["has"][name] in (0, 1) for name in vc.FEATURES)
    assert answers == {name: c_host["has"][name] == 1 for name in vc.FEATURES}
    # FEATURES is in report order: the report lists the present ones the
    # same way, with hypervisor and x64 as members of their own.
    report = c_host["report"]
    assert report["features"] == [n for n in vc.FEATURES
                                  if answers[n] and n not in ("hypervisor", "x64")]
    assert (report["hypervisor"], report["x64"]) == (answers["hypervisor"], answers["x64"])


@pytest.mark.parametrize("name, error", [(n, ValueError) for n in UNKNOWN_NAMES] + [
    ("sse\0", ValueError),  # the module would read "sse"
    ("avx2\0avx3", ValueError),
    ("sse\udc80", ValueError),  # no UTF-8 form
    (None, TypeError),
    (b"sse", TypeError),
    (1, TypeError),
])
def test_names_the_module_cannot_answer_raise(c_host, name, error):
    if name in c_host["has"]:
        assert c_host["has"][name] == -1
    with pytest.raises(error) as raised:
        vc.has_feature(name)
    if error is ValueError:
        message = str(raised.value)
        assert repr(name) in message
        assert all(f" {n}," in message or message.endswith(f" {n}") for n in vc.FEATURES)


def test_report_equals_the_c_hosts(c_host):
    text = vc.report_json()
    parsed = json.loads(text)
    # One line in the module's own form: no spaces, no newline.
    assert json.dumps(parsed, separators=(",", ":")) == text
    assert_matches_c_report(parsed, c_host["report"])
    assert_matches_c_report(vc.report(), c_host["report"])


def test_clock_is_the_modules_measurement(c_host):
    assert same_kind_of_clock(vc.current_mhz(), c_host["current_mhz"])


def test_threads_get_whole_reports(c_host):
    threads, rounds = 8, 3
    start = threading.Barrier(threads)
    results, errors = [], []

    def take():
        try:
            start.wait()
            for _ in range(rounds):
                results.append(vc.report())
                results.append(json.loads(vc.report_json()))
        except Exception as err:  # reported below, with the thread's failure
            errors.append(err)

    workers = [threading.Thread(target=take) for _ in range(threads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert not errors
    assert len(results) == threads * rounds * 2
    for report in results:
        assert_matches_c_report(report, c_host["report"])
