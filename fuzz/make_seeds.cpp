// Writes the seed corpora of the fuzz targets into a build directory:
//   make_seeds DATA_DIR OUT_DIR  ->  OUT_DIR/{spk,leap_seconds,eop}/...
// Seeds are made at run time from the shared data and the test DAF writer,
// so no binary is kept in the repository. Real kernels are compacted to a
// few records per segment (real coefficients, small files), because the
// fuzzer works best on inputs of a few kilobytes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/daf_writer.hpp"
#include "spk/kernel.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarvex::spk;
using test_support::DafWriter;
using test_support::TestSegment;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void spit(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

// The 16-byte query header of the text targets: two big-endian doubles.
std::string header(double first, double second) {
  std::string out;
  for (const double v : {first, second}) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int shift = 56; shift >= 0; shift -= 8)
      out.push_back(static_cast<char>((bits >> shift) & 0xff));
  }
  return out;
}

TestSegment segment(std::string name, double start, double end, std::int32_t target,
                    std::int32_t center, std::vector<double> words) {
  TestSegment s;
  s.name = std::move(name);
  s.start_epoch = start;
  s.end_epoch = end;
  s.target = target;
  s.center = center;
  s.data = std::move(words);
  return s;
}

std::string image_bytes(DafWriter& writer) {
  const auto image = writer.build();
  return {reinterpret_cast<const char*>(image.bytes.data()), image.bytes.size()};
}

// Keeps the first `keep` records of every Type 2 or 3 segment of a real
// kernel (directory rewritten to match) and a few words of other types.
bool compact_kernel(const fs::path& source, std::uint32_t keep, bool big_endian, std::string& out) {
  auto kernel = SpkKernel::open(source.string());
  if (!kernel) return false;
  auto segments = kernel->segments();
  if (!segments) return false;
  DafWriter writer;
  writer.big_endian = big_endian;
  writer.format = big_endian ? "BIG-IEEE" : "LTL-IEEE";
  writer.internal_name = "compacted " + source.filename().string();
  writer.summaries_per_record =
      6;  // several summary records, so the chain walk has links to follow
  for (const SpkSegment& s : *segments) {
    TestSegment t;
    t.name = s.identifier;
    t.target = s.target;
    t.center = s.center;
    t.frame = s.frame;
    t.data_type = s.data_type;
    t.start_epoch = s.start_epoch;
    t.end_epoch = s.end_epoch;
    auto directory = kernel->read_words(s.end_address - 3, 4);
    const bool chebyshev = s.data_type == 2 || s.data_type == 3;
    if (chebyshev && directory) {
      const double init = (*directory)[0];
      const double length = (*directory)[1];
      const auto rsize = static_cast<std::uint32_t>((*directory)[2]);
      const auto count = std::min(keep, static_cast<std::uint32_t>((*directory)[3]));
      auto records = kernel->read_words(s.start_address, rsize * count);
      if (!records) return false;
      t.data = *records;
      t.data.insert(t.data.end(),
                    {init, length, static_cast<double>(rsize), static_cast<double>(count)});
      t.start_epoch = std::max(s.start_epoch, init);
      t.end_epoch = std::min(s.end_epoch, init + length * count);
    } else {
      const auto words =
          static_cast<std::uint32_t>(std::min(16, s.end_address - s.start_address + 1));
      auto head = kernel->read_words(s.start_address, words);
      if (head) t.data = *head;
    }
    writer.segments.push_back(std::move(t));
  }
  out = image_bytes(writer);
  return true;
}

void spk_seeds(const fs::path& data, const fs::path& dir) {
  fs::create_directories(dir);
  std::string bytes;
  if (compact_kernel(data / "de405s.bsp", 3, false, bytes))
    spit(dir / "de405s_compact_le.bsp", bytes);
  if (compact_kernel(data / "de405s.bsp", 2, true, bytes))
    spit(dir / "de405s_compact_be.bsp", bytes);
  if (compact_kernel(data / "mar022-1.bsp", 2, true, bytes))
    spit(dir / "mar022_compact.bsp", bytes);
  if (compact_kernel(data / "allspk_littleendian.bsp", 2, false, bytes))
    spit(dir / "allspk_compact.bsp", bytes);
  if (fs::exists(data / "planet_centers_1997_2010.bsp")) {
    spit(dir / "planet_centers.bsp", slurp(data / "planet_centers_1997_2010.bsp"));
  }

  // Written kernels: a Moon -> Earth-Moon barycenter -> SSB chain with
  // several records, overlapping segments of one target, the smallest
  // record size, and a two-segment cycle.
  DafWriter chain;
  chain.summaries_per_record = 2;
  chain.segments.push_back(
      segment("EMB", 0.0, 400.0, 3, 0,
              test_support::linear_type2_words(0.0, 100.0, 4, 1e8, 2e7, 3e6, 5.0)));
  chain.segments.push_back(
      segment("MOON", 0.0, 400.0, 301, 3,
              test_support::linear_type2_words(0.0, 50.0, 8, 3e5, 1e4, 2e3, 0.5)));
  chain.segments.push_back(
      segment("MOON LATE", 100.0, 200.0, 301, 3,
              test_support::linear_type2_words(100.0, 100.0, 1, 1.0, 2.0, 3.0, 0.0)));
  chain.segments.push_back(segment(
      "SUN", 0.0, 400.0, 10, 0,
      test_support::type2_words(0.0, 400.0,
                                {{std::vector<double>{1, 2, 3, 4}, std::vector<double>{5, 6, 7, 8},
                                  std::vector<double>{9, 10, 11, 12}}})));
  spit(dir / "written_chain.bsp", image_bytes(chain));
  chain.big_endian = true;
  chain.format = "BIG-IEEE";
  spit(dir / "written_chain_be.bsp", image_bytes(chain));

  DafWriter cycle;
  cycle.segments.push_back(
      segment("A", 0.0, 10.0, 5, 6, test_support::linear_type2_words(0.0, 10.0, 1, 1, 1, 1, 0)));
  cycle.segments.push_back(
      segment("B", 0.0, 10.0, 6, 5, test_support::linear_type2_words(0.0, 10.0, 1, 1, 1, 1, 0)));
  spit(dir / "written_cycle.bsp", image_bytes(cycle));

  DafWriter empty;
  spit(dir / "written_empty.bsp", image_bytes(empty));
}

void text_seeds(const fs::path& data, const fs::path& lsk_dir, const fs::path& eop_dir) {
  fs::create_directories(lsk_dir);
  fs::create_directories(eop_dir);
  const std::string lsk = slurp(data / "naif0012.tls");
  spit(lsk_dir / "naif0012", header(2457754.5, 0.5) + lsk);
  spit(lsk_dir / "naif0012_early", header(2441317.0, -1.0) + lsk);
  spit(lsk_dir / "minimal",
       header(2451545.0, 1e-9) +
           "\\begindata\nDELTET/DELTA_T_A = 32.184\nDELTET/K = 1.657D-3\n"
           "DELTET/EB = 1.671D-2\nDELTET/M = ( 6.239996 1.99096871D-7 )\n"
           "DELTET/DELTA_AT = ( 10, @1972-JAN-1\n 11, @1972-jul-1 )\n\\begintext\n");

  spit(eop_dir / "excerpt_1999",
       header(2451363.25, 0.5) + slurp(data / "eop_20c04_excerpt_1999.txt"));
  // The long table's header and a few hundred rows, with a leap second in them.
  std::istringstream lines(slurp(data / "eop_c04_1962_2022.txt"));
  std::string line, head, leap;
  for (int n = 0; std::getline(lines, line) && n < 4000; ++n) {
    if (n < 300) head += line + '\n';
    if (n >= 3600) leap += line + '\n';
  }
  spit(eop_dir / "c04_head", header(2437665.5, 0.25) + head);
  spit(eop_dir / "c04_window", header(2441499.5, 0.75) + leap);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds DATA_DIR OUT_DIR\n");
    return 2;
  }
  const fs::path data = argv[1];
  const fs::path out = argv[2];
  spk_seeds(data, out / "spk");
  text_seeds(data, out / "leap_seconds", out / "eop");
  return 0;
}
