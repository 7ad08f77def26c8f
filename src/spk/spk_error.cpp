#include "spk/spk_error.hpp"

#include <utility>

#include "core/format.hpp"

namespace tarvex::spk {

SpkError SpkError::io(core::IoError error) {
  SpkError e(Kind::Io);
  e.io_ = error;
  return e;
}

SpkError SpkError::invalid_id_word(std::string_view id_bytes) {
  SpkError e(Kind::InvalidIdWord);
  e.text_ = std::string(id_bytes);
  return e;
}

SpkError SpkError::unsupported_binary_format(std::string trimmed_format) {
  SpkError e(Kind::UnsupportedBinaryFormat);
  e.text_ = std::move(trimmed_format);
  return e;
}

SpkError SpkError::invalid_utf8(std::string field) {
  SpkError e(Kind::InvalidUtf8);
  e.text_ = std::move(field);
  return e;
}

SpkError SpkError::invalid_file_record(std::string reason) {
  SpkError e(Kind::InvalidFileRecord);
  e.text_ = std::move(reason);
  return e;
}

SpkError SpkError::unsupported_summary_layout(std::uint32_t nd, std::uint32_t ni) {
  SpkError e(Kind::UnsupportedSummaryLayout);
  e.nd_ = nd;
  e.ni_ = ni;
  return e;
}

SpkError SpkError::invalid_summary_chain(std::string reason) {
  SpkError e(Kind::InvalidSummaryChain);
  e.text_ = std::move(reason);
  return e;
}

SpkError SpkError::invalid_segment(std::string reason) {
  SpkError e(Kind::InvalidSegment);
  e.text_ = std::move(reason);
  return e;
}

SpkError SpkError::unsupported_segment_type(std::int32_t data_type) {
  SpkError e(Kind::UnsupportedSegmentType);
  e.code_ = data_type;
  return e;
}

SpkError SpkError::epoch_outside_segment(double epoch, double start, double end) {
  SpkError e(Kind::EpochOutsideSegment);
  e.epoch_ = epoch;
  e.start_ = start;
  e.end_ = end;
  return e;
}

SpkError SpkError::invalid_type2_segment(std::string reason) {
  SpkError e(Kind::InvalidType2Segment);
  e.text_ = std::move(reason);
  return e;
}

SpkError SpkError::missing_chain_segment(std::int32_t target, double epoch) {
  SpkError e(Kind::MissingChainSegment);
  e.code_ = target;
  e.epoch_ = epoch;
  return e;
}

SpkError SpkError::center_chain_cycle(std::int32_t target) {
  SpkError e(Kind::CenterChainCycle);
  e.code_ = target;
  return e;
}

std::string SpkError::message() const {
  std::string out;
  switch (kind_) {
    case Kind::Io:
      out = "failed to read SPK kernel: ";
      out += io_.message();
      break;
    case Kind::InvalidIdWord:
      out = "expected DAF/SPK file identifier, found ";
      core::append_quoted_text(out, text_);
      break;
    case Kind::UnsupportedBinaryFormat:
      out = "unsupported DAF binary format ";
      core::append_quoted_text(out, text_);
      break;
    case Kind::InvalidUtf8:
      out = "invalid UTF-8 in ";
      out += text_;
      break;
    case Kind::InvalidFileRecord:
      out = "invalid DAF file record: ";
      out += text_;
      break;
    case Kind::UnsupportedSummaryLayout:
      out = "unsupported SPK summary layout ND=";
      out += std::to_string(nd_);
      out += ", NI=";
      out += std::to_string(ni_);
      break;
    case Kind::InvalidSummaryChain:
      out = "invalid DAF summary chain: ";
      out += text_;
      break;
    case Kind::InvalidSegment:
      out = "invalid SPK segment: ";
      out += text_;
      break;
    case Kind::UnsupportedSegmentType:
      out = "unsupported SPK segment type ";
      out += std::to_string(code_);
      break;
    case Kind::EpochOutsideSegment:
      out = "TDB epoch ";
      core::append_plain_float(out, epoch_);
      out += " is outside segment coverage [";
      core::append_plain_float(out, start_);
      out += ", ";
      core::append_plain_float(out, end_);
      out += ']';
      break;
    case Kind::InvalidType2Segment:
      out = "invalid SPK Type 2 segment: ";
      out += text_;
      break;
    case Kind::MissingChainSegment:
      out = "no SPK segment continues the center chain from target ";
      out += std::to_string(code_);
      out += " at TDB epoch ";
      core::append_plain_float(out, epoch_);
      break;
    case Kind::CenterChainCycle:
      out = "SPK center chain for target ";
      out += std::to_string(code_);
      out += " contains a cycle";
      break;
  }
  return out;
}

core::EphemerisError spk_ephemeris_error(const SpkError& error) {
  return core::EphemerisError::computation(error.message());
}

}  // namespace tarvex::spk
