"""The geometry of eclipses and occultations, on arrays of instants.

Pure functions of geocentric or topocentric apparent places (equatorial,
true equator and equinox of date); no file, no search. `eclipses` feeds
them the places of the native store and searches over them.

Solar eclipses (and the Moon occulting a planet, the same geometry with
the planet for the Sun): the shadow axis and cones of the Besselian
elements, Explanatory Supplement to the Astronomical Almanac (ed. P. K.
Seidelmann, 1992), section 8.3, and J. Meeus, "Elements of Solar
Eclipses 1951-2200" (1989), pp. 4-12. The axis is the line through the
centres of the Moon and of the Sun; the fundamental plane is the plane
through the Earth's centre perpendicular to it. With G the Moon-Sun
distance, z the Moon's height above that plane and k the Moon's radius
(all in Earth equatorial radii):

    sin f1 = (R_sun + k) / G          sin f2 = (R_sun - k) / G
    l1 = z tan f1 + k / cos f1        l2 = z tan f2 - k / cos f2

the radii of the penumbra and the umbra in the plane (l2 < 0: the umbra's
vertex lies beyond it, total; l2 > 0: annular). At a height zeta above the
plane the radii are L1 = l1 - zeta tan f1 and L2 = l2 - zeta tan f2.
gamma is the distance of the axis from the Earth's centre in the plane,
signed positive where the axis passes north of it.

The Earth is the GRS80 ellipsoid of the kit's topocentric observer
(a = 6378.137 km, f = 1/298.257222101). Whether and where the axis meets
it is decided in coordinates whose polar axis is stretched by 1 / (1 - f),
which turn the ellipsoid into the unit sphere and lines into lines (the
"rho1" scaling of the Explanatory Supplement, 8.334, done on vectors).

Lunar eclipses: the Earth's shadow as seen from the Earth's centre, with
Danjon's enlargement of the Earth's radius by 1/85 for its atmosphere
(A. Danjon, 1951; adopted by the French almanac since 1951 and in the
Explanatory Supplement, 3rd ed. 2013, section 11.3.2), and the Earth's
radius at latitude 45 degrees (0.998340 a):

    rho_umbra     = (1 + 1/85) pi_1 + pi_sun - s_sun
    rho_penumbra  = (1 + 1/85) pi_1 + pi_sun + s_sun

pi_1 = 0.998340 pi_moon, pi the horizontal parallaxes, s_sun the Sun's
semi-diameter. Umbral and penumbral magnitudes are (rho + s_moon - delta)
/ (2 s_moon), delta the Moon's distance from the shadow's axis (the point
opposite the Sun's apparent place).

Radii: the Sun's 959.63" at 1 au (Auwers, as in the Explanatory
Supplement), the Moon's k = 0.2725076 Earth radii (IAU 1982, the value of
the penumbra in the Supplement's and Meeus's elements).

A site's circumstances use its topocentric apparent places directly: the
angular separation delta of the centres and the semi-diameters s (Moon)
and sigma (Sun); magnitude = (s + sigma - delta) / (2 sigma), the fraction
of the Sun's diameter covered; obscuration the fraction of its disc's
area covered (the area of the lens where two circles overlap).
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from .observing import AU_KM

_FloatArray = npt.NDArray[np.float64]

EARTH_RADIUS_KM = 6378.137
EARTH_FLATTENING = 1.0 / 298.257222101
MOON_RADIUS_KM = 0.2725076 * EARTH_RADIUS_KM
SUN_RADIUS_KM = np.radians(959.63 / 3600.0) * AU_KM
AU_EARTH_RADII = AU_KM / EARTH_RADIUS_KM
# Danjon's atmosphere: the Earth's radius enlarged by 1/85; the radius at
# latitude 45 degrees, in equatorial radii.
DANJON_ENLARGEMENT = 1.0 + 1.0 / 85.0
MEAN_LATITUDE_RADIUS = 0.998340


def unit_vectors(places: _FloatArray) -> _FloatArray:
    """(..., 3) unit vectors of places (..., >= 2): longitude (or right
    ascension) and latitude (or declination) in degrees."""
    lon, lat = np.radians(places[..., 0]), np.radians(places[..., 1])
    return np.stack([np.cos(lat) * np.cos(lon), np.cos(lat) * np.sin(lon), np.sin(lat)], axis=-1)


def vectors_earth_radii(places: _FloatArray) -> _FloatArray:
    """(..., 3) vectors in Earth equatorial radii of places whose third
    column is the distance in au."""
    return unit_vectors(places) * (places[..., 2:3] * AU_EARTH_RADII)


def separation_rad(u: _FloatArray, v: _FloatArray) -> _FloatArray:
    """Angles between vectors (radians); atan2 keeps small angles exact."""
    cross = np.linalg.norm(np.cross(u, v), axis=-1)
    return np.asarray(np.arctan2(cross, np.sum(u * v, axis=-1)), dtype=np.float64)


def semi_diameter_rad(radius_km: float | _FloatArray, distance_au: _FloatArray) -> _FloatArray:
    """Apparent semi-diameter (radians) of a sphere at a distance."""
    return np.asarray(np.arcsin(radius_km / (np.asarray(distance_au) * AU_KM)), dtype=np.float64)


def _stretch(v: _FloatArray) -> _FloatArray:
    """Coordinates in which the Earth's ellipsoid is the unit sphere."""
    return np.asarray(v * np.array([1.0, 1.0, 1.0 / (1.0 - EARTH_FLATTENING)]), dtype=np.float64)


@dataclass(frozen=True)
class ShadowAxis:
    """The shadow of the Moon (or what it occults) on the fundamental plane,
    per instant; lengths in Earth equatorial radii.

    gamma: signed distance of the axis from the Earth's centre.
    miss: distance of the axis from the centre in the stretched coordinates
    (below 1: the axis meets the ellipsoid).
    l1, l2: radii of the penumbra and the umbra in the fundamental plane.
    tan_f1, tan_f2: slopes of their cones.
    axis: (n, 3) unit vectors from the Moon towards the source.
    moon: (n, 3) the Moon's geocentric vectors.
    """

    gamma: _FloatArray
    miss: _FloatArray
    l1: _FloatArray
    l2: _FloatArray
    tan_f1: _FloatArray
    tan_f2: _FloatArray
    axis: _FloatArray
    moon: _FloatArray


def shadow_axis(source: _FloatArray, moon: _FloatArray, source_radius_km: float) -> ShadowAxis:
    """The shadow the Moon casts in the light of `source` (the Sun, or a
    planet for an occultation): geocentric apparent equatorial places of
    date of both, (n, >= 3) rows of right ascension, declination (degrees)
    and distance (au)."""
    s, m = vectors_earth_radii(source), vectors_earth_radii(moon)
    k = MOON_RADIUS_KM / EARTH_RADIUS_KM
    radius = source_radius_km / EARTH_RADIUS_KM
    d = s - m
    g = np.linalg.norm(d, axis=-1)
    u = d / g[:, None]
    z = np.sum(m * u, axis=-1)
    closest = m - z[:, None] * u
    gamma = np.linalg.norm(closest, axis=-1) * np.where(closest[:, 2] >= 0.0, 1.0, -1.0)
    sin_f1, sin_f2 = (radius + k) / g, (radius - k) / g
    cos_f1, cos_f2 = np.sqrt(1.0 - sin_f1**2), np.sqrt(1.0 - sin_f2**2)
    tan_f1, tan_f2 = sin_f1 / cos_f1, sin_f2 / cos_f2
    l1 = z * tan_f1 + k / cos_f1
    l2 = z * tan_f2 - k / cos_f2
    ms, us = _stretch(m), _stretch(u)
    us = us / np.linalg.norm(us, axis=-1)[:, None]
    miss = np.linalg.norm(ms - np.sum(ms * us, axis=-1)[:, None] * us, axis=-1)
    return ShadowAxis(gamma, miss, l1, l2, tan_f1, tan_f2, u, m)


def axis_point(shadow: ShadowAxis) -> tuple[_FloatArray, _FloatArray]:
    """Where the shadow's axis is nearest the Earth: (n, 3) geocentric
    vectors (Earth radii) of the point on the ellipsoid where the axis
    meets it on the Moon's side, or, where it misses, of the point of the
    surface nearest to it; and that point's height zeta above the
    fundamental plane."""
    ms, us = _stretch(shadow.moon), _stretch(shadow.axis)
    us = us / np.linalg.norm(us, axis=-1)[:, None]
    s0 = -np.sum(ms * us, axis=-1)
    closest = ms + s0[:, None] * us
    reach = np.sqrt(np.clip(1.0 - np.sum(closest * closest, axis=-1), 0.0, None))
    hit = ms + (s0 + reach)[:, None] * us
    limb = closest / np.linalg.norm(closest, axis=-1)[:, None]
    point = np.where((shadow.miss < 1.0)[:, None], hit, limb)
    point = point * np.array([1.0, 1.0, 1.0 - EARTH_FLATTENING])
    return point, np.sum(point * shadow.axis, axis=-1)


def umbra_at(shadow: ShadowAxis, zeta: _FloatArray) -> tuple[_FloatArray, _FloatArray]:
    """Radii L1, L2 of the penumbra and the umbra at heights zeta."""
    return shadow.l1 - zeta * shadow.tan_f1, shadow.l2 - zeta * shadow.tan_f2


def geodetic_latitude_deg(point: _FloatArray) -> _FloatArray:
    """Geodetic latitude of points on the ellipsoid (its normal's)."""
    rho = np.hypot(point[:, 0], point[:, 1])
    return np.asarray(np.degrees(np.arctan2(point[:, 2], rho * (1.0 - EARTH_FLATTENING) ** 2)), dtype=np.float64)


@dataclass(frozen=True)
class LunarShadow:
    """The Moon in the Earth's shadow, per instant, angles in radians:
    the Moon's distance from the shadow's axis, its semi-diameter, and the
    radii of the umbra and the penumbra at the Moon's distance."""

    distance: _FloatArray
    moon_radius: _FloatArray
    umbra: _FloatArray
    penumbra: _FloatArray

    @property
    def umbral_magnitude(self) -> _FloatArray:
        return np.asarray((self.umbra + self.moon_radius - self.distance) / (2.0 * self.moon_radius), dtype=np.float64)

    @property
    def penumbral_magnitude(self) -> _FloatArray:
        return np.asarray((self.penumbra + self.moon_radius - self.distance) / (2.0 * self.moon_radius),
                          dtype=np.float64)


def lunar_shadow(sun: _FloatArray, moon: _FloatArray) -> LunarShadow:
    """The Earth's shadow on the Moon (Danjon's rule, module text) from
    geocentric apparent places (n, >= 3) of the Sun and the Moon."""
    axis = -unit_vectors(sun)
    distance = separation_rad(axis, unit_vectors(moon))
    parallax_moon = np.arcsin(1.0 / (moon[:, 2] * AU_EARTH_RADII))
    parallax_sun = np.arcsin(1.0 / (sun[:, 2] * AU_EARTH_RADII))
    sun_radius = semi_diameter_rad(SUN_RADIUS_KM, sun[:, 2])
    earth = DANJON_ENLARGEMENT * MEAN_LATITUDE_RADIUS * parallax_moon + parallax_sun
    return LunarShadow(distance, semi_diameter_rad(MOON_RADIUS_KM, moon[:, 2]), earth - sun_radius, earth + sun_radius)


def covered_fraction(delta: _FloatArray, r_moon: _FloatArray, r_sun: _FloatArray) -> _FloatArray:
    """Fraction of the area of a disc of radius r_sun covered by one of
    radius r_moon whose centre lies delta away (same units)."""
    d = np.asarray(delta, dtype=np.float64)
    r, big = np.asarray(r_sun, dtype=np.float64), np.asarray(r_moon, dtype=np.float64)
    safe_d = np.where(d > 0.0, d, 1.0)
    c1 = np.clip((d * d + r * r - big * big) / (2.0 * safe_d * r), -1.0, 1.0)
    c2 = np.clip((d * d + big * big - r * r) / (2.0 * safe_d * big), -1.0, 1.0)
    a1, a2 = np.arccos(c1), np.arccos(c2)
    lens = r * r * (a1 - np.sin(2.0 * a1) / 2.0) + big * big * (a2 - np.sin(2.0 * a2) / 2.0)
    inside = d <= np.abs(big - r)
    full = np.minimum(big, r) ** 2 / (r * r)
    area = np.where(d >= big + r, 0.0, np.where(inside, full, lens / (np.pi * r * r)))
    return np.asarray(area, dtype=np.float64)
