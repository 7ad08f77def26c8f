#include "core/types.hpp"

namespace tarvex::core {

namespace {

struct BodyInfo {
  std::int32_t naif_code;
  std::string_view name;
};

constexpr BodyInfo BODY_TABLE[BODY_COUNT] = {
    {10, "Sun"},      {301, "Moon"},   {199, "Mercury"}, {299, "Venus"},
    {399, "Earth"},   {499, "Mars"},   {599, "Jupiter"}, {699, "Saturn"},
    {799, "Uranus"},  {899, "Neptune"}, {999, "Pluto"},
};

}  // namespace

std::int32_t naif_code(Body body) noexcept { return BODY_TABLE[static_cast<std::size_t>(body)].naif_code; }

std::string_view display_name(Body body) noexcept { return BODY_TABLE[static_cast<std::size_t>(body)].name; }

Body body_from_ordinal(std::size_t ordinal) noexcept { return static_cast<Body>(ordinal); }

std::string_view display_name(TimeScale scale) noexcept {
  switch (scale) {
    case TimeScale::Utc: return "Utc";
    case TimeScale::Ut1: return "Ut1";
    case TimeScale::Tt: return "Tt";
    case TimeScale::Tdb: return "Tdb";
  }
  return "Tdb";
}

}  // namespace tarvex::core
