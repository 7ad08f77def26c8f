// One opened SPK kernel: the validated DAF file record, the segment list
// read once from the summary/name record chain, one-based word reads in the
// file's byte order, and the two Type 2 caches (directories, and the last
// record of each segment).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/types.hpp"
#include "spk/kernel_source.hpp"
#include "spk/segment_evaluator.hpp"
#include "spk/spk_error.hpp"
#include "spk/type2.hpp"

namespace tarvex::spk {

inline constexpr std::size_t DAF_RECORD_BYTES = 1024;
inline constexpr std::size_t DAF_WORD_BYTES = 8;
inline constexpr std::size_t SPK_SUMMARY_BYTES = 40;  // ND = 2, NI = 6

// Which segments a kernel's queries may use: the strict engine's Type 2
// segments in J2000 only, or every registered type (segment_types.hpp) in
// every inertial frame that rotates to J2000 (inertial_frames.hpp), with
// coverage that may leave gaps.
enum class SegmentRules : std::uint8_t { Type2J2000, AnyType };

// One SPK summary with its name. Invariants: finite epochs, start <= end,
// 1 <= start_address <= end_address.
struct SpkSegment {
  std::string identifier;
  double start_epoch = 0.0;  // TDB seconds past J2000
  double end_epoch = 0.0;
  std::int32_t target = 0;
  std::int32_t center = 0;
  std::int32_t frame = 0;
  std::int32_t data_type = 0;
  std::int32_t start_address = 0;
  std::int32_t end_address = 0;
  bool operator==(const SpkSegment&) const = default;
};

// The fields of the DAF file record (record 1) that we use.
struct FileRecord {
  std::string internal_name;
  std::uint32_t nd = 0;
  std::uint32_t ni = 0;
  std::uint32_t forward = 0;
  std::uint32_t backward = 0;
  std::uint32_t free_address = 0;
  bool big_endian = false;
  bool operator==(const FileRecord&) const = default;
};

// The IEEE double of 8 file bytes, byte-reversed first for big-endian files.
double read_f64(std::span<const std::byte, 8> bytes, bool big_endian) noexcept;

// Validates the first 1024 bytes; the first failing check is returned.
std::expected<FileRecord, SpkError> parse_file_record(
    std::span<const std::byte, DAF_RECORD_BYTES> bytes);

// A fixed-width text field: valid UTF-8 throughout, trailing blanks and NULs removed.
std::expected<std::string, SpkError> parse_ascii_field(std::span<const std::byte> bytes,
                                                       std::string_view field_name);

// One 40-byte ND = 2, NI = 6 summary (shorter input is refused as invalid bounds).
std::expected<SpkSegment, SpkError> parse_spk_summary(std::span<const std::byte> summary,
                                                      std::string identifier, bool big_endian);

class SpkKernel {
 public:
  // KernelSource::open then from_reader; an open failure becomes Io.
  static std::expected<SpkKernel, SpkError> open(const std::string& path);
  // Reads and validates the file record; the source is dropped on failure.
  static std::expected<SpkKernel, SpkError> from_reader(KernelSource source);

  SpkKernel(SpkKernel&&) noexcept = default;
  SpkKernel& operator=(SpkKernel&&) noexcept = default;
  SpkKernel(const SpkKernel&) = delete;
  SpkKernel& operator=(const SpkKernel&) = delete;

  const FileRecord& file_record() const noexcept { return record_; }
  const std::string& internal_name() const noexcept { return record_.internal_name; }
  std::uint32_t nd() const noexcept { return record_.nd; }
  std::uint32_t ni() const noexcept { return record_.ni; }
  std::uint32_t forward() const noexcept { return record_.forward; }
  std::uint32_t backward() const noexcept { return record_.backward; }
  std::uint32_t free_address() const noexcept { return record_.free_address; }
  bool big_endian() const noexcept { return record_.big_endian; }
  bool is_mapped() const noexcept { return source_.is_mapped(); }

  // The segment list, walked from the file on the first success only; a copy.
  std::expected<std::vector<SpkSegment>, SpkError> segments();
  // The same list without the copy, for the chain walk.
  std::expected<std::span<const SpkSegment>, SpkError> listed_segments();
  bool has_segment_list() const noexcept { return segments_.has_value(); }
  // The segment this file gives for `target` at `epoch`: the last one in
  // file order whose range covers the epoch, or nullptr, together with the
  // epochs around `epoch` that get the same answer from this file. A NaN
  // epoch is covered by none. The answer is remembered per target, so a
  // chain walk that comes back to a body near the same time does not scan
  // the list again.
  struct CoveringSegment {
    const SpkSegment* segment = nullptr;
    double first = 0.0;  // inclusive bounds of the epochs with this answer
    double last = 0.0;
  };
  std::expected<CoveringSegment, SpkError> covering_segment(std::int32_t target, double epoch) {
    const SegmentLookup& lookup = segment_lookups_[segment_lookup_slot(target)];
    if (lookup.valid && lookup.target == target && lookup.first <= epoch && epoch <= lookup.last)
      return CoveringSegment{lookup.segment, lookup.first, lookup.last};
    return look_up_covering_segment(target, epoch);
  }

  // `count` words from one-based `address`, decoded to native doubles. A count
  // reaching past the end of the file fails before anything is allocated.
  std::expected<std::vector<double>, SpkError> read_words(std::int32_t address,
                                                          std::uint32_t count);
  // The same into caller storage (record loads read straight into the cache).
  std::expected<void, SpkError> read_words_into(std::int32_t address, std::span<double> out);

  // Type 2 batch evaluation over one segment of this kernel: element j of
  // the result is epoch j; the first error ends the call.
  std::expected<std::vector<core::CartesianState>, SpkError> evaluate_type2_at_epochs(
      const SegmentLoc& location, std::span<const double> epochs);
  // The same into caller storage of epochs.size() states, so that chain
  // walks reuse their buffers.
  std::expected<void, SpkError> evaluate_type2_into(const SegmentLoc& location,
                                                    std::span<const double> epochs,
                                                    std::span<core::CartesianState> out);

  // One epoch on a segment whose directory and serving record are already
  // cached: true with `out` set, or false having changed nothing, when the
  // evaluation needs a file read or would fail. The caller then takes
  // evaluate_type2_into, which reads what is missing and reports the
  // error; the state, when there is one, is the same.
  bool evaluate_type2_cached(const SegmentLoc& location, double epoch,
                             core::CartesianState& out) const noexcept;

  // Any registered type into caller storage, with the contract of
  // evaluate_type2_into: Type 2 takes that path, the others their
  // segment's evaluator (made on first use and kept). States are in the
  // segment's own frame.
  std::expected<void, SpkError> evaluate_segment_into(const SegmentLoc& location,
                                                      std::span<const double> epochs,
                                                      std::span<core::CartesianState> out);

  SegmentRules segment_rules() const noexcept { return rules_; }
  void set_segment_rules(SegmentRules rules) noexcept { rules_ = rules; }

  // The file's name as the engine's metadata gives it, for messages; empty
  // until the engine that opens the kernel sets it.
  const std::string& name() const noexcept { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }

  // Cache inspection, for tests and diagnostics.
  const Type2Directory* cached_directory(SegmentKey key) const noexcept;
  const Type2Record* cached_record(SegmentKey key) const noexcept;
  // Number of word reads served from the file so far.
  std::uint64_t word_read_count() const noexcept { return word_reads_; }

 private:
  SpkKernel(FileRecord record, KernelSource source) noexcept
      : record_(std::move(record)), source_(std::move(source)) {}

  std::expected<std::vector<SpkSegment>, SpkError> walk_summary_chain();
  std::expected<Type2Directory, SpkError> type2_directory(SegmentKey key);
  // Record k of the segment, from the cache or read into it; `record` is
  // the segment's cache entry when the caller already holds it.
  std::expected<Type2Record*, SpkError> type2_record(const SegmentLoc& location,
                                                     const Type2Directory& dir, std::uint32_t k,
                                                     Type2Record* record);
  // Io end-of-file when `count` words from `address` (>= 1) pass the file's end.
  std::expected<void, SpkError> check_words_within_file(std::int32_t address,
                                                        std::uint64_t count) const;

  // (record index, epoch position): sorting these pairs is the stable sort
  // of positions by record index, since positions are unique.
  struct VisitEntry {
    std::uint32_t record_index;
    std::size_t position;
  };

  // One remembered answer of covering_segment: `segment` (or nullptr) is
  // the answer for every epoch in [first, last].
  struct SegmentLookup {
    std::int32_t target = 0;
    bool valid = false;
    double first = 0.0;
    double last = 0.0;
    const SpkSegment* segment = nullptr;
  };
  static constexpr std::size_t SEGMENT_LOOKUP_SLOTS = 32;
  // Fibonacci hashing of the NAIF code into the slots.
  static std::size_t segment_lookup_slot(std::int32_t target) noexcept {
    return (static_cast<std::uint32_t>(target) * 2654435769u >> 27) % SEGMENT_LOOKUP_SLOTS;
  }
  // covering_segment when the remembered answer does not apply: scans the
  // list and remembers the new answer.
  std::expected<CoveringSegment, SpkError> look_up_covering_segment(std::int32_t target,
                                                                    double epoch);

  FileRecord record_;
  KernelSource source_;
  std::optional<std::vector<SpkSegment>> segments_;
  std::array<SegmentLookup, SEGMENT_LOOKUP_SLOTS> segment_lookups_{};
  std::unordered_map<SegmentKey, Type2Directory, SegmentKeyHash> directory_cache_;
  std::unordered_map<SegmentKey, Type2Record, SegmentKeyHash> record_cache_;
  std::vector<VisitEntry> visit_scratch_;  // reused by every evaluation call
  // The evaluators of the segments of other types, each with its own cache,
  // keyed by the words and the type they are read as: two summaries over
  // the same words with different types have an evaluator each.
  struct EvaluatorKey {
    SegmentKey words;
    std::int32_t data_type = 0;
    bool operator==(const EvaluatorKey&) const = default;
  };
  struct EvaluatorKeyHash {
    std::size_t operator()(const EvaluatorKey& key) const noexcept {
      return SegmentKeyHash{}(key.words) ^
             (static_cast<std::size_t>(static_cast<std::uint32_t>(key.data_type)) *
              0x9E3779B97F4A7C15u);
    }
  };
  std::unordered_map<EvaluatorKey, std::unique_ptr<SegmentEvaluator>, EvaluatorKeyHash> evaluators_;
  SegmentRules rules_ = SegmentRules::Type2J2000;
  std::uint64_t word_reads_ = 0;
  std::string name_;
};

}  // namespace tarvex::spk
