// The NAIF ids of the bodies a toolkit query names: the planets of the
// strict module, the table of core/naif_bodies.hpp (barycentres,
// satellites, asteroids, dwarf planets), or any integer code written out.
// Each is checked against the store's kernels: a planet whose centre no
// kernel holds is taken at its system barycentre (de440s and its kin hold
// only barycentres for Mars .. Pluto), a numbered asteroid under either of
// its codes, and a body no kernel holds is refused naming it and the
// kernels searched.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "spk/spk_ephemeris.hpp"

namespace tarvex::kit {

std::expected<std::vector<std::int32_t>, std::string> resolve_body_targets(
    const spk::SpkEphemeris& store, std::span<const std::string> names);

}  // namespace tarvex::kit
