// Bodies by NAIF id beyond the planets of BODY_NAMES: the system
// barycentres, planetary satellites and the common asteroids and dwarf
// planets, by name; and the reading of a body given by its integer code.
// The toolkit accepts these wherever it accepts a body; the strict module
// keeps its eleven names.
//
// Codes: NAIF, NAIF IDs Required Reading (../shared/reference/naif-ids.rst):
// barycentres 0-9, satellites PNN of planet P, numbered asteroids
// 2000000 + number (also 20000000 + number in the extended schema).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvex::core {

struct NaifBodyName {
  std::string_view name;  // lower case, words separated by one blank
  std::int32_t code;
};

// The code of a table name (lower-cased, blanks or underscores between
// words), or nothing.
std::optional<std::int32_t> naif_body_code(std::string_view name) noexcept;

// The table's first name for `code`, or "" when it has none.
std::string_view naif_body_name(std::int32_t code) noexcept;

// A numbered asteroid's other code: 2000000 + n <-> 20000000 + n (n below
// 1000000), or nothing for other codes.
std::optional<std::int32_t> asteroid_code_alias(std::int32_t code) noexcept;

}  // namespace tarvex::core
