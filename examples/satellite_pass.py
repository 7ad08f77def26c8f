"""Tonight's visible passes of the ISS over a city, in local time, and a
picture of one pass on the sky (a polar plot: the zenith in the middle,
the horizon at the rim, north up and east to the left as seen looking up).

    python examples/satellite_pass.py [--out DIR]

The element set is a sample in the form CelesTrak publishes, kept here so
that the example runs offline; for real passes read today's
(https://celestrak.org, "stations.txt") with `eph.satellites(path)`.
"""

from __future__ import annotations

import argparse
from datetime import datetime
from pathlib import Path
from typing import cast
from zoneinfo import ZoneInfo

import numpy as np

import tarvex
import tarvexkit
from tarvexkit.satellite_passes import Passes
from tarvexkit.satellites import Satellite

SAMPLE_ELEMENTS = """\
ISS (ZARYA)
1 25544U 98067A   26340.50000000  .00016717  00000-0  30270-3 0  9997
2 25544  51.6400 208.9163 0006317  69.9862  25.2906 15.49560532123453
"""
BERLIN = tarvex.GeodeticObserver(13.405, 52.52, 34.0)
ZONE = ZoneInfo("Europe/Berlin")
# The ISS's standard magnitude (at 1000 km, half lit).
ISS_STANDARD_MAGNITUDE = -1.8


def tonight(eph: tarvexkit.Ephemeris, satellite: Satellite, site: tarvex.GeodeticObserver,
            evening: datetime) -> Passes:
    """The passes from noon of `evening` (local) to the next noon."""
    start = eph.from_datetime(evening.replace(hour=12, minute=0))
    return eph.passes(satellite, site, start, start + 1.0, standard_magnitude=ISS_STANDARD_MAGNITUDE)


def describe(passes: Passes) -> list[str]:
    """One line per visible pass: local times, the culmination and the brightness."""
    lines = []
    for k in np.flatnonzero(passes.visible):
        rise, top, down = (t.to_datetime(ZONE) for t in (passes.rise[k], passes.culmination[k], passes.set[k]))
        lines.append(f"{rise:%a %d %b %H:%M:%S} rises in the {compass(passes.rise_azimuth_deg[k])}, "
                     f"{top:%H:%M:%S} highest at {passes.culmination_altitude_deg[k]:.0f}° "
                     f"(magnitude {passes.magnitude[k]:.1f}), {down:%H:%M:%S} sets in the "
                     f"{compass(passes.set_azimuth_deg[k])}")
    return lines


def compass(azimuth_deg: float) -> str:
    points = ["north", "northeast", "east", "southeast", "south", "southwest", "west", "northwest"]
    return points[int((azimuth_deg + 22.5) // 45.0) % 8]


def draw_pass(eph: tarvexkit.Ephemeris, satellite: Satellite, site: tarvex.GeodeticObserver, passes: Passes,
              k: int, path: Path) -> None:
    """The k-th pass on the sky: its track every five seconds, solid where
    the satellite is sunlit, dotted in the Earth's shadow, with local times."""
    import matplotlib.pyplot as plt
    from matplotlib.projections.polar import PolarAxes

    sats = eph.satellites(SAMPLE_ELEMENTS)
    seconds = np.arange(0.0, (passes.set.tt[k] - passes.rise.tt[k]) * 86400.0, 5.0)
    track = passes.rise[k] + seconds / 86400.0
    sky = eph.altaz(sats[0], site, track)
    lit = sats.sunlight(track).sunlit[:, 0]
    figure = plt.figure(figsize=(6, 6.4))
    axes = cast(PolarAxes, figure.add_subplot(projection="polar"))
    axes.set_theta_zero_location("N")
    axes.set_theta_direction(1)  # east to the left, as the sky is seen looking up
    axes.set_rlim(0.0, 90.0)
    axes.set_rticks([0, 30, 60, 80])
    axes.set_yticklabels(["90°", "60°", "30°", "10°"])
    axes.set_xticks(np.radians(np.arange(0, 360, 45)))
    axes.set_xticklabels(["N", "NE", "E", "SE", "S", "SW", "W", "NW"])
    theta, radius = np.radians(sky.azimuth_deg), 90.0 - sky.altitude_deg
    axes.plot(np.where(lit, theta, np.nan), np.where(lit, radius, np.nan), color="tab:orange", lw=2.5,
              label="sunlit")
    axes.plot(np.where(lit, np.nan, theta), np.where(lit, np.nan, radius), color="tab:blue", lw=1.5, ls=":",
              label="in the Earth's shadow")
    marks = [(passes.rise[k], passes.rise_azimuth_deg[k], 10.0), (passes.culmination[k],
             passes.culmination_azimuth_deg[k], passes.culmination_altitude_deg[k]),
             (passes.set[k], passes.set_azimuth_deg[k], 10.0)]
    for when, azimuth, altitude in marks:
        axes.plot(np.radians(azimuth), 90.0 - altitude, "o", color="black", ms=4)
        axes.annotate(f"{when.to_datetime(ZONE):%H:%M:%S}", (np.radians(azimuth), 90.0 - altitude),
                      textcoords="offset points", xytext=(6, 6), fontsize=9)
    day = passes.culmination[k].to_datetime(ZONE)
    axes.set_title(f"{satellite.name} over Berlin, {day:%d %b %Y} (local time)", pad=24)
    axes.legend(loc="lower center", bbox_to_anchor=(0.5, -0.16), ncol=2, frameon=False)
    figure.savefig(path, dpi=110, bbox_inches="tight")
    plt.close(figure)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=None, help="draw satellite_pass.png into this directory")
    args = parser.parse_args()
    eph = tarvexkit.load()
    iss = eph.satellites(SAMPLE_ELEMENTS)["ISS (ZARYA)"]
    passes = tonight(eph, iss, BERLIN, datetime(2026, 12, 7, tzinfo=ZONE))
    print("\n".join(describe(passes)) or "no visible pass tonight")
    if args.out is not None:
        args.out.mkdir(parents=True, exist_ok=True)
        k = int(np.flatnonzero(passes.visible)[np.argmax(passes.culmination_altitude_deg[passes.visible])])
        draw_pass(eph, iss, BERLIN, passes, k, args.out / "satellite_pass.png")


if __name__ == "__main__":
    main()
