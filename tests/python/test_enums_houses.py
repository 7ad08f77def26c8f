"""Enumeration classes, house cusps and the horizon result classes."""

import math

import pytest

import tarvex

MEMBERS = {
    tarvex.HouseSystem: ["placidus", "campanus", "equal", "whole_sign"],
    tarvex.SeasonEvent: ["march_equinox", "june_solstice", "september_equinox",
                         "december_solstice"],
    tarvex.LunationEvent: ["new_moon", "full_moon"],
    tarvex.SiderealMode: ["lahiri", "fagan_bradley"],
    tarvex.HorizonEventKind: ["rise", "set", "transit"],
}
J2000 = 2451545.0


@pytest.mark.parametrize("cls", list(MEMBERS), ids=lambda cls: cls.__name__)
def test_enumeration_members(cls):
    for member in MEMBERS[cls]:
        made = getattr(cls, member)()
        assert type(made) is cls
        assert made.name == member
        assert repr(made) == f'{cls.__name__}("{member}")'
        assert cls(member.upper()).name == member
        # not singletons: equality is identity
        assert getattr(cls, member)() != made
        assert getattr(cls, member).__text_signature__ == "($cls)"
    with pytest.raises(AttributeError):
        made.name = "x"


def test_enumeration_constructor_wants_a_str():
    with pytest.raises(TypeError) as info:
        tarvex.HouseSystem(tarvex.HouseSystem.placidus())
    assert str(info.value) == "'HouseSystem' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'name'"]
    with pytest.raises(ValueError) as info:
        tarvex.SeasonEvent("vernal-equinox")
    assert str(info.value) == 'unknown season event "vernal-equinox"'
    assert tarvex.SeasonEvent(" Vernal_Equinox").name == "march_equinox"


SITE = tarvex.GeodeticObserver(13.4, 52.5, 34.0)


def test_house_cusps_result():
    cusps = tarvex.house_cusps(SITE, J2000, J2000 + 0.00074, "placidus")
    assert type(cusps) is tarvex.HouseCusps
    longitudes = cusps.cusp_ecliptic_longitude_deg
    assert type(longitudes) is list and len(longitudes) == 12
    assert all(type(value) is float and 0.0 <= value < 360.0 for value in longitudes)
    assert longitudes[0] == cusps.ascendant_deg and longitudes[9] == cusps.midheaven_deg
    longitudes[0] = "changed"
    assert cusps.cusp_ecliptic_longitude_deg[0] == cusps.ascendant_deg
    assert cusps.cusp_ecliptic_longitude_deg is not cusps.cusp_ecliptic_longitude_deg
    system = cusps.system
    assert type(system) is tarvex.HouseSystem and system.name == "placidus"
    assert system is not cusps.system
    for name in ["ramc_deg", "local_sidereal_time_deg", "true_obliquity_deg"]:
        assert math.isfinite(getattr(cusps, name))
    assert 23.0 < cusps.true_obliquity_deg < 24.0
    assert repr(cusps) == (f'HouseCusps(system="placidus", ascendant_deg={cusps.ascendant_deg!r}'
                           f', midheaven_deg={cusps.midheaven_deg!r})')


@pytest.mark.parametrize("name", ["Whole-Sign", "wholesign", "whole_sign",
                                  tarvex.HouseSystem("WHOLE-SIGN")])
def test_whole_sign_spellings(name):
    cusps = tarvex.house_cusps(SITE, J2000, J2000, name)
    assert cusps.system.name == "whole_sign"
    first = cusps.cusp_ecliptic_longitude_deg[0]
    # the first house starts at the beginning of the ascendant's sign
    assert first == pytest.approx(math.floor(cusps.ascendant_deg / 30.0) * 30.0, abs=1e-9)


def test_house_cusps_takes_days_from_instants_of_any_scale():
    from_floats = tarvex.house_cusps(SITE, J2000, J2000, "equal")
    from_instants = tarvex.house_cusps(SITE, tarvex.Instant.tdb(J2000), tarvex.Instant.utc(J2000),
                                       tarvex.HouseSystem.equal())
    assert from_floats.cusp_ecliptic_longitude_deg == from_instants.cusp_ecliptic_longitude_deg
    assert from_floats.ramc_deg == from_instants.ramc_deg


def test_placidus_is_undefined_near_the_pole():
    # Choose the longitude so that the RAMC is 100 degrees at latitude 75.
    probe = tarvex.house_cusps(tarvex.GeodeticObserver(0.0, 75.0), J2000, J2000, "equal")
    site = tarvex.GeodeticObserver((100.0 - probe.ramc_deg) % 360.0, 75.0)
    assert abs(tarvex.house_cusps(site, J2000, J2000, "equal").ramc_deg - 100.0) < 1e-6
    with pytest.raises(ValueError) as info:
        tarvex.house_cusps(site, J2000, J2000, "placidus")
    assert str(info.value) == "house cusps are undefined for this system at the requested latitude"
    assert info.value.__cause__ is None


def test_house_cusps_argument_order():
    with pytest.raises(TypeError) as info:
        tarvex.house_cusps((13.4, 52.5), "x", "y", "z")
    assert info.value.__notes__ == ["while processing 'observer'"]
    with pytest.raises(ValueError) as info:
        tarvex.house_cusps(SITE, J2000, J2000, "koch")
    assert str(info.value) == 'unknown house system "koch"'
    # keywords in any order
    cusps = tarvex.house_cusps(system="campanus", tt=J2000, ut1=J2000, observer=SITE)
    assert cusps.system.name == "campanus"
