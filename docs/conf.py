"""Sphinx configuration of the tarvex documentation site.

Built offline by `make docs` (warnings are errors). The guides are Markdown
(MyST); the API reference comes from the docstrings of the installed
packages; the accuracy and benchmark pages include the tables that
`bench/accuracy.py` and `bench/run.py` write, so nothing is copied by hand.
"""

from __future__ import annotations

import os
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "examples"))

project = "tarvex"
author = "the tarvex developers"
copyright = "2026, the tarvex developers"  # noqa: A001 - Sphinx's name

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
    "sphinx.ext.viewcode",
]
source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
exclude_patterns = ["_build", "Thumbs.db", ".DS_Store"]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3

autodoc_member_order = "bysource"
autodoc_typehints = "description"
autodoc_default_options = {"members": True, "undoc-members": False, "show-inheritance": False}
napoleon_google_docstring = True
napoleon_numpy_docstring = False
nitpicky = False

html_theme = "furo"
html_title = "tarvex"
html_static_path = ["_static"]
html_theme_options = {"source_repository": "", "navigation_with_keys": True}

# Pictures the build draws (the demo's chart wheel and altitude curve) land
# here; see docs/make_pictures.py.
os.environ.setdefault("MPLBACKEND", "Agg")

# Import the installed packages first: the native module `tarvex` must be the
# extension itself, not its type stub, when tarvexkit imports from it.
import tarvex  # noqa: E402,F401
import tarvexkit  # noqa: E402,F401
