#include "core/naif_bodies.hpp"

#include <string>


namespace tarvex::core {

namespace {

constexpr NaifBodyName NAMES[] = {
    // Barycentres.
    {"solar system barycenter", 0},
    {"ssb", 0},
    {"mercury barycenter", 1},
    {"venus barycenter", 2},
    {"earth barycenter", 3},
    {"earth moon barycenter", 3},
    {"earth-moon barycenter", 3},
    {"emb", 3},
    {"mars barycenter", 4},
    {"jupiter barycenter", 5},
    {"saturn barycenter", 6},
    {"uranus barycenter", 7},
    {"neptune barycenter", 8},
    {"pluto barycenter", 9},
    // Satellites.
    {"phobos", 401},
    {"deimos", 402},
    {"io", 501},
    {"europa", 502},
    {"ganymede", 503},
    {"callisto", 504},
    {"amalthea", 505},
    {"himalia", 506},
    {"thebe", 514},
    {"mimas", 601},
    {"enceladus", 602},
    {"tethys", 603},
    {"dione", 604},
    {"rhea", 605},
    {"titan", 606},
    {"hyperion", 607},
    {"iapetus", 608},
    {"phoebe", 609},
    {"janus", 610},
    {"epimetheus", 611},
    {"ariel", 701},
    {"umbriel", 702},
    {"titania", 703},
    {"oberon", 704},
    {"miranda", 705},
    {"triton", 801},
    {"nereid", 802},
    {"charon", 901},
    {"nix", 902},
    {"hydra", 903},
    {"kerberos", 904},
    {"styx", 905},
    // Asteroids and dwarf planets (2000000 + number).
    {"ceres", 2000001},
    {"pallas", 2000002},
    {"juno", 2000003},
    {"vesta", 2000004},
    {"astraea", 2000005},
    {"hebe", 2000006},
    {"iris", 2000007},
    {"flora", 2000008},
    {"metis", 2000009},
    {"hygiea", 2000010},
    {"psyche", 2000016},
    {"eros", 2000433},
    {"chiron", 2002060},
    {"pholus", 2005145},
    {"nessus", 2007066},
    {"chariklo", 2010199},
    {"quaoar", 2050000},
    {"sedna", 2090377},
    {"orcus", 2090482},
    {"haumea", 2136108},
    {"eris", 2136199},
    {"makemake", 2136472},
    {"gonggong", 2225088},
};

}  // namespace

std::optional<std::int32_t> naif_body_code(std::string_view name) noexcept {
  // One blank between words: underscores and runs of blanks fold to it.
  std::string folded;
  for (const char c : name) {
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    const bool blank = lower == ' ' || lower == '_' || lower == '\t';
    if (blank) {
      if (!folded.empty() && folded.back() != ' ') folded.push_back(' ');
    } else {
      folded.push_back(lower);
    }
  }
  while (!folded.empty() && folded.back() == ' ') folded.pop_back();
  for (const NaifBodyName& entry : NAMES)
    if (entry.name == folded) return entry.code;
  return std::nullopt;
}

std::string_view naif_body_name(std::int32_t code) noexcept {
  for (const NaifBodyName& entry : NAMES)
    if (entry.code == code) return entry.name;
  return {};
}

std::optional<std::int32_t> asteroid_code_alias(std::int32_t code) noexcept {
  if (code > 2000000 && code < 3000000) return code - 2000000 + 20000000;
  if (code > 20000000 && code < 21000000) return code - 20000000 + 2000000;
  return std::nullopt;
}

}  // namespace tarvex::core
