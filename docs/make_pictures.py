"""Draws the pictures the documentation site shows, by running the demo for
a fixed moment and site (the chart wheel, the altitude curve, the discs
of the next solar eclipse seen there and the night sky), the pass of the
ISS the satellites guide shows (examples/satellite_pass.py) and the
`tarvex` command for a bi-wheel in the dark theme (a chart for Mumbai with
the transits of the demo's moment outside), into docs/_static/generated/.
`make docs` runs it before Sphinx."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
OUT = ROOT / "docs" / "_static" / "generated"


def main() -> int:
    OUT.mkdir(parents=True, exist_ok=True)
    command = [sys.executable, str(ROOT / "examples" / "demo.py"), "--when", "2026-03-20 14:30",
               "--tz", "Europe/Berlin", "--lat", "52.52", "--lon", "13.405", "--place", "Berlin",
               "--out", str(OUT)]
    env = dict(os.environ, MPLBACKEND="Agg")
    done = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, check=False)
    if done.returncode != 0:
        print("the demo failed; the site would have no pictures", file=sys.stderr)
        return done.returncode
    done = subprocess.run([sys.executable, str(ROOT / "examples" / "satellite_pass.py"), "--out", str(OUT)],
                          env=env, stdout=subprocess.DEVNULL, check=False)
    if done.returncode != 0:
        print("the satellite pass example failed", file=sys.stderr)
        return done.returncode
    command = [sys.executable, "-m", "tarvexkit.cli", "chart", "1987-04-23 06:15", "--lat", "19.0728", "--lon",
               "72.8826", "--zone", "Asia/Kolkata", "--transits", "2026-03-20 19:00", "--theme", "dark",
               "--svg", str(OUT / "biwheel.svg")]
    done = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, check=False)
    if done.returncode != 0:
        print("the tarvex command drew no bi-wheel", file=sys.stderr)
        return done.returncode
    missing = [name for name in ("chart.svg", "altitude.png", "eclipse.png", "sky.png", "satellite_pass.png",
                                 "biwheel.svg")
               if not (OUT / name).is_file()]
    if missing:
        print(f"the demo drew no {', '.join(missing)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
