// Both byte-source variants must read and seek alike; the reader is only a
// fallback, but users whose mapping fails depend on it.
#include "spk/kernel_source.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>

#include "support/daf_writer.hpp"
#include "spk/kernel.hpp"

using namespace tarvex::spk;
using tarvex::spk::test_support::TempDir;

namespace {

void write_bytes(const std::string& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string as_text(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

class SourceVariants : public ::testing::TestWithParam<bool> {
 protected:
  KernelSource open(const std::string& path) {
    auto source = GetParam() ? KernelSource::open(path) : KernelSource::open_reader(path);
    EXPECT_TRUE(source.has_value());
    EXPECT_EQ(source->is_mapped(), GetParam());
    return std::move(*source);
  }
  TempDir dir;
};

}  // namespace

TEST_P(SourceVariants, ReadsSeeksAndStopsAtEnd) {
  write_bytes(dir.file("k"), "0123456789");
  KernelSource source = open(dir.file("k"));
  std::array<std::byte, 4> buffer{};

  ASSERT_EQ(source.seek(SeekOrigin::Start, 3), 3u);
  ASSERT_TRUE(source.read_exact(buffer));
  EXPECT_EQ(as_text(buffer), "3456");
  EXPECT_EQ(source.seek(SeekOrigin::Current, -2), 5u);
  EXPECT_EQ(source.seek(SeekOrigin::End, -3), 7u);
  EXPECT_EQ(source.read(buffer), 3u);  // short read at the end
  EXPECT_EQ(as_text(std::span(buffer).first(3)), "789");
  EXPECT_EQ(source.read(buffer), 0u);

  // Beyond the end is a valid position; reads there return nothing.
  EXPECT_EQ(source.seek(SeekOrigin::End, 100), 110u);
  EXPECT_EQ(source.read(buffer), 0u);
  auto exact = source.read_exact(buffer);
  ASSERT_FALSE(exact);
  EXPECT_EQ(exact.error().message(), "failed to fill whole buffer");

  // A partial fill at the end is still an end-of-file failure.
  ASSERT_TRUE(source.seek_to(8));
  EXPECT_EQ(source.read_exact(buffer).error().message(), "failed to fill whole buffer");
  EXPECT_EQ(source.size_hint(), 10u);
}

TEST_P(SourceVariants, RefusesNegativePositions) {
  write_bytes(dir.file("k"), "0123456789");
  KernelSource source = open(dir.file("k"));
  auto before_start = source.seek(SeekOrigin::Current, -1);
  ASSERT_FALSE(before_start);
  if (GetParam()) {
    EXPECT_EQ(before_start.error().message(), "invalid seek to a negative or overflowing position");
    EXPECT_EQ(source.seek(SeekOrigin::Start, -1).error().message(),
              "invalid seek to a negative or overflowing position");
    ASSERT_TRUE(source.seek_to(UINT64_MAX - 1));
    EXPECT_FALSE(source.seek(SeekOrigin::Current, 5));
  } else {
    EXPECT_NE(before_start.error().message().find("Invalid argument"), std::string::npos);
  }
}

TEST_P(SourceVariants, KernelsReadTheSameThroughEitherVariant) {
  const std::string path = test_support::data_path("de405s.bsp");
  auto source = GetParam() ? KernelSource::open(path) : KernelSource::open_reader(path);
  ASSERT_TRUE(source);
  auto kernel = SpkKernel::from_reader(std::move(*source));
  ASSERT_TRUE(kernel) << kernel.error().message();
  EXPECT_EQ(kernel->is_mapped(), GetParam());
  auto reference = SpkKernel::open(path);
  ASSERT_TRUE(reference);
  EXPECT_EQ(kernel->segments(), reference->segments());
  EXPECT_EQ(kernel->read_words(1000, 300), reference->read_words(1000, 300));
}

INSTANTIATE_TEST_SUITE_P(Variants, SourceVariants, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Mapped" : "Reader"; });

TEST(KernelSourceOpen, ReportsTheOperatingSystemError) {
  TempDir dir;
  auto missing = KernelSource::open(dir.file("absent.bsp"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message(), "No such file or directory (os error 2)");
  auto kernel = SpkKernel::open(dir.file("absent.bsp"));
  EXPECT_EQ(kernel.error().message(),
            "failed to read SPK kernel: No such file or directory (os error 2)");
}

TEST(KernelSourceOpen, RefusesANulInThePathBeforeOpening) {
  TempDir dir;
  write_bytes(dir.file("k"), std::string(1024, 'x'));
  // open(2) would stop at the NUL and open "k" itself.
  const std::string path = dir.file("k") + std::string("\0junk", 5);
  auto mapped = KernelSource::open(path);
  ASSERT_FALSE(mapped);
  EXPECT_EQ(mapped.error().message(), "file name contained an unexpected NUL byte");
  auto reader = KernelSource::open_reader(path);
  ASSERT_FALSE(reader);
  EXPECT_EQ(reader.error().message(), "file name contained an unexpected NUL byte");
  EXPECT_EQ(SpkKernel::open(path).error().message(),
            "failed to read SPK kernel: file name contained an unexpected NUL byte");
}

TEST(KernelSourceOpen, EmptyFileFallsBackToTheReaderAndIsShort) {
  TempDir dir;
  write_bytes(dir.file("empty"), "");
  auto source = KernelSource::open(dir.file("empty"));
  ASSERT_TRUE(source);
  EXPECT_FALSE(source->is_mapped());  // nothing to map: the silent fallback
  write_bytes(dir.file("short"), std::string(1023, 'x'));
  EXPECT_EQ(SpkKernel::open(dir.file("short")).error().message(),
            "failed to read SPK kernel: failed to fill whole buffer");
  EXPECT_EQ(SpkKernel::open(dir.file("empty")).error().message(),
            "failed to read SPK kernel: failed to fill whole buffer");
}

TEST(KernelSourceFiles, FifosAndDevicesAreRefusedBeforeReading) {
  // The reader fallback would otherwise block on a FIFO without a writer.
  const std::string fifo = std::string(::testing::TempDir()) + "tarvex_kernel.fifo";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    auto kernel = tarvex::spk::SpkKernel::open(path);
    ASSERT_FALSE(kernel);
    EXPECT_EQ(kernel.error().message(), "failed to read SPK kernel: not a regular file");
  }
  ::unlink(fifo.c_str());
}
