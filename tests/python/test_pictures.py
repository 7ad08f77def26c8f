"""The demo's pictures (examples/chart.py): chart.png and altitude.png are
written without a display, and the geometry behind them holds: body labels
never overlap, and the altitude curve meets the engine's own rise, set and
transit times."""

import os
import pathlib
import struct
import subprocess
import sys

import numpy
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tarvex
from conftest import DATA_DIR

pytest.importorskip("matplotlib")
EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
sys.path.insert(0, str(EXAMPLES))
import chart  # noqa: E402

LONDON = tarvex.GeodeticObserver(-0.1275, 51.5072, 11.0)
DEMO_DAY_UT1 = 2454634.5  # 2008-06-17 0h


def circular_gap(a, b):
    return abs((a - b + 180.0) % 360.0 - 180.0)


def png_size(path):
    header = path.read_bytes()[:24]
    assert header[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", header[16:24])


# ------------------------------------------------------------------ labels

def test_lone_bodies_keep_their_longitudes():
    assert chart.spread_labels([10.0, 100.0, 250.0]) == [10.0, 100.0, 250.0]
    assert chart.spread_labels([]) == []


def test_a_crowd_is_spread_around_its_centre_and_keeps_its_order():
    angles = chart.spread_labels([50.0, 51.0, 52.5, 200.0])
    assert angles[3] == 200.0
    assert angles[0] < angles[1] < angles[2]
    assert [b - a for a, b in zip(angles, angles[1:3])] == pytest.approx([chart.LABEL_SPACING_DEG] * 2)
    assert sum(angles[:3]) / 3 == pytest.approx((50.0 + 51.0 + 52.5) / 3)


def test_a_crowd_across_aries_zero_stays_there():
    angles = chart.spread_labels([359.0, 1.0, 3.0, 180.0])
    assert all(circular_gap(a, b) >= chart.LABEL_SPACING_DEG - 1e-9 for a, b in [(angles[0], angles[1]),
                                                                               (angles[1], angles[2])])
    assert all(circular_gap(angle, 1.0) < 15.0 for angle in angles[:3])


@settings(max_examples=200, deadline=None)
@given(st.lists(st.floats(0.0, 359.999, allow_nan=False), min_size=1, max_size=10))
def test_labels_never_overlap(longitudes):
    angles = chart.spread_labels(longitudes)
    assert len(angles) == len(longitudes)
    for i in range(len(angles)):
        for j in range(i):
            assert circular_gap(angles[i], angles[j]) >= chart.LABEL_SPACING_DEG - 1e-6
    # Nobody's label wanders further than a crowd of all ten could need.
    assert all(circular_gap(a, l) <= chart.LABEL_SPACING_DEG * len(longitudes) / 2 + 1e-6
               for a, l in zip(angles, longitudes))


def test_sign_positions():
    assert chart.sign_position(86.6667) == "26°40' Gem"
    assert chart.sign_position(359.9999) == "0°00' Ari"
    assert chart.sign_position(-30.0) == "0°00' Pis"


# ------------------------------------------------------------------ altitude

def test_altitude_meets_the_engines_horizon_events(shared_engine):
    tt_minus_ut1 = 65.184 - 0.0  # within a second of TT - UT1 in 2008
    for body in ("sun", "moon"):
        events = chart.horizon_events(shared_engine, LONDON, DEMO_DAY_UT1, DEMO_DAY_UT1 + 1.0, body)
        kinds = [kind for kind, _ in events]
        assert "transit" in kinds and "rise" in kinds and "set" in kinds, events
        days = numpy.array([day for _, day in events])
        altitudes = chart.altitudes_deg(shared_engine, LONDON, days, tt_minus_ut1, [body])[:, 0]
        for (kind, day), altitude in zip(events, altitudes):
            if kind == "transit":
                around = chart.altitudes_deg(shared_engine, LONDON, numpy.array([day - 0.01, day + 0.01]),
                                             tt_minus_ut1, [body])[:, 0]
                assert altitude > around.max()
            else:
                # 1" of altitude is about 0.1 s of time at London.
                assert altitude == pytest.approx(chart.HORIZON[body], abs=1.0 / 3600.0), (body, kind)


def test_polar_day_gives_no_rise_or_set(shared_engine):
    north = tarvex.GeodeticObserver(15.0, 78.2, 0.0)
    events = chart.horizon_events(shared_engine, north, DEMO_DAY_UT1, DEMO_DAY_UT1 + 1.0, "sun")
    assert [kind for kind, _ in events] == ["transit"]


# ------------------------------------------------------------------ the demo writes both pictures

def test_demo_writes_both_pictures_without_a_display(tmp_path):
    env = {key: value for key, value in os.environ.items() if key not in ("DISPLAY", "WAYLAND_DISPLAY", "MPLBACKEND")}
    paths = [os.path.abspath(p) for p in env.get("PYTHONPATH", "").split(os.pathsep) if p]
    env["PYTHONPATH"] = os.pathsep.join(paths)
    out = tmp_path / "pictures"
    result = subprocess.run([sys.executable, str(EXAMPLES / "demo.py"), "--when", "2026-03-20 14:30",
                             "--tz", "Europe/Berlin", "--out", str(out)],
                            cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert "Wrote" in result.stdout
    # Times in UTC and local time, never as Julian days.
    assert "Chart for 2026-03-20 13:30 UTC  (2026-03-20 14:30 CET)" in result.stdout
    assert "march_equinox      2026-03-20 14:45 UTC  (2026-03-20 15:45 CET)" in result.stdout
    assert "JD" not in result.stdout and "TT" not in result.stdout.replace("TT - UTC", "")
    assert "missing from font" not in result.stderr, result.stderr
    from matplotlib.image import imread

    for name, size in (("chart.png", (1100, 800)), ("altitude.png", (1100, 550))):
        picture = out / name
        assert png_size(picture) == size
        assert picture.stat().st_size > 40_000
        pixels = imread(picture)[:, :, :3]
        colours = numpy.unique((pixels * 255).astype(numpy.uint8).reshape(-1, 3), axis=0)
        assert len(colours) > 200, name  # curves, fills and text, not a blank canvas
        # Drawn, not background: more than a tenth of the pixels are not white.
        assert (pixels < 0.98).any(axis=2).mean() > 0.1, name
    assert not (tmp_path / "chart.png").exists()  # --out is honoured


# ------------------------------------------------------------------ the chart wheel

def test_chart_wheel_of_a_kit_chart_with_equal_houses_beyond_the_polar_circle(tmp_path):
    import tarvexkit
    from conftest import DATA_DIR

    eph = tarvexkit.open(DATA_DIR / "de405s.bsp", additional_kernels=[DATA_DIR / "planet_centers_1997_2010.bsp"],
                         leap_seconds=DATA_DIR / "naif0012.tls", eop=DATA_DIR / "eop_c04_1962_2022.txt")
    when = eph.utc(2008, 6, 17, 12)
    north = tarvex.GeodeticObserver(15.0, 78.2, 0.0)
    polar = chart.chart_or_equal(eph, when, north)
    assert polar.house_system == "equal"
    assert chart.chart_or_equal(eph, when, LONDON).house_system == "placidus"
    sidereal = eph.chart(when, LONDON, zodiac="lahiri", bodies=chart.BODIES + ["mean_node", "mean_apogee"])
    for name, drawn in (("polar.png", polar), ("sidereal.png", sidereal)):
        path = tmp_path / name
        chart.draw_chart_wheel(str(path), drawn, "test")
        assert png_size(path) == (1100, 800)
    assert chart.sign_degree(86.6667) == "26°\u264a40'"
