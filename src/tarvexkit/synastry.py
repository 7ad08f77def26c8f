"""Two charts together: synastry (inter-aspects and house overlays), the
composite chart by midpoints and the Davison chart.

Synastry (`Chart.synastry(other)`): every point of the first chart against
every point of the second; an aspect is in orb when the angular separation
lies within the orb (`chart.ORBS_DEG`, or `orbs=` as in `Ephemeris.chart`)
of the aspect's angle. It is applying when the separation is moving towards
the exact angle as both charts move on, each point at its own speed (the
charts' `speed_deg_per_day`). An overlay says in which house of the other
chart each point falls. The result is plain data, ready for a bi-wheel:
`Synastry.aspects` lists point names, both longitudes, the orb and
`applying`.

Composite chart (`Ephemeris.composite(a, b)`, R. Hand, "Planets in
Composite", 1975): each point at the midpoint of its two longitudes on the
shorter arc (when they are exactly opposite, the midpoint 90 degrees ahead
of the first chart's point), its latitude and speed the means. The
composite houses are the house system's cusps for the midpoint of the two
ARMCs (shorter arc), the mean obliquity, and the latitude of the
great-circle midpoint of the two sites; the composite midheaven and
ascendant are those of that ARMC (the midpoint of the ARMCs rather than of
the midheavens: the two differ by less than a degree and the ARMC keeps
the houses consistent with the angles). In a sidereal zodiac the cusps
take off the mean of the two charts' shifts. The composite's nominal
instant is the mean of the two instants, its site the great-circle
midpoint (the Davison chart's).

Davison chart (`Ephemeris.davison(a, b)`, R. C. Davison, "Synastry",
1977): an ordinary chart for the midpoint in time (the mean of the two TT
instants) and the great-circle midpoint of the two sites (height the
mean), with the first chart's house system, zodiac and points.
"""

from __future__ import annotations

from datetime import timezone
from typing import TYPE_CHECKING, Any

import numpy as np

import tarvex

from . import astrology
from .chart import (Chart, ChartAspect, ChartPoint, HouseOverlay, Synastry, SynastryAspect, _wrap180, aspect_between,
                    house_of, synastry)
from .searches import SIGNS, aspect_angles

if TYPE_CHECKING:
    from .ephemeris_protocol import EphemerisLike as Ephemeris

# The synastry itself lives beside `Chart` (its method); named here too.
__all__ = ["HouseOverlay", "Synastry", "SynastryAspect", "aspect_between", "chart_aspects", "composite", "davison",
           "house_of", "midpoint_deg", "site_midpoint", "synastry"]


def midpoint_deg(a: float, b: float) -> float:
    """The midpoint of two longitudes on the shorter arc, in [0, 360); for
    two opposite longitudes the one 90 degrees ahead of `a`."""
    d = _wrap180(b - a)
    if d == -180.0:
        d = 180.0
    return (a + d / 2.0) % 360.0


def site_midpoint(a: Chart, b: Chart) -> tarvex.GeodeticObserver:
    """The great-circle midpoint of the two charts' sites (mean height)."""
    vectors = []
    for chart in (a, b):
        lon, lat = np.radians(chart.site_longitude_east_deg), np.radians(chart.site_latitude_deg)
        vectors.append(np.array([np.cos(lat) * np.cos(lon), np.cos(lat) * np.sin(lon), np.sin(lat)]))
    total = vectors[0] + vectors[1]
    norm = float(np.linalg.norm(total))
    if norm < 1e-12:
        raise ValueError("the two sites are antipodal: their great-circle midpoint is undefined")
    x, y, z = total / norm
    return tarvex.GeodeticObserver(float(np.degrees(np.arctan2(y, x))), float(np.degrees(np.arcsin(z))),
                                   (a.site_height_m + b.site_height_m) / 2.0)


def chart_aspects(points: list[ChartPoint], aspects: list[str | float] | None = None,
                  orbs: float | dict[str, float] | None = None) -> list[ChartAspect]:
    """The aspects in orb between the points of one chart (each pair once)."""
    kinds = aspect_angles(aspects)
    out = []
    for i, p in enumerate(points):
        for q in points[i + 1:]:
            hit = aspect_between(p, q, kinds, orbs)
            if hit is not None:
                out.append(ChartAspect(p.name, q.name, *hit))
    return out


def composite_points(a: Chart, b: Chart, cusps: list[float]) -> list[ChartPoint]:
    """The midpoints of the points both charts have, in the first's order."""
    others = {q.name: q for q in b.points}
    points = []
    for p in a.points:
        q = others.get(p.name)
        if q is None:
            continue
        lon = midpoint_deg(p.longitude_deg, q.longitude_deg)
        speed = (p.speed_deg_per_day + q.speed_deg_per_day) / 2.0
        sign = int(lon // 30.0) % 12
        distance = None if p.distance_au is None or q.distance_au is None else (p.distance_au + q.distance_au) / 2
        points.append(ChartPoint(p.name, lon, (p.latitude_deg + q.latitude_deg) / 2.0, distance, speed,
                                 speed < 0.0, SIGNS[sign], lon - 30.0 * sign, house_of(lon, cusps)))
    return points


def _chart_site(chart: Chart) -> tarvex.GeodeticObserver:
    return tarvex.GeodeticObserver(chart.site_longitude_east_deg, chart.site_latitude_deg, chart.site_height_m)


def composite(eph: Ephemeris, a: Chart, b: Chart) -> Chart:
    """The composite chart of two charts (module text), as a `Chart`."""
    for name, chart in (("a", a), ("b", b)):
        if not isinstance(chart, Chart):
            raise TypeError(f"{name} must be a Chart, not {type(chart).__name__}")
    if a.zodiac != b.zodiac:
        raise ValueError(f"both charts must be in one zodiac, not {a.zodiac!r} and {b.zodiac!r}")
    skies = [eph.houses(_chart_site(c), eph.times(c.tt_julian_day, "tt"), "porphyry") for c in (a, b)]
    ramc = midpoint_deg(skies[0].ramc_deg, skies[1].ramc_deg)
    obliquity = (skies[0].obliquity_deg + skies[1].obliquity_deg) / 2.0
    site = site_midpoint(a, b)
    tt = (a.tt_julian_day + b.tt_julian_day) / 2.0
    fallback = "porphyry" if a.houses_used != a.house_system else None
    sky = astrology.houses(a.house_system, ramc_deg=ramc, latitude_deg=site.latitude_deg, obliquity_deg=obliquity,
                           polar_fallback=fallback)
    cusps = [float(c) for c in sky.cusps_deg]
    angles = [float(sky.ascendant_deg), float(sky.midheaven_deg), float(sky.vertex_deg)]
    if a.zodiac != "tropical":
        shift = float(np.mean(astrology.ayanamsha_table(a.zodiac, np.array([a.tt_julian_day, b.tt_julian_day]))[:, 0]))
        cusps = [(c - shift) % 360.0 for c in cusps]
        angles = [(x - shift) % 360.0 for x in angles]
        if a.house_system == "whole_sign":
            cusps = [(30.0 * (angles[0] // 30.0) + 30.0 * k) % 360.0 for k in range(12)]
        elif a.house_system == "equal":
            cusps = [(angles[0] + 30.0 * k) % 360.0 for k in range(12)]
    points = composite_points(a, b, cusps)
    when = eph.times(tt, "tt")
    utc = when._iso_utc_and_local(timezone.utc, places=3)[0]
    return Chart(
        time_utc=utc, tt_julian_day=tt, site_longitude_east_deg=float(site.longitude_east_deg),
        site_latitude_deg=float(site.latitude_deg), site_height_m=float(site.height_m), zodiac=a.zodiac,
        house_system=a.house_system, points=points, cusps_deg=cusps, ascendant_deg=angles[0],
        midheaven_deg=angles[1], vertex_deg=angles[2], aspects=chart_aspects(points),
        houses_used="porphyry" if bool(sky.fallback) else a.house_system, zone="UTC", time_local=utc,
        files=list(a.files))


def davison(eph: Ephemeris, a: Chart, b: Chart) -> Chart:
    """The Davison chart of two charts (module text): `Ephemeris.chart` at
    the mean TT instant and the great-circle midpoint of the sites."""
    for name, chart in (("a", a), ("b", b)):
        if not isinstance(chart, Chart):
            raise TypeError(f"{name} must be a Chart, not {type(chart).__name__}")
    when = eph.times((a.tt_julian_day + b.tt_julian_day) / 2.0, "tt")
    return eph.chart(when, site_midpoint(a, b), houses=a.house_system, zodiac=a.zodiac,
                     bodies=[p.name for p in a.points],
                     polar_fallback="porphyry" if a.houses_used != a.house_system else None)
