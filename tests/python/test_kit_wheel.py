"""The SVG chart wheel as a user sees it: valid XML with every point, sign
and cusp, labels spread without overlapping, inter-chart aspects in orb,
and, drawn by a headless Chromium, every planet's glyph on the screen
where its longitude puts it (Ascendant to the left, longitudes growing
counter-clockwise)."""

import math
import shutil
import subprocess
import xml.etree.ElementTree as ET

import numpy
import pytest

import tarvex
import tarvexkit
from tarvexkit import wheel

SVG = "{http://www.w3.org/2000/svg}"
BERLIN = tarvex.GeodeticObserver(13.405, 52.52, 34.0)


@pytest.fixture(scope="module")
def charts(eph):
    natal = eph.chart(eph.utc(2003, 5, 17, 4, 10), BERLIN, zone="Europe/Berlin")
    transit = eph.chart(eph.utc(2008, 11, 2, 20), BERLIN)
    return natal, transit


def gap(a, b):
    return abs((a - b + 180.0) % 360.0 - 180.0)


def test_lone_points_keep_their_longitudes_in_a_full_circle():
    longitudes = [float(k) for k in range(0, 40, 3)] + [120.0, 250.0]
    angles = wheel.spread(longitudes, 8.0)
    assert angles[-2:] == [120.0, 250.0]
    crowd = wheel.spread([5.0 * k for k in range(72)], 8.0)  # more than fit: evenly at 5 degrees
    assert crowd == pytest.approx([5.0 * k for k in range(72)])


def test_natal_and_bi_wheels_are_complete_xml(charts):
    natal, transit = charts
    for theme in ("light", "dark"):
        for other in (None, transit):
            text = wheel.wheel_svg(natal, other, theme=theme, title="Berlin")
            root = ET.fromstring(text)
            assert root.get("class") == f"tarvex-wheel {theme}"
            groups = [g for g in root.iter(f"{SVG}g") if "point" in (g.get("class") or "")]
            expected = [p.name for p in natal.points] + ([p.name for p in other.points] if other else [])
            assert [g.get("data-name") for g in groups] == expected
            rings = wheel.NATAL if other is None else wheel.BIWHEEL
            for ring, radii in (("inner", (rings.glyph, rings.degree, rings.minute)),
                                ("outer", (rings.other_glyph, rings.other_degree, rings.other_minute))):
                angles = [float(g.get("data-label-angle")) for g in groups if ring in g.get("class")]
                assert all(gap(a, b) >= wheel.label_spacing_deg(*radii) - 1e-5
                           for i, a in enumerate(angles) for b in angles[i + 1:]), (ring, theme)
            assert len([g for g in root.iter(f"{SVG}g") if g.get("class") == "sign"]) == 12
            assert len([g for g in root.iter(f"{SVG}g") if g.get("class") == "cusp"]) == 12
            lines = [g for g in root.iter(f"{SVG}g") if g.get("data-kind")]
            if other is None:
                assert len(lines) == len(natal.aspects)
            else:
                assert {(g.get("data-first"), g.get("data-second")) for g in lines} == {
                    (a.first, a.second) for a in wheel.inter_aspects(natal, other)}
    plain = wheel.wheel_svg(natal, glyphs=False)
    assert "\u2609" not in plain and ">Su<" in plain and ">Ar<" in plain
    with pytest.raises(ValueError, match="unknown theme"):
        wheel.wheel_svg(natal, theme="sepia")
    with pytest.raises(TypeError, match="tarvexkit.Chart"):
        wheel.wheel_svg(natal.to_dict())


def test_inter_aspects_are_within_their_orbs(charts):
    natal, transit = charts
    found = wheel.inter_aspects(natal, transit)
    assert found and [abs(a.orb_deg) for a in found] == sorted(abs(a.orb_deg) for a in found)
    for a in found:
        separation = gap(natal.point(a.first).longitude_deg, transit.point(a.second).longitude_deg)
        assert separation == pytest.approx(a.separation_deg)
        assert abs(separation - a.angle_deg) <= tarvexkit.chart.ORBS_DEG[a.kind]
    assert all(abs(a.orb_deg) <= 1.0 for a in wheel.inter_aspects(natal, transit, orbs=1.0))


# Pure colours, far from the theme's and from each other's blends with white.
MARKERS = [(255, 0, 0), (0, 190, 0), (0, 0, 255), (255, 0, 255), (0, 160, 160), (160, 160, 0), (120, 0, 200),
           (255, 140, 0), (0, 0, 110), (110, 0, 0), (0, 90, 0), (255, 0, 120)]


def test_chromium_draws_each_glyph_where_its_longitude_puts_it(charts, tmp_path):
    image = pytest.importorskip("PIL.Image")
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        pytest.skip("no chromium (make deps installs Debian's)")
    natal, _ = charts
    size = 1000
    root = ET.fromstring(wheel.wheel_svg(natal, size=size))
    # Everything but the glyphs in greys, each glyph in its own pure colour.
    for element in root.iter():
        for attribute in ("fill", "stroke"):
            if element.get(attribute) not in (None, "none", "#ffffff"):
                element.set(attribute, "#9a9a9a")
    points = [g for g in root.iter(f"{SVG}g") if "point" in (g.get("class") or "")]
    for group, colour in zip(points, MARKERS):
        glyph = next(t for t in group.iter(f"{SVG}text") if t.get("class") == "glyph")
        glyph.set("fill", "#%02x%02x%02x" % colour)
    svg = tmp_path / "wheel.svg"
    svg.write_text(ET.tostring(root, encoding="unicode"), encoding="utf-8")
    png = tmp_path / "wheel.png"
    subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                    f"--window-size={size},{size}", f"--screenshot={png}", svg.as_uri()],
                   check=True, capture_output=True, timeout=120)
    pixels = numpy.asarray(image.open(png).convert("RGB")).astype(int)
    scale = size / wheel.VIEW
    for group, colour in zip(points, MARKERS):
        ys, xs = numpy.nonzero((numpy.abs(pixels - numpy.array(colour)) <= 40).all(axis=2))
        assert len(xs) >= 8, group.get("data-name")
        cx = xs.mean() / scale - wheel.CENTRE
        cy = wheel.CENTRE - ys.mean() / scale
        angle = math.degrees(math.atan2(cy, cx)) % 360.0
        longitude = float(group.get("data-longitude"))
        moved = gap(float(group.get("data-label-angle")), longitude)
        # The Ascendant to the left, longitudes counter-clockwise; spread glyphs stay beside their place.
        assert gap(angle, 180.0 + longitude - natal.ascendant_deg) <= moved + 2.0, group.get("data-name")
        assert math.hypot(cx, cy) == pytest.approx(wheel.NATAL.glyph, abs=wheel.GLYPH_SIZE / 2), group.get("data-name")
