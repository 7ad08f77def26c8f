// Test-only builder of small DAF/SPK files, so that every malformed layout
// is made in the test that needs it instead of being committed as a binary.
// build() lays out: record 1 the file record, then one summary record and
// its name record per group of summaries, then the segment data. Tests
// then poke single fields of the image to break exactly one rule.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::spk::test_support {

// A whole file image with setters in the image's byte order.
struct DafImage {
  std::vector<std::byte> bytes;
  bool big_endian = false;

  void set_text(std::size_t offset, std::string_view text);
  void set_u32(std::size_t offset, std::uint32_t value);
  void set_f64(std::size_t offset, double value);
  // One-based word address, as in the file format.
  void set_word(std::int64_t address, double value) {
    set_f64(static_cast<std::size_t>(address - 1) * 8, value);
  }
  double word(std::int64_t address) const;
  // Byte offset of word `index` (zero-based) of record `record` (one-based).
  static std::size_t record_word(std::uint32_t record, std::size_t index) {
    return (record - 1) * 1024 + index * 8;
  }
  void truncate(std::size_t size) { bytes.resize(size); }
  void write(const std::string& path) const;
};

struct TestSegment {
  std::string name;
  double start_epoch = 0.0;
  double end_epoch = 0.0;
  std::int32_t target = 0;
  std::int32_t center = 0;
  std::int32_t frame = 1;
  std::int32_t data_type = 2;
  std::vector<double> data;  // the segment's words; empty data still takes one word
  // Filled in by build(): where the data landed.
  std::int32_t start_address = 0;
  std::int32_t end_address = 0;
};

// Type 2 segment words: record k covers [init + k * length, init + (k + 1) * length]
// and holds coefficients[k] = X set, Y set, Z set (n each), then the directory.
std::vector<double> type2_words(
    double init, double interval_length,
    const std::vector<std::array<std::vector<double>, 3>>& coefficients);
// `count` records of constant position (x, y, z) + k * (1, 2, 3) km for record k,
// with one linear term so that velocities are non-zero: X = c0 + slope * T1.
std::vector<double> linear_type2_words(double init, double interval_length, std::uint32_t count,
                                       double x, double y, double z, double slope);

struct DafWriter {
  std::string id_word = "DAF/SPK ";
  std::string format = "LTL-IEEE";
  bool big_endian = false;
  std::uint32_t nd = 2;
  std::uint32_t ni = 6;
  std::string internal_name = "tarvex test kernel";
  std::size_t summaries_per_record = 25;
  std::vector<TestSegment> segments;

  // Lays the file out and records every segment's addresses in `segments`.
  DafImage build();
  // Summary record numbers of the last build, in chain order.
  std::vector<std::uint32_t> summary_records;
};

// A fresh directory under the system temporary directory, removed with its
// files at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Real data directory: env TARVEX_DATA_DIR, else the build-time default.
std::string data_path(std::string_view file);

}  // namespace tarvex::spk::test_support
