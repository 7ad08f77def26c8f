#include "python/enums.hpp"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <type_traits>
#include <string>
#include <utility>

#include "core/format.hpp"
#include "core/name_table.hpp"
#include "python/binder.hpp"
#include "python/errors.hpp"
#include "python/metadata_objects.hpp"

namespace tarvex::python {

namespace {

using Ordinal = std::uint8_t;

struct EnumClass {
  const char* type_name;  // "tarvex.HouseSystem"
  const char* doc;
  const char* new_function;  // "HouseSystem.__new__()"
  std::span<const std::string_view> members;  // canonical names, indexed by ordinal
  Parsed<Ordinal> (*parse)(std::string_view name);
};

template <auto Parser>
Parsed<Ordinal> parse_ordinal(std::string_view name) {
  const auto parsed = Parser(name);
  if (!parsed) return std::unexpected(parsed.error());
  return static_cast<Ordinal>(*parsed);
}

// The canonical names of an enumeration, by ordinal, from its core table.
template <auto& Names>
constexpr auto canonical_names() {
  using Value = std::remove_cvref_t<decltype(Names[0].value)>;
  constexpr std::span<const core::NameForm<Value>> forms(Names);
  std::array<std::string_view, core::member_count(forms)> names{};
  for (std::size_t ordinal = 0; ordinal < names.size(); ++ordinal) {
    names[ordinal] = core::canonical_name(forms, static_cast<Value>(ordinal));
  }
  return names;
}

template <auto& Names>
constexpr auto MEMBERS = canonical_names<Names>();

enum Class : std::size_t {
  HOUSE_SYSTEM,
  SEASON_EVENT,
  LUNATION_EVENT,
  SIDEREAL_MODE,
  HORIZON_EVENT_KIND
};

constexpr EnumClass CLASSES[] = {
    {"tarvex.HouseSystem",
     "HouseSystem(name)\n--\n\n"
     "House-division algorithm (Placidus, Campanus, Equal, Whole Sign).",
     "HouseSystem.__new__()",
     MEMBERS<core::HOUSE_SYSTEM_NAMES>,
     parse_ordinal<parse_house_system>},
    {"tarvex.SeasonEvent",
     "SeasonEvent(name)\n--\n\n"
     "Equinox or solstice (Sun apparent ecliptic longitude 0/90/180/270\u00b0).",
     "SeasonEvent.__new__()",
     MEMBERS<core::SEASON_EVENT_NAMES>,
     parse_ordinal<parse_season_event>},
    {"tarvex.LunationEvent",
     "LunationEvent(name)\n--\n\n"
     "New or full Moon (apparent geocentric elongation 0\u00b0/180\u00b0).",
     "LunationEvent.__new__()",
     MEMBERS<core::LUNATION_EVENT_NAMES>,
     parse_ordinal<parse_lunation_event>},
    {"tarvex.SiderealMode",
     "SiderealMode(name)\n--\n\n"
     "Lahiri or Fagan\u2013Bradley ayanamsha applied to ecliptic of date.",
     "SiderealMode.__new__()",
     MEMBERS<core::SIDEREAL_MODE_NAMES>,
     parse_ordinal<parse_sidereal_mode>},
    {"tarvex.HorizonEventKind",
     "HorizonEventKind(name)\n--\n\n"
     "Rise, set, or meridian transit of the Sun or Moon.",
     "HorizonEventKind.__new__()",
     MEMBERS<core::HORIZON_EVENT_KIND_NAMES>,
     parse_ordinal<parse_horizon_event_kind>},
};

// A text joined from parts at compile time, with its terminating zero.
template <std::size_t N>
struct JoinedText {
  std::array<char, N + 1> characters{};
  constexpr const char* c_str() const noexcept { return characters.data(); }
};

template <std::size_t N>
constexpr JoinedText<N> join(std::initializer_list<std::string_view> parts) {
  JoinedText<N> text;
  std::size_t length = 0;
  for (std::string_view part : parts) {
    for (char character : part) text.characters[length++] = character;
  }
  return text;
}

// One member's class method: named like the member's canonical name, called
// "Class.name()" in binding messages, documented with its signature.
template <std::size_t C, std::size_t M>
struct MemberMethod {
  static constexpr std::string_view type_name = CLASSES[C].type_name;
  static constexpr std::string_view class_name = type_name.substr(type_name.find('.') + 1);
  static constexpr std::string_view name = CLASSES[C].members[M];
  static constexpr std::string_view DOC_TAIL = "($cls)\n--\n\n";
  static constexpr auto method_name = join<name.size()>({name});
  static constexpr auto function =
      join<class_name.size() + name.size() + 3>({class_name, ".", name, "()"});
  static constexpr auto doc = join<name.size() + DOC_TAIL.size()>({name, DOC_TAIL});
};

// Indexed like CLASSES; the slots themselves are defined after the types.
constexpr ClassSlot* SLOTS[] = {&house_system_class, &season_event_class, &lunation_event_class,
                                &sidereal_mode_class, &horizon_event_kind_class};

template <std::size_t C>
PyObject* new_member(Ordinal ordinal) {
  return box(SLOTS[C]->type, ordinal);
}

template <std::size_t C>
PyObject* enum_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  std::string_view name;
  const Argument parameters[] = {{"name", to_text, name}};
  Arguments arguments(CLASSES[C].new_function, parameters);
  if (!arguments.bind(args, kwargs) || !arguments.convert()) return nullptr;
  const auto ordinal = CLASSES[C].parse(name);
  if (!ordinal) return value_error(ordinal.error());
  return new_member<C>(*ordinal);
}

template <std::size_t C, std::size_t M>
PyObject* member_method(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments arguments(MemberMethod<C, M>::function.c_str(), {});
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  return new_member<C>(static_cast<Ordinal>(M));
}

template <std::size_t C>
std::string_view member_name(PyObject* self) {
  return CLASSES[C].members[unbox<Ordinal>(self)];
}

template <std::size_t C>
PyObject* enum_name(PyObject* self) {
  return new_text(member_name<C>(self));
}

template <std::size_t C>
PyObject* enum_repr(PyObject* self) {
  const std::string_view type_name = CLASSES[C].type_name;
  std::string text(type_name.substr(type_name.find('.') + 1));
  text += '(';
  core::append_quoted_text(text, member_name<C>(self));
  text += ')';
  return new_text(text);
}

template <std::size_t C, std::size_t... M>
std::array<PyMethodDef, sizeof...(M) + 1> make_methods(std::index_sequence<M...>) {
  return {{
      {MemberMethod<C, M>::method_name.c_str(), as_cfunction<member_method<C, M>>(),
       METH_FASTCALL | METH_KEYWORDS | METH_CLASS, MemberMethod<C, M>::doc.c_str()}...,
      {nullptr, nullptr, 0, nullptr},
  }};
}

template <std::size_t C>
struct EnumType {
  static inline auto methods =
      make_methods<C>(std::make_index_sequence<CLASSES[C].members.size()>{});
  static inline PyGetSetDef getset[] = {
      {"name", getter_entry<enum_name<C>>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static inline PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(CLASSES[C].doc)},
      {Py_tp_new, slot_function(new_entry<enum_new<C>>)},
      {Py_tp_dealloc, slot_function(dealloc_boxed<Ordinal>)},
      {Py_tp_repr, slot_function(unary_entry<enum_repr<C>>)},
      {Py_tp_methods, methods.data()},
      {Py_tp_getset, getset},
      {0, nullptr},
  };
  static inline PyType_Spec type_spec = {
      .name = CLASSES[C].type_name,
      .basicsize = sizeof(Boxed<Ordinal>),
      .itemsize = 0,
      .flags = CLASS_FLAGS,
      .slots = slots,
  };
};

}  // namespace

ClassSlot house_system_class{&EnumType<HOUSE_SYSTEM>::type_spec};
ClassSlot season_event_class{&EnumType<SEASON_EVENT>::type_spec};
ClassSlot lunation_event_class{&EnumType<LUNATION_EVENT>::type_spec};
ClassSlot sidereal_mode_class{&EnumType<SIDEREAL_MODE>::type_spec};
ClassSlot horizon_event_kind_class{&EnumType<HORIZON_EVENT_KIND>::type_spec};

PyObject* new_house_system(core::HouseSystem system) {
  return new_member<HOUSE_SYSTEM>(static_cast<Ordinal>(system));
}
PyObject* new_lunation_event(LunationEvent event) {
  return new_member<LUNATION_EVENT>(static_cast<Ordinal>(event));
}
PyObject* new_sidereal_mode(core::SiderealMode mode) {
  return new_member<SIDEREAL_MODE>(static_cast<Ordinal>(mode));
}
PyObject* new_horizon_event_kind(core::HorizonEventKind kind) {
  return new_member<HORIZON_EVENT_KIND>(static_cast<Ordinal>(kind));
}

}  // namespace tarvex::python
