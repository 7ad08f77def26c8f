#include "spk/segment_types.hpp"

#include <array>

namespace tarvex::spk {

namespace {

constexpr std::array<SegmentType, 13> TYPES{{
    {1, "modified difference arrays", &make_type1_evaluator},
    {2, "Chebyshev polynomials, position", nullptr},
    {3, "Chebyshev polynomials, position and velocity", &make_type3_evaluator},
    {5, "discrete states, two-body propagation", &make_type5_evaluator},
    {8, "Lagrange interpolation, equal steps", &make_type8_evaluator},
    {9, "Lagrange interpolation, unequal steps", &make_type9_evaluator},
    {12, "Hermite interpolation, equal steps", &make_type12_evaluator},
    {13, "Hermite interpolation, unequal steps", &make_type13_evaluator},
    {15, "precessing conic", &make_type15_evaluator},
    {17, "equinoctial elements", &make_type17_evaluator},
    {18, "ESOC/DDID Hermite or Lagrange interpolation", &make_type18_evaluator},
    {20, "Chebyshev polynomials, velocity", &make_type20_evaluator},
    {21, "extended modified difference arrays", &make_type21_evaluator},
}};

}  // namespace

std::span<const SegmentType> segment_types() noexcept { return TYPES; }

const SegmentType* find_segment_type(std::int32_t data_type) noexcept {
  for (const SegmentType& type : TYPES)
    if (type.data_type == data_type) return &type;
  return nullptr;
}

}  // namespace tarvex::spk
