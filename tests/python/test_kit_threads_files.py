"""One Ephemeris for many threads, its files opened once: threads calling at
once, files renamed over, rewritten or truncated after opening, relative
paths after os.chdir, the merged Earth orientation cache damaged or planted,
Ctrl-C in the native loops, peak memory of the chunked array calls, and a
failed multi-threaded call. Each runs the real thing: threads, temporary
directories, child processes for signals and crashes."""

import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import textwrap
import threading
import warnings

import numpy as np
import pytest

import tarvex
import tarvexkit
from tarvexkit import data, held_files

from conftest import CHECKSUMS, DATA_DIR

TESTS = str(pathlib.Path(__file__).parent)
BODIES = ["sun", "moon", "mars", "jupiter", "saturn"]
SITE = tarvex.GeodeticObserver(13.4, 52.5, 40.0)


def copy_sample_files(directory):
    for name in ("de405s.bsp", "planet_centers_1997_2010.bsp", "naif0012.tls", "eop_c04_1962_2022.txt"):
        shutil.copyfile(DATA_DIR / name, directory / name)


def open_sample(directory, relative=False):
    def at(name):
        return name if relative else directory / name

    return tarvexkit.open(at("de405s.bsp"), additional_kernels=[at("planet_centers_1997_2010.bsp")],
                          leap_seconds=at("naif0012.tls"), eop=at("eop_c04_1962_2022.txt"))


def spoiled_kernel_bytes():
    """de405s with its Chebyshev coefficients scaled: a valid kernel whose
    positions differ. The records after the one summary and name record
    hold the segments; their integral words (record midpoints, radii, the
    directories) stay as they are."""
    raw = bytearray((DATA_DIR / "de405s.bsp").read_bytes())
    forward = int.from_bytes(raw[76:80], "little")
    start = (forward + 1) * 1024
    words = np.frombuffer(bytes(raw[start:]), dtype="<f8").copy()
    coefficient = np.isfinite(words) & (words != np.round(words))
    words[coefficient] *= 1.001
    raw[start:] = words.tobytes()
    return bytes(raw)


def spoiled_eop_text():
    """The EOP table with UT1-UTC scaled by 0.9 on every row."""
    rows = []
    for line in (DATA_DIR / "eop_c04_1962_2022.txt").read_text().splitlines():
        fields = line.split()
        if len(fields) >= 8 and not line.lstrip().startswith("#"):
            old = fields[7]
            line = line.replace(old, f"{float(old) * 0.9:.7f}".rjust(len(old)), 1)
        rows.append(line)
    return "\n".join(rows) + "\n"


def answers(eph, days):
    """Batches on several workers, the strict engine of a new thread, UT1
    and the horizon helper."""
    out = {"batch": eph.positions(BODIES, days, scale="tt", threads=4)}
    found = {}

    def strict():
        found["single"] = eph.engine.position("mars", tarvex.Instant.tt(float(days[3])), tarvex.apparent()).longitude_deg

    worker = threading.Thread(target=strict)
    worker.start()
    worker.join()
    out["single"] = found["single"]
    times = eph.times(days, "tt")
    out["ut1"] = times.ut1
    out["altaz"] = eph.altaz(["moon", "mars"], SITE, times[:50]).altitude_deg
    return out


def assert_same(first, second):
    for key in first:
        assert np.array_equal(np.asarray(first[key]), np.asarray(second[key])), key


# ------------------------------------------------------------------ many threads at once


def test_threads_share_one_ephemeris_with_single_threaded_bits(eph):
    rng = np.random.default_rng(5)
    requests = [(BODIES[: 1 + k % 5], np.sort(rng.uniform(2450800.0, 2454800.0, 300 + 97 * k))) for k in range(16)]
    expected = [eph.positions(bodies, days, scale="tt", threads=1) for bodies, days in requests]
    expected_ut1 = [eph.times(days, "tt").ut1 for _, days in requests]
    failures = []

    def client(k):
        try:
            for round_ in range(6):
                j = (k + round_) % len(requests)
                bodies, days = requests[j]
                got = eph.positions(bodies, days, scale="tt", threads=1 + round_ % 3)
                ut1 = eph.times(days, "tt").ut1
                one = eph.engine.position(bodies[0], eph.times(days[0], "tt").instants()[0], tarvex.apparent())
                if not (np.array_equal(got.view(np.uint64), expected[j].view(np.uint64))
                        and np.array_equal(ut1, expected_ut1[j])
                        and one.longitude_deg == expected[j][0, 0, 0]):
                    failures.append((k, round_, "differs"))
        except Exception as error:  # noqa: BLE001 - every failure is reported
            failures.append((k, repr(error)))

    clients = [threading.Thread(target=client, args=(k,)) for k in range(8)]
    for c in clients:
        c.start()
    for c in clients:
        c.join()
    assert failures == []


def test_a_short_call_is_not_held_up_by_a_long_one(eph):
    long_days = np.tile(np.linspace(2450800.0, 2454800.0, 4096), 200)
    done = threading.Event()
    outcome = {}

    def long_batch():
        outcome["shape"] = eph.positions(BODIES, long_days, scale="tt", threads=1).shape
        done.set()

    worker = threading.Thread(target=long_batch)
    worker.start()
    try:
        # Short calls of every kind while the long batch runs.
        short = eph.positions(["moon"], [2451545.0], scale="tt", threads=1)
        ut1 = eph.times([2451545.0], "tt").ut1
        overlapped = not done.is_set()
    finally:
        worker.join()
    assert overlapped, "the long batch ended before the short calls did: calls are serialised"
    assert short.shape == (1, 1, 4) and ut1.shape == (1,)
    assert outcome["shape"] == (len(long_days), len(BODIES), 4)


# ------------------------------------------------------------------ files opened once


def test_files_renamed_over_or_reached_from_another_directory_change_nothing(tmp_path, monkeypatch):
    first = tmp_path / "first"
    first.mkdir()
    copy_sample_files(first)
    monkeypatch.chdir(first)
    eph = open_sample(first, relative=True)
    days = np.linspace(2450800.0, 2454800.0, 5000)
    # Only the batch on one store, so that worker stores, the strict engine
    # of another thread and the horizon helper are all opened after the
    # files are replaced.
    reference_batch = eph.positions(BODIES, days, scale="tt", threads=1)

    # Different files under the same names, renamed over the originals.
    (tmp_path / "new.bsp").write_bytes(spoiled_kernel_bytes())
    os.replace(tmp_path / "new.bsp", first / "de405s.bsp")
    (tmp_path / "new.txt").write_text(spoiled_eop_text())
    os.replace(tmp_path / "new.txt", first / "eop_c04_1962_2022.txt")
    # ... and a relative path now names other files.
    second = tmp_path / "second"
    second.mkdir()
    copy_sample_files(second)
    (second / "de405s.bsp").write_bytes(spoiled_kernel_bytes())
    monkeypatch.chdir(second)

    after = answers(eph, days)
    assert np.array_equal(after["batch"], reference_batch)
    # The replaced files really differ: a fresh ephemeris over them disagrees.
    fresh = answers(open_sample(first), days)
    assert not np.array_equal(fresh["batch"], after["batch"])
    assert not np.array_equal(fresh["ut1"], after["ut1"])
    # What every part of the old ephemeris reads is what it recorded.
    clean = answers(open_sample(DATA_DIR), days)
    assert_same(after, clean)
    assert [f.sha256 for f in eph.files[:2]] == [CHECKSUMS[n] for n in ("de405s.bsp", "planet_centers_1997_2010.bsp")]
    # The time files are read as tarvexkit extends them to any date, made from the originals' bytes.
    assert [CHECKSUMS[n] in f.source for f, n in zip(eph.files[2:], ("naif0012.tls", "eop_c04_1962_2022.txt"))] == [
        True, True]
    assert eph.engine.kernel_metadata.kernel_name == "de405s.bsp"


def test_link_folder_removed_by_a_cleaner_is_made_again(tmp_path):
    copy_sample_files(tmp_path)
    eph = open_sample(tmp_path)
    days = np.linspace(2450800.0, 2454800.0, 5000)
    alone = eph.positions(BODIES, days, scale="tt", threads=1)
    folders = {f.handle._directory[0] for f in eph.files} - {None}
    assert folders
    for folder in folders:
        shutil.rmtree(folder)
    # New worker stores (a search on every CPU, a batch on more) open the kernels again.
    assert len(eph.risings_settings("moon", SITE, eph.utc(2005), eph.utc(2005, 3))) > 100
    assert np.array_equal(eph.positions(BODIES, days, scale="tt", threads=os.cpu_count() + 2), alone)


def test_engines_of_a_thread_pool_go_with_their_ephemeris(monkeypatch):
    import gc
    from concurrent.futures import ThreadPoolExecutor
    from tarvexkit import thread_engines

    reports = []
    monkeypatch.setattr(sys, "unraisablehook", lambda report: reports.append(str(report.exc_value)))

    def mapped_kernels():
        return sum("de405s.bsp" in line for line in pathlib.Path("/proc/self/maps").read_text().splitlines())

    workers = 4
    barrier = threading.Barrier(workers)

    def use(eph):
        barrier.wait()  # one task on each thread of the pool
        eph.engine.position("mars", tarvex.Instant.tt(2452000.0), tarvex.apparent())
        return thread_engines.engines_held_by_this_thread()

    with ThreadPoolExecutor(workers) as pool:
        baseline = mapped_kernels()
        for _ in range(12):
            eph = open_sample(DATA_DIR)
            held = list(pool.map(use, [eph] * workers))
            del eph
            gc.collect()
        # Each thread keeps the engine of the last ephemeris until it next asks for one.
        assert held == [1] * workers
        assert mapped_kernels() - baseline <= 2 * workers
    assert reports == []


def test_an_ephemeris_made_from_recorded_files_checks_their_digests(tmp_path):
    copy_sample_files(tmp_path)
    eph = open_sample(tmp_path)
    kernels = [f for f in eph.files if f.role in ("kernel", "additional kernel")]
    again = tarvexkit.Ephemeris([data.DataFile(f.role, f.path, f.sha256, f.source) for f in kernels])
    assert again.files == tuple(kernels)
    (tmp_path / "de405s.bsp").write_bytes(spoiled_kernel_bytes())
    with pytest.raises(ValueError, match=r"kernel file .*de405s\.bsp has SHA-256 [0-9a-f]{64}, not the recorded"):
        tarvexkit.Ephemeris([data.DataFile(f.role, f.path, f.sha256, f.source) for f in kernels])


CHANGED_CHILD = textwrap.dedent("""
    import os, sys
    import numpy as np
    sys.path.insert(0, {tests!r})
    import tarvexkit
    from tarvexkit import held_files
    import tarvex
    from test_kit_threads_files import BODIES, SITE, open_sample, spoiled_kernel_bytes
    directory = __import__("pathlib").Path({directory!r})
    if {shared!r}:
        held_files.PRIVATE_COPY_LIMIT_BYTES = 0
    eph = open_sample(directory)
    days = np.linspace(2450800.0, 2454800.0, 3000)
    before = eph.positions(BODIES, days, scale="tt", threads=2)
    kernel = directory / "de405s.bsp"
    # Only its status changed (a mode, a hard link): the content is unchanged.
    os.chmod(kernel, 0o640)
    os.link(kernel, directory / "linked.bsp")
    print("status", np.array_equal(eph.positions(BODIES, days, scale="tt", threads=2), before))
    # Rewritten in place, same length, its modification time put back (rsync
    # --inplace -t): every page differs.
    kept = os.stat(kernel)
    with open(kernel, "r+b") as f:
        f.write(spoiled_kernel_bytes())
    os.utime(kernel, ns=(kept.st_atime_ns, kept.st_mtime_ns))
    try:
        same = np.array_equal(eph.positions(BODIES, days, scale="tt", threads=2), before)
        print("rewritten", same)
    except held_files.FileChangedError as error:
        print("rewritten refused", "de405s.bsp" in str(error))
    # Truncated far below its length: every search, batch and engine is
    # refused (or, on a private copy, unaffected) instead of ending the process.
    os.truncate(kernel, 4096)
    start, stop = eph.utc(2005, 1, 1), eph.utc(2005, 2, 1)
    calls = {{
        "positions": lambda: eph.positions(BODIES, days, scale="tt", threads=3),
        "sign_ingresses": lambda: eph.sign_ingresses("moon", start, stop),
        "stations": lambda: eph.stations("mercury", start, eph.utc(2005, 6, 1)),
        "lunar_points": lambda: eph.lunar_points("true_node", days[:5], scale="tt"),
        "risings_settings": lambda: eph.risings_settings("moon", SITE, start, stop),
        "twilight": lambda: eph.twilight(SITE, start, stop),
        "chart": lambda: eph.chart(start, SITE),
        "engine": lambda: eph.engine.position("mars", tarvex.Instant.tt(2453000.0), tarvex.apparent()),
    }}
    for name, call in calls.items():
        try:
            call()
            print(name, "answered")
        except held_files.FileChangedError as error:
            print(name, "refused", "de405s.bsp" in str(error))
""")


@pytest.mark.parametrize("shared", [False, True], ids=["private copy", "shared original"])
def test_kernel_rewritten_or_truncated_while_open(tmp_path, shared):
    copy_sample_files(tmp_path)
    script = CHANGED_CHILD.format(tests=TESTS, directory=str(tmp_path), shared=shared)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, (done.returncode, done.stderr)
    lines = done.stdout.split("\n")
    assert lines[0] == "status True"
    searches = [line.split()[0] for line in lines[2:-1]]
    assert searches == ["positions", "sign_ingresses", "stations", "lunar_points", "risings_settings", "twilight",
                        "chart", "engine"]
    if shared:
        # The original is read in place: changes are detected before the
        # next call instead of changing results or killing the process.
        assert lines[1] == "rewritten refused True"
        assert {line.split(maxsplit=1)[1] for line in lines[2:-1]} == {"refused True"}
    else:
        assert lines[1] == "rewritten True"
        assert {line.split(maxsplit=1)[1] for line in lines[2:-1]} == {"answered"}


# ------------------------------------------------------------------ the merged EOP cache


@pytest.fixture
def iers_inputs(tmp_path, monkeypatch):
    cache = tmp_path / "cache"
    monkeypatch.setenv("TARVEXKIT_CACHE", str(cache))
    monkeypatch.setenv("TMPDIR", str(tmp_path / "tmp"))
    (tmp_path / "tmp").mkdir()
    c04, bulletin_a = data.default_iers_files()
    return c04, bulletin_a, cache


def dut1_rows(content):
    return [line for line in content.decode().splitlines() if line[:1].isdigit()]


def test_merged_cache_is_private_and_reused(iers_inputs):
    c04, bulletin_a, cache = iers_inputs
    built = data.merged_eop(c04, bulletin_a)
    assert built.path is not None and built.path.parent == cache
    assert os.stat(cache).st_mode & 0o777 == 0o700
    checksum = built.path.with_name(built.path.name + ".sha256")
    assert checksum.read_text().strip() == hashlib.sha256(built.path.read_bytes()).hexdigest() == built.sha256
    assert built.content == data.merged_eop_text(c04, bulletin_a).encode()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert data.merged_eop(c04, bulletin_a) == built


def cut_last_field(path):
    text = path.read_text()
    path.write_text(text.rstrip("\n")[:-4] + "\n")


def move_ut1(path):
    lines = path.read_text().splitlines(keepends=True)
    k = next(i for i, line in enumerate(lines) if line.startswith("2005"))
    fields = lines[k].split()
    lines[k] = lines[k].replace(fields[7], f"{float(fields[7]) + 0.5:.7f}".rjust(len(fields[7])), 1)
    path.write_text("".join(lines))


def link_elsewhere(path):
    other = path.with_name("other.txt")
    shutil.copyfile(DATA_DIR / "eop_c04_1962_2022.txt", other)
    path.unlink()
    path.symlink_to(other)
    # Even a checksum that matches the link's target does not make it trusted.
    path.with_name(path.name + ".sha256").write_text(hashlib.sha256(other.read_bytes()).hexdigest())


@pytest.mark.parametrize("damage", [cut_last_field, move_ut1, link_elsewhere])
def test_damaged_cache_is_named_and_rebuilt(iers_inputs, damage):
    c04, bulletin_a, _ = iers_inputs
    built = data.merged_eop(c04, bulletin_a)
    damage(built.path)
    with pytest.warns(RuntimeWarning, match=f"cached Earth orientation table {built.path}"):
        again = data.merged_eop(c04, bulletin_a)
    assert again.content == built.content and again.sha256 == built.sha256
    assert not built.path.is_symlink() and built.path.read_bytes() == built.content
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert data.merged_eop(c04, bulletin_a).content == built.content


def test_directory_in_place_of_the_cache_leaks_nothing(iers_inputs):
    c04, bulletin_a, cache = iers_inputs
    built = data.merged_eop(c04, bulletin_a)
    built.path.unlink()
    built.path.mkdir()
    for _ in range(3):
        with pytest.warns(RuntimeWarning, match=str(built.path)):
            table = data.merged_eop(c04, bulletin_a)
        assert table.path is None and table.content == built.content
    assert sorted(p.name for p in cache.iterdir()) == sorted([built.path.name, built.path.name + ".sha256"])


@pytest.mark.skipif(os.geteuid() != 0, reason="planting a file of another user needs chown")
def test_files_of_another_user_are_never_read(iers_inputs, tmp_path):
    c04, bulletin_a, cache = iers_inputs
    built = data.merged_eop(c04, bulletin_a)
    name = built.path.name
    planted = built.content.replace(b" 0.3", b" 0.8")
    assert planted != built.content

    def plant(directory):
        directory.mkdir(parents=True, exist_ok=True)
        (directory / name).write_bytes(planted)
        (directory / (name + ".sha256")).write_text(hashlib.sha256(planted).hexdigest())
        for path in (directory, directory / name, directory / (name + ".sha256")):
            os.chown(path, 4242, 4242)

    # The old fallback's place, and a cache directory owned by somebody else.
    plant(tmp_path / "tmp" / "tarvexkit")
    shutil.rmtree(cache)
    plant(cache)
    table = data.merged_eop(c04, bulletin_a)
    assert table.content == built.content and table.path is None
    # A planted file in the user's own directory is not trusted either.
    shutil.rmtree(cache)
    data.merged_eop(c04, bulletin_a)
    os.chown(cache / name, 4242, 4242)
    (cache / name).write_bytes(planted)
    with pytest.warns(RuntimeWarning, match="belongs to another user"):
        assert data.merged_eop(c04, bulletin_a).content == built.content


def test_load_reads_the_verified_table_from_memory(iers_inputs):
    c04, bulletin_a, _ = iers_inputs
    eph = tarvexkit.load()
    (table,) = [f for f in eph.files if f.role == "earth orientation"]
    built = data.merged_eop(c04, bulletin_a)
    # The engine reads the merged table as extended to any date, made from its verified bytes.
    assert built.sha256 in table.source and table.path.startswith(str(built.path.parent))
    when = eph.utc(2020, 6, 1)
    ut1 = float(when.ut1)
    # The cache file changing afterwards changes nothing in this ephemeris.
    move_ut1(built.path)
    assert float(eph.utc(2020, 6, 1).ut1) == ut1


def test_a_cache_directory_not_made_private_is_refused_never_chmodded(iers_inputs):
    c04, bulletin_a, cache = iers_inputs
    cache.mkdir(mode=0o755)
    os.chmod(cache, 0o755)
    with pytest.warns(RuntimeWarning, match=f"cache directory {cache} is open to other users .*chmod 700"):
        table = data.merged_eop(c04, bulletin_a)
    assert table.path is None and os.stat(cache).st_mode & 0o777 == 0o755 and not any(cache.iterdir())
    # Private: used; a sidecar far longer than a SHA-256 is not read whole.
    os.chmod(cache, 0o700)
    built = data.merged_eop(c04, bulletin_a)
    sidecar = built.path.with_name(built.path.name + ".sha256")
    sidecar.write_text(built.sha256 + " " * 10_000_000)
    with pytest.warns(RuntimeWarning, match="holds more than 256 bytes"):
        assert data.merged_eop(c04, bulletin_a).content == built.content


def test_unpickled_times_keep_their_ephemeris_only_while_used():
    import gc
    import pickle

    from tarvexkit import ephemeris

    eph = tarvexkit.open(DATA_DIR / "de405s.bsp", leap_seconds=DATA_DIR / "naif0012.tls",
                         eop=DATA_DIR / "eop_c04_1962_2022.txt")
    text = pickle.dumps(eph.utc(2005, 1, np.arange(3)))
    first, second = pickle.loads(text), pickle.loads(text)
    assert first._clock is second._clock and eph.recipe in ephemeris._REOPENED
    assert first[1] == eph.utc(2005, 1, 1) and first[1].ut1 == eph.utc(2005, 1, 1).ut1
    del first, second
    gc.collect()
    assert eph.recipe not in ephemeris._REOPENED


# ------------------------------------------------------------------ Ctrl-C in every native loop

SIGNAL_CHILD = textwrap.dedent("""
    import os, signal, subprocess, sys, time
    import numpy as np
    sys.path.insert(0, {tests!r})
    import tarvexkit
    from conftest import DATA_DIR
    signal.signal(signal.SIGINT, signal.default_int_handler)
    eph = tarvexkit.open(DATA_DIR / "de405s.bsp", leap_seconds=DATA_DIR / "naif0012.tls",
                         eop=DATA_DIR / "eop_c04_1962_2022.txt")
    n = {n}
    days = np.linspace(2450000.0, 2459000.0, n)
    if {what!r} == "ut1":
        times = eph.times(days, "utc")
        run = lambda: times.ut1
    elif {what!r} == "sky":
        # The astrology loops hold the interpreter lock and look for signals.
        run = lambda: tarvexkit._native.site_sky(days, days, np.zeros(n))
    elif {what!r} in ("twilight", "risings"):
        # Native searches on worker threads, the interpreter lock released.
        import tarvex
        site = tarvex.GeodeticObserver(13.4, 52.5, 40.0)
        start, stop = eph.utc(1997, 2), eph.utc(2009, 12)
        if {what!r} == "twilight":
            run = lambda: eph.twilight(site, start, stop)
        else:
            run = lambda: eph.risings_settings("moon", site, start, stop)
    else:
        rotation = eph._earth_rotation()
        ra = np.linspace(0.0, 360.0, n)
        dec = np.linspace(-30.0, 30.0, n)
        run = lambda: rotation.horizon(days, "utc", ra, dec, 13.4, 52.5, 40.0)
    # Another process sends the signal, as a terminal does: a thread of this
    # one could not while a loop holds the interpreter lock.
    sender = subprocess.Popen([sys.executable, "-c",
                               "import os, signal, sys, time; time.sleep(0.5); print(time.time(), flush=True); "
                               f"os.kill({{os.getpid()}}, signal.SIGINT)"], stdout=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 60.0
        while time.monotonic() < deadline:
            run()
        print("finished")
    except KeyboardInterrupt:
        seen = time.time()
        print("interrupted", seen - float(sender.stdout.readline()))
    sender.wait()
""")


@pytest.mark.parametrize("what, n", [("ut1", 20_000_000), ("horizon", 2_000_000), ("sky", 2_000_000),
                                     ("twilight", 1), ("risings", 1)])
def test_ctrl_c_stops_native_loops_within_a_fifth_of_a_second(what, n):
    script = SIGNAL_CHILD.format(tests=TESTS, what=what, n=n)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=180)
    assert done.returncode == 0, done.stderr
    words = done.stdout.split()
    assert words[0] == "interrupted", done.stdout
    assert float(words[1]) < 0.2, words[1]


# ------------------------------------------------------------------ memory of array calls

MEMORY_CHILD = textwrap.dedent("""
    import dataclasses, sys, tracemalloc
    import numpy as np
    sys.path.insert(0, {tests!r})
    import tarvexkit
    from conftest import DATA_DIR
    eph = tarvexkit.open(DATA_DIR / "de405s.bsp", leap_seconds=DATA_DIR / "naif0012.tls")
    times = eph.times(np.linspace(2450800.0, 2454800.0, {n}), "tt")
    tdb = times.tdb
    tracemalloc.start()
    if {what!r} == "lunar_points":
        result = eph.lunar_points(["true_node", "osculating_apogee", "mean_node", "mean_apogee"], times)
        size = result.nbytes
    else:
        result = eph.moon_phase(times)
        size = sum(np.asarray(getattr(result, f.name)).nbytes for f in dataclasses.fields(result))
    peak = tracemalloc.get_traced_memory()[1]
    print(peak / size)
""")


@pytest.mark.parametrize("what", ["lunar_points", "moon_phase"])
def test_array_calls_peak_within_twice_their_result(what):
    script = MEMORY_CHILD.format(tests=TESTS, what=what, n=400_000)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert float(done.stdout) <= 2.0, done.stdout


# ------------------------------------------------------------------ a failed multi-threaded call

FAILED_CHILD = textwrap.dedent("""
    import os, resource, sys
    import numpy as np
    sys.path.insert(0, {tests!r})
    import tarvex
    from conftest import CHECKSUMS
    from tarvexkit._native import Store
    directory = {directory!r}
    kernel = os.path.join(directory, "de405s.bsp")
    extra = os.path.join(directory, "planet_centers_1997_2010.bsp")
    store = Store([(kernel, CHECKSUMS["de405s.bsp"]), (extra, CHECKSUMS["planet_centers_1997_2010.bsp"])])
    days = np.linspace(2450800.0, 2454800.0, 2048 * 32)

    def mapped():
        with open("/proc/self/maps") as f:
            return sum(kernel in line for line in f)

    def descriptors():
        return len(os.listdir("/proc/self/fd"))

    one = store.positions(["mars"], days, "tt", tarvex.apparent(), threads=1)
    base = descriptors()
    # A few descriptors to spare only: stores must not keep one each, and
    # whatever happens the call leaves none behind.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (base + 4, hard))
    try:
        many = store.positions(["mars"], days, "tt", tarvex.apparent(), threads=16)
        print("limited", np.array_equal(many, one), descriptors() == base)
    except ValueError as error:
        print("limited", error, descriptors() == base)
    resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
    base = (mapped(), descriptors())
    # The additional kernel gone: each new store fails after its primary
    # kernel opened, and must let it go.
    os.unlink(extra)
    try:
        store.positions(["mars"], days, "tt", tarvex.apparent(), threads=32)
        print("no error")
    except ValueError as error:
        print("refused", "No such file" in str(error))
    print("released", (mapped(), descriptors()) == base)
    # The store is whole: its own store still answers, bit for bit.
    again = store.positions(["mars"], days, "tt", tarvex.apparent(), threads=1)
    print("same", np.array_equal(one, again))
""")


def test_a_failed_multi_threaded_call_releases_its_stores(tmp_path):
    copy_sample_files(tmp_path)
    script = FAILED_CHILD.format(tests=TESTS, directory=str(tmp_path))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split("\n")[:4] == ["limited True True", "refused True", "released True", "same True"], \
        done.stdout


def test_held_files_leave_nothing_behind(tmp_path):
    copy_sample_files(tmp_path)
    eph = open_sample(tmp_path)
    eph.engine  # noqa: B018 - opens the links
    links = {pathlib.Path(f.reader()).parent for f in eph.files}
    assert all(d.is_dir() and os.stat(d).st_mode & 0o777 == 0o700 for d in links)
    del eph
    import gc

    gc.collect()
    assert not any(d.exists() for d in links)
    assert held_files.PRIVATE_COPY_LIMIT_BYTES >= 1 << 30


# ------------------------------------------------------------------ inputs answered wrongly before

SPAN = ((2005, 1, 1), (2005, 2, 1))


def bad_calls(eph):
    t = eph.utc(2005, 1, 1)
    start, stop = (eph.utc(*d) for d in SPAN)
    big = "x" * 10_000_000
    return [
        ("year", ValueError, lambda: eph.utc(np.uint64(2**64 - 1))),
        ("lower", TypeError, lambda: eph.transits("sun", SITE, start, stop, lower="yes")),
        ("temperature", ValueError, lambda: eph.altaz("sun", SITE, t, refraction=(-272.9, 1010.0))),
        ("pressure", ValueError, lambda: eph.altaz("sun", SITE, t, refraction=(10.0, 1e9))),
        ("times", TypeError, lambda: eph.positions("sun", [2451545.0 + 1j], scale="tt")),
        ("times", TypeError, lambda: eph.positions("sun", np.ma.masked_array([2451545.0, 1.0], mask=[0, 1]),
                                                    scale="tt")),
        ("julian_days", TypeError, lambda: eph.times(np.ma.masked_array([2451545.0], mask=[1]), "tt")),
        ("times", ValueError, lambda: eph.ayanamsha_deg("lahiri", eph.times(1e20, "tt"))),
        ("times", ValueError, lambda: eph.ayanamsha_deg("lahiri", eph.times(1e300, "tt"))),
        ("iso", ValueError, lambda: eph.times(1e15, "tt").iso()),
        ("places", ValueError, lambda: t.iso(places=10)),
        ("places", ValueError, lambda: t.iso(places=-1)),
        ("step_days", ValueError, lambda: eph.sign_ingresses("sun", start, stop, step_days=0)),
        ("step_days", TypeError, lambda: eph.stations("mars", start, stop, step_days=True)),
        ("bodies", TypeError, lambda: eph.chart(t, SITE, bodies="sun")),
        ("aspects", TypeError, lambda: eph.aspects("sun", "moon", start, stop, aspects="square")),
        ("options", TypeError, lambda: eph.positions("sun", t, options="apparent")),
        ("site", TypeError, lambda: eph.houses(None, t)),
        ("body", TypeError, lambda: eph.rise_set_transit(None, SITE, t)),
        ("body", TypeError, lambda: eph.next_horizon_event(None, SITE, t, "rise")),
        ("bodies", ValueError, lambda: eph.positions(big, t)),
        ("points", ValueError, lambda: eph.lunar_points([big], t)),
        ("body", ValueError, lambda: eph.risings_settings(big, SITE, start, stop)),
    ]


def test_bad_inputs_raise_errors_that_name_the_argument(eph):
    for k, (argument, kind, call) in enumerate(bad_calls(eph)):
        with pytest.raises(kind) as raised:
            call()
        message = str(raised.value)
        assert argument in message and len(message) < 400, (k, message[:400])


def test_damaged_files_are_refused_at_opening_naming_the_file(tmp_path):
    copy_sample_files(tmp_path)
    raw = (DATA_DIR / "de405s.bsp").read_bytes()
    (tmp_path / "de405s.bsp").write_bytes(raw[: len(raw) * 2 // 3])
    with pytest.raises(ValueError, match=r"kernel file .*de405s\.bsp: the kernel de405s\.bsp is truncated"):
        open_sample(tmp_path)
    (tmp_path / "de405s.bsp").write_bytes(raw)
    # One row since 1972 with UT1-UTC of 0.95 s.
    lines = (DATA_DIR / "eop_c04_1962_2022.txt").read_text().splitlines(keepends=True)
    k = next(i for i, line in enumerate(lines) if line.startswith("2003"))
    fields = lines[k].split()
    lines[k] = lines[k].replace(fields[7], "0.9500000".rjust(len(fields[7])), 1)
    (tmp_path / "eop_c04_1962_2022.txt").write_text("".join(lines))
    with pytest.raises(ValueError, match=r"earth orientation file .*eop_c04_1962_2022\.txt: .*MJD 52640 has UT1-UTC "
                                         r"0\.95 s"):
        open_sample(tmp_path)
    # A table cut in a row: the parser's message, prefixed with the file.
    (tmp_path / "eop_c04_1962_2022.txt").write_text("".join(lines[:k]) + lines[k][:30] + "\n")
    with pytest.raises(ValueError, match=r"^the earth orientation file .*eop_c04_1962_2022\.txt: "):
        open_sample(tmp_path)
