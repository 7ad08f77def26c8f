#include "tarvexkit/native/names.hpp"

#include <array>
#include <span>
#include <utility>

#include "core/format.hpp"
#include "core/text.hpp"

namespace tarvex::kit {

namespace {

template <class T>
using Form = std::pair<std::string_view, T>;

// The failure reads like tarvex's own: `unknown body "xyz"`, with the
// normalised name quoted.
template <class T>
Named<T> match(std::string_view name, std::span<const Form<T>> forms, std::string_view what) {
  const std::string normalised = core::ascii_lowercase(core::trim_unicode_white_space(name));
  for (const auto& [text, value] : forms) {
    if (text == normalised) return value;
  }
  std::string message = "unknown ";
  message += what;
  message += ' ';
  core::append_quoted_text(message, normalised);
  return std::unexpected(std::move(message));
}

constexpr Form<core::TimeScale> TIME_SCALES[] = {
    {"utc", core::TimeScale::Utc},
    {"ut1", core::TimeScale::Ut1},
    {"tt", core::TimeScale::Tt},
    {"tdb", core::TimeScale::Tdb},
};

constexpr Form<core::OriginKind> ORIGINS[] = {
    {"barycentric", core::OriginKind::Barycentric},
    {"heliocentric", core::OriginKind::Heliocentric},
    {"geocentric", core::OriginKind::Geocentric},
    {"topocentric", core::OriginKind::Topocentric},
};

constexpr Form<core::CoordinateSystem> COORDINATE_SYSTEMS[] = {
    {"ecliptic", core::CoordinateSystem::Ecliptic},
    {"equatorial", core::CoordinateSystem::Equatorial},
};

constexpr Form<core::ReferenceEpoch> REFERENCE_EPOCHS[] = {
    {"j2000", core::ReferenceEpoch::J2000},
    {"of_date", core::ReferenceEpoch::OfDate},
};

// Built once from the core's display names, so the vocabulary cannot drift
// from the bodies the core knows.
struct BodyNames {
  std::array<std::string, core::BODY_COUNT> texts;
  std::array<Form<core::Body>, core::BODY_COUNT> forms;
  BodyNames() {
    for (std::size_t ordinal = 0; ordinal < core::BODY_COUNT; ++ordinal) {
      const core::Body body = core::body_from_ordinal(ordinal);
      texts[ordinal] = core::ascii_lowercase(core::display_name(body));
      forms[ordinal] = {texts[ordinal], body};
    }
  }
};

}  // namespace

Named<core::Body> parse_body(std::string_view name) {
  static const BodyNames names;
  return match<core::Body>(name, names.forms, "body");
}

Named<core::TimeScale> parse_time_scale(std::string_view name) {
  return match<core::TimeScale>(name, TIME_SCALES, "time scale");
}

Named<core::OriginKind> parse_origin_kind(std::string_view name) {
  return match<core::OriginKind>(name, ORIGINS, "origin");
}

Named<core::CoordinateSystem> parse_coordinate_system(std::string_view name) {
  return match<core::CoordinateSystem>(name, COORDINATE_SYSTEMS, "coordinate system");
}

Named<core::ReferenceEpoch> parse_reference_epoch(std::string_view name) {
  return match<core::ReferenceEpoch>(name, REFERENCE_EPOCHS, "reference epoch");
}

}  // namespace tarvex::kit
