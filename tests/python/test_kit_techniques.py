"""Techniques after the natal chart: synastry, composite and Davison
(against two pyswisseph charts), progressions (against the definition
evaluated with `positions`), returns (against pyswisseph's solcross_ut and
mooncross_ut, and a planet's longitude at the instants found), points and
dignities, and the Vedic periods and vargas."""

from __future__ import annotations

import json

import numpy as np
import pytest

import tarvex
import tarvexkit
from tarvexkit import points, synastry, vedic
from tarvexkit.chart import Chart

swe = pytest.importorskip("swisseph")

VIENNA = tarvex.GeodeticObserver(16.37, 48.21)
QUITO = tarvex.GeodeticObserver(-78.5, -0.2)


def arcsec(a, b):
    return np.abs((np.asarray(a) - np.asarray(b) + 180.0) % 360.0 - 180.0) * 3600.0


@pytest.fixture(scope="module")
def pair(eph):
    return eph.chart(eph.utc(1999, 3, 4, 5, 6), VIENNA), eph.chart(eph.utc(2004, 9, 8, 17, 30), QUITO)


def test_synastry_is_plain_data_with_aspects_orbs_and_overlays(pair):
    a, b = pair
    found = a.synastry(b)
    assert found.aspects and Chart.from_dict(a.to_dict()) == a
    assert type(found).from_dict(json.loads(json.dumps(found.to_dict()))) == found
    for x in found.aspects:
        p, q = a.point(x.first), b.point(x.second)
        assert (x.first_longitude_deg, x.second_longitude_deg) == (p.longitude_deg, q.longitude_deg)
        assert abs(x.separation_deg - arcsec(p.longitude_deg, q.longitude_deg) / 3600.0) < 1e-9
        assert abs(x.orb_deg) <= tarvexkit.chart.ORBS_DEG[x.kind]
        # Applying: a moment later (each point at its speed) the orb is smaller.
        dt = 1e-3
        later = arcsec(p.longitude_deg + p.speed_deg_per_day * dt, q.longitude_deg + q.speed_deg_per_day * dt) / 3600
        assert (abs(later - x.angle_deg) < abs(x.orb_deg)) == x.applying
    # Overlays of a chart onto itself are its own houses.
    own = synastry.synastry(a, a).overlays
    assert [o.house for o in own if o.chart == "first"] == [p.house for p in a.points]


def test_composite_and_davison_from_two_pyswisseph_charts(eph, pair):
    a, b = pair
    composite = eph.composite(a, b)
    swe.set_ephe_path(None)
    for name, planet in (("sun", swe.SUN), ("mars", swe.MARS), ("jupiter", swe.JUPITER)):
        la, lb = (swe.calc_ut(c.tt_julian_day - swe.deltat(c.tt_julian_day), planet, swe.FLG_MOSEPH)[0][0]
                  for c in (a, b))
        assert arcsec(composite.point(name).longitude_deg, synastry.midpoint_deg(la, lb)) < 2.0, name
    # Houses from the midpoint of the ARMCs, the mean obliquity and the midpoint site's latitude.
    skies = [eph.houses(tarvex.GeodeticObserver(c.site_longitude_east_deg, c.site_latitude_deg),
                        eph.times(c.tt_julian_day, "tt")) for c in (a, b)]
    cusps, ascmc = swe.houses_armc(synastry.midpoint_deg(skies[0].ramc_deg, skies[1].ramc_deg),
                                   composite.site_latitude_deg,
                                   (skies[0].obliquity_deg + skies[1].obliquity_deg) / 2, b"P")
    assert arcsec(composite.cusps_deg, cusps[:12]).max() < 0.01 and arcsec(composite.midheaven_deg, ascmc[1]) < 0.01
    assert synastry.midpoint_deg(350.0, 10.0) == 0.0 and synastry.midpoint_deg(10.0, 190.0) == 100.0
    davison = eph.davison(a, b)
    assert davison.tt_julian_day == (a.tt_julian_day + b.tt_julian_day) / 2
    # The great-circle midpoint: Vienna-Quito crosses the Atlantic north of the mean latitude.
    assert davison.site_latitude_deg > (48.21 - 0.2) / 2 and -78.5 < davison.site_longitude_east_deg < 16.37
    assert davison == eph.chart(eph.times(davison.tt_julian_day, "tt"), synastry.site_midpoint(a, b))
    with pytest.raises(ValueError, match="one zodiac"):
        eph.composite(a, eph.chart(eph.utc(2000, 1, 1), VIENNA, zodiac="lahiri"))


def test_progressions_by_their_definitions(eph, pair):
    natal = pair[0]
    when = eph.utc(2008, 3, 4)
    age = when.tt - natal.tt_julian_day
    for method, offset in (("secondary", age / 365.24219), ("tertiary", age / 27.321661),
                           ("minor", age * 27.321661 / 365.24219)):
        p = eph.progressed(natal, when, method)
        sun = eph.positions("sun", eph.times(natal.tt_julian_day + offset, "tt"))[0, 0, 0]
        assert abs(p.progressed_tt_julian_day - natal.tt_julian_day - offset) < 1e-9
        assert arcsec(p.chart.point("sun").longitude_deg, sun) < 1e-6, method
    solar = eph.progressed(natal, when)
    assert arcsec(solar.chart.midheaven_deg, natal.midheaven_deg + solar.solar_arc_deg) < 1e-6
    assert 8.5 < solar.solar_arc_deg < 9.5  # about a degree a year, 9 years
    naibod = eph.progressed(natal, when, angles="naibod")
    natal_sky = eph.houses(VIENNA, eph.times(natal.tt_julian_day, "tt"))
    expected = tarvexkit.houses("placidus", ramc_deg=natal_sky.ramc_deg + 0.98564733 * age / 365.24219,
                                latitude_deg=48.21, obliquity_deg=natal_sky.obliquity_deg)
    assert arcsec(naibod.chart.cusps_deg, expected.cusps_deg).max() < 1e-6
    assert eph.progressed(natal, when, angles="armc").chart.cusps_deg == eph.chart(
        eph.times(solar.progressed_tt_julian_day, "tt"), VIENNA).cusps_deg
    assert type(solar).from_dict(json.loads(json.dumps(solar.to_dict()))) == solar
    arc = eph.solar_arc(natal, when)
    assert arc.arc_deg == pytest.approx(solar.solar_arc_deg, abs=1e-12)
    assert all(arcsec(d.longitude_deg, d.natal_longitude_deg + arc.arc_deg) < 1e-6 for d in arc.points)
    with pytest.raises(ValueError, match="unknown progression"):
        eph.progressed(natal, when, "primary")


def test_returns_against_solcross_and_mooncross(eph, pair):
    natal = pair[0]
    swe.set_ephe_path(None)
    solar = eph.returns("sun", natal, eph.utc(1999, 6, 1), eph.utc(2009, 6, 1))
    assert len(solar) == 10
    sun = natal.point("sun").longitude_deg
    for t in solar.ut1:
        their = swe.solcross_ut(sun, t - 2.0, swe.FLG_MOSEPH)
        assert abs(t - their) * 86400.0 < 5.0
    lunar = eph.returns("moon", natal.point("moon").longitude_deg, eph.utc(2003, 1, 1), eph.utc(2004, 1, 1))
    assert 13 <= len(lunar) <= 14
    for t in lunar.ut1:
        their = swe.mooncross_ut(natal.point("moon").longitude_deg, t - 1.0, swe.FLG_MOSEPH)
        assert abs(t - their) * 86400.0 < 5.0
    # A planetary return in a sidereal zodiac: the longitude at each instant is the natal one.
    mars = eph.returns("mars", natal.point("mars").longitude_deg, eph.utc(1999, 6, 1), eph.utc(2009, 6, 1),
                       zodiac="lahiri")
    assert len(mars) >= 4
    assert arcsec(eph.sidereal_positions("mars", mars, "lahiri")[:, 0, 0], natal.point("mars").longitude_deg).max() < 0.01


def test_points_lots_dignities(eph, pair):
    chart = pair[1]
    found = eph.chart_points(chart)
    sun, moon, asc = (chart.point("sun").longitude_deg, chart.point("moon").longitude_deg, chart.ascendant_deg)
    day = points.is_diurnal(chart)
    assert day == (chart.point("sun").house >= 7)
    fortune = (asc + moon - sun) % 360.0 if day else (asc + sun - moon) % 360.0
    assert found.fortune_deg == pytest.approx(fortune) and found.spirit_deg == pytest.approx((2 * asc - fortune) % 360)
    assert [v for _, v in found.dial_90] == sorted(v % 90.0 for v in found.midpoints.values())
    assert found.antiscia["sun"] == pytest.approx((180.0 - sun) % 360.0)
    dec = {d.name: d.declination_deg for d in found.declinations}
    assert abs(dec["sun"] - eph.positions("sun", eph.times(chart.tt_julian_day, "tt"),
                                          tarvex.apparent(coordinate_system="equatorial"))[0, 0, 1]) < 1e-3
    assert type(found).from_dict(json.loads(json.dumps(found.to_dict()))) == found
    # The Egyptian terms give each planet its published total.
    totals: dict[str, int] = {}
    for sign in points.EGYPTIAN_TERMS:
        assert sum(width for _, width in sign) == 30
        for planet, width in sign:
            totals[planet] = totals.get(planet, 0) + width
    assert totals == {"jupiter": 79, "venus": 82, "mercury": 76, "mars": 66, "saturn": 57}
    sun_aries = points.dignities("sun", 19.0)
    assert sun_aries.dignities == ("exaltation", "triplicity", "face") and sun_aries.face_ruler == "sun"
    assert points.dignities("saturn", 15.0).debilities == ("fall",)
    assert points.dignities("venus", 200.0).dignities[0] == "domicile"
    assert points.dignities("mars", 45.0).debilities == ("detriment",)
    assert points.harmonic([10.0, 200.0], 5).tolist() == [50.0, 280.0]


def test_vedic_nakshatras_dashas_vargas():
    assert vedic.nakshatra(0.0).name == "ashwini" and vedic.nakshatra(359.99).name == "revati"
    star = vedic.nakshatra(13.0 + 1.0 / 3.0 + 3.5)  # Bharani, second pada
    assert (star.number, star.pada, star.lord) == (2, 2, "venus")
    # The Moon halfway through Bharani: half of Venus's 20 years remain.
    dasha = vedic.vimshottari(20.0, 2451545.0)
    assert dasha.balance_years == pytest.approx(10.0)
    assert [m.lord for m in dasha.mahadashas][:3] == ["venus", "sun", "moon"]
    assert dasha.mahadashas[0].end_tt == pytest.approx(2451545.0 + 10.0 * 365.25)
    span = dasha.mahadashas[-1].end_tt - dasha.mahadashas[0].start_tt
    assert span == pytest.approx(120 * 365.25)
    venus = [a for a in dasha.antardashas if a.lord == "venus"]
    assert venus[0].sub_lord == "venus" and venus[0].end_tt - venus[0].start_tt == pytest.approx(400 / 120 * 365.25)
    assert venus[-1].end_tt == pytest.approx(dasha.mahadashas[0].end_tt)
    assert type(dasha).from_dict(dasha.to_dict()) == dasha
    lon = np.arange(0.05, 360.0, 0.5)
    # The navamsa and bhamsa rules are continuous round the zodiac.
    assert [vedic.varga_sign(x, 9) for x in lon] == [int(x // (10 / 3)) % 12 for x in lon]
    assert [vedic.varga_sign(x, 27) for x in lon] == [int(x // (10 / 9)) % 12 for x in lon]
    cases = {(2, 5.0): 4, (2, 35.0): 3, (3, 45.0): 5, (10, 31.0): 9, (7, 31.0): 7, (30, 3.0): 0,
             (30, 33.0): 1, (30, 59.0): 7, (60, 0.4): 0, (60, 30.6): 2, (16, 31.0): 4, (20, 61.0): 4}
    assert {k: vedic.varga_sign(k[1], k[0]) for k in cases} == cases
    with pytest.raises(ValueError, match="D9"):
        vedic.varga_sign(10.0, 8)


def test_planetary_hours_and_the_void_of_course_moon(eph):
    days = eph.planetary_days(VIENNA, eph.utc(2005, 6, 5), eph.utc(2005, 6, 8))
    # 5 June 2005 was a Sunday: the Sun's day, its first hour the Sun's, the next Venus's.
    assert [d.ruler for d in days] == ["sun", "moon", "mars"]
    first = days[0]
    assert [h.ruler for h in first.hours[:3]] == ["sun", "venus", "mercury"] and first.hours[-1].end_tt == first.next_sunrise_tt
    assert first.hours[11].end_tt == pytest.approx(first.sunset_tt) and days[1].hours[0].ruler == "moon"
    assert type(first).from_dict(json.loads(json.dumps(first.to_dict()))) == first
    voids = eph.void_of_course(eph.utc(2005, 6, 1), eph.utc(2005, 7, 1))
    ingresses = eph.sign_ingresses("moon", eph.utc(2005, 6, 1), eph.utc(2005, 7, 1))
    assert [v.end_tt for v in voids] == pytest.approx(list(ingresses.times.tt))
    for v in voids:
        # No exact aspect to the six between the last one and the ingress.
        for body in ("sun", "mercury", "venus", "mars", "jupiter", "saturn"):
            later = eph.aspects("moon", body, eph.times(v.start_tt + 1e-6, "tt"), eph.times(v.end_tt, "tt"))
            assert len(later) == 0
