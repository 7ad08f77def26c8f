// Engine's event and sidereal methods (rise_set_transit, next_horizon_event,
// next_season_event, next_lunation, sidereal_position). Each is a query:
// bind, thread check and shared borrow, parameter conversion in order, name
// conversions, closed check, then one engine operation whose error becomes
// ValueError with its text.
#include "python/engine_events.hpp"

#include <optional>
#include <string>
#include <string_view>

#include "python/binder.hpp"
#include "python/convert.hpp"
#include "python/engine.hpp"
#include "python/errors.hpp"
#include "python/results.hpp"
#include "python/value_results.hpp"
#include "python/values.hpp"
#include "spk/horizon_events.hpp"
#include "spk/search.hpp"

namespace tarvex::python {
namespace {

// A name-like argument through extract_name and then its vocabulary's
// parser; std::nullopt with ValueError set on either failure.
template <class Parser>
auto parse_name_like(PyObject* value, Parser parser)
    -> std::optional<typename decltype(parser(std::string_view{}))::value_type> {
  const std::optional<std::string> name = extract_name(value);
  if (!name) return std::nullopt;
  auto parsed = parser(*name);
  if (!parsed) {
    value_error(parsed.error());
    return std::nullopt;
  }
  return *parsed;
}

PyObject* rise_set_transit(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  std::string_view body_name;
  core::GeodeticObserver observer;
  core::Instant around;
  double altitude_deg = 0.0;
  const Argument parameters[] = {
      {"body", to_text, body_name},
      {"observer", to_geodetic_observer, observer},
      {"around", to_instant, around},
      {"altitude_deg", to_float, altitude_deg},
  };
  Arguments arguments("Engine.rise_set_transit()", parameters);
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto borrow = EngineBorrow::shared(self);
  if (!borrow) return nullptr;
  if (!arguments.convert()) return nullptr;
  const auto body = parse_body(body_name);
  if (!body) return value_error(body.error());
  const spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  const auto day = spk::rise_set_transit(*store, *body, observer, around, altitude_deg);
  if (!day) return map_ephemeris_error(day.error());
  return new_rise_set_transit(day->transit_ut1_julian_day, day->rise_ut1_julian_day,
                              day->set_ut1_julian_day);
}

PyObject* next_horizon_event(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  std::string_view body_name;
  core::GeodeticObserver observer;
  core::Instant after;
  PyObject* kind_name = nullptr;
  double altitude_deg = 0.0;
  // `kind` is name-like: any object here, read by extract_name after the body.
  const Argument parameters[] = {
      {"body", to_text, body_name},
      {"observer", to_geodetic_observer, observer},
      {"after", to_instant, after},
      {"kind", keep_object, kind_name},
      {"altitude_deg", to_float, altitude_deg},
  };
  Arguments arguments("Engine.next_horizon_event()", parameters);
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto borrow = EngineBorrow::shared(self);
  if (!borrow) return nullptr;
  if (!arguments.convert()) return nullptr;
  const auto body = parse_body(body_name);
  if (!body) return value_error(body.error());
  const auto kind = parse_name_like(kind_name, parse_horizon_event_kind);
  if (!kind) return nullptr;
  const spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  spk::Interruption interruption = signal_interruption();
  const EngineOperation operation(borrow->engine());
  const auto event =
      spk::next_horizon_event(*store, *body, observer, after, *kind, altitude_deg, interruption);
  if (!event) return map_stop_or_error(event.error());
  return new_horizon_event(event->ut1_julian_day, event->kind);
}

PyObject* next_season_event(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  core::Instant after;
  PyObject* kind_name = nullptr;
  const Argument parameters[] = {{"after", to_instant, after}, {"kind", keep_object, kind_name}};
  Arguments arguments("Engine.next_season_event()", parameters);
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto borrow = EngineBorrow::shared(self);
  if (!borrow) return nullptr;
  if (!arguments.convert()) return nullptr;
  const auto kind = parse_name_like(kind_name, parse_season_event);
  if (!kind) return nullptr;
  const spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  spk::Interruption interruption = signal_interruption();
  const EngineOperation operation(borrow->engine());
  const auto event = spk::refine_longitude_zero(
      *store, spk::SearchedQuantity::SunLongitude, after.time_scale, after,
      core::target_longitude_deg(*kind), core::SEASON_RETRY_PERIOD_DAYS, interruption);
  if (!event) return map_stop_or_error(event.error());
  return new_instant(*event);
}

PyObject* next_lunation(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  core::Instant after;
  PyObject* kind_name = nullptr;
  const Argument parameters[] = {{"after", to_instant, after}, {"kind", keep_object, kind_name}};
  Arguments arguments("Engine.next_lunation()", parameters);
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto borrow = EngineBorrow::shared(self);
  if (!borrow) return nullptr;
  if (!arguments.convert()) return nullptr;
  const auto kind = parse_name_like(kind_name, parse_lunation_event);
  if (!kind) return nullptr;
  const spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  spk::Interruption interruption = signal_interruption();
  const EngineOperation operation(borrow->engine());
  const auto event = spk::refine_longitude_zero(
      *store, spk::SearchedQuantity::SunMoonElongation, after.time_scale, after,
      core::target_elongation_deg(*kind), core::LUNATION_RETRY_PERIOD_DAYS, interruption);
  if (!event) return map_stop_or_error(event.error());
  return new_instant(*event);
}

PyObject* sidereal_position(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  std::string_view body_name;
  core::Instant instant;
  core::PositionOptions options;
  PyObject* mode_name = nullptr;
  const Argument parameters[] = {
      {"body", to_text, body_name},
      {"instant", to_instant, instant},
      {"options", to_position_options, options},
      {"mode", keep_object, mode_name},
  };
  Arguments arguments("Engine.sidereal_position()", parameters);
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto borrow = EngineBorrow::shared(self);
  if (!borrow) return nullptr;
  if (!arguments.convert()) return nullptr;
  const auto body = parse_body(body_name);
  if (!body) return value_error(body.error());
  const auto mode = parse_name_like(mode_name, parse_sidereal_mode);
  if (!mode) return nullptr;
  const spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  const auto position = spk::sidereal_position(*store, *body, instant, options, *mode);
  if (!position) return map_ephemeris_error(position.error());
  return new_position(*position);
}

constexpr int METHOD = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef ENGINE_EVENT_METHODS[] = {
    {"rise_set_transit", as_cfunction<rise_set_transit>(), METHOD,
     "rise_set_transit($self, body, observer, around, altitude_deg)\n--\n\n"
     "Same-day Sun or Moon rise, set, and meridian transit (UT1 Julian days)."},
    {"next_horizon_event", as_cfunction<next_horizon_event>(), METHOD,
     "next_horizon_event($self, body, observer, after, kind, altitude_deg)\n--\n\n"
     "Next Sun or Moon rise, set, or transit strictly after `after`."},
    {"next_season_event", as_cfunction<next_season_event>(), METHOD,
     "next_season_event($self, after, kind)\n--\n\n"
     "Next equinox or solstice after `after`. Returned instant is TT."},
    {"next_lunation", as_cfunction<next_lunation>(), METHOD,
     "next_lunation($self, after, kind)\n--\n\n"
     "Next new or full Moon after `after`. Returned instant is TT."},
    {"sidereal_position", as_cfunction<sidereal_position>(), METHOD,
     "sidereal_position($self, body, instant, options, mode)\n--\n\n"
     "Ecliptic of-date position with Lahiri or Fagan\u2013Bradley ayanamsha."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarvex::python
