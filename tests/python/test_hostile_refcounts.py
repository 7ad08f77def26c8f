"""Failing calls with hostile arguments leave no references and no memory
behind: the reference counts of the argument objects are exact before and
after, Python allocations (tracemalloc) and the process size (RSS, which
also sees the C++ side and file mappings) do not grow over many rounds."""

import collections.abc
import gc
import sys
import tracemalloc

import pytest

import tarvex
from conftest import data_file, open_full_engine

KERNEL = data_file("de405s.bsp")
CENTERS = data_file("planet_centers_1997_2010.bsp")
LSK = data_file("naif0012.tls")
EOP = data_file("eop_20c04_excerpt_1999.txt")
J2000 = tarvex.Instant(2451545.0)
SITE = tarvex.GeodeticObserver(13.4, 52.5)
GEOMETRIC = tarvex.geometric()
APPARENT = tarvex.apparent()
ENGINE = open_full_engine()


class Boom(Exception):
    pass


class RaisingFloat:
    def __float__(self):
        raise Boom("float")


class Named:
    def __init__(self, name):
        self.name = name


class RaisingName:
    @property
    def name(self):
        raise Boom("name")


class Items(collections.abc.Sequence):
    """Serves its items, then raises at `fail_at`."""

    def __init__(self, items, fail_at):
        self.items, self.fail_at = items, fail_at

    def __len__(self):
        return len(self.items) + 1

    def __getitem__(self, index):
        if index == self.fail_at:
            raise Boom("item")
        return self.items[index]


def failing_calls():
    """(label, call, objects whose counts must not move) for each kind of
    failure: binding, each parameter conversion, name conversion, parser,
    file opening, engine operation, re-entry."""
    body = "vulcan" + str(id(object()))  # a fresh str, not interned
    scale = "gps" + str(id(object()))
    kind = Named("solstice" + str(id(object())))
    raising_float = RaisingFloat()
    raising_name = RaisingName()
    bodies = ["sun", "moon", 10**30 + id(object())]  # a fresh int: small ints are shared by every thread
    instants = [J2000, J2000, "x"]
    items = Items(["sun", "moon"], 2)
    path = KERNEL[0] + "\0junk"
    missing = KERNEL[0] + ".absent"
    far = tarvex.Instant(1e308)
    attaching = Named(None)
    huge = 10**400
    sha_bad = "g" * 64

    class Attaching:
        @property
        def name(self):
            ENGINE.with_eop(*EOP)

    reentrant = Attaching()
    return [
        ("binding", lambda: tarvex.Instant(body, scale, 3), [body, scale]),
        ("keyword", lambda: tarvex.Instant(julian_day=1.0, **{body: 1}), [body]),
        ("float conversion", lambda: tarvex.Instant(raising_float), [raising_float]),
        ("float overflow", lambda: tarvex.GeodeticObserver(huge, 0.0), [huge]),
        ("scale parser", lambda: tarvex.Instant(1.0, scale), [scale]),
        ("text type", lambda: tarvex.PositionOptions(body, GEOMETRIC), [body, GEOMETRIC]),
        ("body parser", lambda: ENGINE.position(body, J2000, GEOMETRIC), [body, J2000, GEOMETRIC]),
        ("instance type", lambda: ENGINE.position("sun", SITE, GEOMETRIC), [SITE]),
        ("text list item", lambda: ENGINE.positions(bodies, [J2000], GEOMETRIC),
         [bodies, *bodies]),
        ("instant list item", lambda: ENGINE.positions(["sun"], instants, GEOMETRIC),
         [instants, *instants]),
        ("not a sequence", lambda: ENGINE.positions({"sun"}, [J2000], GEOMETRIC), []),
        ("sequence raising", lambda: ENGINE.positions(items, [J2000], GEOMETRIC), [items]),
        ("name attribute", lambda: ENGINE.next_lunation(J2000, kind), [kind, kind.name]),
        ("name raising", lambda: ENGINE.next_season_event(J2000, raising_name), [raising_name]),
        ("name not text", lambda: tarvex.house_cusps(SITE, J2000, J2000, attaching), [attaching]),
        ("julian day", lambda: tarvex.house_cusps(SITE, raising_float, J2000, "equal"),
         [raising_float]),
        ("re-entry", lambda: ENGINE.sidereal_position("sun", J2000, APPARENT, reentrant),
         [reentrant]),
        ("engine range", lambda: ENGINE.position("moon", far, APPARENT), [far, APPARENT]),
        ("search range", lambda: ENGINE.next_horizon_event("sun", SITE, far, "rise", 0.0),
         [far, SITE]),
        ("nul path", lambda: tarvex.Engine(path, KERNEL[1]), [path]),
        ("missing file", lambda: ENGINE.with_leap_second_kernel(missing, LSK[1]), [missing]),
        ("bad checksum", lambda: ENGINE.with_additional_kernel_file(CENTERS[0], sha_bad),
         [sha_bad]),
        ("time kernel pair", lambda: tarvex.open(*KERNEL, LSK[0]), []),
        ("house cusps", lambda: tarvex.house_cusps(tarvex.GeodeticObserver(0, 89.9), J2000, J2000,
                                                   "placidus"), []),
    ]


def run_failing(call):
    try:
        call()
    except (TypeError, ValueError, OverflowError, RuntimeError, IndexError, Boom):
        return
    raise AssertionError("the call did not fail")


@pytest.mark.parametrize("index", range(len(failing_calls())),
                         ids=[label for label, _, _ in failing_calls()])
def test_failing_calls_keep_argument_reference_counts(index):
    label, call, objects = failing_calls()[index]
    run_failing(call)  # warm up: caches, interned names, lazy imports
    gc.collect()
    before = [sys.getrefcount(obj) for obj in objects]
    for _ in range(50):
        run_failing(call)
    gc.collect()
    after = [sys.getrefcount(obj) for obj in objects]
    assert after == before, label


def test_caller_exceptions_are_not_kept_alive():
    errors = []

    class Raising:
        def __float__(self):
            errors.append(Boom("mine"))
            raise errors[-1]

    value = Raising()
    for convert in (float, tarvex.Instant, lambda value: tarvex.GeodeticObserver(0.0, value)):
        for _ in range(20):
            try:
                convert(value)
            except Boom:
                pass
    gc.collect()
    # The module holds no reference to an exception it let through: each is
    # held exactly as one that float() itself let through.
    counts = [sys.getrefcount(error) for error in errors]
    assert counts == [counts[0]] * 60


def test_results_hold_exactly_one_reference():
    for make in (lambda: ENGINE.position("sun", J2000, GEOMETRIC),
                 lambda: ENGINE.positions(["sun"], [J2000], GEOMETRIC),
                 lambda: ENGINE.kernel_metadata.as_dict(),
                 lambda: ENGINE.kernel_metadata.additional_kernels(),
                 lambda: tarvex.house_cusps(SITE, J2000, J2000, "equal").cusp_ecliptic_longitude_deg,
                 lambda: tarvex.HouseSystem.placidus()):
        result = make()
        assert sys.getrefcount(result) == 2


def traced_growth(call, rounds):
    """Smallest growth of traced Python memory over three windows of `rounds` calls."""
    sizes = []
    for _ in range(4):
        for _ in range(rounds):
            run_failing(call)
        gc.collect()
        sizes.append(tracemalloc.get_traced_memory()[0])
    return min(after - before for before, after in zip(sizes, sizes[1:]))


@pytest.mark.parametrize("index", range(len(failing_calls())),
                         ids=[label for label, _, _ in failing_calls()])
def test_failing_calls_do_not_grow_python_memory(index):
    label, call, _ = failing_calls()[index]
    for _ in range(50):  # warm up before tracing: caches and free lists fill
        run_failing(call)
    tracemalloc.start()
    try:
        growth = traced_growth(call, 200)
    finally:
        tracemalloc.stop()
    # One leaked object per call would add at least 32 bytes a call, 6400
    # per window; interpreter caches and free lists account for a few
    # hundred bytes at most.
    assert growth < 2048, (label, growth)


def under_address_sanitizer():
    # ASan keeps freed memory in quarantine, so the process size grows by design.
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def rss_growth(work, rounds):
    """Smallest growth of the resident size over three windows of `rounds`."""
    for _ in range(rounds):
        work()
    gc.collect()
    sizes = [resident_bytes()]
    for _ in range(3):
        for _ in range(rounds):
            work()
        gc.collect()
        sizes.append(resident_bytes())
    return min(after - before for before, after in zip(sizes, sizes[1:]))


@pytest.mark.skipif(under_address_sanitizer(), reason="ASan quarantines freed memory")
@pytest.mark.parametrize("name", ["failing calls", "engine lifecycle", "large messages"])
def test_process_size_stays_flat(name):
    calls = [call for _, call, _ in failing_calls()]
    large_body = " " + "x" * 200_000

    def failing():
        for call in calls:
            run_failing(call)

    def lifecycle():
        # Opening maps the kernel and reads the time kernels; failing steps
        # after the store opened must release it.
        engine = tarvex.open(*KERNEL, *LSK, *EOP)
        engine.with_additional_kernel_file(*CENTERS)
        engine.positions(["sun", "moon"], [J2000] * 20, GEOMETRIC)
        del engine
        run_failing(lambda: tarvex.open(*KERNEL, LSK[0], "g" * 64))
        run_failing(lambda: tarvex.open(*KERNEL, eop=EOP[0]))
        run_failing(lambda: tarvex.open(*KERNEL, LSK[0], LSK[1], KERNEL[0], EOP[1]))

    def large():
        run_failing(lambda: ENGINE.position(large_body, J2000, GEOMETRIC))
        run_failing(lambda: ENGINE.positions(["sun", large_body], [J2000], GEOMETRIC))
        run_failing(lambda: tarvex.HouseSystem(large_body))

    work, rounds, limit = {
        # per window: ~2,300 failing calls; 64 leaked bytes each is 150 kB
        "failing calls": (failing, 100, 128 * 1024),
        # per window: 60 engines with a 1.4 MB kernel each
        "engine lifecycle": (lifecycle, 60, 1024 * 1024),
        # per window: 300 messages of 200 kB
        "large messages": (large, 100, 1024 * 1024),
    }[name]
    growth = rss_growth(work, rounds)
    assert growth < limit, growth
