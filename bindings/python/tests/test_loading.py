"""Where the package finds the module, and what it says when it cannot."""
import ctypes.util
import os
import shutil
import subprocess
import sys

import pytest

import velquorn_cpuinfo as vc

PROBE = ("import velquorn_cpuinfo as v\n"
         "print(v.__file__)\n"
         "print(v.version())\n"
         "print(v.module_path())\n")
ENV = vc.ENVIRONMENT_VARIABLE


def run_probe(env_changes, package_path=None):
    env = {k: v for k, v in os.environ.items() if k not in (ENV, "LD_LIBRARY_PATH")}
    env.update(env_changes)
    if package_path:
        env["PYTHONPATH"] = package_path
    return subprocess.run([sys.executable, "-c", PROBE], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, universal_newlines=True, timeout=60)


@pytest.fixture
def package_without_module(tmp_path):
    """A copy of the installed package's sources, without the bundled module."""
    source = os.path.dirname(vc.__file__)
    copy = tmp_path / "site" / "velquorn_cpuinfo"
    copy.mkdir(parents=True)
    for name in os.listdir(source):
        if name.endswith(".py"):
            shutil.copy(os.path.join(source, name), copy)
    return str(tmp_path / "site")


def not_the_module(tmp_path):
    junk = tmp_path / "junk.so"
    junk.write_bytes(b"not a shared object\n")
    return str(junk)


# (case, variable, package without its module, LD_LIBRARY_PATH the module's
#  folder, what loads (None: an error), texts the error must hold)
CASES = [
    ("variable names the module", "MODULE", False, False, "MODULE", []),
    ("variable names no file", "/nonexistent/libvelquorn-cpuid-cpu-info.so", False, False, None,
     ["'/nonexistent/libvelquorn-cpuid-cpu-info.so'", ENV, "no other place is tried"]),
    ("variable names a file that is no library", "JUNK", False, False, None, ["JUNK", ENV]),
    ("variable names another library", "LIBC", False, False, None,
     ["LIBC", ENV, "it is not the velquorn-cpuid-cpu-info module"]),
    ("nothing anywhere", None, True, False, None,
     [f"{ENV}: not set", "libvelquorn-cpuid-cpu-info.so: no such file",
      "find_library('velquorn-cpuid-cpu-info') found nothing"]),
    ("system loader", None, True, True, "libvelquorn-cpuid-cpu-info.so.1", []),
]


@pytest.mark.parametrize("case, variable, bare, library_path, loads, texts", CASES,
                         ids=[c[0] for c in CASES])
def test_where_the_module_comes_from(c_host, module_file, tmp_path, package_without_module,
                                     case, variable, bare, library_path, loads, texts):
    if bare and ctypes.util.find_library("velquorn-cpuid-cpu-info"):
        pytest.skip("the module is installed on this system, so the system loader finds it")
    if library_path and not (shutil.which("ld") and shutil.which("objdump")):
        pytest.skip("find_library reads LD_LIBRARY_PATH through ld and objdump (binutils)")
    names = {"MODULE": module_file, "JUNK": not_the_module(tmp_path),
             "LIBC": ctypes.util.find_library("c")}
    resolve = lambda text: names.get(text, text)  # noqa: E731
    env = {}
    if variable:
        env[ENV] = resolve(variable)
    if library_path:
        env["LD_LIBRARY_PATH"] = os.path.dirname(module_file)
    done = run_probe(env, package_without_module if bare else None)
    if loads:
        assert done.returncode == 0, done.stderr
        file, version, loaded = done.stdout.splitlines()
        assert file.startswith(package_without_module if bare else sys.prefix)
        assert (version, loaded) == (c_host["version"], resolve(loads))
    else:
        assert done.returncode != 0 and done.stdout.count("\n") == 1  # only __file__ printed
        assert "velquorn_cpuinfo._loader.LibraryLoadError" in done.stderr
        for text in texts:
            assert resolve(text) in done.stderr, text


def test_load_picks_a_module_and_keeps_it_on_failure(c_host, module_file, tmp_path):
    assert vc.load(module_file) == module_file == vc.module_path()
    with pytest.raises(vc.LibraryLoadError, match="junk.so"):
        vc.load(not_the_module(tmp_path))
    assert vc.module_path() == module_file
    assert vc.version() == c_host["version"]
    vc.load()  # back to the usual order for the other tests
