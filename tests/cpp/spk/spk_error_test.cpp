// Each SpkError factory keeps its own payload: the kind, the accessor and
// the rendered text must all come from the values it was given.
#include "spk/spk_error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

using tarvex::core::IoError;
using tarvex::spk::SpkError;

TEST(SpkError, IoCarriesTheFileError) {
  const SpkError eof = SpkError::io(IoError::unexpected_eof());
  EXPECT_EQ(eof.kind(), SpkError::Kind::Io);
  EXPECT_EQ(eof.io(), IoError::unexpected_eof());
  EXPECT_EQ(eof.message(), "failed to read SPK kernel: failed to fill whole buffer");
  EXPECT_EQ(SpkError::io(IoError::invalid_seek()).message(),
            "failed to read SPK kernel: invalid seek to a negative or overflowing position");
  EXPECT_EQ(SpkError::io(IoError::os(ENOENT)).message(),
            "failed to read SPK kernel: No such file or directory (os error 2)");
  EXPECT_NE(SpkError::io(IoError::os(ENOENT)), SpkError::io(IoError::os(EISDIR)));
  EXPECT_NE(eof, SpkError::io(IoError::invalid_seek()));
}

TEST(SpkError, TextKindsRenderTheirText) {
  EXPECT_EQ(SpkError::invalid_id_word("NAIF/DAF").message(),
            "expected DAF/SPK file identifier, found \"NAIF/DAF\"");
  EXPECT_EQ(SpkError::unsupported_binary_format("VAX-D").message(),
            "unsupported DAF binary format \"VAX-D\"");
  EXPECT_EQ(SpkError::invalid_utf8("segment name").message(), "invalid UTF-8 in segment name");
  EXPECT_EQ(SpkError::invalid_file_record("r").message(), "invalid DAF file record: r");
  EXPECT_EQ(SpkError::invalid_summary_chain("s").message(), "invalid DAF summary chain: s");
  EXPECT_EQ(SpkError::invalid_segment("t").message(), "invalid SPK segment: t");
  EXPECT_EQ(SpkError::invalid_type2_segment("u").message(), "invalid SPK Type 2 segment: u");
  const SpkError segment = SpkError::invalid_segment("reason");
  EXPECT_EQ(segment.kind(), SpkError::Kind::InvalidSegment);
  EXPECT_EQ(segment.text(), "reason");
  // The same text under two kinds is two errors.
  EXPECT_NE(SpkError::invalid_segment("x"), SpkError::invalid_type2_segment("x"));
}

TEST(SpkError, NumericKindsKeepEachValueInItsPlace) {
  EXPECT_EQ(SpkError::unsupported_summary_layout(3, 7).message(),
            "unsupported SPK summary layout ND=3, NI=7");
  EXPECT_EQ(SpkError::unsupported_segment_type(-14).message(), "unsupported SPK segment type -14");
  EXPECT_EQ(SpkError::epoch_outside_segment(5.5, -1.25, 2.0).message(),
            "TDB epoch 5.5 is outside segment coverage [-1.25, 2]");
  EXPECT_EQ(SpkError::missing_chain_segment(301, 12.5).message(),
            "no SPK segment continues the center chain from target 301 at TDB epoch 12.5");
  EXPECT_EQ(SpkError::center_chain_cycle(399).message(),
            "SPK center chain for target 399 contains a cycle");
  EXPECT_NE(SpkError::unsupported_summary_layout(3, 7), SpkError::unsupported_summary_layout(7, 3));
  EXPECT_NE(SpkError::epoch_outside_segment(1.0, 2.0, 3.0),
            SpkError::epoch_outside_segment(1.0, 3.0, 2.0));
}
