"""`Events`: what a search over a span returns, its instants in time order
and the kind of each."""

from __future__ import annotations

from collections.abc import Iterator
from dataclasses import dataclass

from .times import Times


@dataclass(frozen=True)
class Events:
    """Events found over a span: their times, in order, and their kinds."""

    times: Times
    kinds: list[str]

    def __len__(self) -> int:
        return len(self.kinds)

    def __iter__(self) -> Iterator[tuple[str, Times]]:
        return iter(zip(self.kinds, self.times))
