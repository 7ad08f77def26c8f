#include "spk/options.hpp"

#include <string>

#include "core/observer.hpp"

namespace tarvex::spk {

using core::CoordinateSystem;
using core::EphemerisError;
using core::ReferenceEpoch;

std::expected<core::PositionOptions, EphemerisError> resolve_position_options(core::PositionOptions options) {
  auto refuse = [](const char* message) { return std::unexpected(EphemerisError::invalid_request(message)); };
  auto& corrections = options.corrections;
  const bool ecliptic = options.coordinate_system == CoordinateSystem::Ecliptic;

  if (options.apparent) {
    if (options.reference_epoch != ReferenceEpoch::OfDate) return refuse("apparent requires reference_epoch: OfDate");
    corrections = {true, true, true, true, true};
    if (ecliptic) options.true_ecliptic = true;
    options.apparent = false;
  }

  if (options.reference_epoch == ReferenceEpoch::OfDate) {
    if (!corrections.precession) return refuse("reference_epoch: OfDate requires corrections.precession");
    if (!options.true_ecliptic && ecliptic && corrections.nutation)
      return refuse("ecliptic-of-date with nutation requires true_ecliptic");
    if (options.true_ecliptic && !ecliptic) return refuse("true_ecliptic requires CoordinateSystem::Ecliptic");
    if (options.true_ecliptic && !corrections.nutation) return refuse("true_ecliptic requires corrections.nutation");
  } else {
    if (corrections.precession || corrections.nutation)
      return refuse("precession and nutation require reference_epoch: OfDate");
    if (options.true_ecliptic && !ecliptic) return refuse("true_ecliptic requires CoordinateSystem::Ecliptic");
    if (options.true_ecliptic) return refuse("true_ecliptic requires reference_epoch: OfDate");
  }

  if (options.origin.is_topocentric()) {
    auto valid = core::validate(options.origin.observer);
    if (!valid) return std::unexpected(EphemerisError::invalid_request(std::string(core::message(valid.error()))));
  }
  return options;
}

}  // namespace tarvex::spk
