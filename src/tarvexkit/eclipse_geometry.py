"""The geometry of eclipses and occultations over arrays of instants: the
native functions of `src/tarvexkit/native/eclipse_geometry.hpp` (whose
header gives the models and their references) fed with the place arrays of
`Ephemeris.positions`, their columns named here.

- Solar eclipses and occultations: the shadow axis and cones of the
  Besselian elements (Explanatory Supplement to the Astronomical Almanac,
  1992, section 8.3; Meeus, "Elements of Solar Eclipses 1951-2200"), on
  the GRS80 ellipsoid of the kit's sites.
- Lunar eclipses: the Earth's shadow with Danjon's enlargement of the
  Earth's radius by 1/85 (Explanatory Supplement, 3rd ed. 2013, 11.3.2).
- Discs seen from a site: separation, semi-diameters, covered area.

Radii: the Earth's GRS80 equatorial radius, the Sun's 959.63" at 1 au,
and the Moon's two radii of NASA's canon (Espenak and Meeus, "Five
Millennium Canon of Solar Eclipses", NASA/TP-2006-214141, section 1.3):
k = 0.2725076 Earth radii (its mean radius) for the penumbra and the outer
contacts, k = 0.272281 (`MOON_K_UMBRA`, the mean of the valleys of its
limb) for the umbra, the inner contacts and central durations. The
functions take the umbra's k as `umbra_k`; `MOON_K_PENUMBRA` there gives
the one-radius model.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from . import _native
from .observing import AU_KM

_FloatArray = npt.NDArray[np.float64]

EARTH_RADIUS_KM, EARTH_FLATTENING, MOON_PENUMBRAL_RADIUS_KM, SUN_RADIUS_KM, MOON_UMBRAL_RADIUS_KM = \
    _native.eclipse_radii()
MOON_K_PENUMBRA: float = _native.MOON_K_PENUMBRA
MOON_K_UMBRA: float = _native.MOON_K_UMBRA
# The Moon's radius for the penumbra under its earlier name (k R, 1738.1
# km; not the 1737.4 km mean radius of `observing.MOON_RADIUS_KM`).
MOON_RADIUS_KM = MOON_PENUMBRAL_RADIUS_KM
AU_EARTH_RADII = AU_KM / EARTH_RADIUS_KM


def _flat(places: _FloatArray) -> _FloatArray:
    """(n, 2, 4) places (source and Moon) as the native functions read them."""
    return np.ascontiguousarray(places[:, :2, :4], dtype=np.float64).reshape(-1)


@dataclass(frozen=True)
class ShadowAxis:
    """The Moon's shadow in the light of a source (the Sun, or a planet it
    occults), per instant; lengths in Earth equatorial radii.

    gamma: signed distance of the axis from the Earth's centre (north +).
    miss: that distance in coordinates where the ellipsoid is the unit
    sphere (below 1: the axis meets the Earth).
    l1, l2: radii of the penumbra and the umbra in the fundamental plane
    (l2 < 0: total), from the Moon's two radii; tan_f1, tan_f2: the slopes
    of their cones.
    point: (n, 3) the point of the Earth where the axis meets it (on the
    Moon's side), or nearest the axis, geocentric, equator of date.
    zeta: its height above the fundamental plane. off_axis: its distance
    from the axis (0 on the central line). latitude_deg: its geodetic
    latitude.
    """

    gamma: _FloatArray
    miss: _FloatArray
    l1: _FloatArray
    l2: _FloatArray
    tan_f1: _FloatArray
    tan_f2: _FloatArray
    point: _FloatArray
    zeta: _FloatArray
    off_axis: _FloatArray
    latitude_deg: _FloatArray

    def radii_at_point(self) -> tuple[_FloatArray, _FloatArray]:
        """The penumbra's and the umbra's radii at the point's height."""
        return self.l1 - self.zeta * self.tan_f1, self.l2 - self.zeta * self.tan_f2


def shadow_axis(places: _FloatArray, source_radius_km: float, umbra_k: float = MOON_K_UMBRA) -> ShadowAxis:
    """The shadow from geocentric apparent equatorial places of date (n, 2,
    4) of the source and the Moon; `umbra_k`: the Moon's radius in Earth
    radii for the umbra."""
    table = _native.solar_shadow(_flat(places), source_radius_km, umbra_k)
    c = table.T
    return ShadowAxis(c[0], c[1], c[2], c[3], c[4], c[5], table[:, 6:9], c[9], c[10], c[11])


@dataclass(frozen=True)
class LunarShadow:
    """The Moon in the Earth's shadow, per instant, angles in radians: the
    Moon's distance from the shadow's axis, its semi-diameter, the radii of
    the umbra and the penumbra at its distance; gamma, that distance in
    Earth radii, positive north."""

    distance: _FloatArray
    moon_radius: _FloatArray
    umbra: _FloatArray
    penumbra: _FloatArray
    gamma: _FloatArray

    @property
    def umbral_magnitude(self) -> _FloatArray:
        return np.asarray((self.umbra + self.moon_radius - self.distance) / (2.0 * self.moon_radius), dtype=np.float64)

    @property
    def penumbral_magnitude(self) -> _FloatArray:
        return np.asarray((self.penumbra + self.moon_radius - self.distance) / (2.0 * self.moon_radius),
                          dtype=np.float64)


def lunar_shadow(places: _FloatArray) -> LunarShadow:
    """The Earth's shadow on the Moon from geocentric apparent places (n, 2,
    4) of the Sun and the Moon."""
    c = _native.lunar_shadow(_flat(places)).T
    return LunarShadow(c[0], c[1], c[2], c[3], c[4])


@dataclass(frozen=True)
class Discs:
    """A body's disc and the Moon's seen from one place, per instant:
    separation of the centres, semi-diameters (radians) and the fraction
    of the body's disc covered; the Moon's semi-diameter with its mean
    radius (outer contacts, covered area) and with the umbra's k
    (`moon_inner_radius`: inner contacts)."""

    separation: _FloatArray
    moon_radius: _FloatArray
    body_radius: _FloatArray
    covered: _FloatArray
    moon_inner_radius: _FloatArray


def discs(places: _FloatArray, body_radius_km: float, umbra_k: float = MOON_K_UMBRA) -> Discs:
    """The discs from apparent places (n, 2, 4) of the body and the Moon."""
    c = _native.discs(_flat(places), body_radius_km, umbra_k).T
    return Discs(c[0], c[1], c[2], c[3], c[4])
