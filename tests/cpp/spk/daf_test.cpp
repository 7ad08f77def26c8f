// The DAF file record, the summary/name record chain and the SPK summary:
// every refusal message, in the order the checks run, on files built by the
// test writer; and the real kernels in both byte orders.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "support/daf_writer.hpp"
#include "spk/kernel.hpp"

using namespace tarvex::spk;
using namespace tarvex::spk::test_support;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

DafWriter two_segment_writer(bool big_endian = false) {
  DafWriter writer;
  writer.big_endian = big_endian;
  writer.format = big_endian ? "BIG-IEEE" : "LTL-IEEE";
  writer.segments.push_back({"  EARTH-MOON BARYCENTER", 0.0, 100.0, 3, 0, 1, 2,
                             linear_type2_words(0.0, 50.0, 2, 10.0, 20.0, 30.0, 1.0)});
  writer.segments.push_back({"MOON\0\0  ", 0.0, 100.0, 301, 3, 1, 2,
                             linear_type2_words(0.0, 100.0, 1, 1.0, 2.0, 3.0, 0.5)});
  return writer;
}

class DafFiles : public ::testing::Test {
 protected:
  std::string write(const DafImage& image, std::string_view name = "kernel.bsp") {
    const std::string path = dir.file(name);
    image.write(path);
    return path;
  }
  std::string open_error(const DafImage& image) {
    auto kernel = SpkKernel::open(write(image));
    return kernel ? "opened" : kernel.error().message();
  }
  std::string segments_error(const DafImage& image) {
    auto kernel = SpkKernel::open(write(image));
    if (!kernel) return kernel.error().message();
    auto segments = kernel->segments();
    return segments ? "listed" : segments.error().message();
  }
  TempDir dir;
};

}  // namespace

TEST_F(DafFiles, FileRecordChecksInOrder) {
  DafWriter writer = two_segment_writer();
  const DafImage good = writer.build();
  EXPECT_EQ(open_error(good), "opened");

  auto with = [&](auto change) {
    DafImage image = good;
    change(image);
    return open_error(image);
  };
  EXPECT_EQ(with([](DafImage& i) { i.set_text(0, "DAF/PCK "); }),
            "expected DAF/SPK file identifier, found \"DAF/PCK \"");
  EXPECT_EQ(with([](DafImage& i) { i.set_text(0, "DAF/\xFF\n\"\\"); }),
            "expected DAF/SPK file identifier, found \"DAF/\xEF\xBF\xBD\\n\\\"\\\\\"");
  // The ID word is checked before the format field.
  EXPECT_EQ(with([](DafImage& i) {
              i.set_text(0, "NAIF/DAF");
              i.set_text(88, "VAX-GFLT");
            }),
            "expected DAF/SPK file identifier, found \"NAIF/DAF\"");
  EXPECT_EQ(with([](DafImage& i) { i.set_text(88, "LTL-IEE "); }),
            "unsupported DAF binary format \"LTL-IEE\"");
  EXPECT_EQ(with([](DafImage& i) { i.set_text(88, "ltl-ieee"); }),
            "unsupported DAF binary format \"ltl-ieee\"");
  EXPECT_EQ(with([](DafImage& i) { i.set_text(88, std::string(8, '\0')); }),
            "unsupported DAF binary format \"\"");
  EXPECT_EQ(with([](DafImage& i) { i.set_text(88, "LTL-IEE\xC3"); }),
            "invalid UTF-8 in binary format");
  EXPECT_EQ(with([](DafImage& i) { i.set_u32(8, 0); }),
            "invalid DAF file record: summary component counts must be non-zero");
  EXPECT_EQ(with([](DafImage& i) { i.set_u32(12, 0); }),
            "invalid DAF file record: summary component counts must be non-zero");
  EXPECT_EQ(with([](DafImage& i) { i.set_u32(8, 123); }),
            "invalid DAF file record: packed summary cannot fit in a DAF summary record");
  EXPECT_EQ(with([](DafImage& i) { i.set_u32(8, 122); }), "opened");  // 122 + 0 + 3 = 125
  // The width is summed in 32 bits with wrap-around, as the format's own
  // readers do: a huge ND that wraps to a small sum passes this check and
  // is refused later by the layout check of the listing.
  EXPECT_EQ(with([](DafImage& i) { i.set_u32(8, 0xFFFFFF00); }),
            "invalid DAF file record: packed summary cannot fit in a DAF summary record");
  EXPECT_EQ(with([](DafImage& i) { i.set_u32(8, 0xFFFFFFFE); }), "opened");
  EXPECT_EQ(with([](DafImage& i) { i.set_u32(76, 1); }),
            "invalid DAF file record: summary record pointers are inconsistent");
  EXPECT_EQ(with([](DafImage& i) {
              i.set_u32(76, 3);
              i.set_u32(80, 2);
            }),
            "invalid DAF file record: summary record pointers are inconsistent");
  EXPECT_EQ(with([](DafImage& i) { i.set_u32(84, 128); }),
            "invalid DAF file record: first free address points inside the file record");
  EXPECT_EQ(with([](DafImage& i) { i.set_u32(84, 129); }), "opened");
  EXPECT_EQ(with([](DafImage& i) { i.set_text(16, "name\xFF"); }),
            "invalid UTF-8 in internal file name");
}

TEST_F(DafFiles, FileRecordFieldsAndTrimming) {
  DafWriter writer = two_segment_writer(true);
  writer.internal_name = "  inner  name";
  DafImage image = writer.build();
  image.set_text(16 + 13, std::string("\0 \0", 3));
  auto kernel = SpkKernel::open(write(image));
  ASSERT_TRUE(kernel) << kernel.error().message();
  EXPECT_EQ(kernel->internal_name(), "  inner  name");
  EXPECT_TRUE(kernel->big_endian());
  EXPECT_EQ(kernel->nd(), 2u);
  EXPECT_EQ(kernel->ni(), 6u);
  EXPECT_EQ(kernel->forward(), 2u);
  EXPECT_EQ(kernel->backward(), 2u);
  EXPECT_GE(kernel->free_address(), 129u);
}

TEST_F(DafFiles, SegmentsDecodeAlikeInBothByteOrders) {
  DafWriter little = two_segment_writer(false);
  DafWriter big = two_segment_writer(true);
  auto a = SpkKernel::open(write(little.build(), "little.bsp"));
  auto b = SpkKernel::open(write(big.build(), "big.bsp"));
  ASSERT_TRUE(a && b);
  auto sa = a->segments();
  auto sb = b->segments();
  ASSERT_TRUE(sa && sb);
  EXPECT_EQ(*sa, *sb);
  ASSERT_EQ(sa->size(), 2u);
  const SpkSegment& moon = (*sa)[1];
  EXPECT_EQ(moon.identifier, "MOON");                         // trailing NULs and blanks go
  EXPECT_EQ((*sa)[0].identifier, "  EARTH-MOON BARYCENTER");  // leading blanks stay
  EXPECT_EQ(moon.target, 301);
  EXPECT_EQ(moon.center, 3);
  EXPECT_EQ(moon.frame, 1);
  EXPECT_EQ(moon.data_type, 2);
  EXPECT_EQ(moon.start_address, little.segments[1].start_address);
  EXPECT_EQ(moon.end_address, little.segments[1].end_address);
  EXPECT_EQ(a->read_words(moon.start_address, 11), b->read_words(moon.start_address, 11));
  EXPECT_EQ(a->read_words(moon.start_address, 2), (std::vector<double>{50.0, 50.0}));
}

TEST_F(DafFiles, SummaryLayoutIsCheckedWhenListing) {
  DafWriter writer = two_segment_writer();
  writer.nd = 1;
  writer.ni = 3;
  EXPECT_EQ(segments_error(writer.build()), "unsupported SPK summary layout ND=1, NI=3");
}

TEST_F(DafFiles, ChainControlWords) {
  DafWriter writer = two_segment_writer();
  const DafImage good = writer.build();
  auto with_word = [&](std::size_t index, double value) {
    DafImage image = good;
    image.set_f64(DafImage::record_word(2, index), value);
    return segments_error(image);
  };
  const std::string bad =
      "invalid DAF summary chain: summary control word is not a non-negative integer";
  for (std::size_t index : {0u, 1u, 2u}) {
    for (double value : {2.5, -1.0, 4294967296.0, NaN, std::numeric_limits<double>::infinity()}) {
      EXPECT_EQ(with_word(index, value), bad) << "word " << index << " value " << value;
    }
  }
  EXPECT_EQ(with_word(0, -0.0), "listed");
  EXPECT_EQ(with_word(1, -0.0), "listed");
  EXPECT_EQ(with_word(1, 7.0),
            "invalid DAF summary chain: summary record has an incorrect backward pointer");
  EXPECT_EQ(with_word(2, 26.0), "invalid DAF summary chain: summary count exceeds record capacity");
  // A NEXT beyond the file is a short read, not a wild one.
  EXPECT_EQ(with_word(0, 4000.0), "failed to read SPK kernel: failed to fill whole buffer");
}

TEST_F(DafFiles, TwentyFiveSummariesFillOneRecord) {
  DafWriter writer;
  for (int i = 0; i < 25; ++i) {
    writer.segments.push_back({std::string(1, 'S').append(std::to_string(i)), 0.0, 10.0, 100 + i, 0,
                               1, 2, linear_type2_words(0.0, 10.0, 1, i, 0, 0, 0)});
  }
  auto kernel = SpkKernel::open(write(writer.build()));
  ASSERT_TRUE(kernel);
  auto segments = kernel->segments();
  ASSERT_TRUE(segments) << segments.error().message();
  ASSERT_EQ(segments->size(), 25u);
  EXPECT_EQ(segments->back().identifier, "S24");
}

TEST_F(DafFiles, ChainAcrossRecordsKeepsFileOrder) {
  DafWriter writer;
  writer.summaries_per_record = 2;
  for (int i = 0; i < 5; ++i) {
    writer.segments.push_back(
        {std::string(1, 'S').append(std::to_string(i)), 0.0, 10.0, 100 + i, 0, 1, 2, {}});
  }
  const DafImage good = writer.build();
  ASSERT_EQ(writer.summary_records, (std::vector<std::uint32_t>{2, 4, 6}));
  auto kernel = SpkKernel::open(write(good));
  ASSERT_TRUE(kernel);
  auto segments = kernel->segments();
  ASSERT_TRUE(segments) << segments.error().message();
  ASSERT_EQ(segments->size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ((*segments)[i].target, 100 + i);

  auto with = [&](auto change) {
    DafImage image = good;
    change(image);
    return segments_error(image);
  };
  // NEXT of the last record points back to the first: a cycle, not a loop.
  EXPECT_EQ(with([](DafImage& i) { i.set_f64(DafImage::record_word(6, 0), 2.0); }),
            "invalid DAF summary chain: summary record chain contains a cycle");
  EXPECT_EQ(with([](DafImage& i) { i.set_f64(DafImage::record_word(4, 0), 4.0); }),
            "invalid DAF summary chain: summary record chain contains a cycle");
  // The chain ends early: record 4 claims to be the last.
  EXPECT_EQ(with([](DafImage& i) { i.set_f64(DafImage::record_word(4, 0), 0.0); }),
            "invalid DAF summary chain: summary chain ended before the final summary record");
  EXPECT_EQ(with([](DafImage& i) { i.set_u32(80, 4); }),
            "invalid DAF summary chain: summary chain ended before the final summary record");
  EXPECT_EQ(with([](DafImage& i) { i.set_f64(DafImage::record_word(6, 1), 2.0); }),
            "invalid DAF summary chain: summary record has an incorrect backward pointer");
  EXPECT_EQ(with([](DafImage& i) { i.set_f64(DafImage::record_word(2, 0), 0.5); }),
            "invalid DAF summary chain: summary control word is not a non-negative integer");
}

TEST_F(DafFiles, RecordNumberEdges) {
  DafWriter writer = two_segment_writer();
  const DafImage good = writer.build();

  // The name record is read even when the summary record holds nothing.
  DafImage last = good;
  last.set_f64(DafImage::record_word(2, 2), 0.0);
  last.truncate(1024 * 2);
  EXPECT_EQ(segments_error(last), "failed to read SPK kernel: failed to fill whole buffer");

  // A summary record at the last representable record number: its name
  // record number would wrap. A sparse file reaches it without the disk.
  DafImage far = good;
  far.set_u32(76, 0xFFFFFFFF);
  far.set_u32(80, 0xFFFFFFFF);
  far.truncate(1024);
  const std::string path = write(far);
  std::filesystem::resize_file(path, std::uintmax_t{0xFFFFFFFF} * 1024,
                               *std::make_unique<std::error_code>());
  if (std::filesystem::file_size(path) != std::uintmax_t{0xFFFFFFFF} * 1024) {
    GTEST_SKIP() << "no sparse files here";
  }
  // Record 4294967295 is all zeros: NEXT = PREV = NSUM = 0.
  auto kernel = SpkKernel::open(path);
  ASSERT_TRUE(kernel);
  EXPECT_EQ(kernel->segments().error().message(),
            "invalid DAF summary chain: name record number overflowed");
  std::filesystem::remove(path);
}

TEST_F(DafFiles, SummaryFieldChecks) {
  DafWriter writer = two_segment_writer();
  const DafImage good = writer.build();
  const std::size_t second = 1024 + 24 + 40;  // summary 1 of record 2
  auto with = [&](auto change) {
    DafImage image = good;
    change(image);
    return segments_error(image);
  };
  EXPECT_EQ(with([&](DafImage& i) { i.set_f64(second, NaN); }),
            "invalid SPK segment: time bounds must be finite");
  EXPECT_EQ(
      with([&](DafImage& i) { i.set_f64(second + 8, -std::numeric_limits<double>::infinity()); }),
      "invalid SPK segment: time bounds must be finite");
  EXPECT_EQ(with([&](DafImage& i) { i.set_f64(second, 100.5); }),
            "invalid SPK segment: start time is after end time");
  EXPECT_EQ(with([&](DafImage& i) { i.set_f64(second, 100.0); }), "listed");  // start = end
  EXPECT_EQ(with([&](DafImage& i) { i.set_u32(second + 32, 0); }),
            "invalid SPK segment: DAF address bounds are invalid");
  EXPECT_EQ(with([&](DafImage& i) { i.set_u32(second + 32, 0xFFFFFFFF); }),
            "invalid SPK segment: DAF address bounds are invalid");
  EXPECT_EQ(with([&](DafImage& i) { i.set_u32(second + 36, 5); }),
            "invalid SPK segment: DAF address bounds are invalid");
  EXPECT_EQ(with([&](DafImage& i) { i.set_text(2 * 1024 + 40 + 39, "\xC0"); }),
            "invalid UTF-8 in segment identifier");
  // A segment's name is decoded before its summary.
  EXPECT_EQ(with([&](DafImage& i) {
              i.set_text(2 * 1024 + 40, "\xFF");
              i.set_f64(second, NaN);
            }),
            "invalid UTF-8 in segment identifier");
}

TEST(DafFields, AsciiFieldAndSummaryHelpers) {
  auto bytes = [](std::string_view text) {
    return std::as_bytes(std::span(text.data(), text.size()));
  };
  EXPECT_EQ(parse_ascii_field(bytes("   "), "x"), "");
  EXPECT_EQ(parse_ascii_field(bytes(std::string_view(" a b \0 \0", 8)), "x"), " a b");
  EXPECT_EQ(parse_ascii_field(bytes("\xE2\x82"), "field").error().message(),
            "invalid UTF-8 in field");
  const std::array<std::byte, 8> one{std::byte{0x3F}, std::byte{0xF0}, std::byte{0}, std::byte{0},
                                     std::byte{0},    std::byte{0},    std::byte{0}, std::byte{0}};
  EXPECT_EQ(read_f64(one, true), 1.0);
  EXPECT_NE(read_f64(one, false), 1.0);
  EXPECT_EQ(parse_spk_summary(std::span<const std::byte>(one), "s", false).error().message(),
            "invalid SPK segment: DAF address bounds are invalid");
}

TEST_F(DafFiles, SegmentListIsReadOnce) {
  DafWriter writer = two_segment_writer();
  const std::string path = write(writer.build());
  auto kernel = SpkKernel::open(path);
  ASSERT_TRUE(kernel);
  EXPECT_FALSE(kernel->has_segment_list());
  auto first = kernel->segments();
  ASSERT_TRUE(first);
  std::filesystem::remove(path);
  auto second = kernel->segments();
  ASSERT_TRUE(second);
  EXPECT_EQ(*first, *second);
}

TEST_F(DafFiles, FailedListingStoresNothing) {
  DafWriter writer = two_segment_writer();
  DafImage image = writer.build();
  image.set_f64(DafImage::record_word(2, 2), 26.0);
  auto kernel = SpkKernel::open(write(image));
  ASSERT_TRUE(kernel);
  EXPECT_FALSE(kernel->segments());
  EXPECT_FALSE(kernel->has_segment_list());
  EXPECT_FALSE(kernel->segments());  // walks again, fails again
}

TEST_F(DafFiles, WordReads) {
  DafWriter writer = two_segment_writer(true);
  auto kernel = SpkKernel::open(write(writer.build()));
  ASSERT_TRUE(kernel);
  EXPECT_EQ(kernel->read_words(0, 1).error().message(),
            "invalid SPK Type 2 segment: DAF word addresses are one-based");
  EXPECT_EQ(kernel->read_words(-5, 1).error().message(),
            "invalid SPK Type 2 segment: DAF word addresses are one-based");
  EXPECT_EQ(kernel->read_words(1, 0), std::vector<double>{});
  // A hostile count is refused as a short read before 32 GiB are allocated.
  EXPECT_EQ(kernel->read_words(1, 0xFFFFFFFF).error().message(),
            "failed to read SPK kernel: failed to fill whole buffer");
  EXPECT_EQ(kernel->read_words(0x7FFFFFFF, 1).error().message(),
            "failed to read SPK kernel: failed to fill whole buffer");
}

TEST(RealKernels, LegacyIdWordIsRefused) {
  auto kernel = SpkKernel::open(data_path("de405s_legacy_id.bsp"));
  ASSERT_FALSE(kernel);
  EXPECT_EQ(kernel.error().message(), "expected DAF/SPK file identifier, found \"NAIF/DAF\"");
}

TEST(RealKernels, TwinsListTheSameSegments) {
  auto little = SpkKernel::open(data_path("de405s.bsp"));
  auto big = SpkKernel::open(data_path("de405s_bigendian.bsp"));
  ASSERT_TRUE(little && big);
  EXPECT_FALSE(little->big_endian());
  EXPECT_TRUE(big->big_endian());
  auto a = little->segments();
  auto b = big->segments();
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->size(), 15u);
  EXPECT_EQ(*a, *b);
  auto mars = SpkKernel::open(data_path("mar022-1.bsp"));
  ASSERT_TRUE(mars);
  EXPECT_TRUE(mars->big_endian());
  EXPECT_TRUE(mars->segments());
}
