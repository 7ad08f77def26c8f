"""Pictures for the demo: a chart wheel (a `tarvexkit.Chart`: zodiac,
Placidus houses with their cusps' degrees, the ten bodies and the true node
at their apparent ecliptic longitudes of date, the aspects in orb) and the
altitude of every body over the local day with its rises, sets and transits
and the twilights, all from tarvexkit's observing functions.

The wheel is the library's SVG (`tarvexkit.wheel_svg`); the plots are drawn
with matplotlib's object interface (a Figure saved as PNG through the Agg
renderer), so no display and no pyplot state are involved.

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
from matplotlib.patches import Circle

import tarvex
import tarvexkit
import tarvexkit.eclipse_geometry
import tarvexkit.observing
from chart_text import clock, sign_minutes, to_minute, zodiac

BODIES = ["sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]
GLYPHS = {
    "sun": "\u2609", "moon": "\u263d", "mercury": "\u263f", "venus": "\u2640", "mars": "\u2642",
    "jupiter": "\u2643", "saturn": "\u2644", "uranus": "\u2645", "neptune": "\u2646", "pluto": "\u2647",
    "mean_node": "\u260a", "true_node": "\u260a", "mean_apogee": "\u26b8", "osculating_apogee": "\u26b8",
}
SIGN_GLYPHS = [chr(0x2648 + i) for i in range(12)]
BODY_COLOURS = {"sun": "#d08000", "moon": "#5a6b7d"}


def sign_position(longitude_deg: float) -> str:
    """26°40' Gem style, as the demo's text writes it."""
    return zodiac(longitude_deg)


def sign_degree(longitude_deg: float) -> str:
    """17°♊32' style: degrees, the sign's glyph, minutes."""
    sign, within = sign_minutes(longitude_deg)
    return f"{within // 60}°{SIGN_GLYPHS[sign]}{within % 60:02d}'"


def draw_chart_wheel(path: str, chart: tarvexkit.Chart, title: str, theme: str = "light") -> None:
    """The wheel of a `tarvexkit.Chart` as SVG (`tarvexkit.wheel_svg`, no
    matplotlib): the ascendant on the left, longitudes counter-clockwise,
    the zodiac, the cusps with their degrees, the bodies and lunar points
    spread where they crowd, and the aspects in orb."""
    with open(path, "w", encoding="utf-8") as stream:
        stream.write(tarvexkit.wheel_svg(chart, theme=theme, size=800, title=title))


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
    """chart.svg for `when` and altitude.png for `day` (start and stop),
    by default the local day in `zone` that contains `when`; returns both
    paths."""
    lat, lon = site.latitude_deg, site.longitude_east_deg
    where = place or f"{abs(lat):.2f}°{'N' if lat >= 0 else 'S'} {abs(lon):.2f}°{'E' if lon >= 0 else 'W'}"
    os.makedirs(out_dir, exist_ok=True)

    chart_path = os.path.join(out_dir, "chart.svg")
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
