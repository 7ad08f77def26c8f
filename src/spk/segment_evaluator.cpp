#include "spk/segment_evaluator.hpp"

namespace tarvex::spk {

std::expected<void, SpkError> SegmentWords::read(std::uint64_t offset,
                                                 std::span<double> out) const {
  if (out.empty()) return {};
  if (offset > size() || out.size() > size() - offset)
    return std::unexpected(error("a record reaches past the end of the segment"));
  const std::uint64_t address = static_cast<std::uint64_t>(location_.start_address) + offset;
  return reader_(context_, static_cast<std::int32_t>(address), out);
}

std::expected<void, SpkError> SegmentWords::read_tail(std::span<double> out) const {
  if (out.size() > size()) return std::unexpected(error("segment is too short for its trailer"));
  return read(size() - out.size(), out);
}

}  // namespace tarvex::spk
