"""Element sets of Earth satellites read into `Satellite`s: two-line
(TLE) and three-line (3LE) text as Space-Track and CelesTrak publish it,
and CCSDS Orbit Mean-Elements Messages (CCSDS 502.0-B-3) in the CSV, JSON
and XML forms of CelesTrak, read by the `sgp4` package's `omm` module and
the standard library. Each set becomes the package's `Satrec` (WGS72
constants, as the sets are fitted).

A TLE line has 69 columns, the last a checksum: the sum of its digits,
a minus sign counting 1, modulo 10 (Hoots and Roehrich, Spacetrack Report
#3, 1980, and CelesTrak's "NORAD Two-Line Element Set Format"). A name
line of a 3LE may start with "0 ". Columns past the 69th (the
verification file of the sgp4 package keeps its time span there) are
ignored.
"""

from __future__ import annotations

import json
import math
import os
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass
from io import StringIO
from pathlib import Path
from typing import Any


def sgp4_api() -> Any:
    try:
        from sgp4 import api  # type: ignore[import-untyped,import-not-found,unused-ignore]
    except ImportError:
        raise ImportError("Earth satellites need the sgp4 package: pip install tarvex[satellites]") from None
    return api



@dataclass(frozen=True, eq=False)
class Satellite:
    """One element set: its name (empty for a bare TLE), NORAD catalogue
    number, epoch (UTC Julian day), the line (1-based) or record where it
    starts in its source, and the `sgp4.api.Satrec` that propagates it."""

    name: str
    catalog_number: int
    epoch_utc_jd: float
    line: int
    model: Any  # sgp4.api.Satrec

    @property
    def revolutions_per_day(self) -> float:
        """The mean motion of the element set, revolutions per day."""
        return float(self.model.no_kozai) * 1440.0 / (2.0 * math.pi)

    def __repr__(self) -> str:
        return f"Satellite({self.name!r}, catalog_number={self.catalog_number})"


def _checksum(line: str) -> int:
    return sum(int(c) if c.isdigit() else (c == "-") for c in line[:68]) % 10


def _check_tle_line(line: str, number: int, kind: str, checksum: bool) -> None:
    if len(line) < 69:
        raise ValueError(f"line {number}: a TLE line {kind} needs 69 columns, got {len(line)}: {line!r}")
    if checksum:
        if not line[68].isdigit():
            raise ValueError(f"line {number}: column 69 must be the checksum digit, got {line[68]!r}")
        if int(line[68]) != _checksum(line):
            raise ValueError(f"line {number}: bad checksum {line[68]}, the line sums to {_checksum(line)} "
                             "(a damaged line; pass checksum=False to read it anyway)")


def _parse_tle(text: str, checksum: bool) -> list[Satellite]:
    api = sgp4_api()
    lines = text.splitlines()
    found: list[Satellite] = []
    name = ""
    name_line = 0
    i = 0
    while i < len(lines):
        raw = lines[i].rstrip()
        number = i + 1
        i += 1
        if not raw.strip() or raw.lstrip().startswith("#"):
            continue
        if raw.startswith("2 "):
            raise ValueError(f"line {number}: a TLE line 2 without its line 1 before it")
        if not raw.startswith("1 "):
            if name_line:
                raise ValueError(f"line {number}: expected line 1 of a TLE after the name on line {name_line}, "
                                 f"got {raw!r}")
            name = raw[2:].strip() if raw.startswith("0 ") else raw.strip()
            name_line = number
            continue
        first = raw[:69]
        _check_tle_line(first, number, "1", checksum)
        while i < len(lines) and not lines[i].strip():
            i += 1
        if i >= len(lines) or not lines[i].startswith("2 "):
            raise ValueError(f"line {number}: TLE line 1 needs its line 2 right after it")
        second = lines[i].rstrip()[:69]
        _check_tle_line(second, i + 1, "2", checksum)
        if first[2:7] != second[2:7]:
            raise ValueError(f"line {i + 1}: catalogue number {second[2:7]!r} differs from line {number}'s "
                             f"{first[2:7]!r}")
        i += 1
        try:
            model = api.Satrec.twoline2rv(first, second, api.WGS72)
        except ValueError as error:
            raise ValueError(f"line {number}: not a readable TLE ({error})") from None
        found.append(Satellite(name, int(model.satnum), float(model.jdsatepoch + model.jdsatepochF),
                               name_line or number, model))
        name, name_line = "", 0
    if name_line:
        raise ValueError(f"line {name_line}: a name without a TLE after it")
    return found


def _from_omm(records: list[dict[str, Any]], what: str) -> list[Satellite]:
    api = sgp4_api()
    from sgp4 import omm  # type: ignore[import-untyped,import-not-found,unused-ignore]

    found: list[Satellite] = []
    for k, fields in enumerate(records, start=1):
        model = api.Satrec()
        try:
            omm.initialize(model, fields)
        except (KeyError, ValueError) as error:
            raise ValueError(f"{what} record {k}: not a readable OMM ({type(error).__name__}: {error})") from None
        found.append(Satellite(str(fields.get("OBJECT_NAME", "")).strip(), int(model.satnum),
                               float(model.jdsatepoch + model.jdsatepochF), k, model))
    return found


def _omm_xml(text: str) -> list[dict[str, Any]]:
    # Each <segment> holds the OMM's fields as leaf elements (CCSDS 502.0-B-3,
    # NDM/XML); namespaces are dropped.
    root = ElementTree.fromstring(text)
    records = []
    for segment in root.iter():
        if segment.tag.rsplit("}", 1)[-1] != "segment":
            continue
        fields = {leaf.tag.rsplit("}", 1)[-1]: (leaf.text or "").strip() for leaf in segment.iter() if len(leaf) == 0}
        records.append(fields)
    return records


def _parse(text: str, checksum: bool) -> list[Satellite]:
    start = text.lstrip()
    if start.startswith(("[", "{")):
        try:
            data = json.loads(text)
        except json.JSONDecodeError as error:
            raise ValueError(f"line {error.lineno}: not valid OMM JSON ({error.msg})") from None
        return _from_omm(data if isinstance(data, list) else [data], "JSON")
    if start.startswith("<"):
        try:
            return _from_omm(_omm_xml(text), "XML")
        except ElementTree.ParseError as error:
            raise ValueError(f"line {error.position[0]}: not valid OMM XML ({error})") from None
    if start.startswith("OBJECT_NAME") or start.split("\n", 1)[0].count(",") > 5:
        from sgp4 import omm  # type: ignore[import-untyped,import-not-found,unused-ignore]

        return _from_omm(list(omm.parse_csv(StringIO(text))), "CSV")
    return _parse_tle(text, checksum)


def _names_a_file(text: str) -> bool:
    """A one-line text that names an existing file (element sets never fit on one line)."""
    if "\n" in text or text.lstrip().startswith(("{", "[", "<")):
        return False
    try:
        return Path(text).is_file()
    except (OSError, ValueError):
        return False


def read(source: str | os.PathLike[str], *, checksum: bool = True) -> list[Satellite]:
    """The element sets of a path or of the text itself (see
    `tarvexkit.satellites.read`)."""
    if isinstance(source, os.PathLike) or (isinstance(source, str) and _names_a_file(source)):
        text = Path(source).read_text(encoding="utf-8")
    elif isinstance(source, str):
        text = source
    else:
        raise TypeError(f"source must be a path or the text of element sets, not {type(source).__name__}")
    found = _parse(text, bool(checksum))
    if not found:
        raise ValueError("no element sets found: expected TLE or 3LE lines, or OMM as CSV, JSON or XML")
    return found
