"""tarvexkit._native.Store: array batches on worker threads equal to the strict
engine's batch bit for bit, with the strict batch's errors; time conversions
over arrays against the engine and ERFA; interrupting, concurrent use, and
the argument checks of the module's own parameters."""

import os
import pathlib
import subprocess
import sys
import sysconfig
import textwrap
import threading

import numpy
import pytest

import tarvex
from conftest import DATA_DIR, data_file, open_full_engine

from tarvexkit._native import Store

BODIES = ["sun", "moon", "mercury", "venus", "earth", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]
SITE = tarvex.GeodeticObserver(-0.1275, 51.5072, 11.0)
# One slab is 2048 instants: one instant, exactly one slab, one past it, and
# three slabs plus one (a short last slab for 3 workers).
SIZES = [1, 2048, 2049, 6145]
SECONDS_PER_DAY = 86400.0


def full_store():
    return Store([data_file("de405s.bsp"), data_file("planet_centers_1997_2010.bsp")],
                 data_file("naif0012.tls"), data_file("eop_c04_1962_2022.txt"))


@pytest.fixture(scope="module")
def store():
    return full_store()


@pytest.fixture(scope="module")
def strict():
    return open_full_engine()


def strict_positions(engine, bodies, days, scale, options):
    return engine.positions(bodies, [tarvex.Instant(float(day), scale) for day in days], options)


def days_in_kernel(count, seed=0):
    return numpy.random.default_rng(seed).uniform(2450500.0, 2455100.0, count)


def raised(call):
    """(type, message, notes) of the exception `call` raises."""
    with pytest.raises(Exception) as info:
        call()
    return type(info.value), str(info.value), getattr(info.value, "__notes__", [])


# ------------------------------------------------------------------ results


OPTION_PATHS = {
    "geometric-geocentric-ecliptic": (tarvex.geometric(), "tt"),
    "geometric-barycentric-equatorial": (tarvex.geometric("barycentric", "equatorial"), "tdb"),
    "geometric-heliocentric-ecliptic": (tarvex.geometric("heliocentric", "ecliptic"), "utc"),
    "geometric-topocentric-equatorial": (tarvex.geometric("topocentric", "equatorial", SITE), "ut1"),
    "apparent-geocentric-ecliptic": (tarvex.apparent(), "utc"),
    "apparent-geocentric-equatorial": (tarvex.apparent("geocentric", "equatorial"), "tt"),
    "apparent-heliocentric-equatorial": (tarvex.apparent("heliocentric", "equatorial"), "tdb"),
    "apparent-topocentric-ecliptic": (tarvex.apparent("topocentric", "ecliptic", SITE), "utc"),
    "constructed-barycentric-of-date": (
        tarvex.PositionOptions("barycentric", "equatorial", "of_date", apparent=True), "ut1"),
}
CENTER_BODY = {"geocentric": "earth", "heliocentric": "sun"}


@pytest.mark.parametrize("path", OPTION_PATHS)
def test_batches_equal_the_strict_batch_bit_for_bit_on_any_thread_count(store, strict, path):
    options, scale = OPTION_PATHS[path]
    bodies = [body for body in BODIES if body != CENTER_BODY.get(options.origin)]
    for size in SIZES:
        days = days_in_kernel(size, seed=size)
        expected = strict_positions(strict, bodies, days, scale, options)
        for threads in (1, 2, 3):
            got = store.positions(bodies, days, scale, options, threads=threads)
            assert got.shape == expected.shape == (size, len(bodies), 4)
            assert got.dtype == numpy.float64 and got.flags.c_contiguous and got.flags.writeable
            assert got.tobytes() == expected.tobytes(), (path, size, threads)


def test_any_array_like_of_julian_days_gives_the_same_bits(store, strict):
    days = days_in_kernel(3000)
    expected = store.positions(["moon", "mars"], days, "tt", tarvex.apparent(), threads=2)
    # A list, a strided view, and whole-day integers all become float64.
    assert store.positions(["moon", "mars"], days.tolist(), "tt", tarvex.apparent()).tobytes() == expected.tobytes()
    doubled = numpy.repeat(days, 2)
    assert store.positions(["moon", "mars"], doubled[::2], "tt", tarvex.apparent()).tobytes() == expected.tobytes()
    whole = numpy.arange(2451000, 2451100)
    assert store.positions(["sun"], whole, "tdb", tarvex.geometric(), threads=2).tobytes() == (
        strict_positions(strict, ["sun"], whole, "tdb", tarvex.geometric()).tobytes())
    # Names are normalised as tarvex normalises them.
    assert store.positions([" Moon", "MARS\t"], days, " TT ", tarvex.apparent()).tobytes() == expected.tobytes()


def test_empty_requests_keep_their_shape(store, strict):
    none = store.positions(["sun", "moon"], numpy.array([]), "tdb", tarvex.geometric())
    assert none.shape == (0, 2, 4)
    no_bodies = store.positions([], days_in_kernel(5), "utc", tarvex.apparent())
    assert no_bodies.shape == (5, 0, 4)
    # The strict batch still checks the request without instants.
    assert raised(lambda: store.positions(["earth"], [], "tt", tarvex.geometric())) == raised(
        lambda: strict.positions(["earth"], [], tarvex.geometric()))


# ------------------------------------------------------------------ errors


def assert_same_error(kit_call, strict_call):
    kit, expected = raised(kit_call), raised(strict_call)
    assert kit == expected
    return kit


def test_an_out_of_range_instant_late_in_the_array_is_reported_as_the_strict_batch_does(store, strict):
    days = days_in_kernel(6145)
    days[3000] = 2456000.25  # after the kernel, in the second slab
    days[6000] = 2440000.75  # before it, later in the array (the third slab)
    options = tarvex.apparent("topocentric", "equatorial", SITE)
    for threads in (1, 3):
        kind, message, _ = assert_same_error(
            lambda: store.positions(["sun", "moon"], days, "tt", options, threads=threads),
            lambda: strict_positions(strict, ["sun", "moon"], days, "tt", options))
        assert kind is ValueError and message.startswith("Julian day 2456000.25 is outside kernel range")


def test_evaluation_errors_late_in_the_array_are_the_strict_batch_errors(strict):
    start = strict.supported_range.start_julian_day
    days = days_in_kernel(6145)
    # Jupiter's light time reaches back before the kernel from here.
    days[4500] = start + 0.001
    store = full_store()
    kind, message, _ = assert_same_error(
        lambda: store.positions(["moon", "jupiter"], days, "tdb", tarvex.apparent(), threads=3),
        lambda: strict_positions(strict, ["moon", "jupiter"], days, "tdb", tarvex.apparent()))
    assert kind is ValueError and "no SPK segment" in message
    # An instant the engine refuses outright is reported before any
    # evaluation error, wherever the two are in the array.
    days[6144] = 2456000.5  # the last slab, after the failing evaluation
    _, message, _ = assert_same_error(
        lambda: store.positions(["moon", "jupiter"], days, "tdb", tarvex.apparent(), threads=3),
        lambda: strict_positions(strict, ["moon", "jupiter"], days, "tdb", tarvex.apparent()))
    assert message.startswith("Julian day 2456000.5 is outside kernel range")
    # Without the planet-center kernel every strict Jupiter evaluation
    # fails; the store takes Jupiter at its system barycentre instead.
    bare = Store([data_file("de405s.bsp")])
    bare_engine = tarvex.Engine(*data_file("de405s.bsp"))
    with pytest.raises(ValueError, match="no SPK segment continues the center chain from target 599"):
        strict_positions(bare_engine, ["sun", "jupiter"], days_in_kernel(5000), "tdb", tarvex.geometric())
    assert bare.positions(["sun", "jupiter"], days_in_kernel(5000), "tdb", tarvex.geometric(), threads=2).tobytes() == (
        bare.positions(["sun", "jupiter barycenter"], days_in_kernel(5000), "tdb", tarvex.geometric()).tobytes())
    # The store is whole afterwards.
    good = days_in_kernel(3000)
    assert store.positions(["moon"], good, "tt", tarvex.apparent(), threads=2).tobytes() == (
        strict_positions(strict, ["moon"], good, "tt", tarvex.apparent()).tobytes())


@pytest.mark.parametrize("bodies, options", [
    (["sun", "vulcan"], tarvex.geometric()),
    (["moon", "sun"], tarvex.geometric("heliocentric", "ecliptic")),
    (["earth"], tarvex.apparent()),
], ids=["unknown-body", "sun-from-the-sun", "earth-from-the-earth"])
def test_request_errors_are_the_strict_batch_errors(store, strict, bodies, options):
    days = days_in_kernel(5000)
    kind, _, _ = assert_same_error(lambda: store.positions(bodies, days, "tt", options, threads=2),
                                   lambda: strict_positions(strict, bodies, days, "tt", options))
    assert kind is ValueError


def test_time_data_missing_for_the_scale_gives_the_strict_error():
    days = days_in_kernel(3000)
    bare = Store([data_file("de405s.bsp")])
    bare_engine = tarvex.Engine(*data_file("de405s.bsp"))
    _, message, _ = assert_same_error(
        lambda: bare.positions(["moon"], days, "utc", tarvex.geometric(), threads=2),
        lambda: strict_positions(bare_engine, ["moon"], days, "utc", tarvex.geometric()))
    assert message == "conversion from Utc to TDB is not implemented"
    leap_only = Store([data_file("de405s.bsp")], data_file("naif0012.tls"))
    leap_engine = tarvex.Engine(*data_file("de405s.bsp"), *data_file("naif0012.tls"))
    assert_same_error(lambda: leap_only.positions(["moon"], days, "ut1", tarvex.geometric()),
                      lambda: strict_positions(leap_engine, ["moon"], days, "ut1", tarvex.geometric()))
    site = tarvex.geometric("topocentric", "ecliptic", SITE)
    assert_same_error(lambda: leap_only.positions(["moon"], days, "tt", site),
                      lambda: strict_positions(leap_engine, ["moon"], days, "tt", site))


def test_argument_errors_are_those_of_building_the_instants_and_calling_the_strict_batch(store, strict):
    days = days_in_kernel(10)

    def both(bodies, values, scale, options):
        return assert_same_error(lambda: store.positions(bodies, values, scale, options),
                                 lambda: strict_positions(strict, bodies, values, scale, options))

    with_nan = days.copy()
    with_nan[7] = numpy.nan
    assert both(["sun"], with_nan, "tt", tarvex.geometric())[:2] == (ValueError, "Julian day must be finite")
    # The first instant is built before the scale is looked at, the later
    # ones after.
    assert both(["sun"], with_nan, "tai", tarvex.geometric())[1] == 'unknown time scale "tai"'
    with_nan[0] = numpy.inf
    assert both(["sun"], with_nan, "tai", tarvex.geometric())[1] == "Julian day must be finite"
    assert both("sun", days, "tt", tarvex.geometric())[0] is TypeError
    assert both([1], days, "tt", tarvex.geometric())[0] is TypeError
    assert both(["sun"], days, "tt", None)[0] is TypeError
    assert both(["sun"], days, "tt", "geometric")[0] is TypeError


def test_julian_days_must_be_one_dimensional_numbers(store):
    with pytest.raises(ValueError) as info:
        store.positions(["sun"], numpy.zeros((2, 2)), "tt", tarvex.geometric())
    assert str(info.value) == "julian_days must be a one-dimensional array, got 2 dimensions"
    with pytest.raises(ValueError, match="got 0 dimensions"):
        store.convert(2451545.0, "tt", "tdb")
    with pytest.raises(ValueError) as info:
        store.positions(["sun"], ["noon"], "tt", tarvex.geometric())
    assert info.value.__notes__ == ["while processing 'julian_days'"]


@pytest.mark.parametrize("threads, kind, message", [
    (0, ValueError, "threads must be between 1 and 256, got 0"),
    (-2, ValueError, "threads must be between 1 and 256, got -2"),
    (257, ValueError, "threads must be between 1 and 256, got 257"),
    (10**30, ValueError, f"threads must be between 1 and 256, got {10**30}"),
    (2.0, TypeError, "threads must be an int or None, not 'float'"),
    (True, TypeError, "threads must be an int or None, not 'bool'"),
    ("2", TypeError, "threads must be an int or None, not 'str'"),
])
def test_threads_must_be_a_positive_int(store, threads, kind, message):
    with pytest.raises(kind) as info:
        store.positions(["sun"], [2451545.0], "tt", tarvex.geometric(), threads=threads)
    assert str(info.value) == message


def test_more_threads_than_slabs_and_the_default_give_the_same_bits(store):
    days = days_in_kernel(2500)
    one = store.positions(["moon"], days, "tt", tarvex.apparent(), threads=1)
    assert store.positions(["moon"], days, "tt", tarvex.apparent(), threads=256).tobytes() == one.tobytes()
    assert store.positions(["moon"], days, "tt", tarvex.apparent(), None).tobytes() == one.tobytes()


# ------------------------------------------------------------------ opening


def test_opening_fails_with_the_messages_of_tarvex_open():
    kernel, lsk, eop = data_file("de405s.bsp"), data_file("naif0012.tls"), data_file("eop_c04_1962_2022.txt")
    missing = str(DATA_DIR / "no_such_file.bsp")
    cases = [
        ([(missing, kernel[1])], None, None, lambda: tarvex.open(missing, kernel[1])),
        ([(kernel[0], "abc")], None, None, lambda: tarvex.open(kernel[0], "abc")),
        ([kernel], (missing, lsk[1]), None, lambda: tarvex.open(*kernel, missing, lsk[1])),
        ([kernel], lsk, (kernel[0], eop[1]), lambda: tarvex.open(*kernel, *lsk, kernel[0], eop[1])),
        ([kernel, (missing, kernel[1])], None, None,
         lambda: tarvex.open(*kernel).with_additional_kernel_file(missing, kernel[1])),
        ([kernel, (lsk[0], "x" * 64)], None, None,
         lambda: tarvex.open(*kernel).with_additional_kernel_file(lsk[0], "x" * 64)),
        ([kernel, (lsk[0], lsk[1])], None, None,
         lambda: tarvex.open(*kernel).with_additional_kernel_file(*lsk)),
    ]
    for kernels, leap_seconds, table, strict_open in cases:
        kit = raised(lambda: Store(kernels, leap_seconds, table))
        assert kit[:2] == raised(strict_open)[:2] and kit[0] is ValueError


def test_store_arguments_have_their_own_checks():
    with pytest.raises(ValueError, match="^kernels must name at least the primary kernel$"):
        Store([])
    with pytest.raises(TypeError) as info:
        Store([data_file("de405s.bsp")[0]])
    assert str(info.value) == "expected a (path, sha256) pair of str"
    assert info.value.__notes__ == ["while processing 'kernels'"]
    with pytest.raises(ValueError, match="pair") as info:
        Store([data_file("de405s.bsp")], leap_seconds=("a", "b", "c"))
    assert info.value.__notes__ == ["while processing 'leap_seconds'"]
    with pytest.raises(TypeError, match="unexpected keyword argument 'lsk'"):
        Store([data_file("de405s.bsp")], lsk=None)


def test_provenance_range_and_time_tables(store, strict):
    assert store.kernel_metadata == strict.kernel_metadata.as_dict()
    span = strict.supported_range
    assert store.supported_range == (span.start_julian_day, span.end_julian_day)
    entries = store.leap_second_entries()
    assert len(entries) == 28
    assert entries[0] == (10.0, 2441317.5) and entries[-1] == (37.0, 2457754.5)
    assert all(later[0] == earlier[0] + 1 for earlier, later in zip(entries, entries[1:]))
    # 1962-01-01 and 2022-11-29 at 0h UTC, the table's first and last rows.
    assert store.eop_coverage() == (2437665.5, 2459912.5)
    bare = Store([data_file("de405s.bsp")])
    assert bare.leap_second_entries() is None and bare.eop_coverage() is None
    assert bare.kernel_metadata["additional_kernels"] == []
    assert repr(store) == 'Store(kernel_name="de405s.bsp", additional_kernels=1)'


# ------------------------------------------------------------------ time


# A float64 Julian day near 2.45e6 is resolved to 2**-31 day, 40 µs; a
# difference of two of them is exact to about that much.
JD_RESOLUTION_S = 41e-6


def test_utc_to_tt_agrees_with_erfa_and_steps_at_each_leap_second(store):
    erfa = pytest.importorskip("erfa")
    entries = store.leap_second_entries()
    days = numpy.linspace(2441317.5, 2459900.0, 3001)
    # ERFA spreads a leap second over the UTC day that ends with it; the
    # kernel's offset changes at the entry's date. Compare away from those days.
    ordinary = days[[all(not (day - 1.0 <= start < day + 1.0) for _, start in entries) for day in days]]
    tt = store.convert(ordinary, "utc", "tt")
    tai1, tai2 = erfa.utctai(ordinary, numpy.zeros_like(ordinary))
    tt1, tt2 = erfa.taitt(tai1, tai2)
    expected_offset_s = ((tt1 - ordinary) + tt2) * SECONDS_PER_DAY
    assert numpy.max(numpy.abs((tt - ordinary) * SECONDS_PER_DAY - expected_offset_s)) < JD_RESOLUTION_S
    back = store.convert(tt, "tt", "utc")
    assert numpy.max(numpy.abs(back - ordinary)) * SECONDS_PER_DAY < JD_RESOLUTION_S
    # From each entry's date on, TT - UTC is its delta_at + 32.184 s; just
    # before it, the previous entry's.
    starts = numpy.array([start for _, start in entries])
    offsets_s = numpy.array([delta_at for delta_at, _ in entries]) + 32.184
    at = store.convert(starts, "utc", "tt")
    assert numpy.max(numpy.abs((at - starts) * SECONDS_PER_DAY - offsets_s)) < JD_RESOLUTION_S
    just_before = starts[1:] - 1e-4
    before = store.convert(just_before, "utc", "tt")
    assert numpy.max(numpy.abs((before - just_before) * SECONDS_PER_DAY - offsets_s[:-1])) < JD_RESOLUTION_S


def test_tt_to_tdb_agrees_with_erfa_series(store):
    erfa = pytest.importorskip("erfa")
    days = numpy.linspace(2440000.5, 2470000.5, 3001)  # far outside the kernel too
    tdb = store.convert(days, "tt", "tdb")
    # The kernel's one-term TDB - TT series against ERFA's full series at the
    # geocenter: the terms it leaves out reach about 20 µs.
    full_series_s = erfa.dtdb(days, numpy.zeros_like(days), 0.0, 0.0, 0.0, 0.0)
    assert numpy.max(numpy.abs((tdb - days) * SECONDS_PER_DAY - full_series_s)) < 30e-6 + JD_RESOLUTION_S


def test_ut1_follows_the_eop_rows(store):
    rows = {}
    with open(DATA_DIR / "eop_c04_1962_2022.txt") as table:
        for line in table:
            fields = line.split()
            if len(fields) >= 8 and fields[0].isdigit():
                rows[float(fields[4]) + 2400000.5] = float(fields[7])
    days = numpy.array([2441317.5, 2451544.5, 2457754.5, 2459000.5])
    ut1 = store.convert(days, "utc", "ut1")
    expected = numpy.array([rows[day] for day in days])
    assert numpy.max(numpy.abs((ut1 - days) * SECONDS_PER_DAY - expected)) < JD_RESOLUTION_S


def test_conversions_follow_the_engine(store, strict):
    days = days_in_kernel(50)
    # TDB seconds are the engine's own: exact for TDB input.
    assert (store.tdb_seconds(days, "tdb") == (days - 2451545.0) * SECONDS_PER_DAY).all()
    seconds = store.tdb_seconds(days, "utc")
    assert numpy.array_equal(store.convert(days, "utc", "tdb"), seconds / SECONDS_PER_DAY + 2451545.0)
    # A UTC instant and the TT day converted from it are the same moment to
    # the engine: the Moon (0.55"/s) agrees to the rounding of the day.
    tt = store.convert(days, "utc", "tt")
    at_utc = strict_positions(strict, ["moon"], days, "utc", tarvex.geometric())
    at_tt = strict_positions(strict, ["moon"], tt, "tt", tarvex.geometric())
    assert numpy.max(numpy.abs(at_utc[:, :, 0] - at_tt[:, :, 0])) < 1e-7
    # Same for UT1.
    ut1 = store.convert(days, "utc", "ut1")
    at_ut1 = strict_positions(strict, ["moon"], ut1, "ut1", tarvex.geometric())
    assert numpy.max(numpy.abs(at_utc[:, :, 0] - at_ut1[:, :, 0])) < 1e-7


def test_conversion_errors_name_the_element_and_carry_the_engine_message(store, strict):
    outside = numpy.array([2451545.0, 2452000.0, 2445000.5])
    with pytest.raises(ValueError) as info:
        store.tdb_seconds(outside, "utc")
    _, strict_message, _ = raised(lambda: strict.position("sun", tarvex.Instant.utc(2445000.5), tarvex.geometric()))
    assert strict_message.startswith("Julian day 2445000.5 is outside kernel range")
    assert str(info.value) == "julian_days[2]: " + strict_message
    # convert has no range check: 1982, TAI - UTC = 20 s.
    tdb = store.convert(outside, "utc", "tdb")[2]
    assert abs((tdb - 2445000.5) * SECONDS_PER_DAY - 52.184) < 0.002
    for target in ("tt", "tdb", "utc", "ut1"):
        with pytest.raises(ValueError, match=r"^julian_days\[1\]: Julian day must be finite$"):
            store.convert([2451545.0, numpy.nan], "tt", target)
    # Before the first leap second, and past the EOP table.
    before = raised(lambda: strict.position("sun", tarvex.Instant.utc(2441000.5), tarvex.geometric()))[1]
    with pytest.raises(ValueError) as info:
        store.convert([2441000.5], "utc", "tt")
    assert str(info.value) == "julian_days[0]: " + before
    with pytest.raises(ValueError, match=r"^julian_days\[0\]: .*") as info:
        store.convert([2460500.5], "utc", "ut1")
    bare = Store([data_file("de405s.bsp")])
    bare_engine = tarvex.Engine(*data_file("de405s.bsp"))
    for scale in ("utc", "ut1"):
        message = raised(lambda: bare_engine.position("sun", tarvex.Instant(2451545.0, scale), tarvex.geometric()))[1]
        with pytest.raises(ValueError) as info:
            bare.convert([2451545.0], "tt", scale)
        assert str(info.value) == "julian_days[0]: " + message
    with pytest.raises(ValueError, match='^unknown time scale "tai"$'):
        store.convert([2451545.0], "tai", "tt")
    assert store.convert([], "utc", "tt").shape == (0,)


def test_long_conversions_equal_short_ones_and_report_the_first_failing_element(store):
    # Long arrays are converted in blocks on several threads.
    days = numpy.linspace(2441400.0, 2459800.0, 100_001)
    for source, target in (("utc", "tdb"), ("tt", "ut1"), ("ut1", "utc")):
        whole = store.convert(days, source, target)
        pieces = numpy.concatenate([store.convert(days[i:i + 1000], source, target) for i in range(0, len(days), 1000)])
        assert whole.tobytes() == pieces.tobytes()
    inside = days_in_kernel(100_001)
    inside[[30_000, 90_000]] = [2460000.5, numpy.nan]
    with pytest.raises(ValueError, match=r"^julian_days\[30000\]: Julian day 2460000.5 is outside kernel range"):
        store.tdb_seconds(inside, "tt")
    with pytest.raises(ValueError, match=r"^julian_days\[90000\]: Julian day must be finite$"):
        store.convert(inside, "tt", "utc")


# ------------------------------------------------------------------ threads and signals


def test_calls_overlap_while_another_runs(store):
    days = numpy.tile(days_in_kernel(4096), 40)
    bodies = ["sun", "moon", "mars", "venus", "pluto"]
    expected_short = store.positions(["moon"], days[:10], "tt", tarvex.apparent(), threads=1)
    outcome = {}

    def long_batch():
        outcome["shape"] = store.positions(bodies, days, "tt", tarvex.apparent(), threads=2).shape

    worker = threading.Thread(target=long_batch)
    worker.start()
    overlapped = 0
    try:
        while worker.is_alive():
            assert store.convert([2451545.0], "tt", "tt").tolist() == [2451545.0]
            short = store.positions(["moon"], days[:10], "tt", tarvex.apparent(), threads=1)
            assert numpy.array_equal(short, expected_short)
            overlapped += worker.is_alive()
    finally:
        worker.join()
    assert overlapped > 0
    assert outcome["shape"] == (len(days), 5, 4)


INTERRUPT_CHILD = textwrap.dedent("""
    import os, signal, sys, threading, time
    import numpy, tarvex
    sys.path.insert(0, {tests!r})
    from conftest import data_file
    from tarvexkit._native import Store

    # A shell that starts a job in the background hands it SIGINT ignored,
    # and Python then leaves it ignored; Ctrl-C's usual handler is tested.
    signal.signal(signal.SIGINT, signal.default_int_handler)

    store = Store([data_file("de405s.bsp"), data_file("planet_centers_1997_2010.bsp")],
                  data_file("naif0012.tls"), data_file("eop_c04_1962_2022.txt"))
    sample = numpy.linspace(2450500.0, 2455100.0, 5000)
    before = store.positions(["moon", "mars"], sample, "utc", tarvex.apparent(), threads=2).tobytes()
    days = numpy.tile(sample, 400)  # 2 million instants, far more than 0.5 s of work
    sent = []

    def interrupt():
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    threading.Timer(0.5, interrupt).start()
    try:
        # Batch after batch until the signal comes, so that a timer delayed
        # on a busy machine still finds one running.
        deadline = time.monotonic() + 60.0
        while time.monotonic() < deadline:
            store.positions(["moon", "mars", "jupiter"], days, "utc", tarvex.apparent(), threads=3)
        print("finished")
    except KeyboardInterrupt:
        latency = time.perf_counter() - sent[0]
        after = store.positions(["moon", "mars"], sample, "utc", tarvex.apparent(), threads=2).tobytes()
        print("interrupted", latency, after == before)
""")


def test_ctrl_c_stops_a_long_batch_and_leaves_the_store_whole():
    script = INTERRUPT_CHILD.format(tests=str(pathlib.Path(__file__).parent))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    words = done.stdout.split()
    assert words[0] == "interrupted", done.stdout
    latency = float(words[1])
    # The workers stop after their current slab (milliseconds of work) and the
    # waiting thread looks every 20 ms; 0.2 s leaves room for a busy machine.
    assert latency < 0.2, latency
    assert words[2] == "True"


def test_stub_matches_the_native_module(tmp_path):
    pytest.importorskip("mypy")
    src = pathlib.Path(__file__).resolve().parents[2] / "src"
    stubs = tmp_path / "stubs" / "tarvexkit"
    stubs.mkdir(parents=True)
    # The stub alone, in a package of its own: the package's Python files
    # are checked elsewhere.
    (stubs / "__init__.pyi").write_text("")
    (stubs / "_native.pyi").write_text((src / "tarvexkit" / "_native.pyi").read_text())
    env = dict(os.environ, MYPYPATH=f"{tmp_path / 'stubs'}{os.pathsep}{src / 'python'}")
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "tarvexkit._native"], cwd=tmp_path, env=env,
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr


def test_installed_module_carries_the_stub():
    module = pathlib.Path(sys.modules[Store.__module__].__file__)
    site_packages = {pathlib.Path(sysconfig.get_paths()[key]).resolve() for key in ("purelib", "platlib")}
    if module.parent.parent.resolve() not in site_packages:
        pytest.skip(f"tarvexkit is imported from a build directory ({module.parent})")
    source = pathlib.Path(__file__).resolve().parents[2] / "src" / "tarvexkit" / "_native.pyi"
    installed = module.parent / "_native.pyi"
    assert installed.is_file(), "pip install . must put _native.pyi beside the module"
    assert installed.read_text() == source.read_text(), "the installed stub is stale: reinstall"


MEMORY_CHILD = textwrap.dedent("""
    import sys
    import numpy, tarvex
    sys.path.insert(0, {tests!r})
    from conftest import data_file
    from tarvexkit._native import Store

    def kib(field):
        with open("/proc/self/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith(field + ":"))

    store = Store([data_file("de405s.bsp"), data_file("planet_centers_1997_2010.bsp")],
                  data_file("naif0012.tls"), data_file("eop_c04_1962_2022.txt"))
    options = tarvex.apparent("topocentric", "equatorial", tarvex.GeodeticObserver(10.0, 50.0, 100.0))
    days = numpy.linspace(2450500.0, 2455100.0, 1024 * 1024)  # one body: a 32 MiB result
    store.positions(["moon"], days[:5000], "utc", options, threads=2)  # caches, the second store
    before = kib("VmRSS")
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")
    result = store.positions(["moon"], days, "utc", options, threads=2)
    print((kib("VmHWM") - before) * 1024 / result.nbytes)
""")


def test_peak_memory_stays_near_the_result():
    # A topocentric batch keeps a site state per instant of a slab, never of
    # the whole request: the peak is the result plus a few slabs per worker.
    try:
        with open("/proc/self/clear_refs", "w") as refs:
            refs.write("5")
    except OSError:
        pytest.skip("the peak resident size cannot be reset here")
    script = MEMORY_CHILD.format(tests=str(pathlib.Path(__file__).parent))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert float(done.stdout.split()[-1]) <= 1.2
