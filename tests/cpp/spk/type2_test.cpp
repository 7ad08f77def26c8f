// Type 2 evaluation: the recurrence against closed forms, the directory and
// record checks with their messages, boundary epochs, and the caches (each
// record read once per call, nothing read for a cached record).
#include "spk/type2.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "support/daf_writer.hpp"
#include "spk/kernel.hpp"

using namespace tarvex::spk;
using namespace tarvex::spk::test_support;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

// Four records of 100 s from t = 0; X = c0 + c1 T1 + c2 T2 with c0 = k.
std::vector<std::array<std::vector<double>, 3>> quadratic_records() {
  std::vector<std::array<std::vector<double>, 3>> records;
  for (int k = 0; k < 4; ++k) {
    records.push_back({std::vector<double>{double(k), 2.0, 0.5},
                       std::vector<double>{-1.0, 0.0, 3.0}, std::vector<double>{7.0, -4.0, 0.0}});
  }
  return records;
}

class Type2Files : public ::testing::Test {
 protected:
  // One Type 2 segment over [0, 400] holding `words`; returns its location.
  SegmentLoc load(std::vector<double> words, double start = 0.0, double end = 400.0) {
    DafWriter writer;
    writer.segments.push_back({"T", start, end, 5, 0, 1, 2, std::move(words)});
    image = writer.build();
    image.write(dir.file("t.bsp"));
    auto opened = SpkKernel::open(dir.file("t.bsp"));
    EXPECT_TRUE(opened);
    kernel.emplace(std::move(*opened));
    const TestSegment& s = writer.segments[0];
    return SegmentLoc{start, end, 0, 2, s.start_address, s.end_address};
  }
  std::string error_at(const SegmentLoc& loc, std::vector<double> epochs) {
    auto states = kernel->evaluate_type2_at_epochs(loc, epochs);
    return states ? "evaluated" : states.error().message();
  }
  // Rewrites the segment's word `offset` (0-based from its start) and reopens.
  SegmentLoc patch(const SegmentLoc& loc, std::int64_t offset, double value) {
    image.set_word(loc.start_address + offset, value);
    image.write(dir.file("t.bsp"));
    auto opened = SpkKernel::open(dir.file("t.bsp"));
    kernel.emplace(std::move(*opened));
    return loc;
  }
  TempDir dir;
  DafImage image;
  std::optional<SpkKernel> kernel;
};

}  // namespace

TEST(Type2Record, ForwardRecurrenceMatchesClosedForms) {
  // X = 1 + 2x + 3(2x^2 - 1) + 4(4x^3 - 3x); Y constant; Z linear.
  const std::vector<double> words{100.0, 10.0, 1, 2, 3, 4, 5, 0, 0, 0, -1, 0.5, 0, 0};
  const double t = 104.0;
  const double x = 0.4;
  auto state = evaluate_loaded_type2_record(words, 14, t);
  ASSERT_TRUE(state);
  const double value = 1 + 2 * x + 3 * (2 * x * x - 1) + 4 * (4 * x * x * x - 3 * x);
  const double slope = 2 + 12 * x + 4 * (12 * x * x - 3);
  EXPECT_NEAR(state->position[0], value, 1e-14);
  EXPECT_NEAR(state->velocity[0], slope / 10.0, 1e-14);
  EXPECT_EQ(state->position[1], 5.0);
  EXPECT_EQ(state->velocity[1], 0.0);
  EXPECT_EQ(state->position[2], 0.5 * x - 1);
  EXPECT_EQ(state->velocity[2], 0.5 / 10.0);
}

TEST(Type2Record, OneCoefficientIsConstantWithZeroVelocity) {
  const std::vector<double> words{0.0, 5.0, 1.5, -2.5, 3.5};
  auto state = evaluate_loaded_type2_record(words, 5, 5.0);  // x = +1 is inside
  ASSERT_TRUE(state);
  EXPECT_EQ(*state, (tarvex::core::CartesianState{{1.5, -2.5, 3.5}, {0.0, 0.0, 0.0}}));
}

TEST(Type2Record, RefusesBadRecords) {
  const auto message = [](std::vector<double> words, std::uint32_t rsize, double t) {
    auto state = evaluate_loaded_type2_record(words, rsize, t);
    return state ? "evaluated" : state.error().message();
  };
  const std::string radius =
      "invalid SPK Type 2 segment: record midpoint and radius must be finite and valid";
  EXPECT_EQ(message({0.0, 0.0, 1, 2, 3}, 5, 0.0), radius);  // even at MID
  EXPECT_EQ(message({0.0, -1.0, 1, 2, 3}, 5, 0.0), radius);
  EXPECT_EQ(message({NaN, 1.0, 1, 2, 3}, 5, 0.0), radius);
  EXPECT_EQ(message({0.0, INF, 1, 2, 3}, 5, 0.0), radius);
  const std::string outside =
      "invalid SPK Type 2 segment: selected record does not cover the requested epoch";
  EXPECT_EQ(message({0.0, 1.0, 1, 2, 3}, 5, std::nextafter(1.0, 2.0)), outside);
  EXPECT_EQ(message({0.0, 1.0, 1, 2, 3}, 5, NaN), outside);
  EXPECT_EQ(message({0.0, 1.0, 1, 2, 3}, 5, -1.0), "evaluated");
  const std::string coefficients =
      "invalid SPK Type 2 segment: Chebyshev coefficients and argument must be finite";
  EXPECT_EQ(message({0.0, 1.0, 1, 2, NaN}, 5, 0.0), coefficients);
  EXPECT_EQ(message({0.0, 1.0, 1, 2, 3}, 4, 0.0), coefficients);  // n = 0
  EXPECT_EQ(message({0.0, 1.0, 1, 2, 3}, 1, 0.0),
            coefficients);  // RSIZE - 2 wraps: n huge, words short
  EXPECT_EQ(message({0.0, 1.0, 1, 2, 3}, 8, 0.0), coefficients);  // fewer words than RSIZE claims
}

TEST_F(Type2Files, EvaluatesRecordsAndBoundaries) {
  const SegmentLoc loc = load(type2_words(0.0, 100.0, quadratic_records()));
  // Inner boundary t = 100 belongs to record 1 at x = -1; the segment end
  // to the last record at x = +1.
  auto states =
      kernel->evaluate_type2_at_epochs(loc, std::vector<double>{100.0, 400.0, 0.0, 150.0});
  ASSERT_TRUE(states) << states.error().message();
  const auto x_of = [](double k, double x) { return k + 2 * x + 0.5 * (2 * x * x - 1); };
  EXPECT_EQ((*states)[0].position[0], x_of(1, -1));
  EXPECT_EQ((*states)[1].position[0], x_of(3, 1));
  EXPECT_EQ((*states)[2].position[0], x_of(0, -1));
  EXPECT_EQ((*states)[3].position[0], x_of(1, 0));
  EXPECT_EQ((*states)[3].velocity[0], (2 + 0.5 * 0) / 50.0);
  EXPECT_EQ((*states)[3].position[2], 7.0);
  EXPECT_EQ((*states)[3].velocity[2], -4.0 / 50.0);
}

TEST_F(Type2Files, ReadsEachRecordOncePerCallWhateverTheOrder) {
  const SegmentLoc loc = load(type2_words(0.0, 100.0, quadratic_records()));
  std::vector<double> descending{390.0, 350.0, 310.0, 250.0, 210.0, 150.0, 110.0, 50.0, 10.0, 10.0};
  const std::uint64_t before = kernel->word_read_count();
  auto states = kernel->evaluate_type2_at_epochs(loc, descending);
  ASSERT_TRUE(states);
  EXPECT_EQ(kernel->word_read_count() - before, 1u + 4u);         // directory, then four records
  EXPECT_EQ((*states)[8], (*states)[9]);                          // duplicates agree
  EXPECT_LT((*states)[9].position[0], (*states)[0].position[0]);  // input order kept
  for (std::size_t j = 0; j < descending.size(); ++j) {
    auto single = kernel->evaluate_type2_at_epochs(loc, std::span(&descending[j], 1));
    EXPECT_EQ(single->front(), (*states)[j]);
  }

  // The last record stays cached: evaluating inside it reads nothing.
  ASSERT_NE(kernel->cached_directory({loc.start_address, loc.end_address}), nullptr);
  const Type2Record* record = kernel->cached_record({loc.start_address, loc.end_address});
  ASSERT_NE(record, nullptr);
  const std::uint32_t cached = record->record_index;
  const std::uint64_t reads = kernel->word_read_count();
  const double inside = cached * 100.0 + 42.0;
  EXPECT_TRUE(kernel->evaluate_type2_at_epochs(loc, std::span(&inside, 1)));
  EXPECT_EQ(kernel->word_read_count(), reads);
  EXPECT_EQ(kernel->evaluate_type2_at_epochs(loc, {}), std::vector<tarvex::core::CartesianState>{});
}

// Runs of one to seven epochs per record exercise the four-lane, two-lane
// and one-epoch tails; time order, reversed order and a shuffle must each
// give every epoch the bits of its own one-epoch evaluation.
TEST_F(Type2Files, EveryOrderAndRunLengthGivesTheOneEpochBits) {
  const SegmentLoc loc = load(type2_words(0.0, 100.0, quadratic_records()));
  std::vector<double> ascending;
  for (int record = 0; record < 4; ++record) {
    const int run = 1 + 2 * record;  // 1, 3, 5, 7
    for (int i = 0; i < run; ++i) ascending.push_back(record * 100.0 + 3.0 + 13.0 * i);
  }
  ascending.push_back(400.0);  // the segment end, on the last record
  std::vector<double> reversed(ascending.rbegin(), ascending.rend());
  std::vector<double> shuffled = ascending;
  for (std::size_t i = 0; i < shuffled.size(); i += 3) std::swap(shuffled[i], shuffled.back());
  for (const auto* epochs : {&ascending, &reversed, &shuffled}) {
    auto states = kernel->evaluate_type2_at_epochs(loc, *epochs);
    ASSERT_TRUE(states) << states.error().message();
    for (std::size_t j = 0; j < epochs->size(); ++j) {
      auto single = kernel->evaluate_type2_at_epochs(loc, std::span(&(*epochs)[j], 1));
      ASSERT_TRUE(single);
      EXPECT_EQ(std::memcmp(&single->front(), &(*states)[j], sizeof(single->front())), 0)
          << "epoch " << (*epochs)[j];
    }
  }
}

// Records are visited in record order whatever the order of the epochs, so
// the first bad record reached is the same one.
TEST_F(Type2Files, FirstBadRecordIsTheSameInEveryOrder) {
  SegmentLoc loc = load(type2_words(0.0, 100.0, quadratic_records()));
  const std::int64_t record_words = 11;  // MID, RADIUS, three sets of three
  loc = patch(loc, 2 * record_words + 1, 0.0);      // record 2: zero radius
  loc = patch(loc, 3 * record_words + 4, NaN);      // record 3: a NaN coefficient
  const std::string radius =
      "invalid SPK Type 2 segment: record midpoint and radius must be finite and valid";
  EXPECT_EQ(error_at(loc, {10.0, 110.0, 210.0, 310.0, 390.0}), radius);
  EXPECT_EQ(error_at(loc, {390.0, 310.0, 210.0, 110.0, 10.0}), radius);
  EXPECT_EQ(error_at(loc, {10.0, 20.0, 30.0, 40.0, 310.0}),
            "invalid SPK Type 2 segment: Chebyshev coefficients and argument must be finite");
}

// The one-epoch shortcut answers only from the caches, with the bits of the
// full evaluation, and declines whatever would need the file or an error.
TEST_F(Type2Files, CachedEvaluationAnswersOnlyFromTheCaches) {
  SegmentLoc loc = load(type2_words(0.0, 100.0, quadratic_records()));
  tarvex::core::CartesianState state;
  EXPECT_FALSE(kernel->evaluate_type2_cached(loc, 150.0, state));  // nothing read yet
  const double epoch = 150.0;
  auto full = kernel->evaluate_type2_at_epochs(loc, std::span(&epoch, 1));
  ASSERT_TRUE(full);
  const std::uint64_t reads = kernel->word_read_count();
  ASSERT_TRUE(kernel->evaluate_type2_cached(loc, 150.0, state));
  EXPECT_EQ(std::memcmp(&state, &full->front(), sizeof(state)), 0);
  EXPECT_TRUE(kernel->evaluate_type2_cached(loc, 199.0, state));   // same record
  EXPECT_FALSE(kernel->evaluate_type2_cached(loc, 250.0, state));  // another record
  EXPECT_FALSE(kernel->evaluate_type2_cached(loc, 500.0, state));  // outside the segment
  EXPECT_FALSE(kernel->evaluate_type2_cached(loc, NaN, state));
  EXPECT_EQ(kernel->word_read_count(), reads);

  // A record with a non-finite coefficient is left to the full path and its error.
  loc = patch(loc, 1 * 11 + 4, NaN);
  ASSERT_FALSE(kernel->evaluate_type2_at_epochs(loc, std::span(&epoch, 1)));
  EXPECT_FALSE(kernel->evaluate_type2_cached(loc, 150.0, state));
}

TEST_F(Type2Files, CoverageIsCheckedBeforeTheFile) {
  const SegmentLoc loc = load(type2_words(0.0, 100.0, quadratic_records()), 0.5, 400.0);
  const std::uint64_t before = kernel->word_read_count();
  EXPECT_EQ(error_at(loc, {100.0, std::nextafter(0.5, 0.0), 500.0}),
            "TDB epoch 0.49999999999999994 is outside segment coverage [0.5, 400]");
  EXPECT_EQ(error_at(loc, {NaN}), "TDB epoch NaN is outside segment coverage [0.5, 400]");
  EXPECT_EQ(error_at(loc, {1e21}),
            "TDB epoch 1000000000000000000000 is outside segment coverage [0.5, 400]");
  EXPECT_EQ(kernel->word_read_count(), before);
}

TEST_F(Type2Files, DirectoryChecks) {
  const std::vector<double> words = type2_words(0.0, 100.0, quadratic_records());
  const std::int64_t init = static_cast<std::int64_t>(words.size()) - 4;
  const std::string prefix = "invalid SPK Type 2 segment: ";
  const auto with = [&](std::int64_t offset, double value, std::vector<double> epochs = {50.0}) {
    std::vector<double> changed = words;
    changed[static_cast<std::size_t>(offset)] = value;
    return error_at(load(changed), epochs);
  };
  for (double bad : {11.5, 0.0, NaN, -11.0, 4294967296.0, INF}) {
    EXPECT_EQ(with(init + 2, bad), prefix + "record size") << bad;
  }
  for (double bad : {4.5, 0.0, NaN}) EXPECT_EQ(with(init + 3, bad), prefix + "record count") << bad;
  const std::string epoch_rule =
      prefix + "directory epoch and interval length must be finite and valid";
  EXPECT_EQ(with(init, NaN), epoch_rule);
  EXPECT_EQ(with(init + 1, 0.0), epoch_rule);
  EXPECT_EQ(with(init + 1, -100.0), epoch_rule);
  EXPECT_EQ(with(init + 1, INF), epoch_rule);
  const std::string sets = prefix + "record size does not describe three equal coefficient sets";
  EXPECT_EQ(with(init + 2, 4.0), sets);
  EXPECT_EQ(with(init + 2, 7.0), sets);
  EXPECT_EQ(with(init + 3, 1e9), prefix + "segment word count overflowed");
  EXPECT_EQ(with(init + 3, 5.0),
            prefix + "directory size does not match the segment address range");
  EXPECT_EQ(with(init + 2, 14.0),
            prefix + "directory size does not match the segment address range");
  // A directory that fails is not cached; a good one is.
  EXPECT_EQ(kernel->cached_directory({1, 1}), nullptr);
  EXPECT_EQ(with(init, -110.0, {400.0}),
            prefix + "epoch is not covered by the polynomial intervals");
  EXPECT_EQ(with(init, 10.0, {5.0}), prefix + "epoch precedes the first polynomial interval");
  // INIT shifted by 1 s: the record for t = 50 no longer contains t = 199.5.
  EXPECT_EQ(with(init, -1.0, {199.5}),
            prefix + "selected record does not cover the requested epoch");
}

TEST_F(Type2Files, RecordFaultsLeaveTheKernelUsable) {
  SegmentLoc loc = load(type2_words(0.0, 100.0, quadratic_records()));
  patch(loc, 11 + 1, 0.0);  // RADIUS of record 1
  EXPECT_EQ(error_at(loc, {150.0}),
            "invalid SPK Type 2 segment: record midpoint and radius must be finite and valid");
  // The record that was read stays cached even though it failed to evaluate.
  ASSERT_NE(kernel->cached_record({loc.start_address, loc.end_address}), nullptr);
  EXPECT_EQ(kernel->cached_record({loc.start_address, loc.end_address})->record_index, 1u);
  EXPECT_EQ(error_at(loc, {50.0, 350.0}), "evaluated");
  patch(loc, 11 * 3 + 5, INF);  // the first Y coefficient of record 3
  EXPECT_EQ(error_at(loc, {350.0}),
            "invalid SPK Type 2 segment: Chebyshev coefficients and argument must be finite");
}

TEST_F(Type2Files, TruncatedFileIsAShortReadNotAWildOne) {
  const SegmentLoc loc = load(type2_words(0.0, 100.0, quadratic_records()));
  image.truncate(image.bytes.size() - 1024);  // the directory and the last records are gone
  image.write(dir.file("t.bsp"));
  kernel.emplace(std::move(*SpkKernel::open(dir.file("t.bsp"))));
  EXPECT_EQ(error_at(loc, {50.0}), "failed to read SPK kernel: failed to fill whole buffer");
  EXPECT_EQ(kernel->cached_directory({loc.start_address, loc.end_address}), nullptr);
}
