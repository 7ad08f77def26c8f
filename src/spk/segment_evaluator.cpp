#include "spk/segment_evaluator.hpp"

#include <cmath>

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

std::expected<std::uint64_t, SpkError> EvenRecords::load(const SegmentWords& words, double epoch) {
  const double x = std::floor((epoch - init_) / interval_);
  // In doubles first: a NaN or huge quotient must not reach the integer cast.
  const double last = static_cast<double>(count_ - 1);
  const std::uint64_t k = !(x > 0.0) ? 0 : x >= last ? count_ - 1 : static_cast<std::uint64_t>(x);
  if (record_.size() != size_ || cached_index_ != k) {
    record_.resize(size_);
    if (auto read = words.read(k * size_, record_); !read) {
      record_.clear();
      return std::unexpected(read.error());
    }
    cached_index_ = k;
  }
  return k;
}

}  // namespace tarvex::spk
