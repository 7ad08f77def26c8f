// SPK Type 12: states at equal steps, Hermite interpolation of each
// position coordinate through the positions and velocities of a window of
// S states centred on the epoch, the velocity its derivative. Trailer:
// first epoch, step, S - 1, N.
//
// Format and window: NAIF, SPK Required Reading, "Type 12: Hermite
// Interpolation --- Equal Time Steps" (../shared/reference/naif-spk-segment-types.rst).
// Calls state_table.hpp, whose one evaluator serves Types 8, 9, 12 and 13.
// Called through segment_types.hpp.
#include "spk/segment_types.hpp"
#include "spk/state_table.hpp"

namespace tarvex::spk {

std::unique_ptr<SegmentEvaluator> make_type12_evaluator() {
  return make_interpolated_states_evaluator(StateSteps::Equal, StateInterpolation::Hermite);
}

}  // namespace tarvex::spk
