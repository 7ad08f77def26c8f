"""Engine.positions: the NumPy array (shape, layout, ownership of its
buffer), agreement with single positions, list conversions, and memory that
stays flat over many calls, failing ones included."""

import gc
import math
import os
import signal
import subprocess
import sys
import time
import tracemalloc

import numpy
import pytest

import tarvex
from conftest import data_file

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


KERNEL_BODIES = ["sun", "moon", "mercury", "venus", "earth", "mars"]
CENTERS_BODIES = ["jupiter", "saturn", "uranus", "neptune", "pluto"]


def as_list(position):
    return [position.longitude_deg, position.latitude_deg, position.distance_au,
            position.longitude_speed_deg_per_day]


def test_every_instant_of_the_inclusive_range_evaluates(shared_engine):
    # The range's Julian days are rounded from the coverage in seconds: at
    # either end the instant converts a few microseconds beyond the coverage.
    span = shared_engine.supported_range
    start, end = span.start_julian_day, span.end_julian_day
    barycentric = tarvex.geometric("barycentric", "equatorial")
    # de405s covers its bodies over the whole range; the planet centers stop
    # 63 s short of its end, so the outer planets count at the start only.
    for jd, bodies in [(start, KERNEL_BODIES + CENTERS_BODIES), (end, KERNEL_BODIES)]:
        instants = [tarvex.Instant.tdb(jd), tarvex.Instant.tdb(jd)]
        batch = shared_engine.positions(bodies, instants, barycentric)
        inside = tarvex.Instant.tdb(jd + (1e-6 if jd == start else -1e-6))
        for j, body in enumerate(bodies):
            at_end = shared_engine.position(body, instants[0], barycentric)
            assert batch[0, j].tolist() == batch[1, j].tolist() == as_list(at_end)
            # Continuous with the instant 0.09 s inside the range (no body
            # moves 6 km, 4e-8 au, in that time relative to the barycenter).
            near = shared_engine.position(body, inside, barycentric)
            assert at_end.distance_au == pytest.approx(near.distance_au, abs=4e-8)
            moved = abs(near.longitude_speed_deg_per_day) * 1e-6
            assert abs(at_end.longitude_deg - near.longitude_deg) <= 2 * moved + 1e-12
    # The planet centers end before the range does; that is their own gap.
    with pytest.raises(ValueError, match="^no SPK segment continues the center chain from target 599 "):
        shared_engine.position("jupiter", tarvex.Instant.tdb(end), barycentric)

    # Apparent places at the end: light time reaches back, into the coverage.
    apparent = tarvex.apparent()
    bodies = [body for body in KERNEL_BODIES if body != "earth"]
    batch = shared_engine.positions(bodies, [tarvex.Instant.tdb(end)], apparent)
    for j, body in enumerate(bodies):
        assert batch[0, j].tolist() == as_list(shared_engine.position(body, tarvex.Instant.tdb(end), apparent))
    # At the start it reaches back before the coverage, which stays an error.
    with pytest.raises(ValueError, match="^no SPK segment continues the center chain from target 10 "):
        shared_engine.position("sun", tarvex.Instant.tdb(start), apparent)

    # One representable Julian day further is outside, single and batch.
    for beyond in (math.nextafter(start, -math.inf), math.nextafter(end, math.inf)):
        message = (f"Julian day {beyond!r} is outside kernel range "
                   "2450449.5007197214..2455198.500731296 Tdb")
        for call in (lambda: shared_engine.position("sun", tarvex.Instant.tdb(beyond), barycentric),
                     lambda: shared_engine.positions(["sun"], [tarvex.Instant.tdb(beyond)], barycentric)):
            with pytest.raises(ValueError) as info:
                call()
            assert str(info.value) == message


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
    # that under tracemalloc, which slows every allocation down. Each is
    # measured over three equal windows and the least growth is judged: a
    # leak grows in every window, while what a busy machine or another
    # test's threads add now and then (a malloc arena, a cache) does not.
    call_loop(shared_engine, 20000, 500)
    rss_growth = []
    for _ in range(3):
        gc.collect()
        rss_before = rss_bytes()
        call_loop(shared_engine, 223000, 3300)
        gc.collect()
        rss_growth.append(rss_bytes() - rss_before)
    assert min(rss_growth) < 1 << 20

    # Counted are the blocks allocated with this file's frames on their
    # stack, the engine's calls among them: threads that other tests leave
    # running (a dask cluster's heartbeats, say) allocate meanwhile and are
    # not the engine's. One leaked object per call would add 350 kB a window.
    here = [tracemalloc.Filter(True, __file__, all_frames=True)]
    tracemalloc.start(8)
    try:
        call_loop(shared_engine, 2000, 100)
        grown = []
        for _ in range(3):
            gc.collect()
            before = tracemalloc.take_snapshot().filter_traces(here)
            call_loop(shared_engine, 22000, 330)
            gc.collect()
            after = tracemalloc.take_snapshot().filter_traces(here)
            grown.append(sum(stat.size_diff for stat in after.compare_to(before, "filename")))
    finally:
        tracemalloc.stop()
    assert min(grown) < 10000


# ------------------------------------------------------------ interrupting a batch

INTERRUPTED_CHILD = r"""
import signal, sys, time
# A shell that starts a job in the background hands it SIGINT ignored, and
# Python then leaves it ignored; Ctrl-C's usual handler is what is tested.
signal.signal(signal.SIGINT, signal.default_int_handler)
sys.path.insert(0, sys.argv[1])
import tarvex
from conftest import open_full_engine

engine = open_full_engine()
bodies = ["sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]
options = tarvex.apparent()
probe = [tarvex.Instant.tt(2451000.5 + 0.01 * i) for i in range(20_000)]
begun = time.monotonic()
before = engine.positions(bodies, probe, options)
# Sized to run about 4 s on this machine, so that the signal surely comes
# in the middle of it.
count = int(min(2_000_000, max(100_000, 4.0 / (time.monotonic() - begun) * len(probe))))
instants = [tarvex.Instant.tt(2451000.5 + 0.01 * (i % 300_000)) for i in range(count)]
single = engine.position("moon", probe[7], options)
print("ready", flush=True)
# Batch after batch until the signal comes, so that a slow parent on a busy
# machine still finds one running.
try:
    deadline = time.monotonic() + 60.0
    while time.monotonic() < deadline:
        engine.positions(bodies, instants, options)
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", time.monotonic(), flush=True)
again = engine.positions(bodies, probe, options)
assert again.tobytes() == before.tobytes()
assert engine.position("moon", probe[7], options).longitude_deg == single.longitude_deg
assert engine.next_lunation(probe[0], "full_moon").julian_day > 2451000.5
print("unchanged", flush=True)
"""


def test_sigint_stops_a_long_batch_and_the_engine_answers_as_before():
    # A child process, so that the signal reaches only the batch under test.
    # Both clocks are the system's monotonic clock.
    here = os.path.dirname(os.path.abspath(__file__))
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED_CHILD, here], stdout=subprocess.PIPE,
                             text=True, env=dict(os.environ, OPENBLAS_NUM_THREADS="1"))
    try:
        assert child.stdout.readline() == "ready\n"
        time.sleep(0.5)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        outcome = child.stdout.readline().split()
        rest = child.communicate(timeout=120)[0]
    finally:
        child.kill()
    assert outcome[0] == "interrupted", (outcome, rest)
    # Within a generous bound: the batch asks for pending signals every
    # few milliseconds of work.
    assert float(outcome[1]) - sent < 0.2
    assert rest == "unchanged\n"


def test_a_signal_handler_that_calls_back_into_the_engine_gets_a_clean_error(engine):
    options = tarvex.apparent()
    bodies = ["sun", "moon", "mars"]
    instants = [tarvex.Instant.tt(2451000.5 + 0.01 * i) for i in range(100_000)]
    reference = engine.positions(bodies, instants, options)
    seen = []
    running = []

    def handler(signum, frame):
        # On a busy machine the next alarm may come while this handler runs;
        # it is let go, so that each round of five calls stays whole.
        if running:
            return
        running.append(True)
        # While the batch runs, the engine counts as exclusively borrowed.
        for call in (lambda: engine.position("moon", J2000, options),
                     lambda: engine.positions(["sun"], [J2000], options),
                     lambda: engine.next_lunation(J2000, "new_moon"),
                     lambda: engine.supported_range,
                     lambda: engine.with_eop(*data_file("eop_c04_1962_2022.txt"))):
            try:
                call()
                seen.append("answered")
            except RuntimeError as error:
                seen.append(str(error))
        running.pop()

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.02, 0.02)
        batch = engine.positions(bodies, instants, options)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    refused = ["Already mutably borrowed"] * 4 + ["Already borrowed"]
    rounds = [seen[k:k + 5] for k in range(0, len(seen), 5)]
    assert rounds, "the batch ended before the first signal"
    assert rounds[0] == refused
    # A signal pending when the batch returned is handled just after it, and
    # then the engine answers.
    answered = [r for r in rounds if r != refused]
    assert answered in ([], [["answered"] * 5])
    assert rounds == [refused] * (len(rounds) - len(answered)) + answered
    # The handler's calls left nothing behind: the same bits, and the
    # engine takes new borrows of either kind.
    assert batch.tobytes() == reference.tobytes()
    assert engine.positions(bodies, instants[:10], options).tobytes() == reference[:10].tobytes()
    assert engine.with_eop(*data_file("eop_c04_1962_2022.txt")) is None

    # A handler that raises ends the batch with its exception, and no result.
    def raising(signum, frame):
        raise ZeroDivisionError("from the handler")

    previous = signal.signal(signal.SIGALRM, raising)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(ZeroDivisionError, match="from the handler"):
            engine.positions(bodies, instants, options)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert engine.positions(bodies, instants, options).tobytes() == reference.tobytes()
