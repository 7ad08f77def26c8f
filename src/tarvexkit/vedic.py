"""Vedic techniques on sidereal longitudes: nakshatras and padas,
Vimshottari dasha periods and the divisional charts (vargas).

Use a sidereal chart (`zodiac="lahiri"` is the common choice); the
functions take longitudes as they are given.

Nakshatras: 27 equal lunar mansions of 13 deg 20' from 0 Aries (Ashwini
first), each of four padas of 3 deg 20'.

Vimshottari dasha (Brihat Parashara Hora Shastra, ch. 46, "Dasha
effects", tr. R. Santhanam 1984): nine lords in the order Ketu 7, Venus
20, Sun 6, Moon 10, Mars 7, Rahu 18, Jupiter 16, Saturn 19, Mercury 17
years (120 in all), the nakshatras ruled in that order from Ashwini. The
first mahadasha is the lord of the Moon's nakshatra at birth, of which
the balance is the part of the nakshatra still to be crossed times the
lord's years; the mahadashas then follow in order. Each mahadasha splits
into nine antardashas starting from its own lord, in the same order, each
lasting maha years x antar years / 120. A year is `DASHA_YEAR_DAYS` =
365.25 days (the Julian year; `year_days=` takes another, e.g. 360 or
365.2422).

Divisional charts (BPHS ch. 6, "Sixteen divisions of a sign"): the varga
sign of a longitude for D1, D2, D3, D4, D7, D9, D10, D12, D16, D20, D24,
D27, D30, D40, D45, D60 (`VARGAS`), by these rules (sign counted from
Aries = 0; odd signs are Aries, Gemini, ...):
- D1 the sign itself; D2 (hora): odd signs Leo then Cancer, even signs
  Cancer then Leo; D3 (drekkana): the sign, the 5th, the 9th from it;
- D4 (chaturthamsa): the sign, the 4th, 7th, 10th; D7 (saptamsa): from
  the sign in odd signs, from the 7th in even; D9 (navamsa): from Aries in
  fire signs, Capricorn in earth, Libra in air, Cancer in water;
- D10 (dasamsa): from the sign in odd signs, from the 9th in even; D12
  (dvadasamsa): from the sign; D16 (shodasamsa): from Aries in movable
  signs, Leo in fixed, Sagittarius in dual;
- D20 (vimsamsa): from Aries in movable, Sagittarius in fixed, Leo in
  dual; D24 (chaturvimsamsa): from Leo in odd, Cancer in even; D27
  (bhamsa): from Aries in fire, Cancer in earth, Libra in air, Capricorn in
  water;
- D30 (trimsamsa): odd signs Mars 5 deg (Aries), Saturn 5 (Aquarius),
  Jupiter 8 (Sagittarius), Mercury 7 (Gemini), Venus 5 (Libra); even signs
  Venus 5 (Taurus), Mercury 7 (Virgo), Jupiter 8 (Pisces), Saturn 5
  (Capricorn), Mars 5 (Scorpio);
- D40 (khavedamsa): from Aries in odd signs, Libra in even; D45
  (akshavedamsa): from Aries in movable, Leo in fixed, Sagittarius in
  dual; D60 (shashtyamsa): from the sign itself.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

from .results import DictResult
from .searches import SIGNS

NAKSHATRAS = ("ashwini", "bharani", "krittika", "rohini", "mrigashira", "ardra", "punarvasu", "pushya",
              "ashlesha", "magha", "purva_phalguni", "uttara_phalguni", "hasta", "chitra", "swati",
              "vishakha", "anuradha", "jyeshtha", "mula", "purva_ashadha", "uttara_ashadha", "shravana",
              "dhanishta", "shatabhisha", "purva_bhadrapada", "uttara_bhadrapada", "revati")
NAKSHATRA_DEG = 360.0 / 27.0
PADA_DEG = NAKSHATRA_DEG / 4.0
DASHA_LORDS = (("ketu", 7), ("venus", 20), ("sun", 6), ("moon", 10), ("mars", 7), ("rahu", 18),
               ("jupiter", 16), ("saturn", 19), ("mercury", 17))
DASHA_TOTAL_YEARS = 120
DASHA_YEAR_DAYS = 365.25
VARGAS = (1, 2, 3, 4, 7, 9, 10, 12, 16, 20, 24, 27, 30, 40, 45, 60)
_TRIMSAMSA_ODD = ((5, 0), (5, 10), (8, 8), (7, 2), (5, 6))
_TRIMSAMSA_EVEN = ((5, 1), (7, 5), (8, 11), (5, 9), (5, 7))


@dataclass(frozen=True)
class Nakshatra:
    """The nakshatra (1..27, and its name), pada (1..4), dasha lord and the
    fraction of the nakshatra crossed at a sidereal longitude."""

    number: int
    name: str
    pada: int
    lord: str
    fraction: float


def nakshatra(longitude_deg: float) -> Nakshatra:
    """The nakshatra and pada of a sidereal longitude (module text)."""
    lon = float(longitude_deg) % 360.0
    index = min(int(lon // NAKSHATRA_DEG), 26)
    within = lon - index * NAKSHATRA_DEG
    return Nakshatra(index + 1, NAKSHATRAS[index], min(int(within // PADA_DEG), 3) + 1,
                     DASHA_LORDS[index % 9][0], within / NAKSHATRA_DEG)


@dataclass(frozen=True)
class DashaPeriod:
    """A period of `lord` (`sub_lord` for an antardasha) from `start_tt` to
    `end_tt` (TT Julian days)."""

    lord: str
    sub_lord: str | None
    start_tt: float
    end_tt: float


@dataclass(frozen=True)
class Vimshottari(DictResult):
    """The Vimshottari dasha from a birth: the balance (years) of the first
    mahadasha at birth, the mahadashas and their antardashas."""

    birth_tt: float
    balance_years: float
    mahadashas: list[DashaPeriod]
    antardashas: list[DashaPeriod]

    _dict_kind = "a Vimshottari dasha's dict"

    @classmethod
    def _from_fields(cls, data: dict[str, Any]) -> Vimshottari:
        return cls(data["birth_tt"], data["balance_years"], [DashaPeriod(**p) for p in data["mahadashas"]],
                   [DashaPeriod(**p) for p in data["antardashas"]])


def vimshottari(moon_longitude_deg: float, birth_tt: float, *, cycles: int = 1,
                year_days: float = DASHA_YEAR_DAYS) -> Vimshottari:
    """Mahadashas and antardashas from birth over `cycles` x 120 years,
    from the Moon's sidereal longitude at birth (module text). The first
    mahadasha starts before birth (at the instant the Moon would have
    entered its nakshatra at the dasha's rate)."""
    if not year_days > 0.0:
        raise ValueError(f"year_days must be positive, not {year_days!r}")
    star = nakshatra(moon_longitude_deg)
    first = (star.number - 1) % 9
    years = DASHA_LORDS[first][1]
    balance = (1.0 - star.fraction) * years
    start = float(birth_tt) - (years - balance) * year_days
    mahas: list[DashaPeriod] = []
    antars: list[DashaPeriod] = []
    for k in range(9 * cycles):
        lord, maha_years = DASHA_LORDS[(first + k) % 9]
        end = start + maha_years * year_days
        mahas.append(DashaPeriod(lord, None, start, end))
        sub_start = start
        for j in range(9):
            sub, sub_years = DASHA_LORDS[(first + k + j) % 9]
            sub_end = sub_start + maha_years * sub_years / DASHA_TOTAL_YEARS * year_days
            antars.append(DashaPeriod(lord, sub, sub_start, sub_end))
            sub_start = sub_end
        start = end
    return Vimshottari(float(birth_tt), balance, mahas, antars)


def varga_sign(longitude_deg: float, division: int) -> int:
    """The sign (0 = Aries .. 11) of a sidereal longitude in the divisional
    chart D`division` (module text)."""
    if division not in VARGAS:
        raise ValueError(f"division must be one of {', '.join(f'D{v}' for v in VARGAS)}, not {division!r}")
    lon = float(longitude_deg) % 360.0
    sign = int(lon // 30.0) % 12
    degree = lon - 30.0 * sign
    part = min(int(degree // (30.0 / division)), division - 1)
    odd = sign % 2 == 0  # Aries, the first sign, is odd
    quality = sign % 3  # movable, fixed, dual
    element = sign % 4  # fire, earth, air, water
    if division == 1:
        return sign
    if division == 2:
        return (4 if part == 0 else 3) if odd else (3 if part == 0 else 4)
    if division == 3:
        return (sign + 4 * part) % 12
    if division == 4:
        return (sign + 3 * part) % 12
    if division == 30:
        edge = 0.0
        for width, target in _TRIMSAMSA_ODD if odd else _TRIMSAMSA_EVEN:
            edge += width
            if degree < edge:
                return target
        return (_TRIMSAMSA_ODD if odd else _TRIMSAMSA_EVEN)[-1][1]
    starts: dict[int, int] = {
        7: sign if odd else sign + 6,
        9: (0, 9, 6, 3)[element],
        10: sign if odd else sign + 8,
        12: sign,
        16: (0, 4, 8)[quality],
        20: (0, 8, 4)[quality],
        24: 4 if odd else 3,
        27: (0, 3, 6, 9)[element],
        40: 0 if odd else 6,
        45: (0, 4, 8)[quality],
        60: sign,
    }
    return (starts[division] + part) % 12


def varga_sign_name(longitude_deg: float, division: int) -> str:
    """`varga_sign` as the sign's name."""
    return SIGNS[varga_sign(longitude_deg, division)]
