#include "spk/kernel.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "core/text.hpp"
#include "spk/segment_types.hpp"

namespace tarvex::spk {

namespace {

constexpr std::string_view ID_WORD = "DAF/SPK ";
constexpr std::uint32_t MAX_U32 = 0xFFFFFFFFu;

std::uint64_t load_u64(const std::byte* p, bool big_endian) noexcept {
  std::uint64_t bits = 0;
  std::memcpy(&bits, p, 8);
  const bool file_is_native = big_endian == (std::endian::native == std::endian::big);
  return file_is_native ? bits : std::byteswap(bits);
}

std::uint32_t load_u32(const std::byte* p, bool big_endian) noexcept {
  std::uint32_t bits = 0;
  std::memcpy(&bits, p, 4);
  const bool file_is_native = big_endian == (std::endian::native == std::endian::big);
  return file_is_native ? bits : std::byteswap(bits);
}

std::string_view as_chars(std::span<const std::byte> bytes) noexcept {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string_view trim_blanks_and_nuls(std::string_view text) noexcept {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
  return text;
}

// NEXT, PREV and NSUM are doubles that must hold unsigned 32-bit integers.
std::optional<std::uint32_t> control_word(double value) noexcept {
  if (!std::isfinite(value) || value < 0.0 || value > 4294967295.0 || std::trunc(value) != value) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

SpkError chain_error(const char* reason) { return SpkError::invalid_summary_chain(reason); }

}  // namespace

double read_f64(std::span<const std::byte, 8> bytes, bool big_endian) noexcept {
  return std::bit_cast<double>(load_u64(bytes.data(), big_endian));
}

std::expected<FileRecord, SpkError> parse_file_record(
    std::span<const std::byte, DAF_RECORD_BYTES> bytes) {
  const std::byte* p = bytes.data();
  const std::string_view id = as_chars(bytes.subspan(0, 8));
  if (id != ID_WORD) return std::unexpected(SpkError::invalid_id_word(id));

  const std::string_view format_field = as_chars(bytes.subspan(88, 8));
  if (!core::is_valid_utf8(format_field))
    return std::unexpected(SpkError::invalid_utf8("binary format"));
  const std::string_view format = trim_blanks_and_nuls(format_field);
  FileRecord record;
  if (format == "LTL-IEEE") {
    record.big_endian = false;
  } else if (format == "BIG-IEEE") {
    record.big_endian = true;
  } else {
    return std::unexpected(SpkError::unsupported_binary_format(std::string(format)));
  }

  const bool be = record.big_endian;
  record.nd = load_u32(p + 8, be);
  record.ni = load_u32(p + 12, be);
  if (record.nd == 0 || record.ni == 0) {
    return std::unexpected(
        SpkError::invalid_file_record("summary component counts must be non-zero"));
  }
  // Wrap-around is part of the rule: a huge ND or NI must not slip past.
  const std::uint32_t packed = record.nd + (record.ni % 2) + (record.ni / 2);
  if (packed >= 126) {
    return std::unexpected(
        SpkError::invalid_file_record("packed summary cannot fit in a DAF summary record"));
  }
  record.forward = load_u32(p + 76, be);
  record.backward = load_u32(p + 80, be);
  if (record.forward < 2 || record.backward < record.forward) {
    return std::unexpected(
        SpkError::invalid_file_record("summary record pointers are inconsistent"));
  }
  record.free_address = load_u32(p + 84, be);
  if (record.free_address < 129) {
    return std::unexpected(
        SpkError::invalid_file_record("first free address points inside the file record"));
  }
  auto name = parse_ascii_field(bytes.subspan(16, 60), "internal file name");
  if (!name) return std::unexpected(std::move(name.error()));
  record.internal_name = std::move(*name);
  return record;
}

std::expected<std::string, SpkError> parse_ascii_field(std::span<const std::byte> bytes,
                                                       std::string_view field_name) {
  const std::string_view text = as_chars(bytes);
  if (!core::is_valid_utf8(text))
    return std::unexpected(SpkError::invalid_utf8(std::string(field_name)));
  return std::string(trim_blanks_and_nuls(text));
}

std::expected<SpkSegment, SpkError> parse_spk_summary(std::span<const std::byte> summary,
                                                      std::string identifier, bool big_endian) {
  if (summary.size() < SPK_SUMMARY_BYTES) {
    return std::unexpected(SpkError::invalid_segment("DAF address bounds are invalid"));
  }
  const std::byte* p = summary.data();
  SpkSegment segment;
  segment.start_epoch = std::bit_cast<double>(load_u64(p, big_endian));
  segment.end_epoch = std::bit_cast<double>(load_u64(p + 8, big_endian));
  if (!std::isfinite(segment.start_epoch) || !std::isfinite(segment.end_epoch)) {
    return std::unexpected(SpkError::invalid_segment("time bounds must be finite"));
  }
  if (segment.start_epoch > segment.end_epoch) {
    return std::unexpected(SpkError::invalid_segment("start time is after end time"));
  }
  const auto int_at = [&](std::size_t offset) {
    return static_cast<std::int32_t>(load_u32(p + offset, big_endian));
  };
  segment.target = int_at(16);
  segment.center = int_at(20);
  segment.frame = int_at(24);
  segment.data_type = int_at(28);
  segment.start_address = int_at(32);
  segment.end_address = int_at(36);
  if (segment.end_address < segment.start_address || segment.start_address <= 0) {
    return std::unexpected(SpkError::invalid_segment("DAF address bounds are invalid"));
  }
  segment.identifier = std::move(identifier);
  return segment;
}

std::expected<SpkKernel, SpkError> SpkKernel::open(const std::string& path) {
  auto source = KernelSource::open(path);
  if (!source) return std::unexpected(SpkError::io(source.error()));
  return from_reader(std::move(*source));
}

std::expected<SpkKernel, SpkError> SpkKernel::from_reader(KernelSource source) {
  std::array<std::byte, DAF_RECORD_BYTES> bytes{};
  if (auto at = source.seek_to(0); !at)
    return std::unexpected(SpkError::io(at.error()));
  if (auto read = source.read_exact(bytes); !read) {
    return std::unexpected(SpkError::io(read.error()));
  }
  auto record = parse_file_record(bytes);
  if (!record) return std::unexpected(std::move(record.error()));
  return SpkKernel(std::move(*record), std::move(source));
}

std::expected<std::vector<SpkSegment>, SpkError> SpkKernel::segments() {
  auto listed = listed_segments();
  if (!listed) return std::unexpected(std::move(listed.error()));
  return std::vector<SpkSegment>(listed->begin(), listed->end());
}

std::expected<std::span<const SpkSegment>, SpkError> SpkKernel::listed_segments() {
  if (!segments_) {
    auto walked = walk_summary_chain();
    if (!walked) return std::unexpected(std::move(walked.error()));
    segments_ = std::move(*walked);
  }
  return std::span<const SpkSegment>(*segments_);
}

std::expected<SpkKernel::CoveringSegment, SpkError> SpkKernel::look_up_covering_segment(
    std::int32_t target, double epoch) {
  SegmentLookup& lookup = segment_lookups_[segment_lookup_slot(target)];
  auto listed = listed_segments();
  if (!listed) return std::unexpected(std::move(listed.error()));
  const std::span<const SpkSegment> segments = *listed;
  // The last covering segment in file order, and the span around `epoch`
  // where no other segment of the target changes that answer: segments
  // later in the file (or, without an answer, any segment) lie wholly
  // before or after `epoch`, and the span stops short of them.
  const SpkSegment* found = nullptr;
  for (auto it = segments.rbegin(); it != segments.rend(); ++it) {
    if (it->target == target && it->start_epoch <= epoch && epoch <= it->end_epoch) {
      found = &*it;
      break;
    }
  }
  if (std::isnan(epoch)) return CoveringSegment{nullptr, INFINITY, -INFINITY};  // not remembered
  double first = found ? found->start_epoch : -INFINITY;
  double last = found ? found->end_epoch : INFINITY;
  const SpkSegment* const end = segments.data() + segments.size();
  for (const SpkSegment* other = found ? found + 1 : segments.data(); other != end; ++other) {
    if (other->target != target) continue;
    if (other->end_epoch < epoch) {
      first = std::max(first, std::nextafter(other->end_epoch, INFINITY));
    } else if (other->start_epoch > epoch) {
      last = std::min(last, std::nextafter(other->start_epoch, -INFINITY));
    }
  }
  lookup = SegmentLookup{target, true, first, last, found};
  return CoveringSegment{found, first, last};
}

std::expected<std::vector<SpkSegment>, SpkError> SpkKernel::walk_summary_chain() {
  const std::uint32_t nd = record_.nd;
  const std::uint32_t ni = record_.ni;
  if (nd != 2 || ni != 6) return std::unexpected(SpkError::unsupported_summary_layout(nd, ni));
  const bool be = record_.big_endian;

  std::vector<SpkSegment> result;
  std::unordered_set<std::uint32_t> visited;
  std::uint32_t r = record_.forward;
  std::uint32_t expected_previous = 0;
  std::array<std::byte, DAF_RECORD_BYTES> summary_record{};
  std::array<std::byte, DAF_RECORD_BYTES> name_record{};

  const auto read_record =
      [&](std::uint64_t record_number,
          std::array<std::byte, DAF_RECORD_BYTES>& out) -> std::expected<void, SpkError> {
    if (auto at = source_.seek_to((record_number - 1) * DAF_RECORD_BYTES); !at) {
      return std::unexpected(SpkError::io(at.error()));
    }
    if (auto read = source_.read_exact(out); !read) {
      return std::unexpected(SpkError::io(read.error()));
    }
    return {};
  };

  for (;;) {
    // Every record number enters the set once, and each one costs a read
    // inside the file, so a hostile chain ends in a cycle or a short read.
    if (!visited.insert(r).second)
      return std::unexpected(chain_error("summary record chain contains a cycle"));
    if (r == 0) return std::unexpected(chain_error("DAF record numbers are one-based"));
    if (auto read = read_record(r, summary_record); !read)
      return std::unexpected(std::move(read.error()));

    const auto word = [&](std::size_t index) {
      return read_f64(std::span<const std::byte, 8>(summary_record.data() + index * 8, 8), be);
    };
    const auto next = control_word(word(0));
    const auto previous = next ? control_word(word(1)) : std::nullopt;
    const auto count = previous ? control_word(word(2)) : std::nullopt;
    if (!count)
      return std::unexpected(chain_error("summary control word is not a non-negative integer"));
    if (*previous != expected_previous) {
      return std::unexpected(chain_error("summary record has an incorrect backward pointer"));
    }
    const std::uint32_t ns = nd + ni - ni / 2;
    if (*count > 125 / ns)
      return std::unexpected(chain_error("summary count exceeds record capacity"));
    if (r == MAX_U32) return std::unexpected(chain_error("name record number overflowed"));
    if (auto read = read_record(std::uint64_t{r} + 1, name_record); !read) {
      return std::unexpected(std::move(read.error()));
    }
    if (ns > 65535)
      return std::unexpected(chain_error("summary width is not addressable on this platform"));

    const std::size_t width = std::size_t{8} * ns;
    for (std::uint32_t i = 0; i < *count; ++i) {
      auto identifier = parse_ascii_field(
          std::span<const std::byte>(name_record).subspan(i * width, width), "segment identifier");
      if (!identifier) return std::unexpected(std::move(identifier.error()));
      auto segment = parse_spk_summary(
          std::span<const std::byte>(summary_record).subspan(24 + i * width, width),
          std::move(*identifier), be);
      if (!segment) return std::unexpected(std::move(segment.error()));
      result.push_back(std::move(*segment));
    }

    if (*next == 0) {
      if (r != record_.backward) {
        return std::unexpected(chain_error("summary chain ended before the final summary record"));
      }
      return result;
    }
    expected_previous = r;
    r = *next;
  }
}

std::expected<std::vector<double>, SpkError> SpkKernel::read_words(std::int32_t address,
                                                                   std::uint32_t count) {
  if (address < 1) {
    return std::unexpected(SpkError::invalid_type2_segment("DAF word addresses are one-based"));
  }
  if (auto fits = check_words_within_file(address, count); !fits)
    return std::unexpected(std::move(fits.error()));
  std::vector<double> words(count, 0.0);
  if (auto read = read_words_into(address, words); !read)
    return std::unexpected(std::move(read.error()));
  return words;
}

std::expected<void, SpkError> SpkKernel::check_words_within_file(std::int32_t address,
                                                                 std::uint64_t count) const {
  // A count that runs past the end is refused before anything is allocated
  // for it: a hostile count would otherwise ask for up to 32 GiB. The error
  // is the one the short read would give.
  const std::uint64_t begin = (static_cast<std::uint64_t>(address) - 1) * DAF_WORD_BYTES;
  const std::uint64_t end = begin + count * DAF_WORD_BYTES;
  if (const auto size = source_.size_hint(); size && end > *size) {
    return std::unexpected(SpkError::io(core::IoError::unexpected_eof()));
  }
  return {};
}

std::expected<void, SpkError> SpkKernel::read_words_into(std::int32_t address,
                                                         std::span<double> out) {
  if (address < 1) {
    return std::unexpected(SpkError::invalid_type2_segment("DAF word addresses are one-based"));
  }
  ++word_reads_;
  const std::uint64_t begin = (static_cast<std::uint64_t>(address) - 1) * DAF_WORD_BYTES;
  if (auto at = source_.seek_to(begin); !at)
    return std::unexpected(SpkError::io(at.error()));
  // The file bytes land in the output storage and are decoded in place.
  if (auto read = source_.read_exact(std::as_writable_bytes(out)); !read) {
    return std::unexpected(SpkError::io(read.error()));
  }
  if (record_.big_endian != (std::endian::native == std::endian::big)) {
    for (double& word : out)
      word = std::bit_cast<double>(std::byteswap(std::bit_cast<std::uint64_t>(word)));
  }
  return {};
}

const Type2Directory* SpkKernel::cached_directory(SegmentKey key) const noexcept {
  const auto found = directory_cache_.find(key);
  return found == directory_cache_.end() ? nullptr : &found->second;
}

const Type2Record* SpkKernel::cached_record(SegmentKey key) const noexcept {
  const auto found = record_cache_.find(key);
  return found == record_cache_.end() ? nullptr : &found->second;
}

namespace {

// The recurrence at one epoch of a record whose coefficients are known to
// be finite (they were checked once, when the record was loaded): false,
// having written nothing, when the epoch's own checks fail (the record's
// midpoint and radius, the epoch inside the record). An all-zero record
// gives the zero state without arithmetic.
[[gnu::always_inline]] inline bool evaluate_finite_record_at(const Type2Record& record,
                                                             std::uint32_t record_size,
                                                             double epoch,
                                                             core::CartesianState& out) noexcept {
  double x = 0.0;
  if (!type2_argument_fits(record.words.data(), epoch, x)) return false;
  if (record.coefficients_zero) {
    out = core::CartesianState{};
  } else {
    chebyshev_forward_xyz(record.words.data() + 2, (record_size - 2u) / 3u, x, x + x,
                          record.words[1], out);
  }
  return true;
}

// One epoch from a loaded record, with the error of whichever check fails.
[[gnu::always_inline]] inline std::expected<void, SpkError> evaluate_record_at(
    const Type2Record& record, std::uint32_t record_size, double epoch,
    core::CartesianState& out) {
  if (!record.coefficients_finite) {
    auto state = evaluate_loaded_type2_record(record.words, record_size, epoch);
    if (!state) return std::unexpected(std::move(state.error()));
    out = *state;
    return {};
  }
  if (!evaluate_finite_record_at(record, record_size, epoch, out))
    return std::unexpected(type2_argument_error(record.words.data()));
  return {};
}

// A run of `count` epochs served by one loaded record: epoch i of the run is
// epochs[position(i)], and its state goes to out[position(i)]. Four or two
// epochs run side by side where the record allows; each epoch's checks
// still come in the one-by-one order, and each lane computes what the
// one-epoch recurrence would.
template <class Position>
std::expected<void, SpkError> evaluate_run(const Type2Record& record, std::uint32_t record_size,
                                           std::span<const double> epochs, std::size_t count,
                                           Position position,
                                           std::span<core::CartesianState> out) {
  const std::uint32_t n = (record_size - 2u) / 3u;
  const double* words = record.words.data();
  std::size_t i = 0;
  if (record.coefficients_finite && !record.coefficients_zero && n >= 2) {
    for (; i + 4 <= count; i += 4) {
      double xs[4] = {};
      core::CartesianState* states[4] = {};
      for (std::size_t lane = 0; lane < 4; ++lane) {
        const std::size_t p = position(i + lane);
        if (!type2_argument_fits(words, epochs[p], xs[lane]))
          return std::unexpected(type2_argument_error(words));
        states[lane] = &out[p];
      }
      if (!chebyshev_forward_xyz_quad(words + 2, n, xs, words[1], states)) break;
    }
    for (; i + 2 <= count; i += 2) {
      const std::size_t p0 = position(i);
      const std::size_t p1 = position(i + 1);
      double x0 = 0.0;
      double x1 = 0.0;
      if (!type2_argument_fits(words, epochs[p0], x0) ||
          !type2_argument_fits(words, epochs[p1], x1))
        return std::unexpected(type2_argument_error(words));
      chebyshev_forward_xyz_pair(words + 2, n, x0, x1, words[1], out[p0], out[p1]);
    }
  }
  for (; i < count; ++i) {
    const std::size_t p = position(i);
    if (auto done = evaluate_record_at(record, record_size, epochs[p], out[p]); !done) return done;
  }
  return {};
}

}  // namespace

bool SpkKernel::evaluate_type2_cached(const SegmentLoc& location, double epoch,
                                      core::CartesianState& out) const noexcept {
  if (!std::isfinite(epoch) || !(location.start_epoch <= epoch) || !(epoch <= location.end_epoch))
    return false;
  const SegmentKey key{location.start_address, location.end_address};
  const auto directory = directory_cache_.find(key);
  if (directory == directory_cache_.end()) return false;
  const Type2Directory& dir = directory->second;
  const auto k = type2_record_index(dir, epoch);
  if (!k) return false;
  const auto cached = record_cache_.find(key);
  if (cached == record_cache_.end()) return false;
  const Type2Record& record = cached->second;
  if (record.record_index != *k || record.words.size() != dir.record_size ||
      !record.coefficients_finite)
    return false;
  return evaluate_finite_record_at(record, dir.record_size, epoch, out);
}

// Type 2 evaluation: the directory of each segment is read and checked
// once, the record of every epoch is found before any record is read, and
// the records are visited in an order that loads each of them once.

std::expected<Type2Directory, SpkError> SpkKernel::type2_directory(SegmentKey key) {
  if (const auto found = directory_cache_.find(key); found != directory_cache_.end())
    return found->second;

  std::int32_t directory_address = 0;
  if (__builtin_sub_overflow(key.end_address, 3, &directory_address)) {
    return std::unexpected(type2_error("segment is too short to contain a directory"));
  }
  std::array<double, 4> words{};
  if (auto read = read_words_into(directory_address, words); !read)
    return std::unexpected(std::move(read.error()));
  auto directory = parse_type2_directory(words, key);
  if (!directory) return std::unexpected(std::move(directory.error()));
  directory_cache_.emplace(key, *directory);
  return *directory;
}

std::expected<Type2Record*, SpkError> SpkKernel::type2_record(const SegmentLoc& location,
                                                              const Type2Directory& dir,
                                                              std::uint32_t k, Type2Record* record) {
  const SegmentKey key{location.start_address, location.end_address};
  if (record == nullptr) {
    const auto found = record_cache_.find(key);
    if (found != record_cache_.end()) record = &found->second;
  }
  if (record != nullptr && record->record_index == k && record->words.size() == dir.record_size)
    return record;
  const std::uint64_t offset = std::uint64_t{k} * dir.record_size;
  if (offset > 0xFFFFFFFFu) return std::unexpected(type2_error("record address overflowed"));
  if (offset >= 2147483648u)
    return std::unexpected(type2_error("record address exceeds the DAF address range"));
  std::int32_t address = 0;
  if (__builtin_add_overflow(location.start_address, static_cast<std::int32_t>(offset), &address)) {
    return std::unexpected(type2_error("record address overflowed"));
  }
  if (address < 1) return std::unexpected(type2_error("DAF word addresses are one-based"));
  if (auto fits = check_words_within_file(address, dir.record_size); !fits) {
    return std::unexpected(std::move(fits.error()));
  }
  if (record == nullptr) record = &record_cache_[key];
  // Read straight into the cached buffer; a failed read leaves no
  // half-filled record behind.
  record->words.resize(dir.record_size);
  if (auto read = read_words_into(address, record->words); !read) {
    record_cache_.erase(key);
    return std::unexpected(std::move(read.error()));
  }
  record->record_index = k;
  const std::size_t n = (dir.record_size - 2u) / 3u;
  record->coefficients_finite =
      all_finite(record->words.data() + 2, record->words.data() + 2 + 3 * n);
  record->coefficients_zero =
      all_positive_zero(record->words.data() + 2, record->words.data() + 2 + 3 * n);
  return record;
}

std::expected<std::vector<core::CartesianState>, SpkError> SpkKernel::evaluate_type2_at_epochs(
    const SegmentLoc& location, std::span<const double> epochs) {
  std::vector<core::CartesianState> states(epochs.size());
  if (auto done = evaluate_type2_into(location, epochs, states); !done) {
    return std::unexpected(std::move(done.error()));
  }
  return states;
}

std::expected<void, SpkError> SpkKernel::evaluate_type2_into(const SegmentLoc& location,
                                                             std::span<const double> epochs,
                                                             std::span<core::CartesianState> out) {
  if (epochs.empty()) return {};
  if (out.size() < epochs.size())
    return std::unexpected(type2_error("active polynomial record was not cached"));
  // Coverage first: a bad epoch is reported before the file is touched.
  bool in_time_order = true;
  for (std::size_t j = 0; j < epochs.size(); ++j) {
    const double t = epochs[j];
    if (!std::isfinite(t) || !(location.start_epoch <= t) || !(t <= location.end_epoch)) {
      return std::unexpected(
          SpkError::epoch_outside_segment(t, location.start_epoch, location.end_epoch));
    }
    if (j > 0 && t < epochs[j - 1]) in_time_order = false;
  }
  const SegmentKey key{location.start_address, location.end_address};
  auto directory = type2_directory(key);
  if (!directory) return std::unexpected(std::move(directory.error()));
  const Type2Directory dir = *directory;

  if (epochs.size() == 1) {
    // One epoch (single positions, chain walks of one instant): the same
    // checks in the same order, without the visit list.
    auto k = type2_record_index(dir, epochs[0]);
    if (!k) return std::unexpected(std::move(k.error()));
    auto loaded = type2_record(location, dir, *k, nullptr);
    if (!loaded) return std::unexpected(std::move(loaded.error()));
    return evaluate_record_at(**loaded, dir.record_size, epochs[0], out[0]);
  }

  // The record index never decreases with the epoch, so epochs in time
  // order (batches, searches) meet their records in order, and every index
  // lies between those of the first and the last epoch: once those two are
  // valid, no other can fail, and each run of epochs on one record is
  // loaded and evaluated as it is reached, with no visit list.
  if (in_time_order && type2_record_index(dir, epochs.front()) &&
      type2_record_index(dir, epochs.back())) {
    Type2Record* record = nullptr;
    std::uint32_t k = *type2_record_index(dir, epochs[0]);
    for (std::size_t begin = 0; begin < epochs.size();) {
      std::size_t end = begin + 1;
      std::uint32_t next_k = k;
      while (end < epochs.size() && (next_k = *type2_record_index(dir, epochs[end])) == k) ++end;
      auto loaded = type2_record(location, dir, k, record);
      if (!loaded) return std::unexpected(std::move(loaded.error()));
      record = *loaded;
      if (auto done = evaluate_run(*record, dir.record_size, epochs, end - begin,
                                   [begin](std::size_t i) { return begin + i; }, out);
          !done)
        return done;
      begin = end;
      k = next_k;
    }
    return {};
  }

  // Otherwise the record index of every epoch, in input order, before any
  // record is read.
  visit_scratch_.clear();
  visit_scratch_.reserve(epochs.size());
  for (std::size_t j = 0; j < epochs.size(); ++j) {
    auto k = type2_record_index(dir, epochs[j]);
    if (!k) return std::unexpected(std::move(k.error()));
    visit_scratch_.push_back({*k, j});
  }
  // Positions are unique, so ordering by (record, position) is the stable
  // order by record: each record loads once and the one-record cache is not
  // swapped back and forth.
  std::sort(visit_scratch_.begin(), visit_scratch_.end(),
            [](const VisitEntry& a, const VisitEntry& b) {
              return a.record_index != b.record_index ? a.record_index < b.record_index
                                                      : a.position < b.position;
            });
  Type2Record* record = nullptr;
  for (std::size_t begin = 0; begin < visit_scratch_.size();) {
    const std::uint32_t k = visit_scratch_[begin].record_index;
    std::size_t end = begin + 1;
    while (end < visit_scratch_.size() && visit_scratch_[end].record_index == k) ++end;
    auto loaded = type2_record(location, dir, k, record);
    if (!loaded) return std::unexpected(std::move(loaded.error()));
    record = *loaded;
    const VisitEntry* run = visit_scratch_.data() + begin;
    if (auto done = evaluate_run(*record, dir.record_size, epochs, end - begin,
                                 [run](std::size_t i) { return run[i].position; }, out);
        !done)
      return done;
    begin = end;
  }
  return {};
}

std::expected<void, SpkError> SpkKernel::evaluate_segment_into(
    const SegmentLoc& location, std::span<const double> epochs,
    std::span<core::CartesianState> out) {
  if (location.data_type == 2) return evaluate_type2_into(location, epochs, out);
  const SegmentType* type = find_segment_type(location.data_type);
  if (type == nullptr || type->make == nullptr)
    return std::unexpected(SpkError::unsupported_segment_type(location.data_type));
  if (out.size() < epochs.size())
    return std::unexpected(SpkError::invalid_segment_data(location.data_type, "output is too short"));
  for (const double t : epochs) {
    if (!std::isfinite(t) || !(location.start_epoch <= t) || !(t <= location.end_epoch)) {
      return std::unexpected(
          SpkError::epoch_outside_segment(t, location.start_epoch, location.end_epoch));
    }
  }
  // The whole segment lies within the file, so that no count read from it
  // can make an evaluator allocate more than the file holds.
  if (location.start_address < 1 || location.end_address < location.start_address)
    return std::unexpected(SpkError::invalid_segment("DAF address bounds are invalid"));
  if (auto fits = check_words_within_file(
          location.start_address,
          static_cast<std::uint64_t>(location.end_address - location.start_address) + 1u);
      !fits)
    return std::unexpected(std::move(fits.error()));
  const EvaluatorKey key{{location.start_address, location.end_address}, location.data_type};
  auto& evaluator = evaluators_[key];
  if (!evaluator) evaluator = type->make();
  const SegmentWords words(
      this,
      [](void* self, std::int32_t address, std::span<double> into) {
        auto* kernel = static_cast<SpkKernel*>(self);
        if (auto fits = kernel->check_words_within_file(address, into.size()); !fits) return fits;
        return kernel->read_words_into(address, into);
      },
      location);
  for (std::size_t i = 0; i < epochs.size(); ++i) {
    auto state = evaluator->state_at(words, epochs[i]);
    if (!state) return std::unexpected(std::move(state.error()));
    // Words that pass every layout check can still be absurd (a scale of
    // 1e300, a step of 1e-300): what they give is refused, not passed on.
    if (!is_finite_state(*state))
      return std::unexpected(words.error("its words give a non-finite state"));
    out[i] = *state;
  }
  return {};
}

}  // namespace tarvex::spk
