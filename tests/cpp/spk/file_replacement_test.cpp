// What an open kernel sees when its file changes on disk. Kernels stay
// mapped for the life of the store, so the safe way to update a kernel is
// to write a new file and rename it over the old one (or to delete the old
// one): the open kernel keeps the inode it mapped and keeps reading the old
// contents. Shrinking the file in place is not survivable for the mapped
// variant: a page past the new end raises SIGBUS on access, which a library
// loaded into someone else's interpreter cannot catch without taking over a
// process-wide signal handler. That limitation is pinned down here so that a
// change to it is a deliberate one.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/daf_writer.hpp"
#include "spk/kernel.hpp"
#include "spk/kernel_source.hpp"

using namespace tarvex::spk;
using tarvex::spk::test_support::DafWriter;
using tarvex::spk::test_support::TempDir;

namespace {

constexpr std::uint32_t RECORDS = 400;  // about 28 KiB of segment data
constexpr double INTERVAL_S = 100.0;

// One segment of many records, so that late records lie many pages past the
// file record and the summary records.
DafWriter many_records(double x) {
  DafWriter writer;
  tarvex::spk::test_support::TestSegment segment;
  segment.name = "MANY RECORDS";
  segment.start_epoch = 0.0;
  segment.end_epoch = RECORDS * INTERVAL_S;
  segment.target = 301;
  segment.center = 3;
  segment.data =
      tarvex::spk::test_support::linear_type2_words(0.0, INTERVAL_S, RECORDS, x, 2.0, 3.0, 0.5);
  writer.segments.push_back(segment);
  return writer;
}

SegmentLoc location_of(const SpkSegment& s) {
  return {s.start_epoch, s.end_epoch, s.center, s.data_type, s.start_address, s.end_address};
}

// Position x at an epoch inside the last record, which no earlier call loaded.
std::expected<double, SpkError> last_record_x(SpkKernel& kernel) {
  auto segments = kernel.segments();
  if (!segments) return std::unexpected(segments.error());
  const double epoch = (RECORDS - 0.5) * INTERVAL_S;
  auto states =
      kernel.evaluate_type2_at_epochs(location_of(segments->front()), std::span(&epoch, 1));
  if (!states) return std::unexpected(states.error());
  return states->front().position[0];
}

class FileReplacement : public ::testing::Test {
 protected:
  void SetUp() override {
    original_writer = many_records(1000.0);
    original_writer.build().write(path);
    auto reference = SpkKernel::open(path);
    ASSERT_TRUE(reference);
    auto x = last_record_x(*reference);
    ASSERT_TRUE(x);
    expected_x = *x;
  }
  SpkKernel open_listed(bool mapped) {
    auto source = mapped ? KernelSource::open(path) : KernelSource::open_reader(path);
    EXPECT_TRUE(source);
    auto kernel = SpkKernel::from_reader(std::move(*source));
    EXPECT_TRUE(kernel);
    EXPECT_EQ(kernel->is_mapped(), mapped);
    EXPECT_TRUE(kernel->segments());
    return std::move(*kernel);
  }

  TempDir dir;
  std::string path = dir.file("kernel.bsp");
  DafWriter original_writer;
  double expected_x = 0.0;
};

}  // namespace

TEST_F(FileReplacement, RenamingANewFileOverTheKernelKeepsTheOldContents) {
  for (const bool mapped : {true, false}) {
    SpkKernel kernel = open_listed(mapped);
    DafWriter other = many_records(-5.0e6);
    auto image = other.build();
    image.truncate(4096);  // shorter than the open file, as well as different
    image.write(path + ".new");
    std::filesystem::rename(path + ".new", path);

    auto x = last_record_x(kernel);
    ASSERT_TRUE(x) << x.error().message();
    EXPECT_EQ(*x, expected_x) << (mapped ? "mapped" : "reader");
    original_writer.build().write(path);  // back for the next variant
  }
}

TEST_F(FileReplacement, DeletingTheFileKeepsTheOldContents) {
  for (const bool mapped : {true, false}) {
    SpkKernel kernel = open_listed(mapped);
    std::filesystem::remove(path);
    auto x = last_record_x(kernel);
    ASSERT_TRUE(x) << x.error().message();
    EXPECT_EQ(*x, expected_x);
    original_writer.build().write(path);
  }
}

TEST_F(FileReplacement, TruncationUnderThePlainReaderIsAnEndOfFileError) {
  SpkKernel kernel = open_listed(false);
  ASSERT_EQ(::truncate(path.c_str(), 8192), 0);
  auto x = last_record_x(kernel);
  ASSERT_FALSE(x);
  EXPECT_EQ(x.error().message(), "failed to read SPK kernel: failed to fill whole buffer");
}

TEST_F(FileReplacement, TruncationUnderTheMappingEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Killed by SIGBUS, or, in sanitizer builds, the runtime's report of it
  // and its exit status 1. Every step before the read exits 0, so only a
  // death in the read itself passes.
  const auto died_in_read = [](int status) {
    return (WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) ||
           (WIFEXITED(status) && WEXITSTATUS(status) == 1);
  };
  EXPECT_EXIT(
      {
        auto kernel = SpkKernel::open(path);
        if (!kernel || !kernel->is_mapped() || !kernel->segments()) std::exit(0);
        if (::truncate(path.c_str(), 8192) != 0) std::exit(0);
        (void)last_record_x(*kernel);
        std::exit(0);
      },
      died_in_read, "");
}
