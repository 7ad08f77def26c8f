"""The sky seen from a site at an instant: the horizon, the planets, the
Moon and the bright stars of the Hipparcos catalogue drawn by magnitude,
the brightest named. Zenith at the centre, north up and east to the left
(as the sky is seen lying on one's back), altitude linear in the radius.

    from sky import write_sky_picture
    write_sky_picture(eph, when, site, "out", place="Berlin")

Needs matplotlib and the Hipparcos catalogue (`pip install tarvex[data]`).
By day the picture is drawn for the end of the coming astronomical dusk
instead, and its title says so.
"""

from __future__ import annotations

import os
from datetime import tzinfo

import numpy as np
import numpy.typing as npt
from matplotlib.figure import Figure
from matplotlib.patches import Circle

import tarvex
import tarvexkit
from tarvexkit import stars

PLANETS = ["moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune"]
MAGNITUDE_LIMIT = 5.0
NAMED_BRIGHTER_THAN = 1.6
DARK_SUN_ALTITUDE_DEG = -12.0


def night_instant(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver
                  ) -> tuple[tarvexkit.Times, bool]:
    """`when` if the Sun is below -12 degrees there, else the end of the
    coming astronomical dusk (or `when` where there is none); and whether
    the instant was moved."""
    if eph.altaz("sun", site, when).altitude_deg < DARK_SUN_ALTITUDE_DEG:
        return when, False
    dusks = [t for kind, t in eph.twilight(site, when, eph.times(when.tt + 1.0, "tt"))
             if kind == "astronomical_dusk"]
    return (dusks[0], True) if dusks else (when, False)


def projected(altitude_deg: npt.ArrayLike, azimuth_deg: npt.ArrayLike) -> tuple[npt.NDArray[np.float64],
                                                                                  npt.NDArray[np.float64]]:
    """Zenith-centred plane coordinates: radius 90 - altitude, north up, east left."""
    r = 90.0 - np.asarray(altitude_deg, dtype=np.float64)
    az = np.radians(np.asarray(azimuth_deg, dtype=np.float64))
    return -r * np.sin(az), r * np.cos(az)


def draw_sky(path: str, eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver,
             title: str) -> None:
    """Writes the picture of the sky at `when` to `path` (PNG)."""
    catalogue = stars.catalogue().stars
    bright = np.flatnonzero(catalogue["hp_mag"] < MAGNITUDE_LIMIT)
    hips = [f"HIP {h}" for h in catalogue["hip"][bright]]
    sky = eph.star_altaz(site, when, stars=hips, refraction=(10.0, 1010.0))
    alt, az = sky.altitude_deg[0], sky.azimuth_deg[0]
    up = alt > 0.0
    magnitude = catalogue["hp_mag"][bright]
    figure = Figure(figsize=(8.0, 8.4), dpi=110)
    ax = figure.add_axes((0.02, 0.02, 0.96, 0.9))
    ax.set_aspect("equal")
    ax.axis("off")
    ax.add_patch(Circle((0, 0), 90.0, facecolor="#0b1030", edgecolor="#8899bb", linewidth=1.5))
    for altitude in (30.0, 60.0):
        ax.add_patch(Circle((0, 0), 90.0 - altitude, fill=False, edgecolor="#26305a", linewidth=0.7, linestyle=":"))
    x, y = projected(alt[up], az[up])
    size = np.clip(1.45 * (MAGNITUDE_LIMIT + 0.6 - magnitude[up]), 0.4, None) ** 2
    ax.scatter(x, y, s=size, c="white", linewidths=0, zorder=3)
    for k in np.flatnonzero(up & (magnitude < NAMED_BRIGHTER_THAN)):
        name = stars.star_name(int(catalogue["hip"][bright[k]]))
        if not name.startswith("HIP"):
            px, py = projected(alt[k], az[k])
            ax.annotate(name, (px, py), xytext=(4, -9), textcoords="offset points", color="#b8c4e8", fontsize=8,
                        zorder=4)
    planets = eph.altaz(PLANETS, site, when, refraction=(10.0, 1010.0))
    colours = {"moon": "#f4f1c8", "venus": "#fff3b0", "mars": "#ff8a5c", "jupiter": "#ffd9a0",
               "saturn": "#e8d28a"}
    for name, altitude, azimuth in zip(PLANETS, planets.altitude_deg, planets.azimuth_deg):
        if altitude > 0.0:
            px, py = projected(altitude, azimuth)
            ax.scatter([px], [py], s=160 if name == "moon" else 55, c=colours.get(name, "#9fe0c8"),
                       edgecolors="black", linewidths=0.5, zorder=5)
            left = float(px) > 55.0  # near the western edge the label goes inside
            ax.annotate(name.capitalize(), (px, py), xytext=(-8 if left else 6, 5), textcoords="offset points",
                        ha="right" if left else "left", color=colours.get(name, "#9fe0c8"), fontsize=10,
                        weight="bold", zorder=6)
    for label, azimuth in (("N", 0.0), ("E", 90.0), ("S", 180.0), ("W", 270.0)):
        px, py = projected(-6.0, azimuth)
        ax.text(float(px), float(py), label, ha="center", va="center", fontsize=13, weight="bold", color="#334")
    ax.set_xlim(-100, 100)
    ax.set_ylim(-100, 100)
    figure.suptitle(title, fontsize=11)
    figure.text(0.5, 0.015, f"{int(up.sum())} stars brighter than Hp {MAGNITUDE_LIMIT} above the horizon "
                "(Hipparcos); refraction for 10 °C, 1010 hPa", ha="center", fontsize=8, color="#555")
    figure.savefig(path)


def write_sky_picture(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver,
                      out_dir: str, *, place: str = "", zone: tzinfo | None = None) -> str:
    """Draws sky.png into `out_dir` and returns its path."""
    instant, moved = night_instant(eph, when, site)
    shown = instant.to_datetime(zone).strftime("%Y-%m-%d %H:%M %Z") if zone else instant.iso()[:16] + " UTC"
    where = place or f"{site.latitude_deg:.2f}°, {site.longitude_east_deg:.2f}°"
    title = f"The sky over {where}, {shown}" + (" (end of the coming astronomical dusk)" if moved else "")
    path = os.path.join(out_dir, "sky.png")
    draw_sky(path, eph, instant, site, title)
    return path
