"""Name vocabularies: normalisation, aliases, canonical names and the
messages of unknown names, reached through the classes that parse them."""

import pytest

import tarvex

OBSERVER = tarvex.GeodeticObserver(10.0, 50.0)


def value_error(call):
    with pytest.raises(ValueError) as info:
        call()
    return str(info.value)


@pytest.mark.parametrize("text, canonical", [
    ("utc", "utc"), ("UT1", "ut1"), ("TT ", "tt"), ("\u2003Tdb\n", "tdb"),
])
def test_time_scales(text, canonical):
    assert tarvex.Instant(0.0, text).time_scale == canonical


@pytest.mark.parametrize("text, shown", [
    ("gps", '"gps"'),
    (" T T ", '"t t"'),
    ("tdb.", '"tdb."'),
    ("T\u00c9", '"t\u00c9"'),  # only ASCII letters are folded
    ("", '""'),
    ('a"b\\c\td', '"a\\"b\\\\c\\td"'),
])
def test_unknown_time_scale_shows_the_normalised_name_quoted(text, shown):
    assert value_error(lambda: tarvex.Instant(0.0, text)) == f"unknown time scale {shown}"


ENUMS = [
    (tarvex.HouseSystem, "house system", {
        "placidus": ["Placidus"], "campanus": ["CAMPANUS"], "equal": [" equal "],
        "whole_sign": ["whole_sign", "Whole-Sign", "wholesign"],
    }, ["whole sign", "whole__sign", "koch"]),
    (tarvex.SeasonEvent, "season event", {
        "march_equinox": ["march_equinox", "March-Equinox", "vernal_equinox"],
        "june_solstice": ["june_solstice", "june-solstice"],
        "september_equinox": ["september_equinox", "september-equinox", "autumnal_equinox"],
        "december_solstice": ["december_solstice", "DECEMBER-SOLSTICE"],
    }, ["vernal-equinox", "autumnal-equinox", "marchequinox"]),
    (tarvex.LunationEvent, "lunation event", {
        "new_moon": ["new_moon", "new-moon", "NewMoon"],
        "full_moon": ["full_moon", "full-moon", "fullmoon"],
    }, ["new moon", "first_quarter"]),
    (tarvex.SiderealMode, "sidereal mode", {
        "lahiri": ["Lahiri"],
        "fagan_bradley": ["fagan_bradley", "fagan-bradley", "FaganBradley"],
    }, ["fagan bradley", "raman"]),
    (tarvex.HorizonEventKind, "horizon event", {
        "rise": ["rise"], "set": ["SET"], "transit": ["\ttransit"],
    }, ["rising", "culmination"]),
]


@pytest.mark.parametrize("cls, what, accepted, refused", ENUMS,
                         ids=[entry[0].__name__ for entry in ENUMS])
def test_enumeration_vocabularies(cls, what, accepted, refused):
    for canonical, forms in accepted.items():
        for form in forms:
            assert cls(form).name == canonical
    for form in refused:
        normalised = form.strip().lower()
        assert value_error(lambda: cls(form)) == f'unknown {what} "{normalised}"'


@pytest.mark.parametrize("origin, canonical", [
    ("barycentric", "barycentric"), ("Heliocentric", "heliocentric"), (" GEOCENTRIC", "geocentric"),
])
def test_origins(origin, canonical):
    assert tarvex.geometric(origin).origin == canonical
    assert tarvex.PositionOptions(origin, "ecliptic").origin == canonical


def test_origin_observer_rules_in_order():
    assert value_error(lambda: tarvex.geometric("topocentric")) == (
        'origin "topocentric" requires a GeodeticObserver')
    assert value_error(lambda: tarvex.apparent("geocentric", observer=OBSERVER)) == (
        'observer is only valid with origin "topocentric"')
    # The name comes first: an unknown origin is reported before any observer rule.
    assert value_error(lambda: tarvex.geometric("Lunar ", observer=OBSERVER)) == (
        'unknown origin "lunar"')
    assert tarvex.geometric(" Topocentric", observer=OBSERVER).origin == "topocentric"


def test_coordinate_systems_and_reference_epochs():
    options = tarvex.PositionOptions("Geocentric", "Ecliptic", "OF-DATE")
    assert (options.origin, options.coordinate_system, options.reference_epoch) == (
        "geocentric", "ecliptic", "of_date")
    for form in ["of_date", "ofdate", "Of-Date"]:
        assert tarvex.PositionOptions("geocentric", "equatorial", form).reference_epoch == "of_date"
    assert tarvex.PositionOptions("geocentric", "EQUATORIAL", "J2000").reference_epoch == "j2000"
    assert value_error(lambda: tarvex.PositionOptions("geocentric", "galactic")) == (
        'unknown coordinate system "galactic"')
    assert value_error(lambda: tarvex.PositionOptions("geocentric", "ecliptic", "of date")) == (
        'unknown reference epoch "of date"')


def test_parsers_run_in_parameter_order():
    # origin before coordinate system before reference epoch
    assert value_error(lambda: tarvex.PositionOptions("x", "y", "z")) == 'unknown origin "x"'
    assert value_error(lambda: tarvex.PositionOptions("geocentric", "y", "z")) == (
        'unknown coordinate system "y"')


def test_extract_name_accepts_names_enums_and_name_attributes():
    class Named:
        name = "Whole-Sign"

    class Numbered:
        name = 3

    for system in ["whole_sign", tarvex.HouseSystem.whole_sign(), Named()]:
        assert tarvex.house_cusps(OBSERVER, 2451545.0, 2451545.0, system).system.name == (
            "whole_sign")
    message = "expected a name string or an tarvex enum with a name attribute"
    for bad in [Numbered(), 3, None, object()]:
        assert value_error(
            lambda: tarvex.house_cusps(OBSERVER, 2451545.0, 2451545.0, bad)) == message
    assert value_error(lambda: tarvex.house_cusps(OBSERVER, 2451545.0, 2451545.0, "whole sign")) == (
        'unknown house system "whole sign"')


def test_extract_name_discards_errors_of_the_attribute():
    class Broken:
        @property
        def name(self):
            raise RuntimeError("boom")

    with pytest.raises(ValueError) as info:
        tarvex.house_cusps(OBSERVER, 2451545.0, 2451545.0, Broken())
    assert info.value.__context__ is None or not isinstance(info.value.__context__, RuntimeError)


def test_extract_julian_day():
    cusps = lambda ut1, tt=2451545.0: tarvex.house_cusps(OBSERVER, ut1, tt, "equal")
    reference = cusps(2451545.0)
    for ut1 in [tarvex.Instant.tdb(2451545.0), tarvex.Instant.utc(2451545.0), 2451545]:
        assert cusps(ut1).ramc_deg == reference.ramc_deg
    assert cusps(2451545.0, tarvex.Instant.ut1(2451545.0)).true_obliquity_deg == (
        reference.true_obliquity_deg)
    assert value_error(lambda: cusps("2451545.0")) == (
        "expected an Instant or a finite Julian day float")
    assert value_error(lambda: cusps(None)) == "expected an Instant or a finite Julian day float"
    for bad in [float("nan"), float("inf"), -float("inf")]:
        assert value_error(lambda: cusps(bad)) == "Julian day must be finite"
        assert value_error(lambda: cusps(2451545.0, bad)) == "Julian day must be finite"
    # ut1 is converted before tt
    assert value_error(lambda: cusps("x", float("nan"))) == (
        "expected an Instant or a finite Julian day float")
