"""examples/dask_batch.py: batch positions split into chunks on a Dask
cluster of two worker processes, one engine per worker thread, gathered into
the array a single `Engine.positions` call gives, bit for bit."""

import gc
import inspect
import pathlib
import sys

import numpy
import pytest

import tarvex
from conftest import DATA_DIR, open_full_engine

pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")

# The workers import the helper by name; spawned worker processes inherit
# this sys.path.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "examples"))
import dask_batch  # noqa: E402

BODIES = ["sun", "moon", "mercury", "venus", "earth", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]
SITE = (-0.1275, 51.5072, 11.0)


@pytest.fixture(scope="module")
def client():
    # Engines left in reference cycles by earlier tests (exceptions kept in
    # locals hold their frames) must be collected here, on the thread that
    # opened them: once the client's threads run, a collection may happen on
    # one of those, and an engine dropped on a foreign thread is reported and
    # leaked by design.
    gc.collect()
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=":0", worker_dashboard_address=":0")
    with distributed.Client(cluster) as client:
        yield client
    cluster.close()


@pytest.fixture(scope="module")
def kernels():
    return dask_batch.sample_kernels(str(DATA_DIR))


def local_positions(bodies, instants, options):
    return open_full_engine().positions(bodies, instants, options)


def test_cluster_result_equals_one_engine_bit_for_bit(client, kernels):
    days = numpy.linspace(2450600.123, 2455000.987, 2501)
    # Uneven chunks on both axes, and the topocentric apparent place, which
    # needs every attached file on the workers.
    request = dask_batch.Request(days, "utc", chunk_instants=700, chunk_bodies=4)
    options = dask_batch.Options.apparent_place("topocentric", "equatorial", SITE)
    gathered = dask_batch.positions(kernels, BODIES, request, options)
    expected = local_positions(BODIES, [tarvex.Instant.utc(day) for day in days],
                               tarvex.apparent("topocentric", "equatorial", tarvex.GeodeticObserver(*SITE)))
    assert gathered.shape == expected.shape == (2501, 11, 4)
    assert gathered.dtype == numpy.float64 and gathered.flags.c_contiguous
    assert gathered.tobytes() == expected.tobytes()
    # Both workers took part, and each opened exactly one engine for all its
    # chunks (4 instant chunks x 3 body chunks here).
    opened = client.run(dask_batch.engines_opened)
    assert sorted(opened.values()) == [1, 1], opened


def test_instants_of_mixed_scales_and_geometric_places(client, kernels):
    instants = [tarvex.Instant.tt(2451545.0), tarvex.Instant.utc(2452000.5), tarvex.Instant.tdb(2453000.25),
                tarvex.Instant.ut1(2454000.75), tarvex.Instant(2454500.5, "TT ")]
    request = dask_batch.Request.from_instants(instants, chunk_instants=2)
    assert list(request.time_scales) == ["tt", "utc", "tdb", "ut1", "tt"]
    gathered = dask_batch.positions(kernels, ["moon", "mars"], request, dask_batch.Options.geometric())
    expected = local_positions(["moon", "mars"], instants, tarvex.geometric())
    assert gathered.tobytes() == expected.tobytes()
    # One scale for all: kept as a single name.
    assert dask_batch.Request.from_instants(instants[:1]).time_scales == "tt"


def test_a_worker_that_cannot_open_a_kernel_reports_the_engine_message(client, kernels):
    missing = str(DATA_DIR / "no_such_kernel.bsp")
    with pytest.raises(ValueError) as here:
        tarvex.open(missing, kernels.kernel[1])
    broken = dask_batch.Kernels((missing, kernels.kernel[1]))
    request = dask_batch.Request(numpy.array([2451545.0, 2451546.0]), chunk_instants=1)
    with pytest.raises(ValueError) as there:
        dask_batch.positions(broken, ["sun"], request, dask_batch.Options.geometric())
    assert str(there.value) == str(here.value)
    # An unusable file behind a good primary kernel: the attachment's message.
    bad_sum = dask_batch.Kernels(kernels.kernel, additional=((kernels.kernel[0], "x" * 64),))
    with pytest.raises(ValueError, match="^kernel SHA-256 must contain exactly 64 hexadecimal characters$"):
        dask_batch.positions(bad_sum, ["sun"], request, dask_batch.Options.geometric())


def test_options_mirror_the_module_presets_and_fields():
    site = tarvex.GeodeticObserver(*SITE)
    assert repr(dask_batch.Options.apparent_place().build()) == repr(tarvex.apparent())
    assert repr(dask_batch.Options.geometric("topocentric", "equatorial", SITE).build()) == repr(
        tarvex.geometric("topocentric", "equatorial", site))
    # Same fields, order and defaults as the constructor they stand for.
    fields = list(inspect.signature(dask_batch.Options).parameters.values())
    native = list(inspect.signature(tarvex.PositionOptions).parameters.values())
    assert [(p.name, p.default) for p in fields] == [(p.name, p.default) for p in native]


def test_empty_requests_keep_their_shape():
    kernels = dask_batch.sample_kernels(str(DATA_DIR))
    request = dask_batch.Request(numpy.array([]), chunk_instants=3)
    # The synchronous scheduler in this process: no cluster needed.
    empty = dask_batch.positions(kernels, ["sun", "moon"], request, dask_batch.Options.geometric(),
                                 scheduler="sync")
    assert empty.shape == (0, 2, 4)
    none = dask_batch.positions(kernels, [], dask_batch.Request(numpy.array([2451545.0])),
                                dask_batch.Options.geometric(), scheduler="sync")
    assert none.shape == (1, 0, 4)


def test_engines_are_released_on_their_own_threads(capfd):
    # A failing task's traceback is kept by Dask and dropped later on another
    # thread; nothing on it may hold an engine, or the worker reports
    # "unsendable ... dropped on another thread" at shutdown.
    kernels = dask_batch.sample_kernels(str(DATA_DIR))
    request = dask_batch.Request(numpy.array([2451545.0, 2451546.0]), chunk_instants=1)
    failing = dask_batch.Kernels(kernels.kernel, additional=((kernels.kernel[0], "x" * 64),))
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=True,
                                  dashboard_address=":0", worker_dashboard_address=":0") as cluster:
        with distributed.Client(cluster):
            dask_batch.positions(kernels, ["sun"], request, dask_batch.Options.geometric())
            with pytest.raises(ValueError):
                dask_batch.positions(failing, ["sun"], request, dask_batch.Options.geometric())
    assert "unsendable" not in capfd.readouterr().err


# ------------------------------------------------------------------ the toolkit path


def test_toolkit_path_needs_only_paths_and_days_and_equals_one_engine(client, kernels):
    days = numpy.linspace(2450600.123, 2455000.987, 5001)
    options = dask_batch.Options.apparent_place("topocentric", "equatorial", SITE)
    expected = local_positions(BODIES, [tarvex.Instant.utc(day) for day in days],
                               tarvex.apparent("topocentric", "equatorial", tarvex.GeodeticObserver(*SITE)))
    # Uneven chunks, each run on two threads of its worker process.
    gathered = dask_batch.kit_positions(kernels, BODIES, days, "utc", options, chunk_instants=1300, threads=2)
    assert gathered.shape == expected.shape == (5001, 11, 4)
    assert gathered.dtype == numpy.float64 and gathered.flags.c_contiguous
    assert gathered.tobytes() == expected.tobytes()
    # The days may already be a Dask array; its chunks are the tasks.
    import dask.array

    lazy = dask.array.from_array(days, chunks=2000)
    again = dask_batch.kit_positions(kernels, BODIES, lazy, "utc", options, threads=1)
    assert again.tobytes() == expected.tobytes()
    # Both worker processes took part, each with one store for all its chunks.
    assert sorted(client.run(dask_batch.stores_opened).values()) == [1, 1]


def test_toolkit_path_reports_the_engine_messages(client, kernels):
    missing = str(DATA_DIR / "no_such_kernel.bsp")
    with pytest.raises(ValueError) as here:
        tarvex.open(missing, kernels.kernel[1])
    broken = dask_batch.Kernels((missing, kernels.kernel[1]))
    with pytest.raises(ValueError) as there:
        dask_batch.kit_positions(broken, ["sun"], numpy.array([2451545.0, 2451546.0]), "tt",
                                 dask_batch.Options.geometric(), chunk_instants=1)
    assert str(there.value) == str(here.value)
    # A request error from inside a chunk: the strict batch's message.
    with pytest.raises(ValueError, match="^Julian day 2460000.5 is outside kernel range"):
        dask_batch.kit_positions(kernels, ["sun"], numpy.array([2451545.0, 2460000.5]), "tt",
                                 dask_batch.Options.geometric(), chunk_instants=1)


def test_toolkit_path_keeps_empty_shapes():
    kernels = dask_batch.sample_kernels(str(DATA_DIR))
    empty = dask_batch.kit_positions(kernels, ["sun", "moon"], numpy.array([]), "tdb",
                                     dask_batch.Options.geometric(), scheduler="sync")
    assert empty.shape == (0, 2, 4)
    none = dask_batch.kit_positions(kernels, [], numpy.array([2451545.0]), "tdb", dask_batch.Options.geometric(),
                                    scheduler="sync")
    assert none.shape == (1, 0, 4)
