#include "time/lsk_error.hpp"

#include "core/format.hpp"

namespace tarvex::time {

std::string LskError::message() const {
  switch (kind) {
    case Kind::Io: return "failed to read leap-second kernel: " + io.message();
    case Kind::InvalidPath: return "leap-second kernel path has no UTF-8 filename";
    case Kind::InvalidSha256:
      return "leap-second kernel SHA-256 must contain exactly 64 hexadecimal characters";
    case Kind::MissingDataSection: return "leap-second kernel has no \\begindata section";
    case Kind::MissingKeyword: return "leap-second kernel is missing required keyword " + keyword;
    case Kind::InvalidValue: return "invalid value for " + keyword + ": " + reason;
    case Kind::InvalidDateLiteral: {
      std::string text = "invalid NAIF date literal ";
      core::append_quoted_text(text, literal);
      return text;
    }
    case Kind::UnsortedLeapSeconds:
      return "DELTET/DELTA_AT entries must be strictly ascending in effective date";
    case Kind::NonFiniteValue: return "leap-second kernel value " + keyword + " must be finite";
  }
  return "leap-second kernel has no \\begindata section";
}

}  // namespace tarvex::time
