// Kinds of the events the engine searches for: seasons and lunations (each
// with the apparent angle that marks it) and horizon events.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/name_table.hpp"

namespace tarvex::core {

// Equinoxes and solstices; the ordinal times 90 degrees is the Sun's
// apparent geocentric ecliptic longitude of date at the event.
enum class SeasonEvent : std::uint8_t {
  MarchEquinox = 0,
  JuneSolstice = 1,
  SeptemberEquinox = 2,
  DecemberSolstice = 3,
};
enum class LunationEvent : std::uint8_t { NewMoon = 0, FullMoon = 1 };

// The vernal and autumnal aliases exist with the underscore only.
inline constexpr NameForm<SeasonEvent> SEASON_EVENT_NAMES[] = {
    {"march_equinox", SeasonEvent::MarchEquinox},
    {"march-equinox", SeasonEvent::MarchEquinox},
    {"vernal_equinox", SeasonEvent::MarchEquinox},
    {"june_solstice", SeasonEvent::JuneSolstice},
    {"june-solstice", SeasonEvent::JuneSolstice},
    {"september_equinox", SeasonEvent::SeptemberEquinox},
    {"september-equinox", SeasonEvent::SeptemberEquinox},
    {"autumnal_equinox", SeasonEvent::SeptemberEquinox},
    {"december_solstice", SeasonEvent::DecemberSolstice},
    {"december-solstice", SeasonEvent::DecemberSolstice},
};
inline constexpr NameForm<LunationEvent> LUNATION_EVENT_NAMES[] = {
    {"new_moon", LunationEvent::NewMoon},   {"new-moon", LunationEvent::NewMoon},
    {"newmoon", LunationEvent::NewMoon},    {"full_moon", LunationEvent::FullMoon},
    {"full-moon", LunationEvent::FullMoon}, {"fullmoon", LunationEvent::FullMoon},
};

// Apparent solar longitude of the event: 0, 90, 180, 270 degrees.
double target_longitude_deg(SeasonEvent event) noexcept;
// Apparent geocentric elongation of the Moon: 0 (new) or 180 (full) degrees.
double target_elongation_deg(LunationEvent event) noexcept;

// The searches step by these periods (the tropical year and the mean
// synodic month) when a bracket misses the event.
inline constexpr double SEASON_RETRY_PERIOD_DAYS = 365.2421897;
inline constexpr double LUNATION_RETRY_PERIOD_DAYS = 29.530588861;

enum class HorizonEventKind : std::uint8_t { Rise = 0, Set = 1, Transit = 2 };

inline constexpr NameForm<HorizonEventKind> HORIZON_EVENT_KIND_NAMES[] = {
    {"rise", HorizonEventKind::Rise},
    {"set", HorizonEventKind::Set},
    {"transit", HorizonEventKind::Transit},
};

// "Rise", "Set", "Transit".
std::string_view display_name(HorizonEventKind kind) noexcept;

}  // namespace tarvex::core
