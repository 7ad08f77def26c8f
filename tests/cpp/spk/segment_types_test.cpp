// Every registered segment type against CSPICE: the raw states that
// tests/reference/spice_segments.py takes from spkpvn for the segments of
// allspk_littleendian.bsp (Types 1, 2, 3, 8), mar022-1.bsp (Types 2, 3)
// and kernels written by the NAIF writers (Types 5, 8, 9, 12, 13, 15, 17,
// 18, 20) and by our own writer (Type 21), at segment ends, record
// boundaries, time tags and random epochs; the inertial frame rotations
// against pxform; gaps and frames under the two rule sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "spk/center_chain.hpp"
#include "spk/inertial_frames.hpp"
#include "spk/kernel.hpp"
#include "spk/segment_types.hpp"
#include "support/daf_writer.hpp"

namespace {

using namespace tarvex::spk;
using tarvex::spk::test_support::DafImage;
using tarvex::spk::test_support::data_path;

std::string reference_dir() {
  const char* dir = std::getenv("TARVEX_REFERENCE_DIR");
  return dir == nullptr ? std::string() : std::string(dir);
}

std::vector<std::vector<std::string>> read_records(const std::string& file) {
  std::vector<std::vector<std::string>> records;
  std::ifstream in(reference_dir() + "/" + file);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::vector<std::string> r;
    for (std::string f; fields >> f;) r.push_back(f);
    if (!r.empty()) records.push_back(std::move(r));
  }
  return records;
}

double number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

double norm(const std::array<double, 3>& v) { return std::hypot(v[0], v[1], v[2]); }

SegmentLoc location_of(const SpkSegment& s) {
  return SegmentLoc{s.start_epoch, s.end_epoch,     s.center,      s.data_type,
                    s.start_address, s.end_address, s.frame};
}

TEST(SegmentTypes, AgreeWithCspice) {
  const auto records = read_records("spice_segment_states.txt");
  if (records.empty()) GTEST_SKIP() << "no spice_segment_states.txt in TARVEX_REFERENCE_DIR";
  struct Opened {
    std::optional<SpkKernel> kernel;
    std::vector<SpkSegment> segments;
  };
  std::map<std::string, Opened> kernels;
  // Worst position and velocity error of each type, in units of its allowance.
  std::map<int, std::pair<double, double>> worst;
  std::map<int, int> counts;
  for (const auto& r : records) {
    ASSERT_EQ(r.size(), 9u);
    Opened& opened = kernels[r[0]];
    if (!opened.kernel) {
      std::string path = reference_dir() + "/" + r[0];
      if (!std::filesystem::exists(path)) path = data_path(r[0]);
      auto kernel = SpkKernel::open(path);
      ASSERT_TRUE(kernel) << r[0] << ": " << kernel.error().message();
      opened.segments = *kernel->segments();
      opened.kernel.emplace(std::move(*kernel));
    }
    const SpkSegment& segment = opened.segments.at(std::stoul(r[1]));
    const double epoch = number(r[2]);
    tarvex::core::CartesianState state;
    auto done = opened.kernel->evaluate_segment_into(location_of(segment), std::span(&epoch, 1),
                                                     std::span(&state, 1));
    ASSERT_TRUE(done) << r[0] << " segment " << r[1] << " type " << segment.data_type << ": "
                      << done.error().message();
    const std::array<double, 3> p{number(r[3]), number(r[4]), number(r[5])};
    const std::array<double, 3> v{number(r[6]), number(r[7]), number(r[8])};
    const std::array<double, 3> dp{state.position[0] - p[0], state.position[1] - p[1],
                                   state.position[2] - p[2]};
    const std::array<double, 3> dv{state.velocity[0] - v[0], state.velocity[1] - v[1],
                                   state.velocity[2] - v[2]};
    // 1e-12 of the vector, or 1 mm and 1 um/s where that is larger.
    const double p_allow = std::max(1e-12 * norm(p), 1e-6);
    const double v_allow = std::max(1e-12 * norm(v), 1e-9);
    const double p_ratio = norm(dp) / p_allow;
    const double v_ratio = norm(dv) / v_allow;
    auto& w = worst[segment.data_type];
    w.first = std::max(w.first, p_ratio);
    w.second = std::max(w.second, v_ratio);
    ++counts[segment.data_type];
    EXPECT_LE(p_ratio, 1.0) << r[0] << " segment " << r[1] << " type " << segment.data_type
                            << " epoch " << r[2] << " position off by " << norm(dp) << " km";
    EXPECT_LE(v_ratio, 1.0) << r[0] << " segment " << r[1] << " type " << segment.data_type
                            << " epoch " << r[2] << " velocity off by " << norm(dv) << " km/s";
  }
  for (const auto& [type, w] : worst)
    std::printf("CSPICE: Type %2d, %4d states, worst position %.3g, velocity %.3g of the allowance\n",
                type, counts[type], w.first, w.second);
  // Every registered type was checked.
  for (const SegmentType& type : segment_types())
    EXPECT_TRUE(counts.contains(type.data_type)) << "Type " << type.data_type << " unchecked";
}

TEST(SegmentTypes, InertialFramesAgreeWithPxform) {
  const auto records = read_records("spice_frames.txt");
  if (records.empty()) GTEST_SKIP() << "no spice_frames.txt in TARVEX_REFERENCE_DIR";
  for (const auto& r : records) {
    const int code = std::stoi(r[0]);
    const auto m = rotation_to_j2000(code);
    if (code == 16) {  // MARSIAU needs Mars's orientation: refused
      EXPECT_FALSE(m);
      EXPECT_EQ(inertial_frame_name(code), "MARSIAU");
      continue;
    }
    ASSERT_TRUE(m) << code;
    // The DE-140, DE-142 and DE-143 matrices are taken as published, to 16
    // digits; CSPICE's differ from them by up to 2e-14 (0.004 mas).
    const double allowed = code >= 19 ? 3e-14 : 2e-15;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        EXPECT_NEAR((*m)[i][j], number(r[1 + 3 * i + j]), allowed) << inertial_frame_name(code);
  }
}

TEST(SegmentTypes, GapsAndFramesUnderBothRules) {
  auto kernel = SpkKernel::open(data_path("allspk_littleendian.bsp"));
  ASSERT_TRUE(kernel);
  KernelList kernels;
  kernels.push_back(std::move(*kernel));
  // The Sun's segments of 2000 and 2001-2002 leave a gap; the strict rules
  // say only that the chain stops.
  const double in_gap = 0.5 * 365.25 * 86400.0;
  EXPECT_EQ(barycentric_state_across_kernels(kernels, 10, in_gap).error().kind(),
            SpkError::Kind::MissingChainSegment);
  kernels[0].set_segment_rules(SegmentRules::AnyType);
  const auto gap = barycentric_state_across_kernels(kernels, 10, in_gap);
  ASSERT_FALSE(gap);
  EXPECT_EQ(gap.error().kind(), SpkError::Kind::CoverageGap);
  EXPECT_TRUE(gap.error().message().starts_with(
      "no SPK segment covers target 10 at TDB epoch 15778800: it falls in a gap of the "
      "target's coverage, between TDB epochs "))
      << gap.error().message();
  // Before all of a target's segments, and a body no kernel holds: the
  // strict engine's message.
  EXPECT_EQ(barycentric_state_across_kernels(kernels, 199, 0.0).error().kind(),
            SpkError::Kind::MissingChainSegment);
  EXPECT_EQ(barycentric_state_across_kernels(kernels, 2000001, 0.0).error().kind(),
            SpkError::Kind::MissingChainSegment);
  // The station DSS-13 is a Type 8 segment in ITRF93, refused by name.
  auto segments = kernels[0].listed_segments();
  ASSERT_TRUE(segments);
  double station_epoch = 0.0;
  for (const auto& s : *segments)
    if (s.target == 399013) station_epoch = s.start_epoch;
  const auto station = barycentric_state_across_kernels(kernels, 399013, station_epoch);
  ASSERT_FALSE(station);
  EXPECT_EQ(station.error().message(),
            "SPK segment for target 399013 is in reference frame ITRF93 (13000), which this "
            "engine cannot rotate to J2000");
  // Type 1 (Cassini, -82) relative to Saturn's barycenter, chained to the
  // solar-system barycenter through Type 2 segments.
  double cassini = 0.0;
  for (const auto& s : *segments)
    if (s.target == -82) cassini = 0.5 * (s.start_epoch + s.end_epoch);
  EXPECT_TRUE(barycentric_state_across_kernels(kernels, -82, cassini));
}

TEST(SegmentTypes, MalformedTrailersAreRefused) {
  // A Type 5 segment whose state count runs past the segment, and a Type
  // 21 segment whose difference-line size is impossible.
  using tarvex::spk::test_support::DafWriter;
  using tarvex::spk::test_support::TestSegment;
  DafWriter writer;
  TestSegment five;
  five.target = 2000001;
  five.center = 10;
  five.frame = 1;
  five.data_type = 5;
  five.start_epoch = 0.0;
  five.end_epoch = 10.0;
  five.data = {1, 0, 0, 0, 1, 0, 0.0, 1.0, 9.0};  // one state, epoch, GM 1, N = 9
  TestSegment twenty_one = five;
  twenty_one.data_type = 21;
  twenty_one.data = std::vector<double>(80, 0.0);
  twenty_one.data[78] = 72.0;  // neither MAXDIM nor 4 MAXDIM + 11
  twenty_one.data[79] = 1.0;
  writer.segments = {five, twenty_one};
  const std::string path =
      (std::filesystem::temp_directory_path() / "tarvex_malformed_types.bsp").string();
  writer.build().write(path);
  auto kernel = SpkKernel::open(path);
  ASSERT_TRUE(kernel);
  auto segments = *kernel->segments();
  const double epoch = 1.0;
  tarvex::core::CartesianState state;
  EXPECT_EQ(kernel->evaluate_segment_into(location_of(segments[0]), std::span(&epoch, 1),
                                          std::span(&state, 1))
                .error()
                .message(),
            "invalid SPK Type 5 segment: state count");
  EXPECT_EQ(kernel->evaluate_segment_into(location_of(segments[1]), std::span(&epoch, 1),
                                          std::span(&state, 1))
                .error()
                .message(),
            "invalid SPK Type 21 segment: difference line size");
  const double outside = 11.0;
  EXPECT_EQ(kernel->evaluate_segment_into(location_of(segments[0]), std::span(&outside, 1),
                                          std::span(&state, 1))
                .error()
                .kind(),
            SpkError::Kind::EpochOutsideSegment);
  std::filesystem::remove(path);
}

// Segments of other types over hostile words, opened through the chain walk
// with the toolkit's rules so that errors name the file, target and segment.
struct Hostile {
  tarvex::spk::test_support::TempDir dir;
  KernelList kernels;
  explicit Hostile(const DafImage& image) {
    image.write(dir.file("hostile.bsp"));
    kernels.push_back(std::move(*SpkKernel::open(dir.file("hostile.bsp"))));
    kernels[0].set_segment_rules(SegmentRules::AnyType);
    kernels[0].set_name("hostile.bsp");
  }
  std::string error_at(std::int32_t target, double epoch) {
    auto state = barycentric_state_across_kernels(kernels, target, epoch);
    return state ? std::string("a state") : state.error().message();
  }
};

tarvex::spk::test_support::TestSegment segment(std::int32_t target, std::int32_t type, double end,
                                               std::vector<double> data) {
  return {.name = "hostile " + std::to_string(target), .end_epoch = end, .target = target,
          .data_type = type, .data = std::move(data)};
}

TEST(SegmentTypes, AbsurdRecordWordsAreRefusedNamingTheSegment) {
  // Type 3, one record over [0, 10] of 2 coefficients per component; the
  // segment claims [0, 2000] (as if its directory's INIT had moved).
  std::vector<double> type3 = {5.0, 5.0};
  for (int c = 0; c < 6; ++c) type3.insert(type3.end(), {1.0 + c, 0.5});
  type3.insert(type3.end(), {0.0, 10.0, 14.0, 1.0});
  // Type 20, one record: finite words whose scales overflow the state.
  std::vector<double> type20;
  for (int c = 0; c < 3; ++c) type20.insert(type20.end(), {1e300, 1e300, 1e300});
  type20.insert(type20.end(), {1e300, 1e-300, 2451545.0, 0.0, 10.0 / 86400.0, 9.0, 1.0});
  // Type 21, one record of 2 terms whose step size underflows the ratios.
  std::vector<double> type21 = {5.0, 1e-310, 1e-310, 1, 0, 2, 0, 3, 0, 1, 1, 1, 1, 1, 1,
                                3.0, 2.0, 2.0, 2.0, 10.0, 2.0, 1.0};
  tarvex::spk::test_support::DafWriter writer;
  writer.segments = {segment(1003, 3, 2000.0, type3), segment(1020, 20, 10.0, type20),
                     segment(1021, 21, 10.0, type21)};
  Hostile hostile(writer.build());
  // Just past the record, as excerpted segments end: extended.
  EXPECT_EQ(hostile.error_at(1003, 10.0 + 1e-7), "a state");
  EXPECT_EQ(hostile.error_at(1003, 1500.0),
            "invalid SPK Type 3 segment: the epoch lies outside the record that serves it (record "
            "midpoint, radius or the directory's initial epoch damaged) (kernel hostile.bsp, "
            "target 1003, segment \"hostile 1003\")");
  EXPECT_EQ(hostile.error_at(1020, 5.0),
            "invalid SPK Type 20 segment: its words give a non-finite state (kernel hostile.bsp, "
            "target 1020, segment \"hostile 1020\")");
  EXPECT_EQ(hostile.error_at(1021, 7.0),
            "invalid SPK Type 21 segment: its words give a non-finite state (kernel hostile.bsp, "
            "target 1021, segment \"hostile 1021\")");
}

TEST(SegmentTypes, EvaluatorsAreKeptPerTypeOverSharedWords) {
  // Eight states of a circle at 100 s steps, read as Type 8 (Lagrange,
  // degree 3) by one summary and as Type 12 (Hermite, window 4) by another
  // over the same words: each answer must not depend on which came first.
  std::vector<double> words;
  const double w = 2e-3;
  for (int i = 0; i < 8; ++i) {
    const double t = 100.0 * i;
    words.insert(words.end(), {7000 * std::cos(w * t), 7000 * std::sin(w * t), 0.0,
                               -7000 * w * std::sin(w * t), 7000 * w * std::cos(w * t), 0.0});
  }
  words.insert(words.end(), {0.0, 100.0, 3.0, 8.0});
  tarvex::spk::test_support::DafWriter writer;
  writer.segments = {segment(1008, 8, 700.0, words), segment(1012, 12, 700.0, words)};
  auto image = writer.build();
  const std::size_t second = DafImage::record_word(writer.summary_records[0], 3 + 5);
  image.set_u32(second + 32, static_cast<std::uint32_t>(writer.segments[0].start_address));
  image.set_u32(second + 36, static_cast<std::uint32_t>(writer.segments[0].end_address));
  const auto x_of = [&](bool hermite_first) {
    Hostile opened(image);
    auto segments = *opened.kernels[0].segments();
    EXPECT_EQ(segments[0].start_address, segments[1].start_address);
    const double epoch = 250.0;
    std::array<double, 2> x{};
    for (int k : hermite_first ? std::array{1, 0} : std::array{0, 1}) {
      tarvex::core::CartesianState state;
      EXPECT_TRUE(opened.kernels[0].evaluate_segment_into(
          location_of(segments[static_cast<std::size_t>(k)]), std::span(&epoch, 1),
          std::span(&state, 1)));
      x[static_cast<std::size_t>(k)] = state.position[0];
    }
    return x;
  };
  const auto lagrange_first = x_of(false);
  EXPECT_EQ(lagrange_first, x_of(true));
  EXPECT_GT(std::abs(lagrange_first[0] - lagrange_first[1]), 1e-3);
}

}  // namespace
