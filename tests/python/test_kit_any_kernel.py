"""Kernels only tarvexkit reads, against CSPICE (spiceypy): Type 3 and the
DE-125 frame of mar022-1.bsp, the gaps of allspk_littleendian.bsp, and the
strict module's refusal, naming the frame, of what it used to answer
unrotated. The segment types themselves are checked state by state in
tests/cpp/spk/segment_types_test.cpp."""

import math
import struct

import numpy as np
import pytest

import tarvex
import tarvexkit
from conftest import DATA_DIR

spice = pytest.importorskip("spiceypy")

MAR022_SHA = "5b040f769dd7fa36734984ade755a7a92e17a4fe4f44243c6313d56ce3ef5526"
KM_PER_AU = 149597870.7


@pytest.fixture(scope="module")
def cspice():
    loaded = [str(DATA_DIR / name) for name in ("mar022-1.bsp", "allspk_littleendian.bsp")]
    for path in loaded:
        spice.furnsh(path)
    yield spice
    for path in loaded:
        spice.unload(path)


def cspice_radec(cspice, kernel, target, jd_tdb):
    """Geometric geocentric RA, Dec (deg) and distance (km) from one kernel."""
    cspice.kclear()
    cspice.furnsh(str(DATA_DIR / kernel))
    state, _ = cspice.spkezr(target, (jd_tdb - 2451545.0) * 86400.0, "J2000", "NONE", "EARTH")
    distance, ra, dec = cspice.recrad(state[:3])
    return math.degrees(ra), math.degrees(dec), distance


@pytest.mark.parametrize(
    "kernel, body, target, jd",
    [
        # Sun and Earth in DE-125 (Type 2); Mars through its Type 3 segment.
        ("mar022-1.bsp", "sun", "SUN", 2441400.5),
        ("mar022-1.bsp", "mars", "MARS", 2441400.5),
        ("mar022-1.bsp", "mars", "MARS", 2441225.5 + 0.3),
        # A gap-ridden merge: Mars and the Sun at J2000, inside short segments.
        ("allspk_littleendian.bsp", "mars", "MARS", 2451545.0),
        ("allspk_littleendian.bsp", "sun", "SUN", 2451545.0 - 1000.0 / 86400.0),
    ],
)
def test_kit_places_agree_with_cspice(cspice, kernel, body, target, jd):
    eph = tarvexkit.open(DATA_DIR / kernel)
    got = eph.positions([body], [jd], tarvex.geometric(coordinate_system="equatorial"), scale="tdb")[0, 0]
    ra, dec, distance = cspice_radec(cspice, kernel, target, jd)
    # 1e-9 deg is 3.6 microarcseconds: far below the 0.64 deg the DE-125
    # frame used to cost, and above the rounding of the spherical form.
    assert got[0] == pytest.approx(ra, abs=1e-9)
    assert got[1] == pytest.approx(dec, abs=1e-9)
    assert got[2] * KM_PER_AU == pytest.approx(distance, rel=1e-12)


def test_gaps_open_in_the_kit_and_say_where_they_are():
    # The strict module still wants one contiguous coverage per target.
    with pytest.raises(ValueError, match="discontinuous segment coverage"):
        tarvex.open(
            str(DATA_DIR / "allspk_littleendian.bsp"),
            "62c2301bdf210f57dc2109afc11ec82b919cea61eb97adaa5049ca8a286d24c8",
        )
    eph = tarvexkit.open(DATA_DIR / "allspk_littleendian.bsp")
    start, end = eph.supported_range.tdb
    assert start < 2441300 and end > 2456300  # 1971 .. 2013, gaps and all
    with pytest.raises(ValueError, match=r"it falls in a gap of the target's coverage, between TDB epochs"):
        eph.positions(["sun"], [2451545.0 + 180], scale="tdb")
    # The geometric path reports the same gap (the strict engine cannot open the file).
    with pytest.raises(ValueError, match="falls in a gap"):
        eph.positions(["sun"], [2451545.0 + 180], tarvex.geometric(), scale="tdb")


def test_strict_module_names_the_frame_it_cannot_use():
    engine = tarvex.open(str(DATA_DIR / "mar022-1.bsp"), MAR022_SHA)
    instant = tarvex.Instant(2441400.5, "tdb")
    # The Sun used to come back unrotated from DE-125; now the query says why it cannot answer.
    with pytest.raises(ValueError, match=r"reference frame DE-125 \(11\), which this engine cannot rotate to J2000"):
        engine.position("sun", instant, tarvex.geometric())
    # Other segment types keep the message they always had.
    with pytest.raises(ValueError) as refused:
        engine.position("mars", instant, tarvex.geometric())
    assert "reference frame DE-125" in str(refused.value) or "unsupported SPK segment type 3" in str(refused.value)


def test_kit_batch_of_type3_epochs_matches_single_epochs():
    # Many epochs of the Type 3 Mars segment in one batch give the states
    # of the epochs one at a time (each evaluator keeps its own record).
    eph = tarvexkit.open(DATA_DIR / "mar022-1.bsp")
    days = 2441226.0 + np.linspace(0.0, 360.0, 97)
    opts = tarvex.geometric(coordinate_system="equatorial")
    batch = eph.positions(["mars", "sun"], days, opts, scale="tdb", threads=2)
    singles = np.concatenate([eph.positions(["mars", "sun"], [d], opts, scale="tdb") for d in days])
    np.testing.assert_array_equal(batch, singles)


def test_type3_record_far_from_its_epoch_is_refused_naming_the_segment(tmp_path):
    # The Phobos segment's directory INIT moved 20 days: each epoch now
    # reaches a record 20 days off, whose series would be extrapolated to
    # absurd distances (CSPICE refuses too).
    raw = bytearray((DATA_DIR / "mar022-1.bsp").read_bytes())
    summary = 1024 * (struct.unpack(">i", raw[76:80])[0] - 1)
    for k in range(int(struct.unpack(">d", raw[summary + 16:summary + 24])[0])):
        at = summary + 24 + 40 * k
        target, _, _, kind, _, end = struct.unpack(">6i", raw[at + 16:at + 40])
        if target == 401 and kind == 3:
            word = 8 * (end - 4)
            raw[word:word + 8] = struct.pack(">d", struct.unpack(">d", raw[word:word + 8])[0] + 20 * 86400.0)
    (tmp_path / "mar022-1.bsp").write_bytes(bytes(raw))
    eph = tarvexkit.open(tmp_path / "mar022-1.bsp")
    with pytest.raises(ValueError, match=r"invalid SPK Type 3 segment: the epoch lies outside the record .* "
                                         r"\(kernel mar022-1\.bsp, target 401, segment \"[^\"]+\"\)"):
        eph.positions([401], [2441400.5], tarvex.geometric(), scale="tdb")
    # Mars's own segment is untouched.
    assert np.isfinite(eph.positions([499], [2441400.5], tarvex.geometric(), scale="tdb")).all()


def test_apparent_places_from_rotated_type3_segments(cspice):
    # Light time and aberration through the same pipeline: CSPICE's
    # astrometric-plus-aberration J2000 direction ('LT+S'), turned to the
    # true equator and equinox of date by ERFA's IAU 2006/2000A matrix,
    # against the toolkit's apparent place. What is left is the Sun's light
    # deflection and the models' differences, well under 0.1"; without the
    # DE-125 rotation or the light time the difference is degrees or tens
    # of arcseconds.
    erfa = pytest.importorskip("erfa")
    jd = 2441400.5
    eph = tarvexkit.open(DATA_DIR / "mar022-1.bsp")
    got = eph.positions(["mars"], [jd], tarvex.apparent(coordinate_system="equatorial"), scale="tdb")[0, 0]
    cspice.kclear()
    cspice.furnsh(str(DATA_DIR / "mar022-1.bsp"))
    state, _ = cspice.spkezr("MARS", (jd - 2451545.0) * 86400.0, "J2000", "LT+S", "EARTH")
    cspice.kclear()
    vector = erfa.pnm06a(jd, 0.0) @ np.asarray(state[:3])
    ra = math.degrees(math.atan2(vector[1], vector[0])) % 360.0
    dec = math.degrees(math.asin(vector[2] / np.linalg.norm(vector)))
    assert abs(got[0] - ra) * 3600 * math.cos(math.radians(dec)) < 0.1
    assert abs(got[1] - dec) * 3600 < 0.1
