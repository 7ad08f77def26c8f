// The interface a position engine offers: one position, or many bodies at
// many instants in instant-major order. The SPK engine is the one
// implementation.
#pragma once

#include <expected>
#include <span>
#include <vector>

#include "core/errors.hpp"
#include "core/types.hpp"

namespace tarvex::core {

class EphemerisBackend {
 public:
  virtual ~EphemerisBackend() = default;

  virtual std::expected<Position, EphemerisError> position(Body body, const Instant& instant,
                                                           const PositionOptions& options) const = 0;

  // Element i * bodies.size() + j is body j at instant i.
  virtual std::expected<std::vector<Position>, EphemerisError> positions(
      std::span<const Body> bodies, std::span<const Instant> instants,
      const PositionOptions& options) const = 0;
};

}  // namespace tarvex::core
