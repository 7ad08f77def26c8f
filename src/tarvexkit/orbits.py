"""Orbits of minor bodies as users bring them, turned into states.

- The Minor Planet Center's one-line formats: MPCORB lines of asteroids
  (packed designation, epoch, mean anomaly, argument of perihelion, node,
  inclination, eccentricity, semimajor axis) and the comet lines of
  CometEls.txt (perihelion time and distance, any eccentricity). Columns,
  packed numbers, designations and dates after the Minor Planet Center,
  "Export Format for Minor-Planet Orbits", "Orbit format for comets" and
  "Packed Provisional and Permanent Designations"
  (../shared/reference/mpc-orbit-format.md).
- The text JPL Horizons prints for osculating elements (EC, QR, IN, OM, W,
  Tp, ...) or state vectors (X, Y, Z, VX, VY, VZ), with the header lines
  that name the centre, the reference plane and the units.

Elements are heliocentric, osculating, on the ecliptic and equinox of J2000;
they become an ICRF state by the conic of the two-body problem (Danby,
"Fundamentals of Celestial Mechanics", 2nd ed. 1988, sections 6.3-6.9: the
mean, eccentric, hyperbolic or parabolic anomaly) and the rotation by the
obliquity of J2000, 84381.448" (IAU 1976; the ecliptic MPC and JPL use).
`kepler_state` carries a state in time on the conic with Danby's universal
variables (section 6.9) and Stumpff functions, solved by the Laguerre-Conway
iteration (Conway 1986, Celestial Mechanics 39, 199), which converges for
every eccentricity.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

_FloatArray = npt.NDArray[np.float64]

OBLIQUITY_J2000_RAD = math.radians(84381.448 / 3600.0)
_COS_E, _SIN_E = math.cos(OBLIQUITY_J2000_RAD), math.sin(OBLIQUITY_J2000_RAD)
J2000_JD = 2451545.0
AU_KM = 149597870.7
# The Sun's GM in au^3/day^2 (DE440: Park et al. 2021, AJ 161, 105, table 8
# of the ephemeris constants), for heliocentric conics.
GM_SUN = 2.9591220828411956e-04

_BASE62 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


@dataclass(frozen=True)
class Elements:
    """Heliocentric osculating elements on the ecliptic of J2000:
    perihelion distance q (au), eccentricity e (any, >= 0), inclination,
    node and argument of perihelion (deg), perihelion time (TDB Julian
    day), and the epoch they osculate at (TDB Julian day)."""

    q_au: float
    e: float
    i_deg: float
    node_deg: float
    peri_deg: float
    perihelion_jd: float
    epoch_jd: float


def ecliptic_to_icrf(vector: _FloatArray) -> _FloatArray:
    """Rotates (..., 3) from the ecliptic of J2000 to the ICRF equator."""
    v = np.asarray(vector, dtype=np.float64)
    out = np.empty_like(v)
    out[..., 0] = v[..., 0]
    out[..., 1] = _COS_E * v[..., 1] - _SIN_E * v[..., 2]
    out[..., 2] = _SIN_E * v[..., 1] + _COS_E * v[..., 2]
    return out


def icrf_to_ecliptic(vector: _FloatArray) -> _FloatArray:
    """Rotates (..., 3) from the ICRF equator to the ecliptic of J2000."""
    v = np.asarray(vector, dtype=np.float64)
    out = np.empty_like(v)
    out[..., 0] = v[..., 0]
    out[..., 1] = _COS_E * v[..., 1] + _SIN_E * v[..., 2]
    out[..., 2] = -_SIN_E * v[..., 1] + _COS_E * v[..., 2]
    return out


def mean_anomaly_elements(a_au: float, e: float, i_deg: float, node_deg: float, peri_deg: float,
                          mean_anomaly_deg: float, epoch_jd: float, gm: float = GM_SUN) -> Elements:
    """Elements from a semimajor axis and the mean anomaly at the epoch (e < 1)."""
    if not (0.0 <= e < 1.0) or not a_au > 0.0:
        raise ValueError(f"a mean anomaly needs an ellipse: a = {a_au} au, e = {e}")
    n = math.sqrt(gm / a_au**3)
    m = math.radians(mean_anomaly_deg)
    m = (m + math.pi) % (2.0 * math.pi) - math.pi
    return Elements(a_au * (1.0 - e), e, i_deg, node_deg, peri_deg, epoch_jd - m / n, epoch_jd)


def elements_state(elements: Elements, gm: float = GM_SUN) -> _FloatArray:
    """The heliocentric ICRF state (au, au/day) at the elements' epoch."""
    q, e = elements.q_au, elements.e
    if not (q > 0.0 and e >= 0.0 and math.isfinite(q) and math.isfinite(e)):
        raise ValueError(f"elements need q > 0 and e >= 0, not q = {q}, e = {e}")
    # Perifocal state at perihelion, carried to the epoch on the conic.
    p = q * (1.0 + e)
    perifocal = np.array([q, 0.0, 0.0, 0.0, math.sqrt(gm / p) * (1.0 + e), 0.0])
    state = kepler_state(perifocal, elements.epoch_jd - elements.perihelion_jd, gm)
    i, node, w = (math.radians(x) for x in (elements.i_deg, elements.node_deg, elements.peri_deg))
    cn, sn, ci, si, cw, sw = math.cos(node), math.sin(node), math.cos(i), math.sin(i), math.cos(w), math.sin(w)
    rotation = np.array([
        [cn * cw - sn * sw * ci, -cn * sw - sn * cw * ci, sn * si],
        [sn * cw + cn * sw * ci, -sn * sw + cn * cw * ci, -cn * si],
        [sw * si, cw * si, ci],
    ])
    ecliptic = np.concatenate([rotation @ state[:3], rotation @ state[3:]])
    return np.concatenate([ecliptic_to_icrf(ecliptic[:3]), ecliptic_to_icrf(ecliptic[3:])])


def _stumpff(z: float) -> tuple[float, float]:
    """Stumpff's c2(z) and c3(z)."""
    if z > 0.5:
        s = math.sqrt(z)
        return (1.0 - math.cos(s)) / z, (s - math.sin(s)) / (s * z)
    if z < -0.5:
        s = math.sqrt(-z)
        return (math.cosh(s) - 1.0) / -z, (math.sinh(s) - s) / (s * -z)
    # The series, free of the cancellation of the closed forms near 0.
    c2 = c3 = 0.0
    term2, term3 = 0.5, 1.0 / 6.0
    for k in range(12):
        c2 += term2
        c3 += term3
        term2 *= -z / ((2 * k + 3) * (2 * k + 4))
        term3 *= -z / ((2 * k + 4) * (2 * k + 5))
    return c2, c3


def kepler_state(state: npt.ArrayLike, dt_days: float, gm: float = GM_SUN) -> _FloatArray:
    """The state (au, au/day) `dt_days` later on the two-body conic about a
    mass `gm` (au^3/day^2) at the origin; any eccentricity."""
    s = np.asarray(state, dtype=np.float64)
    r0v, v0v = s[:3], s[3:]
    if dt_days == 0.0:
        return s.copy()
    r0 = float(np.linalg.norm(r0v))
    sqrt_mu = math.sqrt(gm)
    vr0 = float(r0v @ v0v) / r0
    alpha = 2.0 / r0 - float(v0v @ v0v) / gm
    sigma = r0 * vr0 / sqrt_mu
    # Laguerre-Conway on F(chi) = 0 (Danby eq. 6.9.22), degree 5.
    chi = sqrt_mu * abs(alpha) * dt_days if alpha > 0 else sqrt_mu * dt_days / r0
    n = 5.0
    for _ in range(100):
        z = alpha * chi * chi
        c2, c3 = _stumpff(z)
        f = sigma * chi * chi * c2 + (1.0 - alpha * r0) * chi**3 * c3 + r0 * chi - sqrt_mu * dt_days
        fp = sigma * chi * (1.0 - z * c3) + (1.0 - alpha * r0) * chi * chi * c2 + r0
        fpp = sigma * (1.0 - z * c2) + (1.0 - alpha * r0) * chi * (1.0 - z * c3)
        root = math.sqrt(abs((n - 1.0) ** 2 * fp * fp - n * (n - 1.0) * f * fpp))
        step = n * f / (fp + math.copysign(root, fp))
        chi -= step
        if abs(step) <= 1e-14 * abs(chi):
            break
    else:
        # Round-off may keep the last digit moving: accept a residual at that level.
        if abs(f) > 1e-12 * (r0 * abs(chi) + sqrt_mu * abs(dt_days)):
            raise ValueError(f"the two-body conic did not converge for dt = {dt_days} days")
    z = alpha * chi * chi
    c2, c3 = _stumpff(z)
    f = 1.0 - chi * chi / r0 * c2
    g = dt_days - chi**3 * c3 / sqrt_mu
    rv = f * r0v + g * v0v
    r = float(np.linalg.norm(rv))
    fdot = sqrt_mu / (r * r0) * (z * c3 - 1.0) * chi
    gdot = 1.0 - chi * chi / r * c2
    return np.concatenate([rv, fdot * r0v + gdot * v0v])


# --- the Minor Planet Center's formats -----------------------------------


class OrbitFormatError(ValueError):
    """A line of an orbit text that cannot be read: the message names the
    line and the columns."""


def _field(line: str, lineno: int, first: int, last: int, what: str, *, optional: bool = False) -> float | None:
    text = line[first - 1:last].strip()
    if not text:
        if optional:
            return None
        raise OrbitFormatError(f"line {lineno}, columns {first}-{last}: the {what} is blank")
    try:
        value = float(text)
    except ValueError:
        raise OrbitFormatError(f"line {lineno}, columns {first}-{last}: the {what} {text!r} is not a number") from None
    if not math.isfinite(value):
        raise OrbitFormatError(f"line {lineno}, columns {first}-{last}: the {what} {text!r} is not finite")
    return value


def _packed_digit(char: str, lineno: int, column: int, what: str, limit: int = 62) -> int:
    index = _BASE62.find(char)
    if index < 0 or index >= limit:
        raise OrbitFormatError(f"line {lineno}, column {column}: {char!r} is not a packed {what}")
    return index


def unpack_epoch(packed: str, lineno: int = 1, column: int = 21) -> float:
    """The Julian day of a packed date such as 'K2611' (2026 January 1, 0h),
    with fractional days after it when given ('K2611.5')."""
    if len(packed) < 5:
        raise OrbitFormatError(f"line {lineno}, columns {column}-{column + 4}: {packed!r} is not a packed date")
    centuries = {"I": 1800, "J": 1900, "K": 2000, "L": 2100}
    if packed[0] not in centuries or not packed[1:3].isdigit():
        raise OrbitFormatError(f"line {lineno}, columns {column}-{column + 2}: {packed[:3]!r} is not a packed year "
                               "(I, J, K or L and two digits)")
    year = centuries[packed[0]] + int(packed[1:3])
    month = _packed_digit(packed[3], lineno, column + 3, "month", 13)
    day = _packed_digit(packed[4], lineno, column + 4, "day", 32)
    if month < 1 or day < 1:
        raise OrbitFormatError(f"line {lineno}, columns {column + 3}-{column + 4}: month and day start at 1")
    fraction = 0.0
    if len(packed) > 5 and packed[5:].strip():
        try:
            fraction = float("0" + packed[5:].strip())
        except ValueError:
            raise OrbitFormatError(f"line {lineno}, column {column + 5}: {packed[5:]!r} is not a day fraction") from None
    return calendar_jd(year, month, day + fraction)


def calendar_jd(year: int, month: int, day: float) -> float:
    """Julian day of a Gregorian calendar date (day may have a fraction)."""
    a = (14 - month) // 12
    y = year + 4800 - a
    m = month + 12 * a - 3
    jdn = int(day) + (153 * m + 2) // 5 + 365 * y + y // 4 - y // 100 + y // 400 - 32045
    return jdn - 0.5 + (day - int(day))


def unpack_number(packed: str, lineno: int = 1) -> int | None:
    """A packed permanent number ('02060', 'A0345', '~0000'), or None for a
    provisional designation."""
    p = packed.strip()
    if len(p) == 5 and p.isdigit():
        return int(p)
    if len(p) == 5 and p[0].isalpha() and p[1:].isdigit():
        return (_packed_digit(p[0], lineno, 1, "number") * 10000) + int(p[1:])
    if len(p) == 5 and p[0] == "~":
        value = 0
        for k, char in enumerate(p[1:]):
            value = value * 62 + _packed_digit(char, lineno, 2 + k, "number")
        return 620000 + value
    return None


def unpack_provisional(packed: str, lineno: int = 1) -> str:
    """'J95X00A' -> '1995 XA', 'K08Aa0A' -> '2008 AA360'."""
    p = packed.strip()
    if len(p) != 7 or p[0] not in "IJK" or not p[1:3].isdigit():
        raise OrbitFormatError(f"line {lineno}, columns 1-7: {packed.strip()!r} is neither a packed number nor a "
                               "packed provisional designation")
    year = {"I": 1800, "J": 1900, "K": 2000}[p[0]] + int(p[1:3])
    cycle = _packed_digit(p[4], lineno, 5, "cycle") * 10 + _packed_digit(p[5], lineno, 6, "cycle", 10)
    return f"{year} {p[3]}{p[6]}{cycle if cycle else ''}"


@dataclass(frozen=True)
class MpcOrbit:
    """One orbit read from an MPC line: the number (None when unnumbered),
    the designation as printed, the elements, H and G (None when blank)."""

    number: int | None
    designation: str
    elements: Elements
    h: float | None
    g: float | None


def parse_mpc(line: str, lineno: int = 1) -> MpcOrbit:
    """One MPCORB (asteroid) or CometEls (comet) line."""
    if not isinstance(line, str):
        raise TypeError(f"an MPC orbit is a str line, not {type(line).__name__}")
    line = line.rstrip("\r\n")
    if len(line) >= 104 and line[4] in "CPDXIA" and line[14:18].strip().isdigit():
        return _parse_comet(line, lineno)
    if len(line) < 103:
        raise OrbitFormatError(f"line {lineno}: {len(line)} characters, an MPCORB line has at least 103 "
                               "(through the semimajor axis in columns 93-103)")
    packed = line[0:7]
    number = unpack_number(packed, lineno)
    epoch = unpack_epoch(line[20:25].strip(), lineno, 21)
    m = _field(line, lineno, 27, 35, "mean anomaly")
    peri = _field(line, lineno, 38, 46, "argument of perihelion")
    node = _field(line, lineno, 49, 57, "longitude of the node")
    inc = _field(line, lineno, 60, 68, "inclination")
    e = _field(line, lineno, 71, 79, "eccentricity")
    a = _field(line, lineno, 93, 103, "semimajor axis")
    assert m is not None and peri is not None and node is not None and inc is not None and e is not None
    assert a is not None
    if not 0.0 <= e < 1.0:
        raise OrbitFormatError(f"line {lineno}, columns 71-79: eccentricity {e} is not that of an ellipse; "
                               "give a hyperbolic orbit in the comet format")
    readable = line[166:194].strip() if len(line) > 166 else ""
    provisional = unpack_provisional(packed, lineno) if number is None else f"({number})"
    designation = readable or provisional
    elements = mean_anomaly_elements(a, e, inc, node, peri, m, epoch)
    return MpcOrbit(number, designation, elements, _field(line, lineno, 9, 13, "magnitude H", optional=True),
                    _field(line, lineno, 15, 19, "slope G", optional=True))


def _parse_comet(line: str, lineno: int) -> MpcOrbit:
    number_text = line[0:4].strip()
    number = int(number_text) if number_text.isdigit() else None
    year = int(line[14:18])
    month = _field(line, lineno, 20, 21, "perihelion month")
    day = _field(line, lineno, 23, 29, "perihelion day")
    q = _field(line, lineno, 31, 39, "perihelion distance")
    e = _field(line, lineno, 42, 49, "eccentricity")
    peri = _field(line, lineno, 52, 59, "argument of perihelion")
    node = _field(line, lineno, 62, 69, "longitude of the node")
    inc = _field(line, lineno, 72, 79, "inclination")
    assert month is not None and day is not None and q is not None and e is not None
    assert peri is not None and node is not None and inc is not None
    perihelion = calendar_jd(year, int(month), day)
    epoch_text = line[81:89].strip()
    if epoch_text:
        if not epoch_text.isdigit() or len(epoch_text) != 8:
            raise OrbitFormatError(f"line {lineno}, columns 82-89: the epoch {epoch_text!r} is not YYYYMMDD")
        epoch = calendar_jd(int(epoch_text[:4]), int(epoch_text[4:6]), int(epoch_text[6:8]))
    else:
        epoch = perihelion
    name = line[102:158].strip() if len(line) > 102 else ""
    designation = name or line[0:12].strip()
    return MpcOrbit(number, designation, Elements(q, e, inc, node, peri, perihelion, epoch),
                    _field(line, lineno, 92, 95, "magnitude H", optional=True),
                    _field(line, lineno, 97, 100, "slope G", optional=True))


# --- JPL Horizons text ---------------------------------------------------

_PAIR = re.compile(r"([A-Z][A-Za-z]?)\s*=\s*(\S+)")
_EPOCH = re.compile(r"^\s*(\d{7}\.\d*)\s*=\s*A\.D\.")


@dataclass(frozen=True)
class HorizonsOrbit:
    """What a Horizons text gives: a state (au, au/day) relative to `center`
    (NAIF id, 10 the Sun, 0 the barycentre) in the ICRF, at `epoch_jd` (TDB),
    and the target's name from the header ('' when absent)."""

    name: str
    center: int
    epoch_jd: float
    state: _FloatArray


def parse_horizons(text: str) -> HorizonsOrbit:
    """The first record of a Horizons vectors or elements table, with the
    header's centre, reference plane (ecliptic or frame/equator) and units
    (AU-D or KM-S)."""
    if not isinstance(text, str):
        raise TypeError(f"a Horizons text is a str, not {type(text).__name__}")
    lines = text.splitlines()
    name, center, km, gm = "", 10, False, GM_SUN
    ecliptic: bool | None = None  # None: not said (vectors then ICRF, elements the ecliptic)
    start = 0
    for k, line in enumerate(lines):
        low = line.lower()
        if line.strip().startswith("$$SOE"):
            start = k + 1
            break
        if low.startswith("target body name"):
            name = line.split(":", 1)[1].split("{")[0].strip()
        elif low.startswith("center body name"):
            found = re.search(r"\((-?\d+)\)", line)
            if found:
                center = int(found.group(1))
        elif low.startswith("reference plane") or low.startswith("ref. plane"):
            ecliptic = "eclip" in low
        elif low.startswith("output units"):
            km = "km" in low
        elif low.startswith("keplerian gm"):
            found = re.search(r"([0-9.]+[EeDd][+-]?\d+)", line)
            if found:
                gm = float(found.group(1).replace("D", "E").replace("d", "e"))
                if "km" in low:
                    gm = gm * 86400.0**2 / AU_KM**3
    values: dict[str, float] = {}
    epoch: float | None = None
    for k in range(start, len(lines)):
        line = lines[k]
        if line.strip().startswith("$$EOE") or (epoch is not None and _EPOCH.match(line)):
            break
        found = _EPOCH.match(line)
        if found:
            epoch = float(found.group(1))
            continue
        for pair in _PAIR.finditer(line):
            key, raw = pair.group(1), pair.group(2)
            try:
                values[key] = float(raw.replace("D", "E"))
            except ValueError:
                raise OrbitFormatError(f"line {k + 1}, column {pair.start(2) + 1}: {key} = {raw!r} is not a "
                                       "number") from None
    if epoch is None:
        raise OrbitFormatError("no epoch line such as '2451545.000000000 = A.D. 2000-Jan-01 12:00:00.0000 TDB' "
                               "in the Horizons text")
    scale = (1.0 / AU_KM, 86400.0 / AU_KM) if km else (1.0, 1.0)
    if all(key in values for key in ("X", "Y", "Z", "VX", "VY", "VZ")):
        r = np.array([values["X"], values["Y"], values["Z"]]) * scale[0]
        v = np.array([values["VX"], values["VY"], values["VZ"]]) * scale[1]
        if ecliptic is True:
            r, v = ecliptic_to_icrf(r), ecliptic_to_icrf(v)
        return HorizonsOrbit(name, center, epoch, np.concatenate([r, v]))
    needed = ("EC", "QR", "IN", "OM", "W", "Tp")
    missing = [key for key in needed if key not in values]
    if missing:
        raise OrbitFormatError(f"the Horizons text has neither X..VZ nor the elements {', '.join(missing)} "
                               "(vectors or osculating elements are expected)")
    q = values["QR"] * scale[0]
    elements = Elements(q, values["EC"], values["IN"], values["OM"], values["W"], values["Tp"], epoch)
    if ecliptic is False:
        raise OrbitFormatError("Horizons elements must be on the ecliptic (Reference plane: Ecliptic of J2000.0)")
    return HorizonsOrbit(name, center, epoch, elements_state(elements, gm))
