"""Pictures for the demo: a chart wheel (a `tarvexkit.Chart`: zodiac,
Placidus houses with their cusps' degrees, the ten bodies and the true node
at their apparent ecliptic longitudes of date, the aspects in orb) and the
altitude of every body over the local day with its rises, sets and transits
and the twilights, all from tarvexkit's observing functions.

Drawn with matplotlib's object interface (a Figure saved as PNG through the
Agg renderer), so no display and no pyplot state are involved.

    from chart import write_pictures
    eph = tarvexkit.load()
    write_pictures(eph, eph.utc(2008, 6, 17, 12), site, out_dir=".", zone=zoneinfo.ZoneInfo("Europe/London"))
"""

from __future__ import annotations

import math
import os
from datetime import datetime, timedelta, timezone, tzinfo

import numpy as np
from matplotlib.figure import Figure
from matplotlib.patches import Circle, Wedge

import tarvex
import tarvexkit
import tarvexkit.eclipse_geometry
import tarvexkit.observing
from chart_text import SIGN_NAMES, clock, sign_minutes, to_minute, zodiac

BODIES = ["sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]
GLYPHS = {
    "sun": "\u2609", "moon": "\u263d", "mercury": "\u263f", "venus": "\u2640", "mars": "\u2642",
    "jupiter": "\u2643", "saturn": "\u2644", "uranus": "\u2645", "neptune": "\u2646", "pluto": "\u2647",
    "mean_node": "\u260a", "true_node": "\u260a", "mean_apogee": "\u26b8", "osculating_apogee": "\u26b8",
}
SIGN_GLYPHS = [chr(0x2648 + i) for i in range(12)]
# Fire, earth, air, water, in the order of the signs.
ELEMENT_COLOURS = ["#f6d3cc", "#dcebd2", "#fbf1c7", "#d4e4f3"]
BODY_COLOURS = {"sun": "#d08000", "moon": "#5a6b7d"}

# Radii of the wheel, the outer edge being 1.
ZODIAC_OUTER, ZODIAC_INNER = 1.0, 0.84
LABEL_RADIUS = 0.72
HOUSE_INNER = 0.36
HOUSE_NUMBER_RADIUS = 0.42
CUSP_LABEL_RADIUS = 0.50
# Colour and line style of the aspect lines; other aspects are not drawn.
ASPECT_STYLES = {"opposition": ("#c0392b", "-"), "square": ("#c0392b", "--"), "trine": ("#2471a3", "-"),
                 "sextile": ("#2471a3", "--")}
# Smallest angle between two body labels, degrees.
LABEL_SPACING_DEG = 11.0


def sign_position(longitude_deg: float) -> str:
    """26°40' Gem style, as the demo's text writes it."""
    return zodiac(longitude_deg)


def spread_labels(longitudes_deg: list[float], spacing_deg: float = LABEL_SPACING_DEG) -> list[float]:
    """Label angles near the given longitudes, at least `spacing_deg` apart
    around the circle, each moved as little as the crowding needs.

    Bodies are taken in longitude order; crowded neighbours form clusters
    that are centred on their mean longitude and widened to the spacing,
    and clusters that then touch merge, until none overlap (also across 0°).
    """
    count = len(longitudes_deg)
    if count == 0:
        return []
    if count * spacing_deg > 360.0:
        spacing_deg = 360.0 / count
    order = sorted(range(count), key=lambda i: longitudes_deg[i] % 360.0)
    base = [longitudes_deg[i] % 360.0 for i in order]
    # Start the circle at the widest gap so that no cluster straddles it.
    gaps = [(base[(k + 1) % count] - base[k]) % 360.0 for k in range(count)]
    gaps[-1] = gaps[-1] if count > 1 else 360.0
    start = (max(range(count), key=lambda k: gaps[k]) + 1) % count
    order = order[start:] + order[:start]
    values = [longitudes_deg[i] % 360.0 for i in order]
    for k in range(1, count):  # unwrap into one increasing run
        while values[k] < values[k - 1]:
            values[k] += 360.0
    clusters = [[k] for k in range(count)]

    def placed(cluster: list[int]) -> list[float]:
        centre = sum(values[k] for k in cluster) / len(cluster)
        first = centre - spacing_deg * (len(cluster) - 1) / 2.0
        return [first + spacing_deg * n for n in range(len(cluster))]

    merged = True
    while merged:
        merged = False
        for c in range(len(clusters) - 1):
            if placed(clusters[c + 1])[0] - placed(clusters[c])[-1] < spacing_deg - 1e-9:
                clusters[c:c + 2] = [clusters[c] + clusters[c + 1]]
                merged = True
                break
    angles = [0.0] * count
    for cluster in clusters:
        for k, angle in zip(cluster, placed(cluster)):
            angles[order[k]] = angle % 360.0
    return angles


def glyph(name: str) -> str:
    return GLYPHS.get(name, name[:2].capitalize())


def sign_degree(longitude_deg: float) -> str:
    """17°♊32' style: degrees, the sign's glyph, minutes."""
    sign, within = sign_minutes(longitude_deg)
    return f"{within // 60}°{SIGN_GLYPHS[sign]}{within % 60:02d}'"


def draw_chart_wheel(path: str, chart: tarvexkit.Chart, title: str) -> None:
    """The wheel of a `tarvexkit.Chart` with the ascendant on the left and
    longitudes increasing counter-clockwise, as charts are read: the zodiac,
    the house cusps with their degrees, the bodies and lunar points, and the
    aspects in orb drawn across the inner circle; a table of the places
    beside it."""
    asc = chart.ascendant_deg

    def angle(longitude_deg: float) -> float:  # screen angle in degrees
        return 180.0 + (longitude_deg - asc)

    def point(longitude_deg: float, radius: float) -> tuple[float, float]:
        a = math.radians(angle(longitude_deg))
        return radius * math.cos(a), radius * math.sin(a)

    def along(longitude_deg: float) -> float:  # text rotation along a radius, never upside down
        rotation = angle(longitude_deg) % 360.0
        return rotation - 180.0 if 90.0 < rotation < 270.0 else rotation

    figure = Figure(figsize=(11.0, 8.0), dpi=100)
    ax = figure.add_axes((0.0, 0.02, 0.72, 0.90))
    ax.set_aspect("equal")
    ax.set_xlim(-1.48, 1.48)  # room for the labels of the four angles outside the wheel
    ax.set_ylim(-1.24, 1.24)
    ax.axis("off")
    figure.suptitle(title, fontsize=14)

    # Zodiac ring: twelve coloured sectors with the sign's glyph and name.
    for sign in range(12):
        start = angle(30.0 * sign)
        ax.add_patch(Wedge((0, 0), ZODIAC_OUTER, start, start + 30.0, width=ZODIAC_OUTER - ZODIAC_INNER,
                           facecolor=ELEMENT_COLOURS[sign % 4], edgecolor="#555555", linewidth=0.8))
        x, y = point(30.0 * sign + 15.0, (ZODIAC_OUTER + ZODIAC_INNER) / 2.0 + 0.025)
        ax.text(x, y, SIGN_GLYPHS[sign], ha="center", va="center", fontsize=17, color="#333333")
        x, y = point(30.0 * sign + 15.0, (ZODIAC_OUTER + ZODIAC_INNER) / 2.0 - 0.045)
        # Along the ring, turned so that no name reads upside down.
        rotation = (angle(30.0 * sign + 15.0) - 90.0) % 360.0
        if 90.0 < rotation < 270.0:
            rotation -= 180.0
        ax.text(x, y, SIGN_NAMES[sign], ha="center", va="center", fontsize=6.5, color="#444444",
                rotation=rotation, rotation_mode="anchor")
    for degree in range(0, 360, 5):  # ticks on the inner edge, every 5°, longer every 10°
        inner = ZODIAC_INNER - (0.025 if degree % 10 == 0 else 0.014)
        (x0, y0), (x1, y1) = point(degree, inner), point(degree, ZODIAC_INNER)
        ax.plot([x0, x1], [y0, y1], color="#777777", linewidth=0.6)
    ax.add_patch(Circle((0, 0), HOUSE_INNER, facecolor="white", edgecolor="#555555", linewidth=0.8))

    # House cusps with their degrees; the ascendant-descendant and
    # midheaven-IC axes stand out.
    cusps = chart.cusps_deg
    for number, cusp in enumerate(cusps, start=1):
        axis = number in (1, 4, 7, 10)
        (x0, y0), (x1, y1) = point(cusp, HOUSE_INNER), point(cusp, ZODIAC_INNER)
        ax.plot([x0, x1], [y0, y1], color="#222222" if axis else "#999999",
                linewidth=1.8 if axis else 0.8, zorder=1)
        following = cusps[number % 12]
        middle = cusp + ((following - cusp) % 360.0) / 2.0
        x, y = point(middle, HOUSE_NUMBER_RADIUS)
        ax.text(x, y, str(number), ha="center", va="center", fontsize=9, color="#777777")
        x, y = point(cusp + 2.2, CUSP_LABEL_RADIUS)
        ax.text(x, y, sign_degree(cusp), ha="center", va="center", fontsize=6.5, color="#555555",
                rotation=along(cusp), rotation_mode="anchor", zorder=2)
    angles = (("ASC", chart.ascendant_deg), ("MC", chart.midheaven_deg),
              ("DSC", (chart.ascendant_deg + 180.0) % 360.0), ("IC", (chart.midheaven_deg + 180.0) % 360.0))
    for label, longitude in angles:
        (x0, y0), (x1, y1) = point(longitude, ZODIAC_OUTER), point(longitude, 1.07)
        ax.annotate("", xy=(x1, y1), xytext=(x0, y0),
                    arrowprops={"arrowstyle": "-|>", "color": "#b00020", "linewidth": 1.8})
        # Labels to the sides are wider than tall: set them further out.
        x, y = point(longitude, 1.13 + 0.13 * abs(math.cos(math.radians(angle(longitude)))))
        ax.text(x, y, f"{label}\n{sign_position(longitude)}", ha="center", va="center", fontsize=9,
                color="#b00020", fontweight="bold")

    # Aspects across the inner circle, between the bodies' exact longitudes.
    for aspect in chart.aspects:
        if aspect.kind not in ASPECT_STYLES:
            continue
        colour, style = ASPECT_STYLES[aspect.kind]
        a, b = chart.point(aspect.first), chart.point(aspect.second)
        (x0, y0), (x1, y1) = point(a.longitude_deg, HOUSE_INNER), point(b.longitude_deg, HOUSE_INNER)
        # Tighter aspects are drawn stronger.
        strength = 1.0 - min(abs(aspect.orb_deg) / 8.0, 0.85)
        ax.plot([x0, x1], [y0, y1], color=colour, linestyle=style, linewidth=0.6 + 1.4 * strength,
                alpha=0.35 + 0.6 * strength, zorder=2)
    for place in chart.points:
        x, y = point(place.longitude_deg, HOUSE_INNER)
        ax.plot([x], [y], marker="o", markersize=2.5, color="#555555", zorder=3)

    # Bodies: a mark at the exact longitude on the zodiac's inner edge, the
    # glyph on a spread-out angle joined to it by a thin line.
    label_angles = spread_labels([place.longitude_deg for place in chart.points])
    for place, label_longitude in zip(chart.points, label_angles):
        colour = BODY_COLOURS.get(place.name, "#1f3a93")
        x0, y0 = point(place.longitude_deg, ZODIAC_INNER)
        ax.plot([x0], [y0], marker="o", markersize=5, color=colour, zorder=4)
        x1, y1 = point(place.longitude_deg, ZODIAC_INNER - 0.04)
        x2, y2 = point(label_longitude, LABEL_RADIUS + 0.055)
        ax.plot([x0, x1, x2], [y0, y1, y2], color=colour, linewidth=0.6, zorder=3)
        x, y = point(label_longitude, LABEL_RADIUS)
        ax.text(x, y, glyph(place.name), ha="center", va="center", fontsize=18, color=colour, zorder=5)
        x, y = point(label_longitude, LABEL_RADIUS - 0.085)
        retro = "\u211e" if place.retrograde else ""
        ax.text(x, y, f"{int(place.degree_in_sign)}°{retro}", ha="center", va="center", fontsize=8,
                color=colour, zorder=5)

    # The table of places beside the wheel.
    side = figure.add_axes((0.72, 0.06, 0.27, 0.84))
    side.axis("off")
    zodiac = "tropical" if chart.zodiac == "tropical" else f"sidereal ({chart.zodiac})"
    side.text(0.0, 1.0, f"Apparent longitude, {zodiac}", fontsize=11, fontweight="bold", va="top")
    row_step = 0.055
    for row, place in enumerate(chart.points, start=1):
        y = 1.0 - row_step * row - 0.02
        colour = BODY_COLOURS.get(place.name, "#1f3a93")
        side.text(0.0, y, glyph(place.name), fontsize=14, color=colour, va="center")
        side.text(0.12, y, place.name.replace("_", " ").capitalize(), fontsize=10, va="center")
        side.text(0.48, y, sign_position(place.longitude_deg), fontsize=10, va="center",
                  family="DejaVu Sans Mono")
        side.text(0.82, y, f"{place.house}", fontsize=9, va="center", color="#777777")
        if place.retrograde:  # the monospaced face lacks the sign
            side.text(0.93, y, "\u211e", fontsize=11, va="center")
    y = 1.0 - row_step * (len(chart.points) + 1) - 0.03
    for label, value in (("ASC", chart.ascendant_deg), ("MC", chart.midheaven_deg)):
        side.text(0.12, y, label, fontsize=10, va="center", color="#b00020", fontweight="bold")
        side.text(0.48, y, sign_position(value), fontsize=10, va="center", family="DejaVu Sans Mono",
                  color="#b00020")
        y -= row_step
    drawn = sum(aspect.kind in ASPECT_STYLES for aspect in chart.aspects)
    side.text(0.0, y - 0.02, f"Houses: {chart.house_system.replace('_', ' ').capitalize()} (house number in grey)\n"
              f"\u211e retrograde; {len(chart.aspects)} aspects in orb, {drawn} drawn:",
              fontsize=8, va="top", color="#555555")
    for k, (kind, (colour, style)) in enumerate(ASPECT_STYLES.items()):
        x = 0.0 if k % 2 == 0 else 0.5
        row_y = y - 0.1 - 0.035 * (k // 2)
        side.plot([x, x + 0.1], [row_y, row_y], color=colour, linestyle=style, linewidth=1.6)
        side.text(x + 0.13, row_y, kind, fontsize=8, va="center", color="#555555")
    side.set_xlim(0.0, 1.0)
    side.set_ylim(0.0, 1.0)
    figure.savefig(path)


# ------------------------------------------------------------------ altitude over a day

PLANET_COLOURS = {
    "mercury": "#7f7f7f", "venus": "#c9a227", "mars": "#c0392b", "jupiter": "#8e5b2c", "saturn": "#6b8e23",
    "uranus": "#17a2b8", "neptune": "#2e4fa3", "pluto": "#8e44ad",
}
# Sun below -18, -12, -6 degrees and below its rising altitude: night, the
# three twilights, and day.
SKY_SHADES = ["#b7c3dc", "#c9d3e6", "#d9e0ee", "#e9edf6", "#ffffff"]
SKY_LABELS = ["night", "astronomical twilight", "nautical twilight", "civil twilight"]
TWILIGHT_STEPS = {"astronomical_dawn": 1, "nautical_dawn": 2, "civil_dawn": 3, "rise": 4,
                  "set": 3, "civil_dusk": 2, "nautical_dusk": 1, "astronomical_dusk": 0}


def altitudes_deg(eph: tarvexkit.Ephemeris, site: tarvex.GeodeticObserver, times: tarvexkit.Times,
                  bodies: list[str]) -> np.ndarray:
    """Altitude of the apparent topocentric centres, degrees, shape
    (instants, bodies), without refraction (Ephemeris.altaz)."""
    return np.asarray(eph.altaz(bodies, site, times).altitude_deg).reshape(len(times), len(bodies))


def horizon_events(eph: tarvexkit.Ephemeris, site: tarvex.GeodeticObserver, start: tarvexkit.Times,
                   stop: tarvexkit.Times, body: str) -> list[tuple[str, tarvexkit.Times]]:
    """Every rise, upper transit and set of `body` in [start, stop), at the
    standard altitudes (Ephemeris.horizon_events)."""
    return list(eph.horizon_events(body, site, start, stop))


def sky_periods(eph: tarvexkit.Ephemeris, site: tarvex.GeodeticObserver, start: tarvexkit.Times,
                stop: tarvexkit.Times) -> list[tuple[float, float, int]]:
    """(start TT, stop TT, state) over the span, state 0 night .. 4 day, from
    the twilight events and the Sun's rise and set."""
    found = [(t.tt, kind) for kind, t in eph.twilight(site, start, stop)]
    found += [(t.tt, kind) for kind, t in eph.risings_settings("sun", site, start, stop)]
    found.sort()
    altitude = float(eph.altaz("sun", site, start).altitude_deg)
    state = sum(altitude >= level for level in (-18.0, -12.0, -6.0, tarvexkit.observing.SUN_ALTITUDE_DEG))
    periods = []
    begin = float(start.tt)
    for tt, kind in found:
        periods.append((begin, tt, state))
        begin, state = tt, TWILIGHT_STEPS[kind]
    periods.append((begin, float(stop.tt), state))
    return periods


def draw_altitude(path: str, hours: np.ndarray, altitudes: dict[str, np.ndarray],
                  events: dict[str, list[tuple[str, float, float, str]]], sky: list[tuple[float, float, int]],
                  title: str, xlabel: str) -> None:
    """Altitude curves of every body with its rises, transits and sets
    marked, and the sky shaded from night through the three twilights to
    day (times in hours on the x axis)."""
    figure = Figure(figsize=(11.0, 5.5), dpi=100)
    ax = figure.add_subplot()
    for begin, end, state in sky:
        if state < 4:
            ax.axvspan(begin, end, color=SKY_SHADES[state], linewidth=0, zorder=0)
    ax.axhline(0.0, color="#444444", linewidth=1.0)
    colours = {**BODY_COLOURS, "moon": "#3b5b92", **PLANET_COLOURS}
    markers = {"rise": "^", "set": "v", "transit": "D"}
    for body, values in altitudes.items():
        major = body in ("sun", "moon")
        ax.plot(hours, values, color=colours[body], linewidth=2.2 if major else 1.0,
                label=f"{GLYPHS[body]} {body.capitalize()}", zorder=3 if major else 2)
        for kind, hour, altitude, label in events.get(body, []):
            ax.plot([hour], [altitude], marker=markers[kind], markersize=9 if major else 5, color=colours[body],
                    markeredgecolor="black", markeredgewidth=0.8 if major else 0.4, zorder=5)
            if major:  # the Sun's times above its marks, the Moon's below
                offset = 12 if body == "sun" else -20
                ax.annotate(label, (hour, altitude),
                            textcoords="offset points", xytext=(0, offset), ha="center", fontsize=9,
                            color=colours[body])
    ax.set_xlim(hours[0], hours[-1])
    low = min(-30.0, math.floor(min(v.min() for v in altitudes.values()) / 10.0) * 10.0)
    high = max(30.0, math.ceil(max(v.max() for v in altitudes.values()) / 10.0) * 10.0 + 5.0)
    ax.set_ylim(low, high)
    ax.set_xticks(np.arange(hours[0], hours[-1] + 0.1, 2.0))
    ax.set_xlabel(xlabel)
    ax.set_ylabel("altitude of the centre, degrees")
    ax.grid(True, color="#bbbbbb", linewidth=0.5, alpha=0.7)
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    handles, labels = ax.get_legend_handles_labels()
    handles += [Line2D([], [], marker=markers[k], linestyle="", color="#777777", markeredgecolor="black")
                for k in ("rise", "transit", "set")]
    labels += ["rise", "transit", "set"]
    handles += [Patch(color=shade) for shade in SKY_SHADES[:4]]
    labels += SKY_LABELS
    ax.legend(handles, labels, loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8, framealpha=0.9)
    ax.set_title(title, fontsize=13)
    figure.tight_layout()
    figure.savefig(path)


def local_day(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, zone: tzinfo) -> tuple[tarvexkit.Times, tarvexkit.Times]:
    """Local midnight to the next local midnight around `when` in `zone`."""
    local = when.to_datetime(zone)
    midnight = datetime(local.year, local.month, local.day, tzinfo=zone)
    return eph.from_datetime(midnight), eph.from_datetime(midnight + timedelta(days=1))


# ------------------------------------------------------------------ both pictures for one date and site

def chart_or_equal(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver,
                   houses: str = "placidus") -> tarvexkit.Chart:
    """The chart in the given house system, or in Equal houses where that
    system has no cusps (Placidus beyond the polar circles, where some
    ecliptic points never rise)."""
    try:
        return eph.chart(when, site, houses=houses)
    except tarvexkit.HouseCuspsUndefined:
        return eph.chart(when, site, houses="equal")


def clock_text(t: tarvexkit.Times, zone: tzinfo) -> str:
    """Local clock time to the nearest minute."""
    return clock(t, zone)


def write_pictures(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver,
                   out_dir: str = ".", place: str = "", zone: tzinfo = timezone.utc,
                   day: tuple[tarvexkit.Times, tarvexkit.Times] | None = None) -> tuple[str, str]:
    """chart.png for `when` and altitude.png for `day` (start and stop),
    by default the local day in `zone` that contains `when`; returns both
    paths."""
    lat, lon = site.latitude_deg, site.longitude_east_deg
    where = place or f"{abs(lat):.2f}°{'N' if lat >= 0 else 'S'} {abs(lon):.2f}°{'E' if lon >= 0 else 'W'}"
    os.makedirs(out_dir, exist_ok=True)

    chart_path = os.path.join(out_dir, "chart.png")
    local = to_minute(when).astimezone(zone)
    draw_chart_wheel(chart_path, chart_or_equal(eph, when, site), f"{local:%Y-%m-%d %H:%M} {local.tzname()}, {where}")

    start, stop = day or local_day(eph, when, zone)
    samples = eph.times(np.linspace(start.tt, stop.tt, 24 * 12 + 1), "tt")
    hours = (samples.tt - start.tt) * 24.0
    table = altitudes_deg(eph, site, samples, BODIES)
    altitudes = {body: table[:, k] for k, body in enumerate(BODIES)}
    events = {}
    for body in BODIES:
        found = horizon_events(eph, site, start, stop, body)
        if found:
            at = eph.times([t.tt for _, t in found], "tt")
            heights = altitudes_deg(eph, site, at, [body])[:, 0]
            events[body] = [(kind, (t.tt - start.tt) * 24.0, float(h), f"{kind} {clock_text(t, zone)}")
                            for (kind, t), h in zip(found, heights)]
    sky = [((a - start.tt) * 24.0, (b - start.tt) * 24.0, state) for a, b, state in sky_periods(eph, site, start, stop)]
    altitude_path = os.path.join(out_dir, "altitude.png")
    zone_name = local.tzname() or "UTC"
    draw_altitude(altitude_path, hours, altitudes, events, sky,
                  f"Sun, Moon and planets on {local:%Y-%m-%d}, {where}", f"hours, {zone_name} (local time)")
    return chart_path, altitude_path


# ------------------------------------------------------------------ a solar eclipse

def eclipse_discs(eph: tarvexkit.Ephemeris, site: tarvex.GeodeticObserver, when: tarvexkit.Times
                  ) -> tuple[float, float, float, float]:
    """The Moon's centre relative to the Sun's, seen from the site (arc
    minutes: x towards the east along the sky, y to the north), and the
    semi-diameters of the Sun and the Moon (arc minutes), topocentric."""
    places = eph.positions(["sun", "moon"], when, tarvex.apparent("topocentric", "equatorial", site))[0]
    (ra_sun, dec_sun, d_sun, _), (ra_moon, dec_moon, d_moon, _) = places
    x = ((ra_moon - ra_sun + 180.0) % 360.0 - 180.0) * math.cos(math.radians(dec_sun)) * 60.0
    y = (dec_moon - dec_sun) * 60.0
    au_km = tarvexkit.observing.AU_KM
    sun = math.degrees(math.asin(tarvexkit.eclipse_geometry.SUN_RADIUS_KM / (d_sun * au_km))) * 60.0
    moon = math.degrees(math.asin(tarvexkit.eclipse_geometry.MOON_RADIUS_KM / (d_moon * au_km))) * 60.0
    return x, y, sun, moon


def draw_eclipse(path: str, offset: tuple[float, float], sun_radius: float, moon_radius: float, title: str,
                 caption: str) -> None:
    """The Sun's disc and the Moon's in front of it, north up and east to
    the left as seen on the sky."""
    figure = Figure(figsize=(5.0, 5.4), dpi=110)
    axes = figure.add_axes((0.05, 0.1, 0.9, 0.8))
    axes.set_facecolor("#1b2233")
    axes.add_patch(Circle((0.0, 0.0), sun_radius, facecolor="#f7c04a", edgecolor="#ffdf8a", linewidth=2.0))
    axes.add_patch(Circle((-offset[0], offset[1]), moon_radius, facecolor="#2c3345", edgecolor="#46506a"))
    reach = 2.1 * max(sun_radius, moon_radius)
    axes.set_xlim(-reach, reach)
    axes.set_ylim(-reach, reach)
    axes.set_aspect("equal")
    axes.set_xticks([])
    axes.set_yticks([])
    axes.text(0.0, reach * 0.9, "N", color="white", ha="center", va="center")
    axes.text(-reach * 0.9, 0.0, "E", color="white", ha="center", va="center")
    figure.suptitle(title, fontsize=10)
    figure.text(0.5, 0.04, caption, ha="center", fontsize=8)
    figure.savefig(path)


def write_eclipse_picture(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver,
                          out_dir: str = ".", place: str = "", zone: tzinfo = timezone.utc,
                          years: float = 20.0) -> str | None:
    """eclipse.png: the discs at the maximum of the next solar eclipse seen
    from the site (the Sun up for part of it) within `years`; None when
    there is none in the data's range."""
    last = float(eph.supported_range[1].tt) - 1.0
    stop = eph.times(min(float(when.tt) + 365.25 * years, last), "tt")
    if not float(stop.tt) > float(when.tt):
        return None
    found = eph.local_solar_eclipses(site, when, stop)
    seen = [i for i in range(len(found)) if found.visible[i]]
    if not seen:
        return None
    i = seen[0]
    maximum = found.times[i]
    x, y, sun, moon = eclipse_discs(eph, site, maximum)
    local = to_minute(maximum).astimezone(zone)
    where = place or f"{site.latitude_deg:.2f}°, {site.longitude_east_deg:.2f}°"
    path = os.path.join(out_dir, "eclipse.png")
    draw_eclipse(path, (x, y), sun, moon,
                 f"{found.kinds[i].capitalize()} solar eclipse, {local:%Y-%m-%d %H:%M} {local.tzname()}, {where}",
                 f"maximum: magnitude {found.magnitude[i]:.3f}, {found.obscuration[i] * 100:.0f}% of the Sun covered, "
                 f"Sun {found.sun_altitude_deg[i, 2]:.0f}° high")
    return path
