"""Every Python code block of the README and of the documentation pages
runs, page by page, so that an example that stops working fails the build;
and the blocks together pass `mypy --strict` against the packages' types."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").rglob("*.md"))]
PAGES = [p for p in PAGES if "_build" not in p.parts]
FENCE = re.compile(r"^```python\n(.*?)^```", re.M | re.S)


def blocks(page: Path) -> list[str]:
    return FENCE.findall(page.read_text(encoding="utf-8"))


PAGES_WITH_CODE = [p for p in PAGES if blocks(p)]


def page_id(page: Path) -> str:
    return str(page.relative_to(ROOT))


@pytest.mark.parametrize("page", PAGES_WITH_CODE, ids=page_id)
def test_page_examples_run(page: Path, tmp_path: Path) -> None:
    """The page's blocks run one after the other, in one fresh interpreter
    (as a reader would paste them), from the project directory, so that
    the examples' "../shared/data" names the sample data."""
    pytest.importorskip("skyfield_data", reason="the examples open the default data")
    script = tmp_path / f"{page.stem}.py"
    script.write_text("\n".join(f"# {page_id(page)} block {n}\n{code}" for n, code in enumerate(blocks(page), 1)),
                      encoding="utf-8")
    env = dict(os.environ, MPLBACKEND="Agg",
               PYTHONPATH=os.pathsep.join(filter(None, [str(ROOT / "examples"), os.environ.get("PYTHONPATH")])))
    done = subprocess.run([sys.executable, str(script)], cwd=ROOT, env=env, capture_output=True, text=True,
                          timeout=600, check=False)
    assert done.returncode == 0, f"{page_id(page)}:\n{done.stderr[-4000:]}"


def test_examples_pass_mypy_strict(tmp_path: Path) -> None:
    pytest.importorskip("mypy")
    files = []
    for page in PAGES_WITH_CODE:
        target = tmp_path / f"example_{page.stem}_{len(files)}.py"
        target.write_text("\n".join(blocks(page)), encoding="utf-8")
        files.append(str(target))
    env = dict(os.environ, MYPYPATH=str(ROOT / "examples"))
    # Dask and distributed are untyped; the example module is checked as it is used.
    done = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           "--ignore-missing-imports", "--follow-imports=silent",
                           "--untyped-calls-exclude=distributed", "--untyped-calls-exclude=dask", *files],
                          capture_output=True, text=True, env=env, check=False)
    assert done.returncode == 0, done.stdout + done.stderr
