"""The installed package is typed: mypy reads its annotations (py.typed)."""
import os
import subprocess
import sys

import pytest

import velquorn_cpuinfo as vc

CLIENT = """\
import velquorn_cpuinfo as vc
report: vc.Report = vc.report()
family: int = report["family"]
features: list[str] = report["features"]
present: bool = vc.has_feature(vc.FEATURES[0])
mhz: int = vc.current_mhz()
where: str = vc.load()
wrong: str = vc.logical_cores()
"""


def mypy(*paths, cwd):
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull,
         *paths], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True,
        cwd=cwd)
    return [line for line in done.stdout.splitlines() if ": error:" in line], done.stdout


@pytest.fixture
def have_mypy():
    pytest.importorskip("mypy", reason="mypy is absent (Debian: python3-mypy)")


def test_a_client_is_checked_against_the_installed_packages_types(have_mypy, tmp_path):
    (tmp_path / "client.py").write_text(CLIENT)
    errors, output = mypy("client.py", cwd=tmp_path)
    # Exactly the one wrong line: the installed package's annotations were read.
    assert len(errors) == 1, output
    assert errors[0].startswith('client.py:8: error: Incompatible types in assignment '
                                '(expression has type "int", variable has type "str")'), output


def test_the_package_passes_strict_checking(have_mypy, tmp_path):
    errors, output = mypy(os.path.dirname(vc.__file__), cwd=tmp_path)
    assert errors == [], output
