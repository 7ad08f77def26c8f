// SPK Type 8: states at equal steps, Lagrange interpolation of each of the
// six components over a window of DEGREE + 1 states centred on the epoch.
// Trailer: first epoch, step, degree, N.
//
// Format and window: NAIF, SPK Required Reading, "Type 8: Lagrange
// Interpolation --- Equal Time Steps" (../shared/reference/naif-spk-segment-types.rst).
// Calls state_table.hpp, whose one evaluator serves Types 8, 9, 12 and 13.
// Called through segment_types.hpp.
#include "spk/segment_types.hpp"
#include "spk/state_table.hpp"

namespace tarvex::spk {

std::unique_ptr<SegmentEvaluator> make_type8_evaluator() {
  return make_interpolated_states_evaluator(StateSteps::Equal, StateInterpolation::Lagrange);
}

}  // namespace tarvex::spk
