"""The kit's one search core (src/tarvexkit/native/search_core.hpp) through
tarvexkit._native, on quantities whose extrema and crossings are known in
closed form, and the package's shape around it: one method per question on
Ephemeris, no import circle, no module reading Ephemeris's private members.
"""

import ast
import math
import pathlib

import numpy as np
import pytest

import tarvex
import tarvexkit
from tarvexkit import _native, observing

SECOND = 1.0 / 86400.0
PACKAGE = pathlib.Path(tarvexkit.__file__).parent


def sine(t, tags):
    return np.sin(t)


# --- the core ---------------------------------------------------------------------

def test_every_extremum_and_crossing_of_a_sine_with_its_direction():
    span = [0.5, 40.0, 0.0, 40.5]
    extrema = _native.find_extrema(sine, span, 0.3)
    expected = np.arange(1, 14) * math.pi - math.pi / 2
    assert len(extrema) == 13
    # Brent's method stops within EXTREMUM_TOLERANCE_DAYS of the flat top.
    assert np.max(np.abs(extrema[:, 0] - expected)) < _native.EXTREMUM_TOLERANCE_DAYS
    assert np.array_equal(extrema[:, 2], (np.arange(1, 14) % 2).astype(float))  # a maximum first
    assert np.allclose(extrema[:, 1], np.where(extrema[:, 2] > 0, 1.0, -1.0), atol=1e-12)
    # Levels 0 and 0.5: each crossing refined to the tolerance, with its sense.
    found = _native.find_crossings(sine, span, [0.0, 0.5], 0.3)
    zeros = found[found[:, 2] == 0]
    assert np.max(np.abs(zeros[:, 0] - math.pi * np.arange(1, 13))) < 2 * _native.TOLERANCE_DAYS
    assert np.array_equal(zeros[:, 1], (np.arange(1, 13) % 2 == 0).astype(float))
    halves = found[found[:, 2] == 1, 0]
    assert np.max(np.abs(np.sin(halves) - 0.5)) < 2 * _native.TOLERANCE_DAYS
    assert np.all(np.diff(found[:, 0]) > 0)


def test_a_graze_between_two_samples_is_found():
    # A peak 0.01 above the level, narrower than a step: two crossings a
    # few minutes apart that no sample sees.
    def bump(t, tags):
        return 1.01 - ((t - 10.03) / 0.01) ** 2

    found = _native.find_crossings(bump, [0.0, 20.0, 0.0, 20.0], [1.0], 1.0 / 12.0)
    assert found[:, 1].tolist() == [1.0, 0.0]
    assert np.allclose(found[:, 0], 10.03 + np.array([-0.001, 0.001]), atol=2 * _native.TOLERANCE_DAYS)
    # Turns far from every level are not located: no evaluations spent on them.
    calls = []

    def counted(t, tags):
        calls.append(len(t))
        return np.sin(t)

    assert len(_native.find_crossings(counted, [0.0, 20.0, 0.0, 20.0], [5.0], 1.0 / 12.0)) == 0
    assert sum(calls) == 241


def test_the_ends_of_spans_and_many_spans_at_once():
    # A crossing is returned at the last instant on the side the quantity
    # comes from; a span starting there returns it again, one ending there
    # does not, and consecutive spans share no crossing and miss none.
    whole = _native.find_crossings(sine, [0.0, 30.0, 0.0, 30.0], [0.0], 0.25)
    first = whole[0, 0]
    again = _native.find_crossings(sine, [first, 30.0, first, 30.0], [0.0], 0.25)
    assert again[0, 0] == first
    before = _native.find_crossings(sine, [0.0, first, 0.0, first], [0.0], 0.25)
    assert len(before) == 0
    cuts = [0.0, 7.0, 13.0, 30.0]
    spans = np.ravel([[a, b, a, b] for a, b in zip(cuts, cuts[1:])])
    pieces = _native.find_crossings(sine, spans, [0.0], 0.25)
    assert pieces[:, 3].tolist() == [0, 0, 1, 1, 2, 2, 2, 2, 2]
    assert np.max(np.abs(pieces[:, 0] - whole[:, 0])) < 2 * _native.TOLERANCE_DAYS
    # The quantity sees each instant's span as its tag.
    seen = []

    def tagged(t, tags):
        seen.append((t.copy(), tags.copy()))
        return np.sin(t)

    _native.find_crossings(tagged, spans, [0.0], 0.25)
    t = np.concatenate([a for a, _ in seen])
    tags = np.concatenate([b for _, b in seen])
    k = tags.astype(int)
    assert np.all((np.take(cuts, k) <= t) & (t <= np.take(cuts, k + 1)))


def test_refine_crossings_keeps_each_bracket_in_order():
    targets = np.array([0.25, -0.5, 0.75])

    def shifted(t, tags):
        return np.sin(t) - targets[tags.astype(int)]

    low = np.array([0.0, math.pi, 0.0])
    high = np.array([math.pi / 2, 3 * math.pi / 2, math.pi / 2])
    roots = _native.refine_crossings(shifted, low, high, shifted(low, np.arange(3.0)), shifted(high, np.arange(3.0)),
                                     np.arange(3.0))
    expected = np.array([math.asin(0.25), math.pi + math.asin(0.5), math.asin(0.75)])
    assert np.max(np.abs(roots - expected)) < 2 * _native.TOLERANCE_DAYS
    # The last instant on low's side.
    assert np.all((shifted(roots, np.arange(3.0)) >= 0) == (shifted(low, np.arange(3.0)) >= 0))


def test_failures_of_the_quantity_and_of_the_arguments():
    def broken(t, tags):
        raise ZeroDivisionError("inside the quantity")

    with pytest.raises(ZeroDivisionError, match="inside the quantity"):
        _native.find_crossings(broken, [0.0, 1.0, 0.0, 1.0], [0.0], 0.1)
    with pytest.raises(ValueError, match="returned 2 values for 11 instants"):
        _native.find_crossings(lambda t, k: np.zeros(2), [0.0, 1.0, 0.0, 1.0], [0.0], 0.1)
    with pytest.raises(ValueError, match="span 0 must have finite begin < end"):
        _native.find_extrema(sine, [1.0, 0.0, 0.0, 1.0], 0.1)
    with pytest.raises(ValueError, match=r"\(begin, end, sample_begin, sample_end\) per span"):
        _native.find_extrema(sine, [0.0, 1.0, 0.0], 0.1)
    with pytest.raises(ValueError, match="step_days must be a positive number of days"):
        _native.find_extrema(sine, [0.0, 1.0, 0.0, 1.0], 0.0)
    with pytest.raises(TypeError, match="a callable f\\(instants, tags\\)"):
        _native.find_extrema(42, [0.0, 1.0, 0.0, 1.0], 0.1)


def test_native_quantities_give_the_same_events_on_any_number_of_threads(eph):
    # The horizon searches run on the Store's worker threads; the result does
    # not depend on how the work is shared out.
    site = tarvex.GeodeticObserver(10.0, 48.0, 0.0)
    sky = eph._sky()
    quantity = observing.horizon_quantity(sky, "moon", site, "altitude")
    start, stop = eph.utc(2003, 1, 1).tt, eph.utc(2003, 7, 1).tt
    span = sky.span(start, stop)
    one = _native.find_crossings(quantity, span, [0.0], _native.HORIZON_STEP_DAYS, threads=1)
    four = _native.find_crossings(quantity, span, [0.0], _native.HORIZON_STEP_DAYS, threads=4)
    assert len(one) > 300 and np.array_equal(one, four)
    extrema = _native.find_extrema(quantity, span, _native.HORIZON_STEP_DAYS, threads=3)
    # Culminations alternate with lower culminations, one each per lunar day.
    assert np.all(extrema[1:, 2] != extrema[:-1, 2])
    with pytest.raises(ValueError, match="unknown body|not a body|no kernel"):
        _native.find_crossings(quantity[:3] + ("vulcan",) + quantity[4:], span, [0.0], 0.1)


# --- one method per question ------------------------------------------------------

def test_rise_set_transit_is_the_kit_search_and_the_strict_one_stays_on_engine(eph):
    # The Moon's rise by the kit's convention (-34' less its semi-diameter)
    # lies a couple of minutes before the strict engine's (-34'); the one
    # method per question on Ephemeris gives the kit's instant.
    site = tarvex.GeodeticObserver(-0.1275, 51.5072)
    around = eph.utc(2005, 3, 10, 12)
    day = eph.rise_set_transit("moon", site, around)
    found = eph.horizon_events("moon", site, eph.times(around.tt - 0.5, "tt"), eph.times(around.tt + 0.5, "tt"))
    assert day["rise"] is not None and day["rise"].tt == found.times[found.kinds.index("rise")].tt
    strict = eph.engine.rise_set_transit("moon", site, around.instants()[0], tarvex.MEAN_REFRACTION_ALTITUDE_DEG)
    apart = (eph.times(strict.rise_ut1_julian_day, "ut1").tt - day["rise"].tt) * 86400.0
    assert 100.0 < apart < 200.0, apart
    # next_horizon_event is the next event of the same search.
    rise = eph.next_horizon_event("moon", site, eph.times(day["rise"].tt - 0.1, "tt"), "rise")
    assert abs(rise.tt - day["rise"].tt) < SECOND * 1e-3
    assert not hasattr(eph, "next_season_event") and not hasattr(eph, "next_lunation")
    with pytest.raises(ValueError, match="kind must be 'rise', 'set' or 'transit'"):
        eph.next_horizon_event("moon", site, around, "culmination")
    with pytest.raises(ValueError, match="no rise of pluto within a year"):
        eph.next_horizon_event("pluto", tarvex.GeodeticObserver(0.0, 89.0), eph.utc(2003, 3, 25), "rise")


# --- the package's shape ----------------------------------------------------------

def _imports(path):
    """The tarvexkit modules a module imports, wherever in it (type-checking
    blocks and function bodies included)."""
    found = set()
    for node in ast.walk(ast.parse(path.read_text())):
        if isinstance(node, ast.ImportFrom) and node.level == 1:
            if node.module:
                found.add(node.module.split(".")[0])
            else:
                found.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and (node.module or "").startswith("tarvexkit."):
            found.add(node.module.split(".")[1])
    return found


def test_no_import_circle_and_narrow_inputs():
    modules = {p.stem: p for p in PACKAGE.glob("*.py")}
    graph = {name: _imports(path) & set(modules) for name, path in modules.items()}
    state = {}

    def visit(name, trail):
        state[name] = "open"
        for other in graph[name]:
            assert state.get(other) != "open", f"import circle: {' -> '.join(trail + [name, other])}"
            if other not in state:
                visit(other, trail + [name])
        state[name] = "done"

    for name in graph:
        if name not in state:
            visit(name, [])
    # The searches take the Store, callables and floats, never an Ephemeris.
    for name in ("observing", "searches", "lunar", "chart", "events"):
        assert "ephemeris" not in graph[name], name


def test_no_module_reads_private_members_of_an_ephemeris():
    for path in PACKAGE.glob("*.py"):
        if path.stem == "ephemeris":
            continue
        for node in ast.walk(ast.parse(path.read_text())):
            if (isinstance(node, ast.Attribute) and isinstance(node.value, ast.Name)
                    and node.value.id in ("eph", "ephemeris") and node.attr.startswith("_")
                    and not node.attr.startswith("__")):
                pytest.fail(f"{path.name}:{node.lineno} reads {node.value.id}.{node.attr}")


def test_events_has_its_own_module_and_keeps_its_names():
    from tarvexkit import ephemeris, events

    assert tarvexkit.Events is events.Events is ephemeris.Events
    assert events.Events.__module__ == "tarvexkit.events"
