// Hostile and oversized inputs: every one must either load or produce a
// defined error, never crash or hang.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <random>
#include <string>

#include "core/files.hpp"
#include "core/text.hpp"
#include "core/types.hpp"
#include "time/eop.hpp"
#include "time/leap_seconds.hpp"
#include "time/text_kernel.hpp"
#include "time_test_support.hpp"

using namespace tarvex::time;
using tarvex::core::IoError;
using tarvex::core::read_text_file;
using tarvex::core::TimeScale;
using tarvex::time::test::ANY_SHA256;
using tarvex::time::test::data_path;
using tarvex::time::test::ScratchDir;

namespace {

// Loads a file with both loaders and checks that each outcome is a kernel or
// a non-empty message.
void load_both(const ScratchDir& dir, std::string_view bytes) {
  const std::string path = dir.write("input.txt", bytes);
  const auto lsk = LeapSecondKernel::open(path, ANY_SHA256);
  if (lsk) {
    EXPECT_FALSE(lsk->entries().empty());
    (void)lsk->tdb_seconds(TimeScale::Utc, 2451545.0);
    (void)lsk->utc_julian_day(TimeScale::Tdb, nullptr, 2451545.0);
  } else {
    EXPECT_FALSE(lsk.error().message().empty());
  }
  const auto eop = EarthOrientationTable::open(path, ANY_SHA256);
  if (eop) {
    EXPECT_FALSE(eop->samples().empty());
    (void)eop->utc_julian_day_from_ut1(eop->samples().front().utc_jd + 0.5);
  } else {
    EXPECT_FALSE(eop.error().message().empty());
  }
}

std::string read_all(const std::string& path) { return *read_text_file(path); }

}  // namespace

TEST(HostileInput, RandomBytes) {
  const ScratchDir dir;
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<std::size_t> length(0, 20000);
  for (int round = 0; round < 60; ++round) {
    std::string bytes(length(random), '\0');
    for (char& c : bytes) c = static_cast<char>(byte(random));
    load_both(dir, bytes);
  }
}

TEST(HostileInput, Utf8CheckMatchesTheCoreDecoder) {
  // The reader skips ASCII a word at a time; it must accept and refuse
  // exactly what the core's validator does, wherever the multi-byte
  // sequences fall relative to those words.
  static constexpr std::array<std::string_view, 12> PIECES = {
      "a",        "0123456",  "\xC3\xA9",     "\xEF\xBF\xBD",     "\xF0\x9F\x98\x80",
      "\xE2\x80", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80",
      "\xFF",     "\n"};
  const ScratchDir dir;
  std::mt19937_64 random(5);
  std::uniform_int_distribution<std::size_t> pick(0, PIECES.size() - 1);
  std::uniform_int_distribution<int> count(0, 40);
  int valid = 0;
  for (int round = 0; round < 600; ++round) {
    std::string bytes;
    for (int i = count(random); i > 0; --i) {
      const std::size_t piece = pick(random);
      // Mostly valid pieces, so that valid files are common too.
      bytes += (piece >= 5 && piece <= 10 && round % 3 != 0) ? "ok" : std::string(PIECES[piece]);
    }
    const bool expected = tarvex::core::is_valid_utf8(bytes);
    const auto read = read_text_file(dir.write("utf8.txt", bytes));
    ASSERT_EQ(read.has_value(), expected) << testing::PrintToString(bytes);
    if (read) {
      EXPECT_EQ(*read, bytes);
      ++valid;
    } else {
      EXPECT_EQ(read.error(), IoError::invalid_utf8());
    }
  }
  EXPECT_GT(valid, 100);
}

TEST(HostileInput, RandomTextFromKernelAndTableVocabulary) {
  static constexpr std::array<std::string_view, 34> PIECES = {"\\begindata",
                                                              "\\begintext",
                                                              "DELTET/DELTA_AT",
                                                              "DELTET/DELTA_T_A",
                                                              "DELTET/K",
                                                              "DELTET/EB",
                                                              "DELTET/M",
                                                              " = ",
                                                              "+=",
                                                              "(",
                                                              ")",
                                                              ",",
                                                              "@1972-JAN-1",
                                                              "@2017-feb-30",
                                                              "@-1-JAN-1",
                                                              "@99999999999-DEC-1",
                                                              "1.657D-3",
                                                              "nan",
                                                              "-inf",
                                                              "1e999",
                                                              "32.184",
                                                              "51544",
                                                              "0.1",
                                                              "#",
                                                              "\n",
                                                              "\r\n",
                                                              " ",
                                                              "\t",
                                                              "\xC2\xA0",
                                                              "\xE2\x80\xA8",
                                                              "\xC3\xA9",
                                                              "\"",
                                                              "\\",
                                                              "-"};
  const ScratchDir dir;
  std::mt19937_64 random(11);
  std::uniform_int_distribution<std::size_t> pick(0, PIECES.size() - 1);
  std::uniform_int_distribution<int> count(0, 400);
  for (int round = 0; round < 400; ++round) {
    std::string text;
    for (int i = count(random); i > 0; --i) text += PIECES[pick(random)];
    load_both(dir, text);
    for (std::string_view token : value_tokens(text)) {
      (void)parse_number(token);
      (void)parse_date_literal(token);
    }
  }
}

TEST(HostileInput, MutatedRealFiles) {
  const ScratchDir dir;
  std::mt19937_64 random(13);
  for (const char* name : {"naif0012.tls", "eop_20c04_excerpt_1999.txt"}) {
    const std::string original = read_all(data_path(name));
    std::uniform_int_distribution<std::size_t> where(0, original.size() - 1);
    std::uniform_int_distribution<int> ascii(0, 127);
    for (int round = 0; round < 150; ++round) {
      std::string text = original;
      for (int edits = 0; edits < 1 + round % 5; ++edits)
        text[where(random)] = static_cast<char>(ascii(random));
      if (round % 7 == 0) text.resize(where(random));  // truncated mid-line
      load_both(dir, text);
    }
  }
}

TEST(HostileInput, HugeLines) {
  const ScratchDir dir;
  // 200 000 leap-second pairs on one line (about 4 MB). Days past the end of
  // a month are legal, so the dates keep ascending.
  std::string pairs =
      "\\begindata\nDELTET/DELTA_T_A = 32.184\nDELTET/K = 1.657D-3\nDELTET/EB = 1.671D-2\n"
      "DELTET/M = ( 6.239996D0 1.99096871D-7 )\nDELTET/DELTA_AT = (";
  for (int day = 1; day <= 200000; ++day) pairs += " 10, @1972-JAN-" + std::to_string(day);
  pairs += " )\n";
  const auto kernel = LeapSecondKernel::open(dir.write("wide.tls", pairs), ANY_SHA256);
  ASSERT_TRUE(kernel) << kernel.error().message();
  EXPECT_EQ(kernel->entries().size(), 200000u);
  EXPECT_EQ(*kernel->tai_minus_utc(2441317.5 + 150000), 10.0);

  // An 8 MB line of white space and one 8 MB token.
  load_both(dir, std::string(8 << 20, ' '));
  load_both(dir, "\\begindata\nX = " + std::string(8 << 20, '7') + "\n");
  EXPECT_EQ(parse_number(std::string(1 << 20, '9')), std::numeric_limits<double>::infinity());
  const std::string wide_row = "1 2 3 4 51544 0.1 0.2 0.3" + std::string(8 << 20, ' ') + "x\n";
  const auto eop = EarthOrientationTable::open(dir.write("wide.txt", wide_row), ANY_SHA256);
  ASSERT_TRUE(eop) << eop.error().message();
}

TEST(HostileInput, AMillionLines) {
  const ScratchDir dir;
  std::string rows;
  rows.reserve(30'000'000);
  for (int i = 0; i < 1'000'000; ++i) rows += "0 0 0 0 " + std::to_string(i) + " 0.1 0.2 0.3\n";
  const auto eop = EarthOrientationTable::open(dir.write("million.txt", rows), ANY_SHA256);
  ASSERT_TRUE(eop) << eop.error().message();
  EXPECT_EQ(eop->samples().size(), 1'000'000u);
  EXPECT_EQ(eop->samples().back().utc_jd, 999999 + 2400000.5);

  std::string comments;
  for (int i = 0; i < 1'000'000; ++i) comments += "#\n\n";
  EXPECT_EQ(
      EarthOrientationTable::open(dir.write("comments.txt", comments), ANY_SHA256).error().kind,
      EopError::Kind::EmptyTable);

  // A million continuation lines of one DELTA_AT value.
  std::string kernel =
      "\\begindata\nDELTET/DELTA_T_A = 32.184\nDELTET/K = 0\nDELTET/EB = 0\nDELTET/M = ( 0 0 )\n"
      "DELTET/DELTA_AT = (\n";
  for (int day = 1; day <= 1'000'000; ++day)
    kernel += "10, @1972-JAN-" + std::to_string(day) + "\n";
  kernel += ")\n";
  const auto lsk = LeapSecondKernel::open(dir.write("million.tls", kernel), ANY_SHA256);
  ASSERT_TRUE(lsk) << lsk.error().message();
  EXPECT_EQ(lsk->entries().size(), 1'000'000u);
}

TEST(TextFiles, OnlyRegularFilesAreRead) {
  // A FIFO without a writer must not block the open, and a device such as
  // /dev/zero must not be read without end: both are refused up front.
  const std::string fifo = std::string(::testing::TempDir()) + "tarvex_text_file.fifo";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    EXPECT_EQ(tarvex::core::read_text_file(path).error().message(), "not a regular file");
    EXPECT_EQ(tarvex::time::LeapSecondKernel::open(path, std::string(64, 'a')).error().message(),
              "failed to read leap-second kernel: not a regular file");
  }
  ::unlink(fifo.c_str());
  EXPECT_EQ(tarvex::core::read_text_file("/").error().message(), "Is a directory (os error 21)");
}
