"""Earth satellites: element sets propagated by SGP4, turned to the sky.

SGP4 itself is the `sgp4` package (pip install tarvex[satellites]):
Vallado's C++ implementation of "Revisiting Spacetrack Report #3"
(Vallado, Crawford, Hujsak and Kelso, AIAA 2006-6753), run over many
satellites and instants at once by its `SatrecArray`, on the worker
threads of this module (it loops in C++ with the interpreter lock
released). Nothing of SGP4 is reimplemented here.

Element sets come as two-line (TLE) or three-line (3LE, a name line
first) text, or as CCSDS Orbit Mean-Elements Messages in the CSV, JSON
and XML forms CelesTrak publishes (read by `sgp4.omm` and the standard
library). `read` takes a path or the text itself.

Frames. SGP4 gives positions and velocities in TEME (true equator, mean
equinox of date). Following Vallado et al. 2006, sec. "Coordinate
frames" and appendix C, TEME turns into the pseudo Earth-fixed frame by
the IAU 1982 Greenwich mean sidereal time of UT1 (Aoki et al. 1982, as
in Vallado's `gstime`):

    GMST = 67310.54841 s + (876600 h + 8640184.812866 s) T
           + 0.093104 s T^2 - 6.2e-6 s T^3,   T = (JD_UT1 - 2451545) / 36525

and into the ITRS by the pole (x_p, y_p): r_ITRS = R1(-y_p) R2(-x_p)
r_PEF. The Earth-fixed velocity takes off the Earth's rotation,
omega x r_PEF with omega = 7.292115146706979e-5 rad/s. UT1 and the pole
are the engine's own (`_native.EarthRotation.orientation`, from its
leap-second kernel and IERS table), the same that place the planets'
observers; the GCRS comes from the ITRS by that same call's rotation
(sidereal time, pole and IAU 2006/2000B precession-nutation of the
engine), so that a satellite sits in the sky of the planets.

The observer's site and the sub-satellite point are geodetic on WGS84
(NIMA TR8350.2, 3rd ed., 2000); altitudes refer to the ellipsoid normal,
azimuths run from north through east, and refraction, when asked, is
Bennett's of `observing`.

Light. The Earth's shadow is a cone: seen from the satellite the Sun
(radius 696 000 km) and the Earth (a sphere of the WGS84 equatorial
radius) are two discs; the satellite is in the umbra when the Earth's
disc covers the Sun's, in the penumbra while it covers part of it, and
`sunlit` while the Sun's centre stands above the Earth's limb (so the
flag turns half-way through the penumbra, a second or so for a low
orbit). Passes over a site, with visibility and magnitudes, are
`satellite_passes`; the reading of element sets is `element_sets`.

Errors. A malformed line, a bad checksum or element sets whose lines do
not pair raise ValueError naming the line. SGP4's own failures (a decayed
satellite, a mean motion or eccentricity out of range; codes 1..6 of the
`sgp4` package, `SGP4_ERRORS`) are per satellite and instant: the
position there is NaN and the error code says why. Instants more than
`STALE_DAYS` from an element set's epoch warn (`StaleElementsWarning`):
SGP4's errors grow by kilometres a day away from the epoch.
"""

from __future__ import annotations

import math
import os
import warnings
from collections.abc import Callable, Iterator, Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from typing import Any, overload

import numpy as np
import numpy.typing as npt

import tarvex

from . import _native, element_sets
from .element_sets import Satellite as Satellite
from .element_sets import sgp4_api
from .observing import AU_KM, Horizontal, refract
from .times import Clock, Scale, Times

_FloatArray = npt.NDArray[np.float64]
_IntArray = npt.NDArray[np.int64]
_BoolArray = npt.NDArray[np.bool_]

# Days from an element set's epoch beyond which a position warns.
STALE_DAYS = 30.0
# WGS84 (NIMA TR8350.2): equatorial radius and flattening.
WGS84_RADIUS_KM = 6378.137
WGS84_FLATTENING = 1.0 / 298.257223563
WGS84_E2 = WGS84_FLATTENING * (2.0 - WGS84_FLATTENING)
# The Earth's rotation rate of Vallado et al. 2006 (rad/s).
EARTH_ROTATION_RAD_PER_S = 7.292115146706979e-5
SUN_RADIUS_KM = 696000.0
ARCSEC_TO_RAD = math.pi / 648000.0
# The error codes of the sgp4 package (sgp4.api.SGP4_ERRORS).
SGP4_ERRORS = {
    1: "mean eccentricity is outside the range 0 <= e < 1",
    2: "mean motion has fallen below zero",
    3: "perturbed eccentricity is outside the range 0 <= e <= 1",
    4: "length of the orbit's semi-latus rectum has fallen below zero",
    6: "the satellite has decayed",
}
# Satellite-instants each worker propagates and turns at a time: bounds the
# working memory (a few MB per worker).
CHUNK_SATELLITE_INSTANTS = 1 << 17


class StaleElementsWarning(UserWarning):
    """An instant lies more than `STALE_DAYS` from an element set's epoch."""


# ------------------------------------------------------------------ reading

def read(source: str | os.PathLike[str], *, checksum: bool = True) -> Satellites:
    """Element sets from a path or from the text itself: TLE, 3LE, or OMM as
    CSV, JSON or XML (told apart by their first characters). ValueError
    naming the line for a malformed line or a bad checksum (`checksum=False`
    skips that check, for hand-made sets)."""
    return Satellites(element_sets.read(source, checksum=checksum))


class Satellites(Sequence[Satellite]):
    """Satellites read from one source, in order: index by position, by
    name (`sats["ISS (ZARYA)"]`, case aside) or by catalogue number
    (`sats.number(25544)`); a slice or a list of positions is a
    `Satellites` again. Made by `Ephemeris.satellites`, which lets them
    give positions (`positions`, `subpoints`, `topocentric`, `sunlight`)
    with the ephemeris' own time and Earth orientation; `Ephemeris.altaz`
    and `.passes` take them as bodies."""

    def __init__(self, satellites: Sequence[Satellite], earth: Earth | None = None) -> None:
        self._items = tuple(satellites)
        self._earth = earth
        self._arrays: dict[int, list[tuple[int, int, Any]]] = {}

    def bind(self, earth: Earth) -> Satellites:
        """The same satellites with the Earth of an ephemeris."""
        bound = Satellites(self._items, earth)
        bound._arrays = self._arrays  # the propagators made so far serve both
        return bound

    def __len__(self) -> int:
        return len(self._items)

    @overload
    def __getitem__(self, index: int | str) -> Satellite: ...
    @overload
    def __getitem__(self, index: slice | Sequence[int]) -> Satellites: ...
    def __getitem__(self, index: Any) -> Satellite | Satellites:
        if isinstance(index, str):
            wanted = index.strip().casefold()
            for item in self._items:
                if item.name.casefold() == wanted:
                    return item
            raise KeyError(f"no satellite named {index!r}; names here: "
                           f"{', '.join(repr(s.name) for s in self._items[:5])}{', ...' if len(self) > 5 else ''}")
        if isinstance(index, slice):
            return Satellites(self._items[index], self._earth)
        if isinstance(index, (int, np.integer)):
            return self._items[index]
        return Satellites([self._items[int(k)] for k in index], self._earth)

    def number(self, catalog_number: int) -> Satellite:
        """The satellite with this NORAD catalogue number (KeyError if none)."""
        for item in self._items:
            if item.catalog_number == catalog_number:
                return item
        raise KeyError(f"no satellite with catalogue number {catalog_number!r}")

    def __iter__(self) -> Iterator[Satellite]:
        return iter(self._items)

    def __repr__(self) -> str:
        return f"<Satellites: {len(self)} element sets>"

    def _chunks_for(self, per_chunk: int, workers: int) -> list[tuple[int, int, Any]]:
        """SatrecArrays over consecutive runs of at most `per_chunk`
        satellites, at least one per worker (kept for the next call)."""
        size = max(1, min(per_chunk, -(-len(self) // max(1, workers))))
        if size not in self._arrays:
            api = sgp4_api()
            self._arrays[size] = [(a, min(a + size, len(self)),
                                   api.SatrecArray([s.model for s in self._items[a:a + size]]))
                                  for a in range(0, len(self), size)]
        return self._arrays[size]

    # -- positions, bound to an ephemeris
    def _bound(self) -> Earth:
        if self._earth is None:
            raise ValueError("these satellites know no Earth orientation: read them with eph.satellites(...)")
        return self._earth

    def positions(self, times: Times, frame: str = "gcrs") -> SatelliteStates:
        """Positions (km) and velocities (km/s) in the "gcrs", "itrs" or
        "teme" frame: arrays (instants, satellites, 3) with the SGP4 error
        codes (instants, satellites), 0 where fine and NaN positions where not."""
        if frame not in ("gcrs", "itrs", "teme"):
            raise ValueError(f"frame must be 'gcrs', 'itrs' or 'teme', not {frame!r}")
        return states(self, self._bound(), _days(times), times.scale, frame)

    def subpoints(self, times: Times) -> Subpoints:
        """The points under the satellites on WGS84: arrays (instants, satellites)."""
        found = states(self, self._bound(), _days(times), times.scale, "itrs")
        lat, lon, height = geodetic_from_itrs(found.position_km)
        return Subpoints(lat, lon, height)

    def topocentric(self, site: tarvex.GeodeticObserver, times: Times, *,
                    refraction: tuple[float, float] | None = None) -> Topocentric:
        """Altitude, azimuth, range and range rate from a site: arrays
        (instants, satellites), NaN where SGP4 failed (its code in `error_code`)."""
        return topocentric(self, self._bound(), site, _days(times), times.scale, refraction=refraction)

    def sunlight(self, times: Times) -> Sunlight:
        """Whether each satellite is sunlit or in the penumbra: arrays (instants, satellites)."""
        earth = self._bound()
        found = states(self, earth, _days(times), times.scale, "gcrs")
        return sunlight(found.position_km, earth.sun_gcrs_km(earth.clock.convert(_days(times), times.scale, "tt")))


def _days(times: Times) -> _FloatArray:
    if not isinstance(times, Times):
        raise TypeError(f"expected a Times, got {type(times).__name__}; make one with ephemeris.utc(...)")
    return np.ascontiguousarray(np.atleast_1d(times.julian_days), dtype=np.float64)


# ------------------------------------------------------------------ results

@dataclass(frozen=True)
class SatelliteStates:
    """Positions (km) and velocities (km/s), arrays (instants, satellites,
    3), in `frame`; `error_code` (instants, satellites) is SGP4's (0 fine,
    else a key of `SGP4_ERRORS`, with NaN position and velocity)."""

    frame: str
    position_km: _FloatArray
    velocity_km_s: _FloatArray
    error_code: _IntArray


@dataclass(frozen=True)
class Subpoints:
    """Geodetic latitude, longitude (east) in degrees and height (km) on WGS84."""

    latitude_deg: _FloatArray
    longitude_deg: _FloatArray
    height_km: _FloatArray


@dataclass(frozen=True)
class Topocentric:
    """Altitude (above the WGS84 normal), azimuth (from north through east),
    range (km) and range rate (km/s, positive receding) from a site."""

    altitude_deg: _FloatArray
    azimuth_deg: _FloatArray
    range_km: _FloatArray
    range_rate_km_s: _FloatArray
    error_code: _IntArray


@dataclass(frozen=True)
class Sunlight:
    """`sunlit`: the Sun's centre stands above the Earth's limb seen from
    the satellite; `penumbra`: the Earth hides part of the Sun's disc."""

    sunlit: _BoolArray
    penumbra: _BoolArray


# ------------------------------------------------------------------ the Earth

@dataclass(frozen=True)
class Earth:
    """What satellites need of an ephemeris: its Earth rotation (UT1, pole,
    ITRS -> GCRS), its clock, the Sun's geocentric GCRS position (km) at TT
    days, and the Sun's altitude (degrees) at a site at TT days."""

    rotation: _native.EarthRotation
    clock: Clock
    sun_gcrs_km: Callable[[_FloatArray], _FloatArray]
    sun_altitude_deg: Callable[[tarvex.GeodeticObserver, _FloatArray], _FloatArray]
    workers: int


def earth_of(rotation: _native.EarthRotation, clock: Clock, positions: Callable[..., _FloatArray],
             sun_altitude_deg: Callable[[tarvex.GeodeticObserver, _FloatArray], _FloatArray],
             workers: int | None = None) -> Earth:
    """The Earth of an ephemeris from its rotation, clock, batch positions
    (`Ephemeris.positions` with a scale) and the Sun's altitude at a site."""

    def sun_gcrs_km(tt: _FloatArray) -> _FloatArray:
        places = positions(["sun"], tt, tarvex.geometric("geocentric", "equatorial"), "tt")[:, 0]
        lon, lat = np.radians(places[:, 0]), np.radians(places[:, 1])
        distance = places[:, 2] * AU_KM
        return np.stack([distance * np.cos(lat) * np.cos(lon), distance * np.cos(lat) * np.sin(lon),
                         distance * np.sin(lat)], -1)

    return Earth(rotation, clock, sun_gcrs_km, sun_altitude_deg, workers or os.cpu_count() or 1)


def altaz_of(bodies: Satellite | Satellites, earth: Earth, site: tarvex.GeodeticObserver, times: Times, *,
             refraction: tuple[float, float] | None = None) -> Horizontal:
    """`Ephemeris.altaz` of satellites: one column per satellite, the axis
    dropped for one `Satellite` or a scalar `times`."""
    sats = bodies.bind(earth) if isinstance(bodies, Satellites) else Satellites([bodies], earth)
    found = altaz(sats, earth, site, _days(times), times.scale, refraction=refraction)
    parts: list[Any] = [found.altitude_deg, found.azimuth_deg, found.hour_angle_deg, found.distance_au]
    if isinstance(bodies, Satellite):
        parts = [p[:, 0] for p in parts]
    if times.shape == ():
        parts = [p[0] for p in parts]
        parts = [float(p) if np.ndim(p) == 0 else p for p in parts]
    return Horizontal(*parts)


def gmst82_rad(ut1: _FloatArray) -> _FloatArray:
    """Greenwich mean sidereal time, IAU 1982, radians in [0, 2 pi), at UT1
    Julian days (the sidereal time of TEME; module text)."""
    t = (np.asarray(ut1, dtype=np.float64) - 2451545.0) / 36525.0
    seconds = ((-6.2e-6 * t + 0.093104) * t + (876600.0 * 3600.0 + 8640184.812866)) * t + 67310.54841
    return np.asarray(np.radians((seconds / 240.0) % 360.0), dtype=np.float64)


@dataclass(frozen=True)
class _Turns:
    """Per instant (t, 3, 3): TEME -> ITRS for positions (`itrs`) and the
    Earth's rotation term of the ITRS velocity (`spin`: v_ITRS = itrs v +
    spin r), and TEME -> GCRS (`gcrs`)."""

    itrs: _FloatArray
    spin: _FloatArray
    gcrs: _FloatArray | None


def _turns(earth: Earth, days: _FloatArray, scale: Scale, celestial: bool) -> _Turns:
    table = earth.rotation.orientation(days, scale, celestial)
    theta = gmst82_rad(table[:, 0])
    xp, yp = table[:, 2] * ARCSEC_TO_RAD, table[:, 3] * ARCSEC_TO_RAD
    cx, sx, cy, sy = np.cos(xp), np.sin(xp), np.cos(yp), np.sin(yp)
    ct, st = np.cos(theta), np.sin(theta)
    zero, one = np.zeros_like(xp), np.ones_like(xp)
    # R1(-yp) R2(-xp) and R3(theta).
    pole = np.stack([np.stack([cx, zero, sx], -1), np.stack([sy * sx, cy, -sy * cx], -1),
                     np.stack([-cy * sx, sy, cy * cx], -1)], -2)
    spin = np.stack([np.stack([ct, st, zero], -1), np.stack([-st, ct, zero], -1),
                     np.stack([zero, zero, one], -1)], -2)
    itrs = pole @ spin
    # -omega x r_PEF = W r_PEF, W = [[0, omega, 0], [-omega, 0, 0], [0, 0, 0]].
    w = np.zeros((3, 3))
    w[0, 1], w[1, 0] = EARTH_ROTATION_RAD_PER_S, -EARTH_ROTATION_RAD_PER_S
    gcrs = table[:, 4:].reshape(-1, 3, 3) @ itrs if celestial else None
    return _Turns(itrs, pole @ (w @ spin), gcrs)


def _apply(matrix: _FloatArray, r: _FloatArray) -> tuple[_FloatArray, _FloatArray, _FloatArray]:
    """The rows of matrix (t, 3, 3) times vectors r (s, t, 3): three (s, t)
    arrays, by whole-array products (far faster than einsum here)."""
    x, y, z = r[..., 0], r[..., 1], r[..., 2]
    rows = [matrix[:, i, 0] * x + matrix[:, i, 1] * y + matrix[:, i, 2] * z for i in range(3)]
    return rows[0], rows[1], rows[2]


def _check_stale(sats: Satellites, utc: _FloatArray) -> None:
    if not len(utc):
        return
    epochs = np.array([s.epoch_utc_jd for s in sats])
    far = np.maximum(np.abs(utc.max() - epochs), np.abs(utc.min() - epochs))
    worst = int(np.argmax(far))
    if far[worst] > STALE_DAYS:
        warnings.warn(f"{sats[worst]!r}: an instant lies {far[worst]:.0f} days from its element set's epoch, "
                      f"beyond {STALE_DAYS:g}: SGP4 drifts by kilometres a day; use newer elements",
                      StaleElementsWarning, stacklevel=4)


def _propagate(sats: Satellites, earth: Earth, days: _FloatArray, scale: Scale,
               finish: Callable[[int, int, _FloatArray, _FloatArray, _IntArray, _Turns], None],
               celestial: bool = False) -> None:
    """Runs SGP4 over runs of satellites on the workers; `finish(first,
    last, r, v, error, turns)` takes each run's TEME states (satellites,
    instants, 3), NaN where SGP4 failed, its error codes (satellites,
    instants) and the instants' rotations (to the GCRS when `celestial`).

    SGP4 holds the interpreter lock while it runs (the sgp4 package's
    SatrecArray, measured), so the workers overlap one run's propagation
    with the rotations of another (NumPy lets go of the lock)."""
    utc = earth.clock.convert(days, scale, "utc") if scale != "utc" else days
    _check_stale(sats, utc)
    whole = np.floor(utc)
    fraction = utc - whole
    turns = _turns(earth, days, scale, celestial)
    per_chunk = max(1, CHUNK_SATELLITE_INSTANTS // max(1, len(days)))

    def run(part: tuple[int, int, Any]) -> None:
        first, last, array = part
        errors, r, v = array.sgp4(whole, fraction)
        bad = errors != 0
        r[bad] = np.nan
        v[bad] = np.nan
        finish(first, last, r, v, errors, turns)

    parts = sats._chunks_for(per_chunk, earth.workers)
    if len(parts) == 1 or earth.workers <= 1:
        for part in parts:
            run(part)
        return
    with ThreadPoolExecutor(earth.workers) as pool:
        list(pool.map(run, parts))


def states(sats: Satellites, earth: Earth, days: _FloatArray, scale: Scale, frame: str) -> SatelliteStates:
    """Positions and velocities in a frame at the instants: see `Satellites.positions`."""
    n = len(days)
    position = np.empty((n, len(sats), 3))
    velocity = np.empty((n, len(sats), 3))
    error = np.empty((n, len(sats)), dtype=np.int64)

    def finish(a: int, b: int, r: _FloatArray, v: _FloatArray, e: _IntArray, turns: _Turns) -> None:
        error[:, a:b] = e.T
        if frame == "teme":
            position[:, a:b], velocity[:, a:b] = r.transpose(1, 0, 2), v.transpose(1, 0, 2)
            return
        matrix = turns.gcrs if turns.gcrs is not None else turns.itrs
        for i, (rk, vk) in enumerate(zip(_apply(matrix, r), _apply(matrix, v))):
            position[:, a:b, i] = rk.T
            velocity[:, a:b, i] = vk.T
        if frame == "itrs":
            for i, extra in enumerate(_apply(turns.spin, r)):
                velocity[:, a:b, i] += extra.T

    _propagate(sats, earth, days, scale, finish, celestial=frame == "gcrs")
    return SatelliteStates(frame, position, velocity, error)


def site_itrs_km(site: tarvex.GeodeticObserver) -> tuple[_FloatArray, _FloatArray]:
    """The site's ITRS position (km) on WGS84 and its east, north, up axes (rows)."""
    phi, lam = math.radians(site.latitude_deg), math.radians(site.longitude_east_deg)
    n = WGS84_RADIUS_KM / math.sqrt(1.0 - WGS84_E2 * math.sin(phi) ** 2)
    h = site.height_m / 1000.0
    position = np.array([(n + h) * math.cos(phi) * math.cos(lam), (n + h) * math.cos(phi) * math.sin(lam),
                         (n * (1.0 - WGS84_E2) + h) * math.sin(phi)])
    axes = np.array([[-math.sin(lam), math.cos(lam), 0.0],
                     [-math.sin(phi) * math.cos(lam), -math.sin(phi) * math.sin(lam), math.cos(phi)],
                     [math.cos(phi) * math.cos(lam), math.cos(phi) * math.sin(lam), math.sin(phi)]])
    return position, axes


def geodetic_from_itrs(r: _FloatArray) -> tuple[_FloatArray, _FloatArray, _FloatArray]:
    """Geodetic latitude, longitude (degrees) and height (km) on WGS84 of
    ITRS positions (..., 3), by fixed-point iteration on the latitude
    (converged to 1e-12 rad within six rounds for any point above the ground)."""
    x, y, z = r[..., 0], r[..., 1], r[..., 2]
    p = np.hypot(x, y)
    phi = np.arctan2(z, p * (1.0 - WGS84_E2))
    for _ in range(6):
        n = WGS84_RADIUS_KM / np.sqrt(1.0 - WGS84_E2 * np.sin(phi) ** 2)
        phi = np.arctan2(z + WGS84_E2 * n * np.sin(phi), p)
    n = WGS84_RADIUS_KM / np.sqrt(1.0 - WGS84_E2 * np.sin(phi) ** 2)
    height = p * np.cos(phi) + z * np.sin(phi) - WGS84_RADIUS_KM * np.sqrt(1.0 - WGS84_E2 * np.sin(phi) ** 2)
    return np.degrees(phi), np.degrees(np.arctan2(y, x)), height


def _horizon(r: _FloatArray, v: _FloatArray | None, turns: _Turns, site: tarvex.GeodeticObserver
             ) -> tuple[_FloatArray, ...]:
    """Altitude, azimuth, hour angle (degrees), range (km) and, given the
    velocities, range rate (km/s) of TEME states (s, t, 3) from the site,
    as (s, t) arrays: the site's east, north and up axes folded into the
    rotation, so that each is one pass over the states."""
    position, axes = site_itrs_km(site)
    local = axes @ turns.itrs
    e, n, u = _apply(local, r)
    e, n, u = e - axes[0] @ position, n - axes[1] @ position, u - axes[2] @ position
    distance = np.sqrt(e * e + n * n + u * u)
    horizontal = np.hypot(e, n)
    phi = math.radians(site.latitude_deg)
    toward_equator = -math.sin(phi) * n + math.cos(phi) * u
    altitude = np.degrees(np.arctan2(u, horizontal))
    azimuth = np.degrees(np.arctan2(e, n)) % 360.0
    hour_angle = np.degrees(np.arctan2(-e, toward_equator))
    if v is None:
        return altitude, azimuth, hour_angle, distance
    ve, vn, vu = _apply(local, v)
    se, sn, su = _apply(axes @ turns.spin, r)
    rate = (e * (ve + se) + n * (vn + sn) + u * (vu + su)) / distance
    return altitude, azimuth, hour_angle, distance, rate


def _weather(refraction: tuple[float, float] | None) -> tuple[float, float] | None:
    if refraction is None:
        return None
    temperature_c, pressure_hpa = (float(value) for value in refraction)
    refract(0.0, temperature_c, pressure_hpa)  # the weather is checked before the sky is computed
    return temperature_c, pressure_hpa


def topocentric(sats: Satellites, earth: Earth, site: tarvex.GeodeticObserver, days: _FloatArray, scale: Scale, *,
                refraction: tuple[float, float] | None = None) -> Topocentric:
    """See `Satellites.topocentric`."""
    if not isinstance(site, tarvex.GeodeticObserver):
        raise TypeError(f"expected a tarvex.GeodeticObserver site, got {type(site).__name__}")
    weather = _weather(refraction)
    shape = (len(days), len(sats))
    altitude, azimuth, distance, rate = (np.empty(shape) for _ in range(4))
    error = np.empty(shape, dtype=np.int64)

    def finish(a: int, b: int, r: _FloatArray, v: _FloatArray, e: _IntArray, turns: _Turns) -> None:
        h = _horizon(r, v, turns, site)
        altitude[:, a:b], azimuth[:, a:b], distance[:, a:b], rate[:, a:b] = h[0].T, h[1].T, h[3].T, h[4].T
        error[:, a:b] = e.T

    _propagate(sats, earth, days, scale, finish)
    if weather is not None:
        altitude = refract(altitude, *weather)
    return Topocentric(altitude, azimuth, distance, rate, error)


def altaz(sats: Satellites, earth: Earth, site: tarvex.GeodeticObserver, days: _FloatArray, scale: Scale, *,
          refraction: tuple[float, float] | None = None) -> Horizontal:
    """`Ephemeris.altaz` for satellites: arrays (instants, satellites), the
    distance in au, NaN where SGP4 failed."""
    if not isinstance(site, tarvex.GeodeticObserver):
        raise TypeError(f"expected a tarvex.GeodeticObserver site, got {type(site).__name__}")
    weather = _weather(refraction)
    shape = (len(days), len(sats))
    altitude, azimuth, hour_angle, distance = (np.empty(shape) for _ in range(4))

    def finish(a: int, b: int, r: _FloatArray, v: _FloatArray, e: _IntArray, turns: _Turns) -> None:
        h = _horizon(r, None, turns, site)
        altitude[:, a:b], azimuth[:, a:b], hour_angle[:, a:b] = h[0].T, h[1].T, h[2].T
        distance[:, a:b] = h[3].T / AU_KM

    _propagate(sats, earth, days, scale, finish)
    if weather is not None:
        altitude = refract(altitude, *weather)
    return Horizontal(altitude, azimuth, hour_angle, distance)


def sunlight(position_km: _FloatArray, sun_km: _FloatArray) -> Sunlight:
    """The cone model of the module text: satellite GCRS positions
    (instants, satellites, 3) and the Sun's (instants, 3)."""
    to_sun = sun_km[:, None, :] - position_km
    sun_distance = np.linalg.norm(to_sun, axis=-1)
    earth_distance = np.linalg.norm(position_km, axis=-1)
    with np.errstate(invalid="ignore"):
        sun_radius = np.arcsin(np.minimum(1.0, SUN_RADIUS_KM / sun_distance))
        earth_radius = np.arcsin(np.minimum(1.0, WGS84_RADIUS_KM / earth_distance))
        cosine = -np.sum(to_sun * position_km, axis=-1) / (sun_distance * earth_distance)
        separation = np.arccos(np.clip(cosine, -1.0, 1.0))
        sunlit = separation >= earth_radius
        penumbra = (separation < earth_radius + sun_radius) & (separation > earth_radius - sun_radius)
    return Sunlight(sunlit, penumbra)
