"""Results as plain dicts and back: the one `to_dict`/`from_dict` of the
frozen dataclasses that techniques return (charts, synastry, chart
points, progressions, dashas, planetary days, void-of-course periods).

`to_dict` turns dataclasses, lists, tuples, dicts and NumPy scalars into
plain Python values ready for `json.dumps`; `from_dict` rebuilds the
result from such a dict with the class's own `_from_fields`, and words a
missing key or a wrong field as a ValueError saying which dict it is not.
"""

from __future__ import annotations

from typing import Any, ClassVar, Self

import numpy as np

__all__ = ["DictResult", "plain"]


def plain(value: Any) -> Any:
    """Dataclasses, lists and NumPy scalars as plain Python values."""
    if hasattr(value, "__dataclass_fields__"):
        return {name: plain(getattr(value, name)) for name in value.__dataclass_fields__}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    if isinstance(value, (int, np.integer)):
        return int(value)
    if isinstance(value, (float, np.floating)):
        return float(value)
    return value


class DictResult:
    """Mixin of a frozen dataclass result: `to_dict` and `from_dict`.

    A class names what its dict is in `_dict_kind` ("a synastry's dict
    (as Synastry.to_dict() makes)") and, when its fields are not plain
    keyword arguments, rebuilds them in `_from_fields`."""

    _dict_kind: ClassVar[str] = "a result's dict"

    def to_dict(self) -> dict[str, Any]:
        """Plain dicts, lists, str, float, int, bool and None: ready for json.dumps."""
        out: dict[str, Any] = plain(self)
        return out

    @classmethod
    def from_dict(cls, data: dict[str, Any]) -> Self:
        """The result of `to_dict()` (also after a trip through JSON);
        ValueError when `data` is not such a dict."""
        try:
            return cls._from_fields(data)
        except (KeyError, TypeError) as error:
            raise ValueError(f"not {cls._dict_kind}: {error}") from None

    @classmethod
    def _from_fields(cls, data: dict[str, Any]) -> Self:
        return cls(**data)
