// SPK Type 9: states at listed epochs, Lagrange interpolation of each of
// the six components over a window of DEGREE + 1 states centred on the
// epoch. States, epochs, directory, then degree and N.
//
// Format and window: NAIF, SPK Required Reading, "Type 9: Lagrange
// Interpolation --- Unequal Time Steps" (../shared/reference/naif-spk-segment-types.rst).
// Calls state_table.hpp, whose one evaluator serves Types 8, 9, 12 and 13.
// Called through segment_types.hpp.
#include "spk/segment_types.hpp"
#include "spk/state_table.hpp"

namespace tarvex::spk {

std::unique_ptr<SegmentEvaluator> make_type9_evaluator() {
  return make_interpolated_states_evaluator(StateSteps::Listed, StateInterpolation::Lagrange);
}

}  // namespace tarvex::spk
