// The SPK data types this system evaluates, in one table: a new type is
// its evaluator's file and one line of the table (segment_types.cpp).
//
// Type 2 is listed but made by no maker: its segments are served by the
// kernel's own directory and record caches and the multi-lane recurrence
// (kernel.hpp, type2.hpp), the hot path of every planetary query.
//
// Formats: NAIF, SPK Required Reading, "Supported Data Types"
// (../shared/reference/naif-spk-segment-types.rst).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "spk/segment_evaluator.hpp"

namespace tarvex::spk {

using SegmentEvaluatorMaker = std::unique_ptr<SegmentEvaluator> (*)();

struct SegmentType {
  std::int32_t data_type;
  std::string_view description;
  SegmentEvaluatorMaker make;  // nullptr for Type 2 (see above)
};

// Every supported type, in increasing type number.
std::span<const SegmentType> segment_types() noexcept;
// The entry of `data_type`, or nullptr.
const SegmentType* find_segment_type(std::int32_t data_type) noexcept;

// The makers, one per evaluator file (typeN.cpp).
std::unique_ptr<SegmentEvaluator> make_type1_evaluator();
std::unique_ptr<SegmentEvaluator> make_type3_evaluator();
std::unique_ptr<SegmentEvaluator> make_type5_evaluator();
std::unique_ptr<SegmentEvaluator> make_type8_evaluator();
std::unique_ptr<SegmentEvaluator> make_type9_evaluator();
std::unique_ptr<SegmentEvaluator> make_type12_evaluator();
std::unique_ptr<SegmentEvaluator> make_type13_evaluator();
std::unique_ptr<SegmentEvaluator> make_type15_evaluator();
std::unique_ptr<SegmentEvaluator> make_type17_evaluator();
std::unique_ptr<SegmentEvaluator> make_type18_evaluator();
std::unique_ptr<SegmentEvaluator> make_type20_evaluator();
std::unique_ptr<SegmentEvaluator> make_type21_evaluator();

}  // namespace tarvex::spk
