"""What a user of tarvex first sees: apparent places of all bodies for a date
and a site, a small NumPy batch, the next seasons and lunations, the Sun's and
the Moon's rise/set/transit, sidereal longitudes and house cusps.

    python examples/demo.py [--data DIR] [--date JD_UTC] [--lon DEG --lat DEG --height M] [--out DIR]

It also draws chart.png (a chart wheel for the date and site) and
altitude.png (the Sun's and the Moon's altitude over the day) into --out,
the current directory by default.
"""

import argparse
import os
import sys

import tarvex

CHECKSUMS = {
    "de405s.bsp": "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b",
    "planet_centers_1997_2010.bsp": "e81041b8db10255109726930c6affe2ebc7d952257b445f8521d09ae6c21c3bf",
    "naif0012.tls": "678e32bdb5a744117a467cd9601cd6b373f0e9bc9bbde1371d5eee39600a039b",
    "eop_c04_1962_2022.txt": "02918d2ba8f92b17fffcb6a1b8928d0df550ecab3e483a4b3c12039721e6a99e",
}
BODIES = ["sun", "moon", "mercury", "venus", "earth", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]
SIGNS = ["Ari", "Tau", "Gem", "Cnc", "Leo", "Vir", "Lib", "Sco", "Sgr", "Cap", "Aqr", "Psc"]


def zodiac(longitude_deg):
    sign = int(longitude_deg // 30) % 12
    within = longitude_deg - 30 * (longitude_deg // 30)
    degrees = int(within)
    minutes = int(round((within - degrees) * 60))
    if minutes == 60:
        degrees, minutes = degrees + 1, 0
    return f"{degrees:2d}°{minutes:02d}' {SIGNS[sign]}"


def calendar(julian_day):
    """Gregorian calendar date and time of a Julian day (for display only)."""
    z = int(julian_day + 0.5)
    f = julian_day + 0.5 - z
    alpha = int((z - 1867216.25) / 36524.25)
    a = z + 1 + alpha - alpha // 4
    b = a + 1524
    c = int((b - 122.1) / 365.25)
    d = int(365.25 * c)
    e = int((b - d) / 30.6001)
    day = b - d - int(30.6001 * e)
    month = e - 1 if e < 14 else e - 13
    year = c - 4716 if month > 2 else c - 4715
    seconds = round(f * 86400)
    if seconds >= 86400:
        seconds = 86399
    return f"{year:04d}-{month:02d}-{day:02d} {seconds // 3600:02d}:{seconds // 60 % 60:02d}:{seconds % 60:02d}"


def open_engine(data):
    def path(name):
        return os.path.join(data, name)

    engine = tarvex.open(
        path("de405s.bsp"), CHECKSUMS["de405s.bsp"],
        leap_second_kernel=path("naif0012.tls"), leap_second_sha256=CHECKSUMS["naif0012.tls"],
        eop=path("eop_c04_1962_2022.txt"), eop_sha256=CHECKSUMS["eop_c04_1962_2022.txt"],
    )
    engine.with_additional_kernel_file(path("planet_centers_1997_2010.bsp"),
                                       CHECKSUMS["planet_centers_1997_2010.bsp"])
    return engine


def tai_minus_utc(utc_julian_day):
    """TAI - UTC in seconds over the sample kernel's span (naif0012.tls)."""
    steps = [(2450630.5, 31), (2451179.5, 32), (2453736.5, 33), (2454832.5, 34)]
    return max([30] + [seconds for start, seconds in steps if utc_julian_day >= start])


def positions_table(engine, when, site):
    geocentric = tarvex.apparent()
    topocentric = tarvex.apparent("topocentric", observer=site)
    print(f"{'body':<8} {'geocentric λ':>14} {'β':>9} {'Δ (au)':>12} {'speed °/d':>10}   {'topocentric λ':>14} {'β':>9}")
    for body in BODIES:
        if body == "earth":
            geo = None
        else:
            geo = engine.position(body, when, geocentric)
        topo = engine.position(body, when, topocentric)
        if geo is None:
            left = f"{'—':>14} {'':>9} {'':>12} {'':>10}"
        else:
            left = (f"{zodiac(geo.longitude_deg):>14} {geo.latitude_deg:9.4f} {geo.distance_au:12.8f}"
                    f" {geo.longitude_speed_deg_per_day:10.5f}")
        print(f"{body:<8} {left}   {zodiac(topo.longitude_deg):>14} {topo.latitude_deg:9.4f}")
    print("(the Earth has no geocentric place; seen from the site it is the direction of its centre)")


def batch(engine, when):
    bodies = ["sun", "moon", "mars"]
    instants = [tarvex.Instant.utc(when.julian_day + day) for day in range(3)]
    array = engine.positions(bodies, instants, tarvex.apparent())
    print(f"\nNumPy batch: array {array.shape} {array.dtype} = (instants, bodies, [λ, β, Δ, dλ/dt])")
    print(f"  {'UTC':<19}" + "".join(f"{body:>14}" for body in bodies))
    for instant, row in zip(instants, array):
        print(f"  {calendar(instant.julian_day):<19}" + "".join(f"{zodiac(lon):>14}" for lon in row[:, 0]))


def events(engine, when, site):
    found = []
    for kind in ["march_equinox", "june_solstice", "september_equinox", "december_solstice"]:
        found.append((kind, lambda kind=kind: engine.next_season_event(when, kind)))
    for kind in ["new_moon", "full_moon"]:
        found.append((kind, lambda kind=kind: engine.next_lunation(when, kind)))
    dated, beyond = [], []
    for kind, search in found:
        try:
            dated.append((search().julian_day, kind))
        except ValueError:  # the next one lies beyond the kernel's range
            beyond.append(kind)
    print("\nNext seasons and lunations (TT):")
    for julian_day, kind in sorted(dated):
        print(f"  {kind:<18} {calendar(julian_day)}")
    if beyond:
        print(f"  beyond the kernel's range: {', '.join(beyond)}")
    print("Rise, transit and set around the date (UT1):")
    for body, altitude in [("sun", tarvex.SUN_UPPER_LIMB_ALTITUDE_DEG), ("moon", tarvex.MEAN_REFRACTION_ALTITUDE_DEG)]:
        day = engine.rise_set_transit(body, site, when, altitude)
        rise = calendar(day.rise_ut1_julian_day)[11:] if day.rise_ut1_julian_day is not None else "—"
        sets = calendar(day.set_ut1_julian_day)[11:] if day.set_ut1_julian_day is not None else "—"
        print(f"  {body:<5} rise {rise}   transit {calendar(day.transit_ut1_julian_day)[11:]}   set {sets}")
    print("Sidereal longitudes (Lahiri):")
    for body in ["sun", "moon", "mars", "jupiter"]:
        sidereal = engine.sidereal_position(body, when, tarvex.apparent(), "lahiri")
        print(f"  {body:<8} {zodiac(sidereal.longitude_deg)}")


def houses(engine, when, site):
    # house_cusps takes UT1 and TT Julian days directly. For display, UT1 is
    # taken as UTC (they differ by under a second) and TT as UTC + TAI-UTC
    # + 32.184 s.
    ut1 = when.julian_day
    tt = when.julian_day + (tai_minus_utc(when.julian_day) + 32.184) / 86400.0
    try:
        cusps = tarvex.house_cusps(site, ut1, tt, "placidus")
    except ValueError as error:
        print(f"Placidus houses: {error}; Equal houses instead.")
        cusps = tarvex.house_cusps(site, ut1, tt, "equal")
    print(f"{cusps.system.name.capitalize()} houses:")
    for number, cusp in enumerate(cusps.cusp_ecliptic_longitude_deg, start=1):
        end = "\n" if number % 4 == 0 else "   "
        print(f"  {number:2d} {zodiac(cusp)}", end=end)
    print(f"  ASC {zodiac(cusps.ascendant_deg)}   MC {zodiac(cusps.midheaven_deg)}"
          f"   RAMC {cusps.ramc_deg:.4f}°")


def pictures(engine, when, site, out_dir):
    # Imported here so that the text part runs without matplotlib.
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import chart

    # As for the houses, UT1 is taken as UTC for the chart wheel; the
    # altitude curves are computed on UT1 instants directly.
    tt_minus_ut1 = tai_minus_utc(when.julian_day) + 32.184
    written = chart.write_pictures(engine, when, site, tt_minus_ut1, out_dir, calendar=calendar)
    print(f"\nWrote {' and '.join(written)}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", default=os.path.join(os.path.dirname(__file__), "..", "..", "shared", "data"))
    parser.add_argument("--date", type=float, default=2454635.0, help="UTC Julian day (default 2008-06-17 12h)")
    parser.add_argument("--lon", type=float, default=-0.1275, help="east longitude, degrees (default London)")
    parser.add_argument("--lat", type=float, default=51.5072, help="latitude, degrees")
    parser.add_argument("--height", type=float, default=11.0, help="height above the ellipsoid, metres")
    parser.add_argument("--out", default=".", help="directory for chart.png and altitude.png")
    args = parser.parse_args(argv)

    engine = open_engine(args.data)
    when = tarvex.Instant.utc(args.date)
    site = tarvex.GeodeticObserver(args.lon, args.lat, args.height)
    span = engine.supported_range
    print(repr(engine))
    print(f"Kernel range {calendar(span.start_julian_day)[:10]} .. {calendar(span.end_julian_day)[:10]} TDB;"
          f" additional kernels: {[name for name, _ in engine.kernel_metadata.additional_kernels()]}")
    print(f"Date {calendar(args.date)} UTC, site {site!r}")
    print("Apparent places, true ecliptic and equinox of date (λ longitude, β latitude in degrees):\n")
    positions_table(engine, when, site)
    batch(engine, when)

    if hasattr(engine, "next_season_event"):
        events(engine, when, site)
    print()
    houses(engine, when, site)
    pictures(engine, when, site, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
