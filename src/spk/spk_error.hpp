// The error of the SPK layer: kernel files, the DAF record chain, Type 2
// data and center chains. Each kind renders one fixed English text; callers
// outside the layer see it only through spk_ephemeris_error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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
  };

  static SpkError io(core::IoError error);
  // The eight raw ID bytes, whatever they hold.
  static SpkError invalid_id_word(std::string_view id_bytes);
  static SpkError unsupported_binary_format(std::string trimmed_format);
  static SpkError invalid_utf8(std::string field);
  static SpkError invalid_file_record(std::string reason);
  static SpkError unsupported_summary_layout(std::uint32_t nd, std::uint32_t ni);
  static SpkError invalid_summary_chain(std::string reason);
  static SpkError invalid_segment(std::string reason);
  static SpkError unsupported_segment_type(std::int32_t data_type);
  static SpkError epoch_outside_segment(double epoch, double start, double end);
  static SpkError invalid_type2_segment(std::string reason);
  static SpkError missing_chain_segment(std::int32_t target, double epoch);
  static SpkError center_chain_cycle(std::int32_t target);

  Kind kind() const noexcept { return kind_; }
  // The file failure carried by Io.
  const core::IoError& io() const noexcept { return io_; }
  // The text or reason carried (ID bytes, format, field, reason).
  const std::string& text() const noexcept { return text_; }
  // The display text.
  std::string message() const;

  bool operator==(const SpkError&) const = default;

 private:
  explicit SpkError(Kind kind) noexcept : kind_(kind) {}

  Kind kind_;
  core::IoError io_{};  // Io
  std::string text_;
  std::uint32_t nd_ = 0;
  std::uint32_t ni_ = 0;
  std::int32_t code_ = 0;  // data type or target
  double epoch_ = 0.0;
  double start_ = 0.0;
  double end_ = 0.0;
};

// The SPK error's text inside the Computation member of EphemerisError.
core::EphemerisError spk_ephemeris_error(const SpkError& error);

}  // namespace tarvex::spk
