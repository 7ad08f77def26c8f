// The error of the SPK layer: kernel files, the DAF record chain, Type 2
// data and center chains. Each kind renders one fixed English text; callers
// outside the layer see it only through spk_ephemeris_error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "core/errors.hpp"
#include "core/files.hpp"

namespace tarvex::spk {

class SpkError {
 public:
  enum class Kind : std::uint8_t {
    Io,
    InvalidIdWord,
    UnsupportedBinaryFormat,
    InvalidUtf8,
    InvalidFileRecord,
    UnsupportedSummaryLayout,
    InvalidSummaryChain,
    InvalidSegment,
    UnsupportedSegmentType,
    EpochOutsideSegment,
    InvalidType2Segment,
    MissingChainSegment,
    CenterChainCycle,
    InvalidSegmentData,
    UnsupportedFrame,
    CoverageGap,
  };

  static SpkError io(core::IoError error) { return {Kind::Io, {.io = error}}; }
  // The eight raw ID bytes, whatever they hold.
  static SpkError invalid_id_word(std::string_view id_bytes) {
    return {Kind::InvalidIdWord, {.text = std::string(id_bytes)}};
  }
  static SpkError unsupported_binary_format(std::string trimmed_format) {
    return {Kind::UnsupportedBinaryFormat, {.text = std::move(trimmed_format)}};
  }
  static SpkError invalid_utf8(std::string field) {
    return {Kind::InvalidUtf8, {.text = std::move(field)}};
  }
  static SpkError invalid_file_record(std::string reason) {
    return {Kind::InvalidFileRecord, {.text = std::move(reason)}};
  }
  static SpkError unsupported_summary_layout(std::uint32_t nd, std::uint32_t ni) {
    return {Kind::UnsupportedSummaryLayout, {.nd = nd, .ni = ni}};
  }
  static SpkError invalid_summary_chain(std::string reason) {
    return {Kind::InvalidSummaryChain, {.text = std::move(reason)}};
  }
  static SpkError invalid_segment(std::string reason) {
    return {Kind::InvalidSegment, {.text = std::move(reason)}};
  }
  static SpkError unsupported_segment_type(std::int32_t data_type) {
    return {Kind::UnsupportedSegmentType, {.code = data_type}};
  }
  static SpkError epoch_outside_segment(double epoch, double start, double end) {
    return {Kind::EpochOutsideSegment, {.epoch = epoch, .start = start, .end = end}};
  }
  static SpkError invalid_type2_segment(std::string reason) {
    return {Kind::InvalidType2Segment, {.text = std::move(reason)}};
  }
  static SpkError missing_chain_segment(std::int32_t target, double epoch) {
    return {Kind::MissingChainSegment, {.code = target, .epoch = epoch}};
  }
  static SpkError center_chain_cycle(std::int32_t target) {
    return {Kind::CenterChainCycle, {.code = target}};
  }
  // A segment of a type other than 2 whose words break its layout.
  static SpkError invalid_segment_data(std::int32_t data_type, std::string reason) {
    return {Kind::InvalidSegmentData, {.text = std::move(reason), .code = data_type}};
  }
  // A segment whose reference frame cannot be taken to J2000; `frame_name`
  // is the frame's name where it is known, else empty.
  static SpkError unsupported_frame(std::int32_t target, std::int32_t frame,
                                    std::string frame_name) {
    return {Kind::UnsupportedFrame, {.text = std::move(frame_name), .code = target, .frame = frame}};
  }
  // `target` has segments before and after `epoch` but none covering it:
  // (start, end) is the gap, in TDB seconds past J2000.
  static SpkError coverage_gap(std::int32_t target, double epoch, double start, double end) {
    return {Kind::CoverageGap, {.code = target, .epoch = epoch, .start = start, .end = end}};
  }

  // This error with `context` after its reason, for a segment's words that
  // break its type's rules (InvalidSegmentData); any other error unchanged.
  SpkError with_context(std::string_view context) const {
    SpkError copy = *this;
    if (kind_ == Kind::InvalidSegmentData) copy.payload_.text += context;
    return copy;
  }

  Kind kind() const noexcept { return kind_; }
  // The file failure carried by Io.
  const core::IoError& io() const noexcept { return payload_.io; }
  // The text or reason carried (ID bytes, format, field, reason).
  const std::string& text() const noexcept { return payload_.text; }
  // The display text.
  std::string message() const;

  bool operator==(const SpkError&) const = default;

 private:
  // What the kinds carry; each kind sets only its own members.
  struct Payload {
    core::IoError io{};  // Io
    std::string text{};  // the ID bytes, format, field or reason
    std::uint32_t nd = 0;
    std::uint32_t ni = 0;
    std::int32_t code = 0;  // data type or target
    double epoch = 0.0;
    double start = 0.0;
    double end = 0.0;
    std::int32_t frame = 0;  // reference frame code
    bool operator==(const Payload&) const = default;
  };

  SpkError(Kind kind, Payload payload) noexcept : kind_(kind), payload_(std::move(payload)) {}

  Kind kind_;
  Payload payload_;
};

// The SPK error's text inside the Computation member of EphemerisError.
core::EphemerisError spk_ephemeris_error(const SpkError& error);

}  // namespace tarvex::spk
