"""Chart wheels as SVG, without matplotlib: `wheel_svg(chart)`, `wheel_svg(chart, other)`.

The natal wheel holds, from the outside in: the zodiac (the twelve signs
with a tick at every degree), the cusps' degrees, the points (a glyph at
each, its degree and minute in the sign and "℞" when retrograde, joined by
a leader to a tick at its exact longitude), the house numbers, and the
aspects in orb as lines coloured by kind (red for oppositions and
squares, blue for trines and sextiles, green for conjunctions, grey
dashed for the minor ones). The Ascendant lies on the left and longitudes
grow counter-clockwise, as charts are drawn.

`wheel_svg(chart, other)` draws a bi-wheel: `other` (a transit or a second
person's chart) in a ring outside the zodiac, and the aspects between the
two charts' points (`inter_aspects`, with the chart's orbs) as the lines.

Points closer than a glyph's width are spread apart along the circle in
clusters centred on their mean longitude, never overlapping; the leader
shows where each belongs. Glyphs are Unicode's astrological symbols
(followed by U+FE0E so that no browser draws them as emoji);
`glyphs=False` writes two-letter names instead, for fonts without them.
The drawing is a 1000-unit square `viewBox` scaled to `size` pixels, with
text sizes chosen to be legible at 600 px and vector-sharp in print;
`theme` is "light" or "dark".

Every point's group carries `data-name`, `data-longitude` and
`data-label-angle` (the spread position, degrees of longitude) so that
programs and tests can find it.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass
from xml.sax.saxutils import escape, quoteattr

from .chart import ORB_OTHER_DEG, ORBS_DEG, Chart, ChartAspect, ChartPoint
from .searches import SIGNS

TEXT_PRESENTATION = "\ufe0e"
POINT_GLYPHS = {
    "sun": "\u2609", "moon": "\u263d", "mercury": "\u263f", "venus": "\u2640", "mars": "\u2642",
    "jupiter": "\u2643", "saturn": "\u2644", "uranus": "\u2645", "neptune": "\u2646", "pluto": "\u2647",
    "true_node": "\u260a", "mean_node": "\u260a", "mean_apogee": "\u26b8", "osculating_apogee": "\u26b8",
    "chiron": "\u26b7",
}
POINT_ABBREVIATIONS = {
    "sun": "Su", "moon": "Mo", "mercury": "Me", "venus": "Ve", "mars": "Ma", "jupiter": "Ju", "saturn": "Sa",
    "uranus": "Ur", "neptune": "Ne", "pluto": "Pl", "true_node": "Nn", "mean_node": "Nn", "mean_apogee": "Li",
    "osculating_apogee": "Li", "chiron": "Ch",
}
SIGN_GLYPHS = ["\u2648", "\u2649", "\u264a", "\u264b", "\u264c", "\u264d", "\u264e", "\u264f", "\u2650", "\u2651",
               "\u2652", "\u2653"]
SIGN_ABBREVIATIONS = ["Ar", "Ta", "Ge", "Cn", "Le", "Vi", "Li", "Sc", "Sg", "Cp", "Aq", "Pi"]
RETROGRADE = "\u211e"
MAJOR_ASPECTS = ("conjunction", "opposition", "trine", "square", "sextile")
FONT_FAMILY = "'DejaVu Sans', 'Noto Sans Symbols', 'Segoe UI Symbol', 'Apple Symbols', sans-serif"

# The drawing's units: a square of VIEW units, the wheel centred in it.
VIEW = 1000.0
CENTRE = VIEW / 2.0
GLYPH_SIZE = 34.0  # font size of a point's glyph
DEGREE_SIZE = 17.0  # its degree
MINUTE_SIZE = 14.0  # its minute and retrograde mark
CHARACTER_WIDTH = 0.62  # a character's width over its font size, generously
CUSP_SIZE = 16.0
SIGN_SIZE = 30.0
HOUSE_SIZE = 18.0
GLYPH_GAP = 4.0  # space left between two neighbouring glyphs


@dataclass(frozen=True)
class Theme:
    """Colours of a wheel: page, ink, rules, the four elements' sign
    tints, the points' colours by name and the aspects' by kind."""

    background: str
    ink: str
    faint: str
    rule: str
    elements: tuple[str, str, str, str]  # fire, earth, air, water
    points: dict[str, str]
    aspects: dict[str, str]
    minor_aspect: str


THEMES = {
    "light": Theme(
        background="#ffffff", ink="#1d2330", faint="#6b7280", rule="#9aa3b2",
        elements=("#fde3d9", "#e6f0d8", "#fdf6d3", "#dbe8f8"),
        points={"sun": "#c06a00", "moon": "#4a5d75", "mercury": "#5f6b2d", "venus": "#2e7d5b",
                "mars": "#c0392b", "jupiter": "#7d4e24", "saturn": "#4b4b4b", "uranus": "#137a8c",
                "neptune": "#2e4fa3", "pluto": "#7a3b8f"},
        aspects={"conjunction": "#2e8b57", "opposition": "#c0392b", "square": "#c0392b", "trine": "#2471a3",
                 "sextile": "#2471a3"},
        minor_aspect="#8a8f99"),
    "dark": Theme(
        background="#12151c", ink="#e8ebf0", faint="#9aa3b2", rule="#5a6272",
        elements=("#3a2420", "#26321f", "#38331c", "#1d2a3c"),
        points={"sun": "#ffb347", "moon": "#c9d6e8", "mercury": "#c5cf7a", "venus": "#7ddcaf",
                "mars": "#ff7b6b", "jupiter": "#e0a872", "saturn": "#c8c8c8", "uranus": "#5fd3e6",
                "neptune": "#8fa8ff", "pluto": "#d49be8"},
        aspects={"conjunction": "#6fd39a", "opposition": "#ff7b6b", "square": "#ff7b6b", "trine": "#6fb1ff",
                 "sextile": "#6fb1ff"},
        minor_aspect="#7c8594"),
}


@dataclass(frozen=True)
class _Rings:
    """Radii of one layout, outside in."""

    zodiac_outer: float
    zodiac_inner: float
    cusp_label: float
    points_outer: float
    glyph: float
    degree: float
    minute: float
    points_inner: float
    house_number: float
    aspect: float
    other_glyph: float = 0.0
    other_degree: float = 0.0
    other_minute: float = 0.0


NATAL = _Rings(zodiac_outer=470, zodiac_inner=410, cusp_label=392, points_outer=376, glyph=348, degree=310,
               minute=287, points_inner=266, house_number=250, aspect=234)
BIWHEEL = _Rings(zodiac_outer=382, zodiac_inner=332, cusp_label=316, points_outer=300, glyph=276, degree=240,
                 minute=218, points_inner=200, house_number=186, aspect=172, other_glyph=414, other_degree=448,
                 other_minute=470)
OTHER_OUTER = 490.0


def screen_angle_deg(longitude_deg: float, ascendant_deg: float) -> float:
    """Angle on the drawing, counter-clockwise from the right (+x), of a
    longitude: the Ascendant points left, longitudes grow counter-clockwise."""
    return (180.0 + longitude_deg - ascendant_deg) % 360.0


def _xy(longitude_deg: float, radius: float, ascendant_deg: float) -> tuple[float, float]:
    angle = math.radians(screen_angle_deg(longitude_deg, ascendant_deg))
    return CENTRE + radius * math.cos(angle), CENTRE - radius * math.sin(angle)


def spread(longitudes_deg: Sequence[float], spacing_deg: float) -> list[float]:
    """Angles near the given longitudes (same order), at least `spacing_deg`
    apart around the circle (less only when they could not all fit), each
    moved as little as the crowding needs: crowded neighbours form a
    cluster centred on their mean longitude at the spacing, and clusters
    that then touch merge, until none do. The circle is cut in its widest
    empty arc, so clusters never meet across 0°."""
    count = len(longitudes_deg)
    if count < 2:
        return [float(v) % 360.0 for v in longitudes_deg]
    spacing = min(float(spacing_deg), 360.0 / count)
    order = sorted(range(count), key=lambda i: float(longitudes_deg[i]) % 360.0)
    sorted_lon = [float(longitudes_deg[i]) % 360.0 for i in order]
    gaps = [(sorted_lon[(k + 1) % count] - sorted_lon[k]) % 360.0 for k in range(count)]
    gaps[count - 1] = gaps[count - 1] or 360.0
    cut = max(range(count), key=lambda k: gaps[k])  # the widest empty arc follows sorted_lon[cut]
    start = (cut + 1) % count
    unwrapped: list[float] = []
    for k in range(count):
        value = sorted_lon[(start + k) % count]
        if unwrapped and value < unwrapped[-1]:
            value += 360.0
        unwrapped.append(value)
    clusters: list[list[int]] = [[k] for k in range(count)]

    def placed(cluster: list[int]) -> list[float]:
        centre = sum(unwrapped[k] for k in cluster) / len(cluster)
        return [centre + (j - (len(cluster) - 1) / 2.0) * spacing for j in range(len(cluster))]

    merged = True
    while merged:
        merged = False
        for k in range(len(clusters) - 1):
            if placed(clusters[k + 1])[0] - placed(clusters[k])[-1] < spacing - 1e-9:
                clusters[k:k + 2] = [clusters[k] + clusters[k + 1]]
                merged = True
                break
    angles = [0.0] * count
    for cluster in clusters:
        for k, angle in zip(cluster, placed(cluster)):
            angles[order[(start + k) % count]] = angle % 360.0
    return angles


def _separation(a: float, b: float) -> float:
    return abs((a - b + 180.0) % 360.0 - 180.0)


def inter_aspects(inner: Chart, outer: Chart, kinds: Sequence[str] = MAJOR_ASPECTS,
                  orbs: float | dict[str, float] | None = None) -> list[ChartAspect]:
    """Aspects in orb between every point of `inner` and every point of
    `outer` (first = the inner chart's point), with the orbs of
    `tarvexkit.chart.ORBS_DEG` unless `orbs` (degrees, or by kind) says
    otherwise; `applying` when the separation moves towards the exact angle
    at the points' present speeds. Tightest first."""
    angles = {"conjunction": 0.0, "opposition": 180.0, "trine": 120.0, "square": 90.0, "sextile": 60.0,
              "quincunx": 150.0, "semisextile": 30.0, "semisquare": 45.0, "sesquiquadrate": 135.0,
              "quintile": 72.0, "biquintile": 144.0}
    for kind in kinds:
        if kind not in angles:
            raise ValueError(f"unknown aspect {kind!r} in kinds; use names from {', '.join(angles)}")
    found = []
    step = 1e-3  # days, to see whether the separation grows
    for a in inner.points:
        for b in outer.points:
            separation = _separation(a.longitude_deg, b.longitude_deg)
            later = _separation(a.longitude_deg + a.speed_deg_per_day * step,
                                b.longitude_deg + b.speed_deg_per_day * step)
            for kind in kinds:
                if orbs is None or isinstance(orbs, dict):
                    orb = float((orbs or {}).get(kind, ORBS_DEG.get(kind, ORB_OTHER_DEG)))
                else:
                    orb = float(orbs)
                angle = angles[kind]
                if abs(separation - angle) <= orb:
                    found.append(ChartAspect(a.name, b.name, kind, angle, separation, separation - angle,
                                             abs(later - angle) < abs(separation - angle)))
    return sorted(found, key=lambda x: abs(x.orb_deg))


def _minutes(longitude_deg: float) -> tuple[int, int]:
    within = longitude_deg % 30.0
    total = int(round(within * 60.0))
    if total >= 30 * 60:
        total = 30 * 60 - 1
    return total // 60, total % 60


class _Svg:
    def __init__(self) -> None:
        self.parts: list[str] = []

    def add(self, text: str) -> None:
        self.parts.append(text)

    def text(self, x: float, y: float, content: str, size: float, fill: str, weight: str = "normal",
             css: str = "", extra: str = "") -> None:
        self.add(f'<text x="{x:.1f}" y="{y:.1f}" font-size="{size:.1f}" fill="{fill}" text-anchor="middle" '
                 f'dominant-baseline="central" font-weight="{weight}"'
                 f'{f" class={quoteattr(css)}" if css else ""}{extra}>{escape(content)}</text>')

    def line(self, a: tuple[float, float], b: tuple[float, float], stroke: str, width: float,
             dash: str = "", opacity: float = 1.0, css: str = "") -> None:
        self.add(f'<line x1="{a[0]:.1f}" y1="{a[1]:.1f}" x2="{b[0]:.1f}" y2="{b[1]:.1f}" stroke="{stroke}" '
                 f'stroke-width="{width:.2f}"' + (f' stroke-dasharray="{dash}"' if dash else "")
                 + (f' stroke-opacity="{opacity:.2f}"' if opacity < 1.0 else "")
                 + (f' class="{css}"' if css else "") + "/>")

    def circle(self, radius: float, stroke: str, width: float, fill: str = "none") -> None:
        self.add(f'<circle cx="{CENTRE:.1f}" cy="{CENTRE:.1f}" r="{radius:.1f}" fill="{fill}" stroke="{stroke}" '
                 f'stroke-width="{width:.2f}"/>')


def _sector(outer: float, inner: float, start_deg: float, stop_deg: float, asc: float) -> str:
    """Path of the ring sector between two longitudes (counter-clockwise)."""
    a0, a1 = _xy(start_deg, outer, asc), _xy(stop_deg, outer, asc)
    b1, b0 = _xy(stop_deg, inner, asc), _xy(start_deg, inner, asc)
    large = 1 if (stop_deg - start_deg) % 360.0 > 180.0 else 0
    # Counter-clockwise on the page is sweep-flag 0 (the y axis points down).
    return (f"M{a0[0]:.1f},{a0[1]:.1f} A{outer:.1f},{outer:.1f} 0 {large} 0 {a1[0]:.1f},{a1[1]:.1f} "
            f"L{b1[0]:.1f},{b1[1]:.1f} A{inner:.1f},{inner:.1f} 0 {large} 1 {b0[0]:.1f},{b0[1]:.1f} Z")


def _point_colour(theme: Theme, name: str) -> str:
    return theme.points.get(name, theme.ink)


def _glyph(name: str, glyphs: bool) -> str:
    if glyphs and name in POINT_GLYPHS:
        return POINT_GLYPHS[name] + TEXT_PRESENTATION
    return POINT_ABBREVIATIONS.get(name, name[:2].capitalize())


def label_spacing_deg(glyph_radius: float, degree_radius: float, minute_radius: float) -> float:
    """The angle two neighbouring points' labels need so that nothing of
    theirs overlaps: the widest of the glyph, the degree ("29°") and the
    minute with the retrograde mark ("59'℞") at their radii, with a little
    air (a character is taken as CHARACTER_WIDTH of its font size)."""
    widths = ((GLYPH_SIZE, glyph_radius), (3 * CHARACTER_WIDTH * DEGREE_SIZE, degree_radius),
              (4 * CHARACTER_WIDTH * MINUTE_SIZE, minute_radius))
    return max(math.degrees((width + GLYPH_GAP) / radius) for width, radius in widths)


def _draw_points(svg: _Svg, points: Sequence[ChartPoint], asc: float, tick_radius: float, tick_inward: bool,
                 glyph_radius: float, degree_radius: float, minute_radius: float, theme: Theme, glyphs: bool,
                 ring: str) -> None:
    spacing = label_spacing_deg(glyph_radius, degree_radius, minute_radius)
    labels = spread([p.longitude_deg for p in points], spacing)
    for p, label in zip(points, labels):
        colour = _point_colour(theme, p.name)
        svg.add(f'<g class="point {ring}" data-name="{escape(p.name)}" data-longitude="{p.longitude_deg:.6f}" '
                f'data-label-angle="{label:.6f}">')
        direction = -1.0 if tick_inward else 1.0
        tip = _xy(p.longitude_deg, tick_radius + direction * 10.0, asc)
        svg.line(_xy(p.longitude_deg, tick_radius, asc), tip, colour, 2.4)
        near = glyph_radius - direction * (GLYPH_SIZE * 0.62)
        svg.line(tip, _xy(label, near, asc), colour, 0.9, opacity=0.7)
        x, y = _xy(label, glyph_radius, asc)
        svg.text(x, y, _glyph(p.name, glyphs), GLYPH_SIZE, colour, css="glyph")
        degrees, minutes = _minutes(p.longitude_deg)
        x, y = _xy(label, degree_radius, asc)
        svg.text(x, y, f"{degrees}°", DEGREE_SIZE, colour, weight="bold", css="degree")
        x, y = _xy(label, minute_radius, asc)
        svg.text(x, y, f"{minutes:02d}'" + (RETROGRADE if p.retrograde else ""), MINUTE_SIZE, colour,
                 css="minute retrograde" if p.retrograde else "minute")
        svg.add("</g>")


def _aspect_style(theme: Theme, kind: str) -> tuple[str, str]:
    if kind in theme.aspects:
        return theme.aspects[kind], ""
    return theme.minor_aspect, "6 5"


def _draw_aspects(svg: _Svg, aspects: Sequence[ChartAspect], first: Chart, second: Chart, radius: float,
                  asc: float, theme: Theme) -> None:
    svg.add('<g class="aspects">')
    for aspect in aspects:
        try:
            a, b = first.point(aspect.first), second.point(aspect.second)
        except KeyError:
            continue
        colour, dash = _aspect_style(theme, aspect.kind)
        strength = 1.0 - min(abs(aspect.orb_deg) / 8.0, 0.8)
        svg.add(f'<g data-kind="{escape(aspect.kind)}" data-first="{escape(aspect.first)}" '
                f'data-second="{escape(aspect.second)}">')
        svg.line(_xy(a.longitude_deg, radius, asc), _xy(b.longitude_deg, radius, asc), colour,
                 1.0 + 2.0 * strength, dash, opacity=0.45 + 0.55 * strength)
        svg.add("</g>")
    svg.add("</g>")


def wheel_svg(chart: Chart, other: Chart | None = None, *, theme: str = "light", size: int = 600,
              glyphs: bool = True, title: str | None = None, aspects: Sequence[str] | None = None) -> str:
    """The chart's wheel as an SVG document (text), `size` pixels square
    (the drawing scales to any size). With `other` a bi-wheel: that chart's
    points in a ring outside the zodiac and the aspects between the two
    charts (`inter_aspects`) instead of the chart's own. `theme` "light" or
    "dark"; `glyphs=False` writes names for fonts without the symbols;
    `title` a line above the wheel; `aspects` the kinds drawn (default:
    all of the chart's own, the five major between two charts)."""
    if not isinstance(chart, Chart):
        raise TypeError(f"chart must be a tarvexkit.Chart (eph.chart(...)), not {type(chart).__name__}")
    if other is not None and not isinstance(other, Chart):
        raise TypeError(f"other must be a tarvexkit.Chart or None, not {type(other).__name__}")
    if theme not in THEMES:
        raise ValueError(f"unknown theme {theme!r}; use one of {', '.join(THEMES)}")
    if isinstance(size, bool) or not isinstance(size, int) or size < 100:
        raise ValueError(f"size must be a whole number of pixels, at least 100, not {size!r}")
    if other is not None and other.zodiac != chart.zodiac:
        raise ValueError(f"the two charts must share one zodiac, not {chart.zodiac!r} and {other.zodiac!r}")
    colours = THEMES[theme]
    rings = NATAL if other is None else BIWHEEL
    asc = chart.ascendant_deg
    top = 60.0 if title else 0.0
    height = VIEW + top
    svg = _Svg()
    svg.add(f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{round(size * height / VIEW)}" '
            f'viewBox="0 {-top:.0f} {VIEW:.0f} {height:.0f}" font-family="{FONT_FAMILY}" '
            f'class="tarvex-wheel {theme}">')
    svg.add(f'<rect x="0" y="{-top:.0f}" width="{VIEW:.0f}" height="{height:.0f}" fill="{colours.background}"/>')
    if title:
        svg.text(CENTRE, -top / 2.0 + 4.0, title, 24.0, colours.ink, css="title")

    if other is not None:
        svg.circle(OTHER_OUTER, colours.rule, 1.2)
        svg.add('<g class="other-cusps">')
        for cusp in other.cusps_deg:
            svg.line(_xy(cusp, rings.zodiac_outer, asc), _xy(cusp, OTHER_OUTER, asc), colours.rule, 0.7,
                     dash="3 4")
        svg.add("</g>")

    # The zodiac: signs tinted by element, a tick at every degree.
    svg.add('<g class="zodiac">')
    for k in range(12):
        svg.add(f'<path d="{_sector(rings.zodiac_outer, rings.zodiac_inner, 30.0 * k, 30.0 * k + 30.0, asc)}" '
                f'fill="{colours.elements[k % 4]}" stroke="{colours.rule}" stroke-width="1.2"/>')
        x, y = _xy(30.0 * k + 15.0, (rings.zodiac_outer + rings.zodiac_inner) / 2.0, asc)
        sign_label = SIGN_GLYPHS[k] + TEXT_PRESENTATION if glyphs else SIGN_ABBREVIATIONS[k]
        svg.add(f'<g class="sign" data-name="{SIGNS[k]}">')
        svg.text(x, y, sign_label, SIGN_SIZE if glyphs else SIGN_SIZE * 0.7, colours.ink)
        svg.add("</g>")
    for degree in range(360):
        length = 12.0 if degree % 10 == 0 else 8.0 if degree % 5 == 0 else 4.0
        svg.line(_xy(degree, rings.zodiac_inner, asc), _xy(degree, rings.zodiac_inner + length, asc),
                 colours.rule, 1.0 if degree % 5 == 0 else 0.6)
    svg.add("</g>")

    # Houses: cusp lines (the angles bold), their degrees, the numbers.
    svg.circle(rings.points_inner, colours.rule, 1.0)
    svg.circle(rings.aspect, colours.rule, 1.0)
    svg.add('<g class="houses">')
    angles = {0: "ASC", 3: "IC", 6: "DSC", 9: "MC"}
    for k, cusp in enumerate(chart.cusps_deg):
        bold = k in angles
        svg.line(_xy(cusp, rings.aspect, asc), _xy(cusp, rings.zodiac_inner, asc),
                 colours.ink if bold else colours.rule, 2.4 if bold else 1.0)
        following = chart.cusps_deg[(k + 1) % 12]
        middle = cusp + ((following - cusp) % 360.0) / 2.0
        x, y = _xy(middle, rings.house_number, asc)
        svg.text(x, y, str(k + 1), HOUSE_SIZE, colours.faint, css="house-number")
    # Cusp labels run along the circle beside their cusp's line, inside the
    # house it opens, upright on both halves of the wheel.
    texts = []
    for k, cusp in enumerate(chart.cusps_deg):
        degrees, minutes = _minutes(cusp)
        sign = int(cusp // 30.0) % 12
        mark = SIGN_GLYPHS[sign] + TEXT_PRESENTATION if glyphs else SIGN_ABBREVIATIONS[sign]
        texts.append(f"{angles[k] + ' ' if k in angles else ''}{degrees}{mark}{minutes:02d}")
    widths = [math.degrees(len(t.replace(TEXT_PRESENTATION, "")) * 0.62 * CUSP_SIZE / rings.cusp_label)
              for t in texts]
    labels = spread([c + w / 2.0 + 1.0 for c, w in zip(chart.cusps_deg, widths)], max(widths) + 1.0)
    for k, (cusp, label, text) in enumerate(zip(chart.cusps_deg, labels, texts)):
        x, y = _xy(label, rings.cusp_label, asc)
        theta = screen_angle_deg(label, asc)
        turn = 90.0 - theta if theta <= 180.0 else -90.0 - theta
        svg.add(f'<g class="cusp" data-house="{k + 1}" data-longitude="{cusp:.6f}">')
        svg.text(x, y, text, CUSP_SIZE, colours.ink if k in angles else colours.faint,
                 weight="bold" if k in angles else "normal",
                 extra=f' transform="rotate({turn:.2f} {x:.1f} {y:.1f})"')
        svg.add("</g>")
    svg.add("</g>")

    # Aspect lines under the points.
    if other is None:
        shown = [a for a in chart.aspects if aspects is None or a.kind in aspects]
        _draw_aspects(svg, shown, chart, chart, rings.aspect, asc, colours)
    else:
        _draw_aspects(svg, inter_aspects(chart, other, MAJOR_ASPECTS if aspects is None else aspects),
                      chart, other, rings.aspect, asc, colours)

    _draw_points(svg, chart.points, asc, rings.zodiac_inner, True, rings.glyph, rings.degree, rings.minute,
                 colours, glyphs, "inner")
    if other is not None:
        _draw_points(svg, other.points, asc, rings.zodiac_outer, False, rings.other_glyph, rings.other_degree,
                     rings.other_minute, colours, glyphs, "outer")
    svg.add("</svg>")
    return "\n".join(svg.parts) + "\n"


def write_wheel_svg(path: str, chart: Chart, other: Chart | None = None, **options: object) -> str:
    """Writes `wheel_svg(chart, other, **options)` to `path` (UTF-8); returns the path."""
    text = wheel_svg(chart, other, **options)  # type: ignore[arg-type]
    with open(path, "w", encoding="utf-8") as stream:
        stream.write(text)
    return path
