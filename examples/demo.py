"""What a user of tarvex first sees: a chart for now (or a given moment) at a
site, from the default data (DE421 and the IERS series): apparent places of
the bodies, a week of NumPy positions, the coming seasons and lunations,
rises, transits and sets of every body with the twilights and the Moon's
phase, sidereal longitudes, house cusps, lunar nodes, aspects, stations and
ingresses, and the next eclipses seen from the site. Times are printed in
UTC and in the local zone.

    python examples/demo.py [--when "2026-03-20 14:30"] [--tz Europe/Berlin]
                            [--lat DEG --lon DEG --height M] [--place NAME] [--out DIR]

It also draws chart.svg (the chart wheel, tarvexkit.wheel_svg), altitude.png (every body's
altitude over the local day, with the rises, transits, sets and twilights
the text lists) and eclipse.png (the Sun's and the Moon's discs at the
maximum of the next solar eclipse seen there) and sky.png (the sky with the
planets and the bright stars, at night) into --out, the current directory by
default. Needs `pip install tarvex[data]` (and matplotlib for the pictures).
"""

from __future__ import annotations

import argparse
import math
import os
import sys
import zoneinfo
from datetime import datetime, timedelta

import numpy as np

import tarvex
import tarvexkit
import tarvexkit.observing

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chart_text import clock, from_sun, to_minute, zodiac  # noqa: E402

BODIES = ["sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]


class Clock:
    """Prints a Times in UTC and in the chosen zone."""

    def __init__(self, zone: zoneinfo.ZoneInfo) -> None:
        self.zone = zone

    def both(self, t: tarvexkit.Times) -> str:
        """UTC and local date and time, both from the one rounded minute."""
        utc = to_minute(t)
        local = utc.astimezone(self.zone)
        return f"{utc:%Y-%m-%d %H:%M} UTC  ({local:%Y-%m-%d %H:%M} {local.tzname()})"

    def local(self, t: tarvexkit.Times | None) -> str:
        """Local clock time to the nearest minute, as the picture labels it."""
        return "—" if t is None else clock(t, self.zone)


def local_day(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, zone: zoneinfo.ZoneInfo) -> tuple[tarvexkit.Times, tarvexkit.Times]:
    """Local midnight to the next local midnight around `when`."""
    local = when.to_datetime(zone)
    midnight = datetime(local.year, local.month, local.day, tzinfo=zone)
    return eph.from_datetime(midnight), eph.from_datetime(midnight + timedelta(days=1))


def positions_table(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver) -> None:
    geo = eph.positions(BODIES, when, tarvex.apparent())[0]
    topo = eph.positions(BODIES, when, tarvex.apparent("topocentric", observer=site))[0]
    print(f"{'body':<8} {'geocentric λ':>14} {'β':>9} {'Δ (au)':>12} {'speed °/d':>10}   {'topocentric λ':>14} {'β':>9}")
    for name, (lon, lat, dist, speed), (tlon, tlat, _, _) in zip(BODIES, geo, topo):
        retro = " R" if speed < 0 else "  "
        print(f"{name:<8} {zodiac(lon):>14} {lat:9.4f} {dist:12.8f} {speed:10.5f}{retro} {zodiac(tlon):>14} {tlat:9.4f}")


def week(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, clock: Clock) -> None:
    bodies = ["sun", "moon", "mercury", "venus", "mars"]
    days = eph.times(when.utc + np.arange(7), "utc")
    array = eph.positions(bodies, days)
    print(f"\nNumPy batch: array {array.shape} {array.dtype} = (instants, bodies, [λ, β, Δ, dλ/dt])")
    print(f"  {'local time':<17}" + "".join(f"{body:>13}" for body in bodies))
    for t, row in zip(days, array):
        print(f"  {to_minute(t).astimezone(clock.zone):%Y-%m-%d %H:%M}" + "".join(f"{zodiac(lon):>13}" for lon in row[:, 0]))


def events(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver, clock: Clock) -> None:
    stop = eph.times(when.tt + 100.0, "tt")
    found = sorted(list(eph.seasons(when, stop)) + list(eph.lunations(when, stop)), key=lambda e: e[1].tt)
    print("\nSeasons and lunations in the next 100 days:")
    for kind, t in found:
        print(f"  {kind:<18} {clock.both(t)}")
    observing(eph, when, site, clock)
    print("Sidereal longitudes (Lahiri):")
    for body in ("sun", "moon", "mars", "jupiter"):
        print(f"  {body:<8} {zodiac(float(eph.sidereal_positions(body, when)[0, 0, 0]))}")


def above_horizon(eph: tarvexkit.Ephemeris, body: str, site: tarvex.GeodeticObserver, when: tarvexkit.Times) -> bool:
    """Whether the body's centre is above its standard rising altitude."""
    sky = eph.altaz(body, site, when)
    standard = tarvexkit.observing.standard_altitude_deg(body)
    if standard is None:  # the Moon: -34' less its semi-diameter
        radius = tarvexkit.observing.MOON_RADIUS_KM / (sky.distance_au * tarvexkit.observing.AU_KM)
        standard = tarvexkit.observing.PLANET_ALTITUDE_DEG - math.degrees(math.asin(radius))
    return bool(sky.altitude_deg > standard)


def observing(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver, clock: Clock) -> None:
    """The local day of `when`: every body's rises, transits and sets, the
    twilights, and the Moon; the altitude picture shows the same day."""
    start, stop = local_day(eph, when, clock.zone)
    print(f"Rise, transit and set on {start.to_datetime(clock.zone):%Y-%m-%d} ({clock.zone.key} time; "
          "centre at -50' for the Sun, -34' for planets, -34' less the semi-diameter for the Moon):")
    for body in BODIES:
        found = eph.horizon_events(body, site, start, stop)
        listed = "   ".join(f"{kind:<7} {clock.local(t)}" for kind, t in found)
        if not any(kind != "transit" for kind in found.kinds):
            listed += "   (up all day)" if above_horizon(eph, body, site, start) else "   (down all day)"
        print(f"  {body:<8} {listed}")
    dawns = [f"{kind.replace('_', ' ')} {clock.local(t)}" for kind, t in eph.twilight(site, start, stop)]
    print(f"  twilight {', '.join(dawns) if dawns else 'none (the Sun stays above -6° or below -18°)'}")
    phase = eph.moon_phase(when)
    print(f"Moon: {phase.illuminated_fraction * 100:.1f}% lit, {from_sun(phase.phase_deg)} in longitude, "
          f"elongation {phase.elongation_deg:.1f}°")
    quarters = eph.moon_quarters(when, eph.times(when.tt + 30.0, "tt"))
    for kind, t in list(quarters)[:4]:
        print(f"  {kind.replace('_', ' '):<14} {clock.both(t)}")


def houses(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver) -> None:
    try:
        cusps = eph.houses(site, when, "placidus")
    except ValueError as error:
        print(f"Placidus houses: {error}; Equal houses instead.")
        cusps = eph.houses(site, when, "equal")
    print(f"\n{cusps.system.capitalize()} houses:")
    for number, cusp in enumerate(cusps.cusps_deg, start=1):
        print(f"  {number:2d} {zodiac(cusp)}", end="\n" if number % 4 == 0 else "   ")
    print(f"  ASC {zodiac(cusps.ascendant_deg)}   MC {zodiac(cusps.midheaven_deg)}   RAMC {cusps.ramc_deg:.4f}°")


def astrology(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver, clock: Clock) -> None:
    try:
        chart = eph.chart(when, site)
    except tarvexkit.HouseCuspsUndefined as error:
        print(f"\nPlacidus: {error}; Equal houses instead.")
        chart = eph.chart(when, site, houses="equal")
    node = chart.point("true_node")
    lilith = eph.lunar_points(["mean_node", "mean_apogee"], when)[0]
    print(f"\nLunar points: true node {zodiac(node.longitude_deg)}, mean node {zodiac(lilith[0, 0])}, "
          f"mean apogee (Black Moon) {zodiac(lilith[1, 0])}")
    tightest = sorted(chart.aspects, key=lambda a: abs(a.orb_deg))[:8]
    print(f"{len(chart.aspects)} aspects in orb ({chart.house_system} houses), the {len(tightest)} tightest:")
    for aspect in tightest:
        state = "applying" if aspect.applying else "separating"
        print(f"  {aspect.first:<9} {aspect.kind:<11} {aspect.second:<9} orb {aspect.orb_deg:+5.2f}°  {state}")
    year = eph.times(when.tt + 365.25, "tt")
    stations = eph.stations("mercury", when, year)
    print("Mercury stations in the coming year:")
    for kind, t in stations:
        print(f"  {kind:<10} {clock.both(t)}")
    ingresses = eph.sign_ingresses("sun", when, eph.times(when.tt + 100.0, "tt"))
    print("The Sun's next ingresses:", ", ".join(f"{kind} {t.iso()[:10]}" for kind, t in ingresses))


def eclipses(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver, clock: Clock,
             years: float = 10.0, shown: int = 3) -> None:
    """The next solar eclipses seen from the site (the Sun up for part of
    it) and the next lunar eclipses with the Moon above its horizon at the
    greatest eclipse."""
    last = float(eph.supported_range[1].tt) - 1.0
    stop = eph.times(min(float(when.tt) + 365.25 * years, last), "tt")
    if not float(stop.tt) > float(when.tt):
        return
    print(f"\nThe next eclipses seen from the site (within {years:g} years):")
    local = eph.local_solar_eclipses(site, when, stop)
    seen = [i for i in range(len(local)) if local.visible[i]][:shown]
    for i in seen:
        # First and last contact in the zone's clock time, named by its zone.
        first = local.c1[i]
        zone_name = "" if first is None else f" {first.to_datetime(clock.zone).tzname()}"
        contacts = " to ".join(clock.local(c[i]) for c in (local.c1, local.c4))
        print(f"  solar {local.kinds[i]:<8} max {clock.both(local.times[i])}  magnitude {local.magnitude[i]:.3f}, "
              f"{local.obscuration[i] * 100:.0f}% of the Sun covered, Sun at {local.sun_altitude_deg[i, 2]:.0f}°; "
              f"from {contacts}{zone_name}")
    lunar = eph.lunar_eclipses(when, stop)
    up: list[bool] = (np.atleast_1d(eph.altaz("moon", site, lunar.times).altitude_deg) > 0.0).tolist() if len(lunar) else []
    for i in [i for i in range(len(lunar)) if up[i]][:shown]:
        print(f"  lunar {lunar.kinds[i]:<9} greatest {clock.both(lunar.times[i])}  "
              f"umbral magnitude {lunar.umbral_magnitude[i]:.3f}")


def pictures(eph: tarvexkit.Ephemeris, when: tarvexkit.Times, site: tarvex.GeodeticObserver, out_dir: str,
             place: str, zone: zoneinfo.ZoneInfo) -> None:
    try:
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import chart
    except ImportError as error:  # matplotlib is optional for the text part
        print(f"\nNo pictures ({error}); pip install tarvex[demo]")
        return
    written = list(chart.write_pictures(eph, when, site, out_dir, place=place, zone=zone,
                                        day=local_day(eph, when, zone)))
    eclipse = chart.write_eclipse_picture(eph, when, site, out_dir, place=place, zone=zone)
    if eclipse is not None:
        written.append(eclipse)
    try:
        import sky
        written.append(sky.write_sky_picture(eph, when, site, out_dir, place=place, zone=zone))
    except tarvexkit.stars.StarCatalogueMissing as error:
        print(f"\nNo sky picture ({error})")
    print(f"\nWrote {', '.join(written)}")


def parse_when(eph: tarvexkit.Ephemeris, text: str | None, zone: zoneinfo.ZoneInfo) -> tarvexkit.Times:
    if text is None:
        return eph.now()
    try:
        local = datetime.fromisoformat(text)
    except ValueError:
        raise SystemExit(f"--when {text!r}: expected a date and time such as '2026-03-20 14:30'") from None
    return eph.from_datetime(local if local.tzinfo else local.replace(tzinfo=zone))


# The default site: east longitude, latitude (degrees), height (metres).
LONDON = (-0.1275, 51.5072, 11.0)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--when", help="local date and time, e.g. '2026-03-20 14:30' (default: now)")
    parser.add_argument("--tz", default="Europe/London", help="IANA time zone of --when and of the output")
    parser.add_argument("--lat", type=float, default=LONDON[1], help="latitude, degrees north (default London)")
    parser.add_argument("--lon", type=float, default=LONDON[0], help="longitude, degrees east")
    parser.add_argument("--height", type=float, default=None,
                        help="height above the ellipsoid, metres (default London's, or 0 for another site)")
    parser.add_argument("--place", default=None, help="name of the site for the titles")
    parser.add_argument("--out", default=".", help="directory for chart.svg and altitude.png")
    args = parser.parse_args(argv)

    try:
        zone = zoneinfo.ZoneInfo(args.tz)
    except zoneinfo.ZoneInfoNotFoundError:
        raise SystemExit(f"--tz {args.tz!r}: unknown time zone; use an IANA name such as Europe/Berlin") from None
    eph = tarvexkit.load()
    clock = Clock(zone)
    when = parse_when(eph, args.when, zone)
    london = (args.lon, args.lat) == LONDON[:2]
    height = args.height if args.height is not None else (LONDON[2] if london else 0.0)
    site = tarvex.GeodeticObserver(args.lon, args.lat, height)
    place = args.place or ("London" if london else "")
    print(repr(eph))
    start, end = eph.supported_range
    print(f"Data covers {start.iso()[:10]} .. {end.iso()[:10]}")
    print(f"Chart for {clock.both(when)}, {place or ''} {site!r}")
    print(f"UT1 - UTC {(when.ut1 - when.utc) * 86400:+.4f} s, TT - UTC {(when.tt - when.utc) * 86400:.3f} s\n")
    print("Apparent places, true ecliptic and equinox of date (λ longitude, β latitude in degrees; R retrograde):\n")
    positions_table(eph, when, site)
    week(eph, when, clock)
    events(eph, when, site, clock)
    houses(eph, when, site)
    astrology(eph, when, site, clock)
    eclipses(eph, when, site, clock)
    pictures(eph, when, site, args.out, place, zone)
    return 0


if __name__ == "__main__":
    sys.exit(main())
