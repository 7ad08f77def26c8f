"""Engine and open(): construction with the time-kernel pairs, attaching
files, the closed state after a failed attachment, single positions, the
order in which failures are reported, thread binding and borrows."""

import collections.abc
import gc
import struct
import sys
import threading

import pytest

import tarvex
from conftest import CHECKSUMS, DATA_DIR, data_file

KERNEL = data_file("de405s.bsp")
CENTERS = data_file("planet_centers_1997_2010.bsp")
LSK = data_file("naif0012.tls")
EOP = data_file("eop_c04_1962_2022.txt")
EOP_1999 = data_file("eop_20c04_excerpt_1999.txt")
J2000 = tarvex.Instant(2451545.0)
GEOMETRIC = tarvex.geometric()
APPARENT = tarvex.apparent()
CLOSED = "engine is closed"


def value_error(call):
    with pytest.raises(ValueError) as info:
        call()
    return str(info.value)


def position_tuple(position):
    return (position.longitude_deg, position.latitude_deg, position.distance_au,
            position.longitude_speed_deg_per_day)


@pytest.fixture
def closed_engine(tmp_path):
    """An engine whose additional-kernel attachment failed inside the store:
    the file opens (its file record is valid) but its summary layout
    (ND = 3) cannot be listed."""
    engine = tarvex.Engine(*KERNEL)
    data = bytearray((DATA_DIR / "de405s.bsp").read_bytes())
    data[8:12] = struct.pack("<i", 3)
    malformed = tmp_path / "nd3.bsp"
    malformed.write_bytes(bytes(data))
    message = value_error(lambda: engine.with_additional_kernel_file(str(malformed), "A" * 64))
    assert message == "unsupported SPK summary layout ND=3, NI=6"
    return engine


# ------------------------------------------------------------ class surface

def test_docstrings_and_signatures():
    assert tarvex.Engine.__text_signature__ == (
        "(path, sha256, leap_second_kernel=None, leap_second_sha256=None, eop=None, eop_sha256=None)")
    assert tarvex.Engine.__doc__ == (
        "Open SPK kernel and evaluate geometric or apparent spherical positions.")
    assert tarvex.open.__text_signature__ == tarvex.Engine.__text_signature__
    assert tarvex.open.__module__ == "tarvex"
    assert tarvex.open.__doc__ == (
        "Opens an SPK/BSP kernel. `sha256` is the caller-verified 64-hex checksum.\n\n"
        "Pass `leap_second_kernel` / `leap_second_sha256` for UTC, and `eop` /\n"
        "`eop_sha256` as well for UT1 and topocentric polar motion. The same files\n"
        "can be attached later with [`PyEngine::with_time_kernels`].")
    methods = {
        "with_leap_second_kernel": ("($self, path, sha256)",
                                    "Attach a NAIF leap-second kernel so UTC (and UT1 with EOP) convert."),
        "with_eop": ("($self, path, sha256)", "Attach an IERS EOP 20 C04 table for UT1 and polar motion."),
        "with_time_kernels": ("($self, leap_second_kernel, leap_second_sha256, eop, eop_sha256)",
                              "Attach both an LSK and an EOP table."),
        "with_additional_kernel_file": (
            "($self, path, sha256)",
            "Attach an extra planet-center SPK. The primary kernel still wins for\n"
            "any body and epoch it already covers. `sha256` is caller-verified."),
        "position": ("($self, body, instant, options)", "One spherical position for a named body."),
    }
    for name, (signature, description) in methods.items():
        method = getattr(tarvex.Engine, name)
        assert method.__text_signature__ == signature
        assert method.__doc__ == description
    batch = tarvex.Engine.positions.__doc__
    assert batch.startswith(
        "Batch positions as a `NumPy` array of shape `(n_instants, n_bodies, 4)`.\n\n"
        "Columns are longitude (deg), latitude (deg), distance (au), and\n"
        "longitude speed (deg/day). Layout is instant-major,")
    assert tarvex.Engine.supported_range.__doc__ is None
    assert tarvex.Engine.kernel_metadata.__doc__ is None
    own = [name for name in vars(tarvex.Engine) if not name.startswith("_")]
    assert own[:6] == ["with_leap_second_kernel", "with_eop", "with_time_kernels",
                       "with_additional_kernel_file", "position", "positions"]
    assert {"supported_range", "kernel_metadata"} <= set(own)
    # The two attributes sit between the position methods and the event methods.
    assert own[6:] == ["supported_range", "kernel_metadata", "rise_set_transit",
                       "next_horizon_event", "next_season_event", "next_lunation",
                       "sidereal_position"]


def test_engine_cannot_be_subclassed_and_has_no_dict(bare_engine):
    with pytest.raises(TypeError):
        type("Sub", (tarvex.Engine,), {})
    with pytest.raises(AttributeError):
        bare_engine.anything = 1
    with pytest.raises(AttributeError):
        bare_engine.supported_range = None


# ------------------------------------------------------------ construction

def test_open_and_constructor_are_equivalent():
    by_class = tarvex.Engine(*KERNEL, *LSK, *EOP)
    by_function = tarvex.open(KERNEL[0], sha256=KERNEL[1], leap_second_kernel=LSK[0],
                              leap_second_sha256=LSK[1], eop=EOP[0], eop_sha256=EOP[1])
    assert type(by_function) is tarvex.Engine
    assert repr(by_class) == repr(by_function) == (
        f'Engine(kernel_name="de405s.bsp", kernel_sha256="{KERNEL[1]}")')
    assert by_class.kernel_metadata.as_dict() == by_function.kernel_metadata.as_dict()
    assert repr(by_class.supported_range) == repr(by_function.supported_range)
    utc = tarvex.Instant.utc(2453000.25)
    site = tarvex.apparent("topocentric", observer=tarvex.GeodeticObserver(10.0, 50.0, 300.0))
    assert position_tuple(by_class.position("moon", utc, site)) == position_tuple(
        by_function.position("moon", utc, site))


def test_metadata_and_range():
    engine = tarvex.Engine(KERNEL[0], KERNEL[1].upper())
    metadata = engine.kernel_metadata
    assert metadata.kernel_sha256 == KERNEL[1]
    assert (metadata.engine_version, metadata.kernel_name, metadata.coordinate_frame) == (
        "0.1.0", "de405s.bsp", "ICRF/J2000")
    assert metadata.as_dict()["additional_kernels"] == []
    assert engine.kernel_metadata is not metadata
    span = engine.supported_range
    assert span.time_scale == "tdb"
    assert 2450449.5 <= span.start_julian_day < span.end_julian_day <= 2455198.51
    # A metadata copy taken before an attachment keeps its old content.
    engine.with_additional_kernel_file(CENTERS[0], CENTERS[1].upper())
    assert metadata.additional_kernels() == []
    assert engine.kernel_metadata.additional_kernels() == [
        ("planet_centers_1997_2010.bsp", CENTERS[1])]


def test_constructor_pairs():
    missing = str(DATA_DIR / "missing.bsp")
    # The SPK kernel is opened first: its error hides a mismatched pair.
    message = value_error(lambda: tarvex.Engine(missing, KERNEL[1], leap_second_kernel=LSK[0]))
    assert message.startswith("failed to read SPK kernel")
    assert value_error(lambda: tarvex.Engine(*KERNEL, leap_second_kernel=LSK[0])) == (
        "leap_second_kernel and leap_second_sha256 must be supplied together")
    assert value_error(lambda: tarvex.open(*KERNEL, leap_second_sha256=LSK[1])) == (
        "leap_second_kernel and leap_second_sha256 must be supplied together")
    # The leap-second pair is judged before the EOP pair.
    assert value_error(lambda: tarvex.Engine(*KERNEL, leap_second_kernel=LSK[0], eop=EOP[0])) == (
        "leap_second_kernel and leap_second_sha256 must be supplied together")
    assert value_error(lambda: tarvex.Engine(*KERNEL, eop_sha256=EOP[1])) == (
        "eop and eop_sha256 must be supplied together")
    assert value_error(lambda: tarvex.Engine(*KERNEL, *LSK, eop=EOP[0])) == (
        "eop and eop_sha256 must be supplied together")
    # Explicit None means omitted.
    tarvex.Engine(*KERNEL, None, None, None, None)
    # A bad leap-second file is reported with the file's own error.
    assert value_error(lambda: tarvex.Engine(*KERNEL, KERNEL[0], LSK[1]))
    assert value_error(lambda: tarvex.Engine(KERNEL[0], "abc")) != ""


def test_eop_without_leap_seconds_opens_but_utc_fails():
    engine = tarvex.Engine(*KERNEL, eop=EOP[0], eop_sha256=EOP[1])
    assert value_error(lambda: engine.position("sun", tarvex.Instant.utc(2451545.0), GEOMETRIC)) == (
        "conversion from Utc to TDB is not implemented")
    engine.position("sun", tarvex.Instant.tt(2451545.0), GEOMETRIC)


def test_leap_second_kernel_with_a_non_finite_constant_is_refused(tmp_path, bare_engine):
    original = (DATA_DIR / "naif0012.tls").read_text()
    for line, value, keyword in [
        ("DELTET/K               =    1.657D-3", "DELTET/K = NAN", "DELTET/K"),
        ("DELTET/DELTA_T_A       =   32.184", "DELTET/DELTA_T_A = INF", "DELTET/DELTA_T_A"),
        ("DELTET/DELTA_AT        = ( 10,   @1972-JAN-1", "DELTET/DELTA_AT = ( nan, @1972-JAN-1",
         "DELTET/DELTA_AT"),
    ]:
        assert line in original
        path = tmp_path / "bad.tls"
        path.write_text(original.replace(line, value))
        message = f"leap-second kernel value {keyword} must be finite"
        assert value_error(lambda: tarvex.Engine(*KERNEL, str(path), LSK[1])) == message
        assert value_error(lambda: bare_engine.with_leap_second_kernel(str(path), LSK[1])) == message
    # Nothing was attached: UTC still needs a kernel.
    assert value_error(lambda: bare_engine.position("sun", tarvex.Instant.utc(2451545.0), GEOMETRIC)) == (
        "conversion from Utc to TDB is not implemented")


def test_constructor_binding_and_conversion():
    with pytest.raises(TypeError, match=r"^Engine.__new__\(\) missing 1 required positional "
                                        r"argument: 'sha256'$"):
        tarvex.Engine(KERNEL[0])
    with pytest.raises(TypeError, match=r"^open\(\) takes from 2 to 6 positional arguments but 7 "
                                        r"were given$"):
        tarvex.open(*KERNEL, *LSK, *EOP, None)
    with pytest.raises(TypeError) as info:
        tarvex.open(*KERNEL, eop=b"eop")
    assert str(info.value) == "'bytes' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'eop'"]


# ------------------------------------------------------------ attaching

def test_time_kernels_attach_in_place(bare_engine):
    utc = tarvex.Instant.utc(2453000.5)
    ut1 = tarvex.Instant.ut1(2453000.5)
    assert value_error(lambda: bare_engine.position("sun", utc, GEOMETRIC)) == (
        "conversion from Utc to TDB is not implemented")
    same = bare_engine
    assert bare_engine.with_leap_second_kernel(*LSK) is None
    same.position("sun", utc, GEOMETRIC)
    assert value_error(lambda: bare_engine.position("sun", ut1, GEOMETRIC)) == (
        "UT1 requires an Earth orientation table (DUT1); attach one with SpkEphemeris::with_eop")
    # The 1999 excerpt does not cover 2004; a later table replaces it.
    assert bare_engine.with_eop(*EOP_1999) is None
    with pytest.raises(ValueError):
        bare_engine.position("sun", ut1, GEOMETRIC)
    assert bare_engine.with_eop(*EOP) is None
    bare_engine.position("sun", ut1, GEOMETRIC)
    assert bare_engine.with_time_kernels(*LSK, *EOP) is None
    bare_engine.position("sun", ut1, GEOMETRIC)


def test_unreadable_time_files_leave_the_engine_as_it_was(bare_engine):
    bare_engine.with_time_kernels(*LSK, *EOP)
    ut1 = tarvex.Instant.ut1(2453000.5)
    before = position_tuple(bare_engine.position("moon", ut1, APPARENT))
    for call in [
        lambda: bare_engine.with_leap_second_kernel(EOP[0], LSK[1]),
        lambda: bare_engine.with_eop(LSK[0], EOP[1]),
        lambda: bare_engine.with_eop(EOP[0], "12"),
        lambda: bare_engine.with_time_kernels(*LSK, LSK[0], EOP[1]),
        lambda: bare_engine.with_time_kernels(EOP[0], LSK[1], *EOP),
    ]:
        value_error(call)
    assert position_tuple(bare_engine.position("moon", ut1, APPARENT)) == before


def test_additional_kernel_checks_come_before_the_file(bare_engine):
    missing = str(DATA_DIR / "missing.bsp")
    bad_checksum = "kernel SHA-256 must contain exactly 64 hexadecimal characters"
    for sha256 in ["a" * 63, "a" * 65, "g" * 64, "", "a" * 62 + "é"]:
        assert value_error(lambda: bare_engine.with_additional_kernel_file(missing, sha256)) == (
            bad_checksum)
    for path in ["", "/", "kernels/..", str(DATA_DIR / "..")]:
        assert value_error(lambda: bare_engine.with_additional_kernel_file(path, "a" * 64)) == (
            "kernel path has no UTF-8 filename")
    # An unreadable file leaves the engine usable and unchanged.
    assert value_error(lambda: bare_engine.with_additional_kernel_file(missing, "a" * 64)).startswith(
        "failed to read SPK kernel")
    assert value_error(lambda: bare_engine.with_additional_kernel_file(*LSK)).startswith(
        "expected DAF/SPK file identifier")
    assert bare_engine.kernel_metadata.additional_kernels() == []
    bare_engine.position("mars", J2000, GEOMETRIC)


def test_outer_planets_need_the_planet_center_kernel(bare_engine):
    with pytest.raises(ValueError):
        bare_engine.position("jupiter", J2000, GEOMETRIC)
    assert bare_engine.with_additional_kernel_file(*CENTERS) is None
    jupiter = bare_engine.position("jupiter", J2000, GEOMETRIC)
    assert 4.0 < jupiter.distance_au < 6.5


def test_closed_engine_refuses_everything(closed_engine, tmp_path):
    for call in [
        lambda: repr(closed_engine),
        lambda: closed_engine.supported_range,
        lambda: closed_engine.kernel_metadata,
        lambda: closed_engine.position("sun", J2000, GEOMETRIC),
        lambda: closed_engine.positions(["sun"], [J2000], GEOMETRIC),
        lambda: closed_engine.positions([], [], GEOMETRIC),
        lambda: closed_engine.with_leap_second_kernel(*LSK),
        lambda: closed_engine.with_eop(*EOP),
        lambda: closed_engine.with_time_kernels(*LSK, *EOP),
        lambda: closed_engine.with_additional_kernel_file(*CENTERS),
    ]:
        assert value_error(call) == CLOSED
    # Conversions, names and file errors still come first.
    assert value_error(lambda: closed_engine.position("Vulcan", J2000, GEOMETRIC)) == (
        'unknown body "vulcan"')
    with pytest.raises(TypeError):
        closed_engine.position("sun", 2451545.0, GEOMETRIC)
    assert value_error(lambda: closed_engine.with_additional_kernel_file(CENTERS[0], "x")) == (
        "kernel SHA-256 must contain exactly 64 hexadecimal characters")
    assert value_error(lambda: closed_engine.with_leap_second_kernel(EOP[0], LSK[1])) != CLOSED
    # Closed for good.
    assert value_error(lambda: repr(closed_engine)) == CLOSED
    assert "Engine" in object.__repr__(closed_engine)


def test_truncated_kernel_also_closes_the_engine(bare_engine, tmp_path):
    # Only the file record: the summary chain points past the end.
    truncated = tmp_path / "record_only.bsp"
    truncated.write_bytes((DATA_DIR / "de405s.bsp").read_bytes()[:1024])
    assert value_error(lambda: bare_engine.with_additional_kernel_file(str(truncated), "0" * 64)) != CLOSED
    assert value_error(lambda: bare_engine.position("sun", J2000, GEOMETRIC)) == CLOSED


# ------------------------------------------------------------ positions

def test_body_names_are_normalised(shared_engine):
    results = {position_tuple(shared_engine.position(name, J2000, APPARENT))
               for name in ["Sun", "SUN", "sun", " sun\t"]}
    assert len(results) == 1
    assert value_error(lambda: shared_engine.position(" Vulcan ", J2000, APPARENT)) == (
        'unknown body "vulcan"')


def test_engine_errors_become_value_errors(shared_engine):
    span = shared_engine.supported_range
    late = tarvex.Instant(span.end_julian_day + 1.0)
    assert value_error(lambda: shared_engine.position("sun", late, GEOMETRIC)).startswith(
        f"Julian day {span.end_julian_day + 1.0} is outside kernel range ")
    assert value_error(lambda: shared_engine.position("earth", J2000, GEOMETRIC)) == (
        "spherical coordinates are undefined when target and origin are identical")
    wrong = tarvex.PositionOptions("geocentric", "ecliptic", apparent=True)
    assert value_error(lambda: shared_engine.position("sun", J2000, wrong)) == (
        "apparent requires reference_epoch: OfDate")


def test_query_failures_in_order(shared_engine):
    with pytest.raises(TypeError, match=r"^Engine.position\(\) missing 1 required positional "
                                        r"argument: 'options'$"):
        shared_engine.position("sun", J2000)
    with pytest.raises(TypeError, match=r"^Engine.position\(\) got an unexpected keyword "
                                        r"argument 'bodies'$"):
        shared_engine.position(bodies="sun", instant=J2000, options=GEOMETRIC)
    # Parameters convert in order; body names are parsed only afterwards.
    with pytest.raises(TypeError) as info:
        shared_engine.position("vulcan", J2000, None)
    assert info.value.__notes__ == ["while processing 'options'"]
    with pytest.raises(TypeError) as info:
        shared_engine.position(1, 2451545.0, GEOMETRIC)
    assert info.value.__notes__ == ["while processing 'body'"]
    position = shared_engine.position(options=APPARENT, body="moon", instant=J2000)
    assert position_tuple(position) == position_tuple(shared_engine.position("moon", J2000, APPARENT))


# ------------------------------------------------------------ threads and borrows

def run_in_thread(call, collect=True):
    # Reference cycles of earlier tests (a failed call's traceback holds the
    # frames that hold their engines) are collected here, on the engines'
    # own thread: a collection that the worker happened to trigger would drop
    # them on the wrong thread and report it.
    if collect:
        gc.collect()
    outcome = {}

    def target():
        try:
            outcome["value"] = call()
        except BaseException as error:  # PanicException derives from BaseException
            outcome["error"] = error

    thread = threading.Thread(target=target)
    thread.start()
    thread.join()
    return outcome


def test_engine_is_bound_to_its_thread(shared_engine, monkeypatch):
    sent = "tarvex::PyEngine is unsendable, but sent to another thread"
    for call in [
        lambda: repr(shared_engine),
        lambda: shared_engine.supported_range,
        lambda: shared_engine.position("sun", J2000, GEOMETRIC),
        lambda: shared_engine.position("sun", 2451545.0, None),  # conversion comes later
        lambda: shared_engine.positions("sun", [J2000], GEOMETRIC),
        lambda: shared_engine.with_eop(*EOP),
    ]:
        error = run_in_thread(call)["error"]
        assert not isinstance(error, Exception)
        assert isinstance(error, BaseException) and type(error).__name__ == "PanicException"
        assert sent in str(error)
    # Binding errors come before the thread check.
    assert isinstance(run_in_thread(lambda: shared_engine.position())["error"], TypeError)
    # An engine created on another thread belongs to that thread.
    foreign = run_in_thread(lambda: tarvex.Engine(*KERNEL))["value"]
    with pytest.raises(BaseException, match="sent to another thread"):
        foreign.position("sun", J2000, GEOMETRIC)
    reports = []
    monkeypatch.setattr(sys, "unraisablehook", reports.append)
    del foreign  # dropped here, on a thread that is not its creator
    assert [str(report.exc_value) for report in reports] == [
        "tarvex::PyEngine is unsendable, but is being dropped on another thread"]
    # The engine still works on its own thread.
    shared_engine.position("sun", J2000, GEOMETRIC)


def test_a_later_thread_never_passes_for_the_finished_creator(monkeypatch):
    # glibc hands a finished thread's id to the next thread, so the creator
    # of an engine made on a joined worker is indistinguishable by id from
    # the thread started after it.
    mine = tarvex.Engine(*KERNEL)
    expected = position_tuple(mine.position("sun", J2000, GEOMETRIC))
    gc.collect()  # see run_in_thread; the loop leaves no engine in a cycle
    for _ in range(50):
        foreign = run_in_thread(lambda: tarvex.Engine(*KERNEL), collect=False)["value"]
        error = run_in_thread(lambda: foreign.position("sun", J2000, GEOMETRIC), collect=False)["error"]
        assert type(error).__name__ == "PanicException"
        assert "tarvex::PyEngine is unsendable, but sent to another thread" in str(error)
        assert position_tuple(mine.position("sun", J2000, GEOMETRIC)) == expected
        # Dropped on yet another new thread: reported and leaked.
        reports = []
        monkeypatch.setattr(sys, "unraisablehook", reports.append)
        holder = [foreign]
        del foreign
        run_in_thread(holder.clear, collect=False)
        monkeypatch.undo()
        assert [str(report.exc_value) for report in reports] == [
            "tarvex::PyEngine is unsendable, but is being dropped on another thread"]


def test_engine_dropped_on_another_thread_is_reported_and_leaked(monkeypatch):
    reports = []
    monkeypatch.setattr(sys, "unraisablehook", reports.append)
    holder = [tarvex.Engine(*KERNEL)]
    gc.collect()  # see run_in_thread
    thread = threading.Thread(target=holder.clear)
    thread.start()
    thread.join()
    assert len(reports) == 1
    assert type(reports[0].exc_value) is RuntimeError
    assert str(reports[0].exc_value) == (
        "tarvex::PyEngine is unsendable, but is being dropped on another thread")
    assert reports[0].object is tarvex.Engine


def test_borrows_conflict_on_reentry(engine):
    seen = []

    class Bodies(collections.abc.Sequence):
        """A sequence whose items run engine calls while positions() holds
        its shared borrow."""

        def __len__(self):
            return 1

        def __getitem__(self, index):
            if index:
                raise IndexError(index)
            # A nested query shares the borrow.
            seen.append(engine.position("sun", J2000, GEOMETRIC))
            try:
                engine.with_eop(*EOP)
            except RuntimeError as error:
                seen.append(str(error))
            return "moon"

    batch = engine.positions(Bodies(), [J2000], GEOMETRIC)
    assert batch.shape == (1, 1, 4)
    assert seen[1] == "Already borrowed"
    # Every borrow was released, also on the failing path.
    assert engine.with_eop(*EOP) is None

    class Failing(Bodies):
        def __getitem__(self, index):
            raise KeyError("boom")

    with pytest.raises(KeyError):
        engine.positions(Failing(), [J2000], GEOMETRIC)
    assert engine.with_eop(*EOP) is None
