// SPK Type 13: states at listed epochs, Hermite interpolation of each
// position coordinate through the positions and velocities of a window of
// S states centred on the epoch, the velocity its derivative. States,
// epochs, directory, then S - 1 and N.
//
// Format and window: NAIF, SPK Required Reading, "Type 13: Hermite
// Interpolation --- Unequal Time Steps" (../shared/reference/naif-spk-segment-types.rst).
// Calls state_table.hpp, whose one evaluator serves Types 8, 9, 12 and 13.
// Called through segment_types.hpp.
#include "spk/segment_types.hpp"
#include "spk/state_table.hpp"

namespace tarvex::spk {

std::unique_ptr<SegmentEvaluator> make_type13_evaluator() {
  return make_interpolated_states_evaluator(StateSteps::Listed, StateInterpolation::Hermite);
}

}  // namespace tarvex::spk
