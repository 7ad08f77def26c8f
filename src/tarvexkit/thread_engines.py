"""The strict `tarvex.Engine` of each thread, for each `Ephemeris`.

An Engine belongs to the thread that opened it: released on another thread,
it is reported ("unsendable ... dropped on another thread") and its files
and caches are kept for good. So engines are never held where another
thread could drop them (an attribute of the ephemeris, or a
``threading.local`` owned by it, is cleared by whichever thread drops the
ephemeris). Each thread keeps a table of its own engines keyed by the
ephemeris's token, in one module-wide ``threading.local`` that lives as
long as the process; only that thread ever removes entries:

- when an ephemeris is collected, the collecting thread releases its own
  engine for it at once, and every other thread releases its engine the
  next time it asks any ephemeris for an engine (a long-lived thread pool
  holds at most one stale engine per thread and dropped ephemeris between
  two uses);
- when a thread ends, its table goes with it, on that thread.
"""

from __future__ import annotations

import itertools
import threading
import weakref
from typing import Any

import tarvex

_tokens = itertools.count(1)
# Tokens of the ephemerides alive; changed by set operations, which the
# interpreter lock makes atomic.
_live: set[int] = set()
# Changed whenever an ephemeris goes (to a number never used before), so
# that a thread sweeps its table only after something went.
_generations = itertools.count(1)
_generation = [0]
_local = threading.local()


def _table() -> dict[int, tarvex.Engine]:
    table: dict[int, tarvex.Engine] | None = getattr(_local, "table", None)
    if table is None:
        table = _local.table = {}
        _local.generation = _generation[0]
    elif _local.generation != _generation[0]:
        _local.generation = _generation[0]
        for token in [t for t in table if t not in _live]:
            del table[token]
    return table


def _gone(token: int) -> None:
    _live.discard(token)
    _generation[0] = next(_generations)
    table: dict[int, tarvex.Engine] | None = getattr(_local, "table", None)
    if table is not None:
        table.pop(token, None)


class ThreadEngines:
    """The engines of one ephemeris, one per thread (module docstring)."""

    def __init__(self, owner: Any) -> None:
        # A box the finalizer shares, so that it drops the token in use when
        # the owner goes, after any renewal; it never holds the owner.
        self._box = [next(_tokens)]
        _live.add(self._box[0])
        weakref.finalize(owner, _gone_boxed, self._box).atexit = False

    def renew(self) -> None:
        """Forgets every thread's engine (the files changed: a kernel was
        attached); each thread opens a new one on its next call."""
        _gone(self._box[0])
        self._box[0] = next(_tokens)
        _live.add(self._box[0])

    def get(self) -> tarvex.Engine | None:
        """The calling thread's engine, or None before it made one."""
        return _table().get(self._box[0])

    def put(self, engine: tarvex.Engine) -> None:
        """Keeps `engine`, opened by the calling thread."""
        _table()[self._box[0]] = engine


def _gone_boxed(box: list[int]) -> None:
    _gone(box[0])


def engines_held_by_this_thread() -> int:
    """How many engines the calling thread keeps (after its sweep)."""
    return len(_table())
