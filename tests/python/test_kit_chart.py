"""Ephemeris.chart: the plain data of a chart agrees with the batch, the
houses and the ayanamsha it is made from, finds every aspect in orb and
only those, and goes to JSON."""

import json
import math

import numpy as np
import pytest

import tarvex
import tarvexkit

from conftest import DATA_DIR

LONDON = tarvex.GeodeticObserver(-0.1275, 51.5072, 11.0)
BODIES = ["sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]


def separation(a, b):
    return abs((a - b + 180.0) % 360.0 - 180.0)


@pytest.mark.parametrize("when", [(2003, 8, 27, 10), (2008, 6, 17, 12), (1999, 8, 11, 11, 3)])
def test_chart_agrees_with_its_sources(eph, when):
    t = eph.utc(*when)
    chart = eph.chart(t, LONDON, houses="koch")
    batch = eph.positions(BODIES, t)[0]
    node = eph.lunar_points(["true_node"], t)[0, 0]
    houses = eph.houses(LONDON, t, "koch")
    assert [p.name for p in chart.points] == BODIES + ["true_node"]
    assert chart.cusps_deg == houses.cusps_deg.tolist()
    assert chart.ascendant_deg == houses.ascendant_deg and chart.midheaven_deg == houses.midheaven_deg
    speeds = tarvexkit.searches.longitude_speed(eph._longitudes("tropical", None), BODIES + ["true_node"], t.tt)[0]
    for p, row, speed in zip(chart.points, list(batch) + [node], speeds):
        # The speed is the derivative of the longitude (the strict column's
        # projected velocity differs from it by up to 4"/day).
        assert p.longitude_deg == row[0] and p.speed_deg_per_day == speed
        assert abs(speed - row[3]) * 3600.0 < (5.0 if p.name in ("moon", "true_node") else 1.0), p.name
        assert p.retrograde == (speed < 0.0)
        assert p.sign == tarvexkit.searches.SIGNS[int(row[0] // 30)]
        assert p.degree_in_sign == pytest.approx(row[0] % 30.0, abs=1e-9)
        start = chart.cusps_deg[p.house - 1]
        end = chart.cusps_deg[p.house % 12]
        assert (p.longitude_deg - start) % 360.0 < (end - start) % 360.0
    assert chart.point("true_node").distance_au is None
    assert chart.point("mars").distance_au == batch[4, 2]
    # Every pair within an orb of an aspect is listed, with its numbers.
    listed = {(a.first, a.second, a.kind): a for a in chart.aspects}
    orbs = tarvexkit.chart.ORBS_DEG
    for i, a in enumerate(chart.points):
        for b in chart.points[i + 1:]:
            sep = separation(a.longitude_deg, b.longitude_deg)
            for kind, angle in tarvexkit.searches.ASPECTS.items():
                key = (a.name, b.name, kind)
                assert (key in listed) == (abs(sep - angle) <= orbs[kind]), key
                if key in listed:
                    aspect = listed[key]
                    assert aspect.separation_deg == pytest.approx(sep, abs=1e-9)
                    assert aspect.orb_deg == pytest.approx(sep - angle, abs=1e-9)
                    # Applying: a minute later the orb is smaller.
                    later = eph.chart(eph.times(t.tt + 1.0 / 1440.0, "tt"), LONDON, houses="koch")
                    sep_later = separation(later.point(a.name).longitude_deg, later.point(b.name).longitude_deg)
                    if abs(abs(sep_later - angle) - abs(aspect.orb_deg)) > 1e-7:
                        assert aspect.applying == (abs(sep_later - angle) < abs(aspect.orb_deg)), key
    text = json.dumps(chart.to_dict())
    back = json.loads(text)
    assert back["points"][0]["name"] == "sun" and len(back["cusps_deg"]) == 12
    assert back["time_utc"] == t.iso(places=3)


def test_sidereal_chart_and_choices(eph):
    t = eph.utc(2008, 6, 17, 12)
    tropical = eph.chart(t, LONDON)
    sidereal = eph.chart(t, LONDON, zodiac="Fagan-Bradley", bodies=["sun", "moon", "mean_apogee"])
    # The shift: the mean ayanamsha plus the nutation in longitude.
    ayanamsha = tarvexkit.astrology.ayanamsha_table("fagan_bradley", np.array([t.tt]))[0, 0]
    assert sidereal.zodiac == "fagan_bradley"
    assert sidereal.point("sun").longitude_deg == pytest.approx(
        (tropical.point("sun").longitude_deg - ayanamsha) % 360.0, abs=1e-9)
    assert sidereal.point("sun").longitude_deg == eph.sidereal_positions("sun", t, "fagan_bradley")[0, 0, 0]
    assert np.allclose((np.array(tropical.cusps_deg) - ayanamsha) % 360.0, sidereal.cusps_deg, atol=1e-9)
    assert [p.house for p in sidereal.points[:2]] == [p.house for p in tropical.points[:2]]
    assert sidereal.point("mean_apogee").latitude_deg != 0.0
    # Orbs: one number for all, or by aspect; aspects as names or angles.
    none = eph.chart(t, LONDON, orbs=0.0)
    assert none.aspects == []
    wide = eph.chart(t, LONDON, aspects=[45.0, "opposition"], orbs={"45": 3.0, "opposition": 10.0})
    assert {a.kind for a in wide.aspects} <= {"45", "opposition"}
    assert all(abs(a.orb_deg) <= (3.0 if a.kind == "45" else 10.0) for a in wide.aspects)
    with pytest.raises(tarvexkit.HouseCuspsUndefined, match="placidus"):
        eph.chart(t, tarvex.GeodeticObserver(0.0, 75.0))
    assert eph.chart(t, tarvex.GeodeticObserver(0.0, 75.0), houses="porphyry").house_system == "porphyry"
    with pytest.raises(ValueError, match="single instant"):
        eph.chart(eph.utc(2008, 6, [1, 2]), LONDON)


def reference_house(longitude, cusps):
    """The house holding a longitude, written out here as the reference:
    the cusps run forwards, or backwards in the quadrant systems of the far
    north when the midheaven is below the horizon."""
    gaps = [(cusps[(k + 1) % 12] - cusps[k]) % 360.0 for k in range(12)]
    forward = sum(gaps) < 720.0
    for k in range(12):
        start, end = cusps[k], cusps[(k + 1) % 12]
        inside = (longitude - start) % 360.0 < (end - start) % 360.0 if forward else \
            (start - longitude) % 360.0 < (start - end) % 360.0
        if inside:
            return k + 1
    return 1


def test_houses_of_points_follow_the_cusps_through_aries_and_backwards(eph):
    # Every two hours for two days: cusps wrap through 0 Aries in London;
    # at 80 N the Regiomontanus cusps run backwards part of the day.
    times = eph.utc(2008, 6, 17, np.arange(0, 48, 2))
    backwards = 0
    for site, system in ((LONDON, "placidus"), (tarvex.GeodeticObserver(15.0, 80.0), "regiomontanus")):
        for t in times:
            chart = eph.chart(t, site, houses=system)
            cusps = chart.cusps_deg
            if system == "placidus":
                # The chart's Placidus (Newton) is the strict module's (fixed point).
                strict = tarvex.house_cusps(site, float(t.ut1), float(t.tt), "placidus")
                gap = (np.array(cusps) - strict.cusp_ecliptic_longitude_deg + 180.0) % 360.0 - 180.0
                assert np.abs(gap).max() < 1.5e-10  # 1e-10 / sqrt(1 - tan(51.5) tan(23.44))
            backwards += sum((cusps[(k + 1) % 12] - cusps[k]) % 360.0 for k in range(12)) > 720.0
            for p in chart.points:
                assert p.house == reference_house(p.longitude_deg, cusps), (site, t.iso(), p.name)
    assert backwards > 0

def test_lunar_points_of_a_chart_are_those_of_the_arrays(eph):
    # One stencil and one osculating orbit serve both: the chart's nodes and
    # apogees are lunar_points' to the bit, at dates across the kernel's span.
    site = tarvex.GeodeticObserver(13.4, 52.5)
    names = list(tarvexkit.LUNAR_POINTS)
    for year in (1997, 2001, 2005, 2009):
        when = eph.utc(year, 3, 20, 14, 30)
        chart = eph.chart(when, site, bodies=names)
        arrays = eph.lunar_points(names, when)[0]
        assert [p.longitude_deg for p in chart.points] == arrays[:, 0].tolist()
        assert [p.latitude_deg for p in chart.points] == arrays[:, 1].tolist()
        assert np.allclose([p.speed_deg_per_day for p in chart.points], arrays[:, 3], rtol=0, atol=1e-9)
