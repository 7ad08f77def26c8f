// Real kernels against an independent reader: barycentric states of de405s
// against jplephem (reference file written by tests/reference/spk_states.py),
// and the big-endian twin against the little-endian one bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "support/daf_writer.hpp"
#include "spk/kernel.hpp"
#include "spk/center_chain.hpp"
#include "spk/coverage.hpp"

using namespace tarvex::spk;
using namespace tarvex::spk::test_support;

namespace {

struct Reference {
  double epoch;
  tarvex::core::CartesianState state;
};

std::map<std::int32_t, std::vector<Reference>> read_reference(const std::string& path) {
  std::map<std::int32_t, std::vector<Reference>> rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::int32_t code = 0;
    std::string text[7];
    fields >> code;
    for (auto& t : text) fields >> t;
    Reference row{};
    row.epoch = std::strtod(text[0].c_str(), nullptr);
    for (std::size_t i = 0; i < 3; ++i) {
      row.state.position[i] = std::strtod(text[1 + i].c_str(), nullptr);
      row.state.velocity[i] = std::strtod(text[4 + i].c_str(), nullptr);
    }
    rows[code].push_back(row);
  }
  return rows;
}

bool same_bits(const tarvex::core::CartesianState& a, const tarvex::core::CartesianState& b) {
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::bit_cast<std::uint64_t>(a.position[i]) != std::bit_cast<std::uint64_t>(b.position[i]))
      return false;
    if (std::bit_cast<std::uint64_t>(a.velocity[i]) != std::bit_cast<std::uint64_t>(b.velocity[i]))
      return false;
  }
  return true;
}

}  // namespace

// Tolerances: both sides evaluate the same Chebyshev coefficients in double
// precision, differing only in summation order and in how the scaled time
// is formed, so positions agree to a few units in the last place of the
// distance (1e-15 relative) and velocities to far below 1e-12 km/s.
TEST(Jplephem, BarycentricStatesAgree) {
  const char* dir = std::getenv("TARVEX_REFERENCE_DIR");
  if (dir == nullptr || *dir == '\0') GTEST_SKIP() << "TARVEX_REFERENCE_DIR is not set";
  const auto rows = read_reference(std::string(dir) + "/spk_states.txt");
  ASSERT_EQ(rows.size(), 12u);

  KernelList kernels;
  kernels.push_back(std::move(*SpkKernel::open(data_path("de405s.bsp"))));
  double worst_position = 0.0;  // relative to the distance
  double worst_velocity = 0.0;  // km/s
  for (const auto& [code, references] : rows) {
    std::vector<double> epochs;
    for (const auto& r : references) epochs.push_back(r.epoch);
    auto batch = barycentric_states_across_kernels(kernels, code, epochs);
    ASSERT_TRUE(batch) << batch.error().message();
    for (std::size_t j = 0; j < references.size(); ++j) {
      const tarvex::core::CartesianState& want = references[j].state;
      const tarvex::core::CartesianState& got = (*batch)[j];
      const double distance = std::hypot(want.position[0], want.position[1], want.position[2]);
      const double miss =
          std::hypot(got.position[0] - want.position[0], got.position[1] - want.position[1],
                     got.position[2] - want.position[2]);
      worst_position = std::max(worst_position, miss / distance);
      EXPECT_LE(miss, 1e-15 * distance) << code << " at " << epochs[j];
      for (std::size_t i = 0; i < 3; ++i) {
        const double dv = std::fabs(got.velocity[i] - want.velocity[i]);
        worst_velocity = std::max(worst_velocity, dv);
        EXPECT_LE(dv, 1e-12) << code << " at " << epochs[j];
      }
      // The single-epoch path gives the same bits as the batch.
      if (j % 16 == 0) {
        auto single = barycentric_state_across_kernels(kernels, code, epochs[j]);
        ASSERT_TRUE(single);
        EXPECT_TRUE(same_bits(*single, got)) << code << " at " << epochs[j];
      }
    }
  }
  RecordProperty("worst_relative_position", std::to_string(worst_position));
  RecordProperty("worst_velocity_km_s", std::to_string(worst_velocity));
  std::printf(
      "jplephem: worst position difference %.3g of the distance, worst velocity %.3g km/s\n",
      worst_position, worst_velocity);
}

TEST(RealKernels, BigEndianTwinGivesTheSameBits) {
  auto little = SpkKernel::open(data_path("de405s.bsp"));
  auto big = SpkKernel::open(data_path("de405s_bigendian.bsp"));
  ASSERT_TRUE(little && big);
  const auto segments = *little->segments();
  ASSERT_EQ(segments, *big->segments());
  for (const SpkSegment& s : segments) {
    const SegmentLoc loc{s.start_epoch, s.end_epoch,     s.center,
                         s.data_type,   s.start_address, s.end_address};
    // Both ends, and enough epochs in between to touch every record.
    std::vector<double> epochs{s.start_epoch, s.end_epoch};
    for (int i = 1; i < 2000; ++i)
      epochs.push_back(s.start_epoch + (s.end_epoch - s.start_epoch) * i / 2000.0);
    auto a = little->evaluate_type2_at_epochs(loc, epochs);
    auto b = big->evaluate_type2_at_epochs(loc, epochs);
    ASSERT_TRUE(a && b) << s.identifier;
    for (std::size_t j = 0; j < epochs.size(); ++j) {
      ASSERT_TRUE(same_bits((*a)[j], (*b)[j])) << s.target << " at " << epochs[j];
    }
    // Every record word too, not only what the epochs reached.
    const auto count = static_cast<std::uint32_t>(s.end_address - s.start_address + 1);
    ASSERT_EQ(little->read_words(s.start_address, count), big->read_words(s.start_address, count));
  }
}
