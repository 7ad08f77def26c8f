#include "support/daf_writer.hpp"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tarvex::spk::test_support {

namespace {

template <typename T>
T to_file_order(T value, bool big_endian) {
  const bool native = big_endian == (std::endian::native == std::endian::big);
  return native ? value : std::byteswap(value);
}

}  // namespace

void DafImage::set_text(std::size_t offset, std::string_view text) {
  if (bytes.size() < offset + text.size()) bytes.resize(offset + text.size());
  std::memcpy(bytes.data() + offset, text.data(), text.size());
}

void DafImage::set_u32(std::size_t offset, std::uint32_t value) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4);
  const std::uint32_t bits = to_file_order(value, big_endian);
  std::memcpy(bytes.data() + offset, &bits, 4);
}

void DafImage::set_f64(std::size_t offset, double value) {
  if (bytes.size() < offset + 8) bytes.resize(offset + 8);
  const std::uint64_t bits = to_file_order(std::bit_cast<std::uint64_t>(value), big_endian);
  std::memcpy(bytes.data() + offset, &bits, 8);
}

double DafImage::word(std::int64_t address) const {
  std::uint64_t bits = 0;
  std::memcpy(&bits, bytes.data() + (address - 1) * 8, 8);
  return std::bit_cast<double>(to_file_order(bits, big_endian));
}

void DafImage::write(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<double> type2_words(
    double init, double interval_length,
    const std::vector<std::array<std::vector<double>, 3>>& coefficients) {
  std::vector<double> words;
  const std::size_t n = coefficients.empty() ? 1 : coefficients.front()[0].size();
  for (std::size_t k = 0; k < coefficients.size(); ++k) {
    words.push_back(init + (static_cast<double>(k) + 0.5) * interval_length);
    words.push_back(interval_length / 2);
    for (const auto& set : coefficients[k]) words.insert(words.end(), set.begin(), set.end());
  }
  words.push_back(init);
  words.push_back(interval_length);
  words.push_back(static_cast<double>(2 + 3 * n));
  words.push_back(static_cast<double>(coefficients.size()));
  return words;
}

std::vector<double> linear_type2_words(double init, double interval_length, std::uint32_t count,
                                       double x, double y, double z, double slope) {
  std::vector<std::array<std::vector<double>, 3>> records;
  for (std::uint32_t k = 0; k < count; ++k) {
    const double d = static_cast<double>(k);
    records.push_back({std::vector<double>{x + d, slope}, std::vector<double>{y + 2 * d, slope},
                       std::vector<double>{z + 3 * d, slope}});
  }
  return type2_words(init, interval_length, records);
}

DafImage DafWriter::build() {
  DafImage image;
  image.big_endian = big_endian;
  const std::size_t per = summaries_per_record == 0 ? 1 : summaries_per_record;
  const std::size_t pairs = segments.empty() ? 1 : (segments.size() + per - 1) / per;
  const std::uint32_t first_data_record = static_cast<std::uint32_t>(2 + 2 * pairs);
  image.bytes.assign(static_cast<std::size_t>(first_data_record - 1) * 1024, std::byte{0});

  std::int64_t next_word = static_cast<std::int64_t>(first_data_record - 1) * 128 + 1;
  for (TestSegment& segment : segments) {
    std::vector<double> data = segment.data.empty() ? std::vector<double>{0.0} : segment.data;
    segment.start_address = static_cast<std::int32_t>(next_word);
    for (const double w : data) image.set_word(next_word++, w);
    segment.end_address = static_cast<std::int32_t>(next_word - 1);
  }
  const std::uint32_t free_address = static_cast<std::uint32_t>(next_word);
  while (image.bytes.size() % 1024 != 0) image.bytes.push_back(std::byte{0});

  summary_records.clear();
  for (std::size_t p = 0; p < pairs; ++p) {
    const auto record = static_cast<std::uint32_t>(2 + 2 * p);
    summary_records.push_back(record);
    const std::size_t first = p * per;
    const std::size_t count = segments.empty() ? 0 : std::min(per, segments.size() - first);
    image.set_f64(DafImage::record_word(record, 0), p + 1 < pairs ? record + 2.0 : 0.0);
    image.set_f64(DafImage::record_word(record, 1), p == 0 ? 0.0 : record - 2.0);
    image.set_f64(DafImage::record_word(record, 2), static_cast<double>(count));
    for (std::size_t i = 0; i < count; ++i) {
      const TestSegment& s = segments[first + i];
      const std::size_t base = (record - 1) * 1024 + 24 + i * 40;
      image.set_f64(base, s.start_epoch);
      image.set_f64(base + 8, s.end_epoch);
      image.set_u32(base + 16, static_cast<std::uint32_t>(s.target));
      image.set_u32(base + 20, static_cast<std::uint32_t>(s.center));
      image.set_u32(base + 24, static_cast<std::uint32_t>(s.frame));
      image.set_u32(base + 28, static_cast<std::uint32_t>(s.data_type));
      image.set_u32(base + 32, static_cast<std::uint32_t>(s.start_address));
      image.set_u32(base + 36, static_cast<std::uint32_t>(s.end_address));
      std::string name = s.name;
      name.resize(40, ' ');
      image.set_text(static_cast<std::size_t>(record) * 1024 + i * 40, name);
    }
  }

  image.set_text(0, id_word);
  image.set_u32(8, nd);
  image.set_u32(12, ni);
  std::string name = internal_name;
  name.resize(60, ' ');
  image.set_text(16, name);
  image.set_u32(76, summary_records.front());
  image.set_u32(80, summary_records.back());
  image.set_u32(84, free_address);
  std::string fmt = format;
  fmt.resize(8, ' ');
  image.set_text(88, fmt);
  return image;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvex-spk-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string data_path(std::string_view file) {
  const char* env = std::getenv("TARVEX_DATA_DIR");
  std::string dir = env != nullptr && *env != '\0' ? env : TARVEX_DATA_DIR;
  return dir + "/" + std::string(file);
}

}  // namespace tarvex::spk::test_support
