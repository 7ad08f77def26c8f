#!/usr/bin/env bash
# The binary wheel as a user gets it: `make wheel` builds and repairs it,
# a fresh virtual environment installs it from binaries only (no compiler
# is run: --only-binary), and the README's quick start runs against it
# from outside the source tree, followed by the `tarvex` command.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
make wheel
wheel=$(ls dist/tarvex-*manylinux*.whl)
venv=build/wheel-check
rm -rf "$venv"
python3 -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
start=$SECONDS
"$venv/bin/python" -m pip install -q --only-binary=:all: "${wheel}[data]"
echo "installed $(basename "$wheel") with its data in $((SECONDS - start)) s"
quick=$(mktemp -d)
# The first python block of the README, as written there.
awk '/^## Quick start/{on=1} on && /^```python/{grab=1; next} grab && /^```/{exit} grab' README.md > "$quick/quick_start.py"
test -s "$quick/quick_start.py"
(cd "$quick" && "$root/$venv/bin/python" quick_start.py > out.txt)
echo "the README's quick start ran against the wheel ($(wc -l < "$quick/out.txt") lines printed)"
"$venv/bin/tarvex" positions "2026-03-20 12:00" sun moon --utc
rm -rf "$quick"
