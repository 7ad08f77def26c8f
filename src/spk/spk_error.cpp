#include "spk/spk_error.hpp"

#include "core/format.hpp"

namespace tarvex::spk {

std::string SpkError::message() const {
  std::string out;
  switch (kind_) {
    case Kind::Io:
      out = "failed to read SPK kernel: ";
      out += payload_.io.message();
      break;
    case Kind::InvalidIdWord:
      out = "expected DAF/SPK file identifier, found ";
      core::append_quoted_text(out, payload_.text);
      break;
    case Kind::UnsupportedBinaryFormat:
      out = "unsupported DAF binary format ";
      core::append_quoted_text(out, payload_.text);
      break;
    case Kind::InvalidUtf8:
      out = "invalid UTF-8 in ";
      out += payload_.text;
      break;
    case Kind::InvalidFileRecord:
      out = "invalid DAF file record: ";
      out += payload_.text;
      break;
    case Kind::UnsupportedSummaryLayout:
      out = "unsupported SPK summary layout ND=";
      out += std::to_string(payload_.nd);
      out += ", NI=";
      out += std::to_string(payload_.ni);
      break;
    case Kind::InvalidSummaryChain:
      out = "invalid DAF summary chain: ";
      out += payload_.text;
      break;
    case Kind::InvalidSegment:
      out = "invalid SPK segment: ";
      out += payload_.text;
      break;
    case Kind::UnsupportedSegmentType:
      out = "unsupported SPK segment type ";
      out += std::to_string(payload_.code);
      break;
    case Kind::EpochOutsideSegment:
      out = "TDB epoch ";
      core::append_plain_float(out, payload_.epoch);
      out += " is outside segment coverage [";
      core::append_plain_float(out, payload_.start);
      out += ", ";
      core::append_plain_float(out, payload_.end);
      out += ']';
      break;
    case Kind::InvalidType2Segment:
      out = "invalid SPK Type 2 segment: ";
      out += payload_.text;
      break;
    case Kind::MissingChainSegment:
      out = "no SPK segment continues the center chain from target ";
      out += std::to_string(payload_.code);
      out += " at TDB epoch ";
      core::append_plain_float(out, payload_.epoch);
      break;
    case Kind::CenterChainCycle:
      out = "SPK center chain for target ";
      out += std::to_string(payload_.code);
      out += " contains a cycle";
      break;
    case Kind::InvalidSegmentData:
      out = "invalid SPK Type ";
      out += std::to_string(payload_.code);
      out += " segment: ";
      out += payload_.text;
      break;
    case Kind::UnsupportedFrame:
      out = "SPK segment for target ";
      out += std::to_string(payload_.code);
      out += " is in reference frame ";
      if (!payload_.text.empty()) {
        out += payload_.text;
        out += " (";
        out += std::to_string(payload_.frame);
        out += ')';
      } else {
        out += std::to_string(payload_.frame);
      }
      out += ", which this engine cannot rotate to J2000";
      break;
    case Kind::CoverageGap:
      out = "no SPK segment covers target ";
      out += std::to_string(payload_.code);
      out += " at TDB epoch ";
      core::append_plain_float(out, payload_.epoch);
      out += ": it falls in a gap of the target's coverage, between TDB epochs ";
      core::append_plain_float(out, payload_.start);
      out += " and ";
      core::append_plain_float(out, payload_.end);
      break;
  }
  return out;
}

core::EphemerisError spk_ephemeris_error(const SpkError& error) {
  return core::EphemerisError::computation(error.message());
}

}  // namespace tarvex::spk
