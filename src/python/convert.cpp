#include "python/convert.hpp"

#include <cmath>
#include <span>
#include <utility>

#include "core/format.hpp"
#include "core/observer.hpp"
#include "core/text.hpp"
#include "python/errors.hpp"
#include "python/value_results.hpp"
#include "python/values.hpp"

namespace tarvex::python {

namespace {

template <class T>
struct Form {
  std::string_view text;
  T value;
};

// Looks the normalised name up; the failure message shows it quoted.
template <class T>
Parsed<T> match(std::string_view name, std::span<const Form<T>> forms, std::string_view what) {
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
  for (const Form<T>& form : forms) {
    if (form.value == value) return form.text;
  }
  return forms.front().text;
}

using core::Body;
constexpr Form<Body> BODIES[] = {
    {"sun", Body::Sun},         {"moon", Body::Moon},     {"mercury", Body::Mercury},
    {"venus", Body::Venus},     {"earth", Body::Earth},   {"mars", Body::Mars},
    {"jupiter", Body::Jupiter}, {"saturn", Body::Saturn}, {"uranus", Body::Uranus},
    {"neptune", Body::Neptune}, {"pluto", Body::Pluto},
};

using core::OriginKind;
constexpr Form<OriginKind> ORIGINS[] = {
    {"barycentric", OriginKind::Barycentric},
    {"heliocentric", OriginKind::Heliocentric},
    {"geocentric", OriginKind::Geocentric},
    {"topocentric", OriginKind::Topocentric},
};

using core::TimeScale;
constexpr Form<TimeScale> TIME_SCALES[] = {
    {"utc", TimeScale::Utc},
    {"ut1", TimeScale::Ut1},
    {"tt", TimeScale::Tt},
    {"tdb", TimeScale::Tdb},
};

using core::HouseSystem;
constexpr Form<HouseSystem> HOUSE_SYSTEMS[] = {
    {"placidus", HouseSystem::Placidus},    {"campanus", HouseSystem::Campanus},
    {"equal", HouseSystem::Equal},          {"whole_sign", HouseSystem::WholeSign},
    {"whole-sign", HouseSystem::WholeSign}, {"wholesign", HouseSystem::WholeSign},
};

// The vernal and autumnal aliases exist with the underscore only.
constexpr Form<SeasonEvent> SEASON_EVENTS[] = {
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

using core::SiderealMode;
constexpr Form<SiderealMode> SIDEREAL_MODES[] = {
    {"lahiri", SiderealMode::Lahiri},
    {"fagan_bradley", SiderealMode::FaganBradley},
    {"fagan-bradley", SiderealMode::FaganBradley},
    {"faganbradley", SiderealMode::FaganBradley},
};

constexpr Form<LunationEvent> LUNATION_EVENTS[] = {
    {"new_moon", LunationEvent::NewMoon},   {"new-moon", LunationEvent::NewMoon},
    {"newmoon", LunationEvent::NewMoon},    {"full_moon", LunationEvent::FullMoon},
    {"full-moon", LunationEvent::FullMoon}, {"fullmoon", LunationEvent::FullMoon},
};

using core::ReferenceEpoch;
constexpr Form<ReferenceEpoch> REFERENCE_EPOCHS[] = {
    {"j2000", ReferenceEpoch::J2000},
    {"of_date", ReferenceEpoch::OfDate},
    {"of-date", ReferenceEpoch::OfDate},
    {"ofdate", ReferenceEpoch::OfDate},
};

using core::CoordinateSystem;
constexpr Form<CoordinateSystem> COORDINATE_SYSTEMS[] = {
    {"ecliptic", CoordinateSystem::Ecliptic},
    {"equatorial", CoordinateSystem::Equatorial},
};

using core::HorizonEventKind;
constexpr Form<HorizonEventKind> HORIZON_EVENT_KINDS[] = {
    {"rise", HorizonEventKind::Rise},
    {"set", HorizonEventKind::Set},
    {"transit", HorizonEventKind::Transit},
};

template <class T, std::size_t N>
std::span<const Form<T>> forms(const Form<T> (&table)[N]) noexcept {
  return std::span<const Form<T>>(table, N);
}

}  // namespace

Parsed<core::Body> parse_body(std::string_view name) { return match(name, forms(BODIES), "body"); }

Parsed<core::Origin> parse_origin(std::string_view name,
                                  const std::optional<core::GeodeticObserver>& observer) {
  const Parsed<OriginKind> kind = match(name, forms(ORIGINS), "origin");
  if (!kind) return std::unexpected(kind.error());
  if (*kind == OriginKind::Topocentric) {
    if (!observer) {
      return std::unexpected(std::string("origin \"topocentric\" requires a GeodeticObserver"));
    }
    const auto valid = core::validate(*observer);
    if (!valid) return std::unexpected(std::string(core::message(valid.error())));
    return core::Origin::topocentric(*valid);
  }
  if (observer) {
    return std::unexpected(std::string("observer is only valid with origin \"topocentric\""));
  }
  return core::Origin{*kind, {}};
}

Parsed<core::TimeScale> parse_time_scale(std::string_view name) {
  return match(name, forms(TIME_SCALES), "time scale");
}
Parsed<core::HouseSystem> parse_house_system(std::string_view name) {
  return match(name, forms(HOUSE_SYSTEMS), "house system");
}
Parsed<SeasonEvent> parse_season_event(std::string_view name) {
  return match(name, forms(SEASON_EVENTS), "season event");
}
Parsed<core::SiderealMode> parse_sidereal_mode(std::string_view name) {
  return match(name, forms(SIDEREAL_MODES), "sidereal mode");
}
Parsed<LunationEvent> parse_lunation_event(std::string_view name) {
  return match(name, forms(LUNATION_EVENTS), "lunation event");
}
Parsed<core::ReferenceEpoch> parse_reference_epoch(std::string_view name) {
  return match(name, forms(REFERENCE_EPOCHS), "reference epoch");
}
Parsed<core::CoordinateSystem> parse_coordinate_system(std::string_view name) {
  return match(name, forms(COORDINATE_SYSTEMS), "coordinate system");
}
Parsed<core::HorizonEventKind> parse_horizon_event_kind(std::string_view name) {
  return match(name, forms(HORIZON_EVENT_KINDS), "horizon event");
}

std::string_view canonical_name(core::TimeScale v) noexcept {
  return canonical(forms(TIME_SCALES), v);
}
std::string_view canonical_name(core::OriginKind v) noexcept {
  return canonical(forms(ORIGINS), v);
}
std::string_view canonical_name(core::CoordinateSystem v) noexcept {
  return canonical(forms(COORDINATE_SYSTEMS), v);
}
std::string_view canonical_name(core::ReferenceEpoch v) noexcept {
  return canonical(forms(REFERENCE_EPOCHS), v);
}
std::string_view canonical_name(core::HouseSystem v) noexcept {
  return canonical(forms(HOUSE_SYSTEMS), v);
}
std::string_view canonical_name(SeasonEvent v) noexcept {
  return canonical(forms(SEASON_EVENTS), v);
}
std::string_view canonical_name(LunationEvent v) noexcept {
  return canonical(forms(LUNATION_EVENTS), v);
}
std::string_view canonical_name(core::SiderealMode v) noexcept {
  return canonical(forms(SIDEREAL_MODES), v);
}
std::string_view canonical_name(core::HorizonEventKind v) noexcept {
  return canonical(forms(HORIZON_EVENT_KINDS), v);
}

std::optional<std::string> extract_name(PyObject* value) {
  Ref attribute;
  PyObject* text = value;
  if (!PyUnicode_Check(value)) {
    attribute = Ref::steal(PyObject_GetAttrString(value, "name"));
    if (!attribute || !PyUnicode_Check(attribute.get())) {
      PyErr_Clear();  // the attribute's own error is not what the caller needs
      value_error("expected a name string or an tarvex enum with a name attribute");
      return std::nullopt;
    }
    text = attribute.get();
  }
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &length);
  if (utf8 == nullptr) return std::nullopt;
  return std::string(utf8, static_cast<std::size_t>(length));
}

std::optional<double> extract_julian_day(PyObject* value) {
  double julian_day = 0.0;
  if (is_instant(value)) {
    julian_day = instant_value(value).julian_day;
  } else {
    julian_day = PyFloat_AsDouble(value);
    if (julian_day == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      value_error("expected an Instant or a finite Julian day float");
      return std::nullopt;
    }
  }
  if (!std::isfinite(julian_day)) {
    value_error("Julian day must be finite");
    return std::nullopt;
  }
  return julian_day;
}

bool to_name(PyObject* value, std::string_view, std::string& out) {
  std::optional<std::string> name = extract_name(value);
  if (!name) return false;
  out = std::move(*name);
  return true;
}

bool to_julian_day(PyObject* value, std::string_view, double& out) {
  const std::optional<double> julian_day = extract_julian_day(value);
  if (!julian_day) return false;
  out = *julian_day;
  return true;
}

PyObject* new_text(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace tarvex::python
