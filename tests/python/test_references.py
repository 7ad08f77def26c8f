"""Reference counting: constructors, reprs, attribute reads and failing
calls, repeated many times, must not leave objects behind."""

import gc
import tracemalloc

import tarvex

SITE = tarvex.GeodeticObserver(13.4, 52.5)


def exercise():
    instant = tarvex.Instant(2451545.0, "tt")
    repr(instant)
    instant.julian_day, instant.time_scale
    options = tarvex.PositionOptions("topocentric", "equatorial", "of_date", True, observer=SITE)
    repr(options)
    options.observer
    cusps = tarvex.house_cusps(SITE, instant, 2451545.0, tarvex.HouseSystem.whole_sign())
    repr(cusps), cusps.cusp_ecliptic_longitude_deg, cusps.system
    tarvex.apparent("topocentric", observer=SITE)
    failing = [
        lambda: tarvex.Instant(1.0, "gps"),
        lambda: tarvex.Instant(1.0, 2),
        lambda: tarvex.Instant(1, 2, 3, x=4),
        lambda: tarvex.PositionOptions("geocentric", "ecliptic", apparent=1),
        lambda: tarvex.PositionOptions("geocentric", "ecliptic", observer=SITE),
        lambda: tarvex.house_cusps(SITE, "x", 2451545.0, "equal"),
        lambda: tarvex.house_cusps(SITE, 2451545.0, 2451545.0, object()),
        lambda: tarvex.geometric(bogus=1),
        lambda: tarvex.HouseSystem("koch"),
    ]
    for call in failing:
        try:
            call()
        except (TypeError, ValueError):
            pass


def allocated_after(rounds):
    for _ in range(rounds):
        exercise()
    gc.collect()
    # Only blocks allocated with this file's frames on their stack: what
    # other threads (left running by other tests) allocate meanwhile is not
    # this test's.
    snapshot = tracemalloc.take_snapshot().filter_traces(
        [tracemalloc.Filter(True, __file__, all_frames=True)])
    return sum(statistic.size for statistic in snapshot.statistics("filename"))


def test_repeated_calls_do_not_grow_memory():
    exercise()  # warm caches: interned strings, the method cache, lazy imports
    tracemalloc.start(8)
    try:
        sizes = [allocated_after(500)] + [allocated_after(1000) for _ in range(3)]
    finally:
        tracemalloc.stop()
    # Every round makes about twenty calls; one leaked object per call would
    # add well over a hundred bytes per round in every window. Unrelated
    # interpreter caches may grow in one window, not in all of them.
    growth_per_round = min(after - before for before, after in zip(sizes[1:], sizes[2:])) / 1000
    assert growth_per_round < 4
