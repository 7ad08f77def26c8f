#include "python/names.hpp"

#include <span>
#include <utility>

#include "core/format.hpp"
#include "core/name_table.hpp"
#include "core/text.hpp"

namespace tarvex::python {

namespace {

// Every enumeration's names are the core's table next to it.
template <class T>
using Form = core::NameForm<T>;

// Looks the normalised name up; the failure message shows it quoted.
template <class T>
Parsed<T> match(std::string_view name, std::span<const Form<T>> forms, std::string_view what) {
  // Names nearly always arrive as listed, and a listed name is its own
  // normal form: those need no copy.
  for (const Form<T>& form : forms) {
    if (form.text == name) return form.value;
  }
  // The one copy normalisation needs: trimming is a view, lower-casing copies.
  const std::string normalised = core::ascii_lowercase(core::trim_unicode_white_space(name));
  for (const Form<T>& form : forms) {
    if (form.text == normalised) return form.value;
  }
  std::string message = "unknown ";
  message += what;
  message += ' ';
  core::append_quoted_text(message, normalised);
  return std::unexpected(std::move(message));
}

// The first form listed for a value is its canonical name.
template <class T>
std::string_view canonical(std::span<const Form<T>> forms, T value) noexcept {
  return core::canonical_name(forms, value);
}

template <class T, std::size_t N>
std::span<const Form<T>> forms(const Form<T> (&table)[N]) noexcept {
  return std::span<const Form<T>>(table, N);
}

}  // namespace

Parsed<core::Body> parse_body(std::string_view name) {
  return match(name, forms(core::BODY_NAMES), "body");
}

Parsed<core::OriginKind> parse_origin_kind(std::string_view name) {
  return match(name, forms(core::ORIGIN_NAMES), "origin");
}

Parsed<core::TimeScale> parse_time_scale(std::string_view name) {
  return match(name, forms(core::TIME_SCALE_NAMES), "time scale");
}
Parsed<core::HouseSystem> parse_house_system(std::string_view name) {
  return match(name, forms(core::HOUSE_SYSTEM_NAMES), "house system");
}
Parsed<SeasonEvent> parse_season_event(std::string_view name) {
  return match(name, forms(core::SEASON_EVENT_NAMES), "season event");
}
Parsed<core::SiderealMode> parse_sidereal_mode(std::string_view name) {
  return match(name, forms(core::SIDEREAL_MODE_NAMES), "sidereal mode");
}
Parsed<LunationEvent> parse_lunation_event(std::string_view name) {
  return match(name, forms(core::LUNATION_EVENT_NAMES), "lunation event");
}
Parsed<core::ReferenceEpoch> parse_reference_epoch(std::string_view name) {
  return match(name, forms(core::REFERENCE_EPOCH_NAMES), "reference epoch");
}
Parsed<core::CoordinateSystem> parse_coordinate_system(std::string_view name) {
  return match(name, forms(core::COORDINATE_SYSTEM_NAMES), "coordinate system");
}
Parsed<core::HorizonEventKind> parse_horizon_event_kind(std::string_view name) {
  return match(name, forms(core::HORIZON_EVENT_KIND_NAMES), "horizon event");
}

std::string_view canonical_name(core::TimeScale v) noexcept {
  return canonical(forms(core::TIME_SCALE_NAMES), v);
}
std::string_view canonical_name(core::OriginKind v) noexcept {
  return canonical(forms(core::ORIGIN_NAMES), v);
}
std::string_view canonical_name(core::CoordinateSystem v) noexcept {
  return canonical(forms(core::COORDINATE_SYSTEM_NAMES), v);
}
std::string_view canonical_name(core::ReferenceEpoch v) noexcept {
  return canonical(forms(core::REFERENCE_EPOCH_NAMES), v);
}
std::string_view canonical_name(core::HouseSystem v) noexcept {
  return canonical(forms(core::HOUSE_SYSTEM_NAMES), v);
}
std::string_view canonical_name(SeasonEvent v) noexcept {
  return canonical(forms(core::SEASON_EVENT_NAMES), v);
}
std::string_view canonical_name(LunationEvent v) noexcept {
  return canonical(forms(core::LUNATION_EVENT_NAMES), v);
}
std::string_view canonical_name(core::SiderealMode v) noexcept {
  return canonical(forms(core::SIDEREAL_MODE_NAMES), v);
}
std::string_view canonical_name(core::HorizonEventKind v) noexcept {
  return canonical(forms(core::HORIZON_EVENT_KIND_NAMES), v);
}

}  // namespace tarvex::python
