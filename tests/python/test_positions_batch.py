"""Engine.positions: the NumPy array (shape, layout, ownership of its
buffer), agreement with single positions, list conversions, and memory that
stays flat over many calls, failing ones included."""

import gc
import os
import sys
import tracemalloc

import numpy
import pytest

import tarvex

J2000 = tarvex.Instant(2451545.0)
INSTANTS = [tarvex.Instant.tt(2451545.0), tarvex.Instant.utc(2452000.25), tarvex.Instant(2454000.75)]
SITE = tarvex.GeodeticObserver(-70.4, -24.6, 2600.0)


def test_shape_layout_and_agreement_with_single_positions(shared_engine):
    for options in [tarvex.geometric(), tarvex.apparent(), tarvex.apparent("topocentric", "equatorial", SITE),
                    tarvex.geometric("heliocentric", "equatorial")]:
        bodies = ["Moon", "mars"]
        batch = shared_engine.positions(bodies, INSTANTS, options)
        assert batch.shape == (3, 2, 4)
        assert batch.dtype == numpy.float64
        assert batch.flags["C_CONTIGUOUS"] and batch.flags["WRITEABLE"] and batch.flags["OWNDATA"] is False
        for i, instant in enumerate(INSTANTS):
            for j, body in enumerate(bodies):
                single = shared_engine.position(body, instant, options)
                assert batch[i, j].tolist() == [single.longitude_deg, single.latitude_deg,
                                                single.distance_au, single.longitude_speed_deg_per_day]


def test_empty_lists(shared_engine):
    options = tarvex.geometric()
    assert shared_engine.positions([], INSTANTS, options).shape == (3, 0, 4)
    assert shared_engine.positions(["sun"], [], options).shape == (0, 1, 4)
    empty = shared_engine.positions([], [], options)
    assert empty.shape == (0, 0, 4) and empty.size == 0
    # The instants are still converted when there are no bodies.
    late = tarvex.Instant(2460000.0)
    with pytest.raises(ValueError, match="outside kernel range"):
        shared_engine.positions([], [late], options)


def test_conversions_and_failures(shared_engine):
    options = tarvex.geometric()
    with pytest.raises(TypeError) as info:
        shared_engine.positions("sun", INSTANTS, options)
    assert info.value.__notes__ == ["while processing 'bodies'"]
    with pytest.raises(TypeError) as info:
        shared_engine.positions(["sun"], [2451545.0], options)
    assert str(info.value) == "'float' object is not an instance of 'Instant'"
    # Bodies are parsed in list order, after every parameter converted.
    with pytest.raises(ValueError, match='^unknown body "vulcan"$'):
        shared_engine.positions(["sun", "Vulcan", "pluto x"], INSTANTS, options)
    with pytest.raises(TypeError) as info:
        shared_engine.positions(["vulcan"], INSTANTS, "geometric")
    assert info.value.__notes__ == ["while processing 'options'"]
    # All or nothing: one bad body or instant fails the whole batch.
    with pytest.raises(ValueError, match="identical"):
        shared_engine.positions(["sun", "earth"], INSTANTS, options)
    with pytest.raises(ValueError, match="^Julian day 2460000 is outside kernel range"):
        shared_engine.positions(["sun"], INSTANTS + [tarvex.Instant(2460000.0)], options)
    with pytest.raises(TypeError, match=r"^Engine.positions\(\) takes 3 positional arguments but 4 were given$"):
        shared_engine.positions(["sun"], INSTANTS, options, None)


def test_array_owns_its_buffer(shared_engine):
    instants = [tarvex.Instant(2451545.0 + day) for day in range(2000)]
    tracemalloc.start()
    try:
        before, _ = tracemalloc.get_traced_memory()
        batch = shared_engine.positions(["sun", "moon", "mars"], instants, tarvex.geometric())
        buffer_bytes = 2000 * 3 * 4 * 8
        held, _ = tracemalloc.get_traced_memory()
        assert held - before >= buffer_bytes
        holder = batch.base
        assert type(holder).__name__ == "_BatchBuffer" and not hasattr(tarvex, "_BatchBuffer")
        assert numpy.shares_memory(batch, numpy.asarray(batch))
        batch[0, 0, 0] = -1.0  # writeable, and the caller's to change
        view = batch[1:]
        del batch
        assert view.base.base is holder  # the view keeps the buffer alive
        assert view[0, 1, 2] > 0.002
        del view
        assert sys.getrefcount(holder) == 2
        del holder
        gc.collect()
        after, _ = tracemalloc.get_traced_memory()
        assert after - before < buffer_bytes // 10
    finally:
        tracemalloc.stop()
    with pytest.raises(TypeError):
        type(shared_engine.positions(["sun"], [J2000], tarvex.geometric()).base)()


def rss_bytes():
    with open(f"/proc/{os.getpid()}/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def call_loop(engine, rounds, batches):
    position = engine.position
    positions = engine.positions
    geometric = tarvex.geometric()
    apparent = tarvex.apparent()
    late = tarvex.Instant(2460000.0)
    for k in range(rounds):
        position("mars", J2000, geometric)
        if k % 8 == 0:
            position("moon", J2000, apparent)
            for call in (lambda: position("vulcan", J2000, geometric),
                         lambda: position("sun", late, geometric),
                         lambda: position("sun", 2451545.0, geometric)):
                try:
                    call()
                except (ValueError, TypeError):
                    pass
    for k in range(batches):
        positions(["sun", "moon"], INSTANTS, geometric)
        try:
            positions(["sun", "earth"], INSTANTS, geometric)
        except ValueError:
            pass


def test_memory_stays_flat_over_many_calls(shared_engine):
    # About a million position calls (a third of them failing) and 10 000
    # batch pairs, succeeding and failing, for the resident set; a tenth of
    # that under tracemalloc, which slows every allocation down.
    call_loop(shared_engine, 20000, 500)
    gc.collect()
    rss_before = rss_bytes()
    call_loop(shared_engine, 670000, 10000)
    gc.collect()
    assert rss_bytes() - rss_before < 1 << 20

    tracemalloc.start()
    try:
        call_loop(shared_engine, 2000, 100)
        gc.collect()
        before, _ = tracemalloc.get_traced_memory()
        call_loop(shared_engine, 67000, 1000)
        gc.collect()
        after, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert after - before < 10000
