"""How the demo and its pictures write zodiac positions and clock times,
in one place so that the text and the pictures read the same."""

from __future__ import annotations

from datetime import datetime, timedelta, timezone, tzinfo

import tarvexkit

SIGN_NAMES = ("Aries", "Taurus", "Gemini", "Cancer", "Leo", "Virgo",
              "Libra", "Scorpio", "Sagittarius", "Capricorn", "Aquarius", "Pisces")
# The usual three-letter abbreviations (those of the constellations).
SIGN_ABBREVIATIONS = ("Ari", "Tau", "Gem", "Cnc", "Leo", "Vir", "Lib", "Sco", "Sgr", "Cap", "Aqr", "Psc")


def sign_minutes(longitude_deg: float) -> tuple[int, int]:
    """(sign 0..11, minutes of arc into it), rounded to the nearest minute."""
    minutes = int(round((longitude_deg % 360.0) * 60.0)) % (360 * 60)
    sign, within = divmod(minutes, 30 * 60)
    return sign, within


def zodiac(longitude_deg: float) -> str:
    """'19°46' Ari': degrees and minutes within the sign, and its abbreviation."""
    sign, within = sign_minutes(longitude_deg)
    return f"{within // 60}°{within % 60:02d}' {SIGN_ABBREVIATIONS[sign]}"


def to_minute(t: tarvexkit.Times) -> datetime:
    """The instant in UTC, rounded to the nearest minute: every clock time
    the demo prints, in UTC or in a zone, comes from this one rounding."""
    exact = t.to_datetime(timezone.utc) + timedelta(seconds=30)
    return exact.replace(second=0, microsecond=0)


def clock(t: tarvexkit.Times, zone: tzinfo) -> str:
    """Local clock time, hours and minutes."""
    return f"{to_minute(t).astimezone(zone):%H:%M}"


def from_sun(phase_deg: float) -> str:
    """The Moon's (or a planet's) longitude from the Sun as people say it:
    '15.1° west of the Sun' rather than '344.9° east'."""
    phase = phase_deg % 360.0
    return f"{phase:.1f}° east of the Sun" if phase <= 180.0 else f"{360.0 - phase:.1f}° west of the Sun"
