"""The type stub src/python/tarvex.pyi: it matches the module that is
imported (mypy's stubtest), a typed caller passes `mypy --strict`
(tests/typing/usage.py), and an installed module carries the same stub.

mypy runs as a subprocess of this interpreter with MYPYPATH at the
repository's stub, so it checks the stub against whichever build of tarvex
the tests import.
"""

import os
import pathlib
import subprocess
import sys
import sysconfig

import pytest

import tarvex

pytest.importorskip("mypy")

ROOT = pathlib.Path(__file__).resolve().parents[2]
STUB = ROOT / "src" / "python" / "tarvex.pyi"


def run_mypy(tmp_path, *args):
    # The child runs elsewhere, so a relative PYTHONPATH (a build directory)
    # is made absolute to import the same tarvex as this process.
    paths = [os.path.abspath(p) for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    env = dict(os.environ, MYPYPATH=str(STUB.parent), PYTHONPATH=os.pathsep.join(paths))
    return subprocess.run([sys.executable, "-m", *args], cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300)


def test_stub_matches_the_runtime_module(tmp_path):
    # No allowlist: every class, method, parameter name and default, and the
    # final (non-subclassable) classes must agree.
    result = run_mypy(tmp_path, "mypy.stubtest", "tarvex")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Success" in result.stdout


def test_typed_usage_passes_strict_mypy(tmp_path):
    # The file also holds calls the stub must refuse, each under an ignore
    # comment that --strict reports if it silences nothing.
    result = run_mypy(tmp_path, "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), str(ROOT / "tests" / "typing" / "usage.py"))
    assert result.returncode == 0, result.stdout + result.stderr


def test_stub_names_exactly_the_public_surface():
    # stubtest skips names the stub lacks only if told to; this pins the
    # other direction too: no public name exists only in the stub.
    import ast

    tree = ast.parse(STUB.read_text())
    public = set()
    for node in tree.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            public.add(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            public.add(node.target.id)
    public = {name for name in public if not name.startswith("_")}
    assert public == {name for name in dir(tarvex) if not name.startswith("_")}


def test_installed_module_carries_the_stub():
    module = pathlib.Path(tarvex.__file__)
    site_packages = {pathlib.Path(sysconfig.get_paths()[key]).resolve() for key in ("purelib", "platlib")}
    if module.parent.resolve() not in site_packages:
        pytest.skip(f"tarvex is imported from a build directory ({module.parent})")
    installed = module.parent / "tarvex.pyi"
    assert installed.is_file(), "pip install . must put tarvex.pyi beside the extension"
    assert installed.read_text() == STUB.read_text(), "the installed stub is stale: reinstall"


def test_tarvexkit_is_typed_and_a_typed_caller_passes_strict_mypy(tmp_path):
    # The package's own annotations (py.typed) and a caller's use of them.
    import tarvexkit

    package = pathlib.Path(tarvexkit.__file__).parent
    assert (package / "py.typed").is_file()
    checked = run_mypy(tmp_path, "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), "-p", "tarvexkit")
    assert checked.returncode == 0, checked.stdout + checked.stderr
    usage = run_mypy(tmp_path, "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), str(ROOT / "tests" / "typing" / "kit_usage.py"))
    assert usage.returncode == 0, usage.stdout + usage.stderr
