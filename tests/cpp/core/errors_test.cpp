#include <gtest/gtest.h>

#include "core/errors.hpp"
#include "core/events.hpp"

using namespace tarvex::core;

TEST(CoordinateError, Messages) {
  EXPECT_EQ(message(CoordinateError::NonFiniteState), "Cartesian state must be finite");
  EXPECT_EQ(message(CoordinateError::UndefinedAtOrigin), "spherical position is undefined at origin");
  EXPECT_EQ(message(CoordinateError::UndefinedOnZAxis), "spherical longitude is undefined on the z axis");
  EXPECT_EQ(message(CoordinateError::InvalidLatitude),
            "geodetic latitude must be finite and within [-90, 90] degrees");
  EXPECT_EQ(message(CoordinateError::HouseCuspsUndefined),
            "house cusps are undefined for this system at the requested latitude");
  EXPECT_EQ(static_cast<int>(CoordinateError::HouseCuspsUndefined), 4);
}

TEST(TimeConversionError, Messages) {
  EXPECT_EQ(TimeConversionError::unsupported_scale(TimeScale::Utc).message(),
            "conversion from Utc to TDB is not implemented");
  EXPECT_EQ(TimeConversionError::unsupported_scale(TimeScale::Ut1).message(),
            "conversion from Ut1 to TDB is not implemented");
  EXPECT_EQ(TimeConversionError::non_finite_julian_day().message(), "Julian day must be finite");
}

TEST(EphemerisError, Messages) {
  EXPECT_EQ(EphemerisError::unsupported_body(Body::Mars).message(), "unsupported body: Mars");
  EXPECT_EQ(EphemerisError::unsupported_body(Body::Pluto).message(), "unsupported body: Pluto");
  EXPECT_EQ(EphemerisError::out_of_range(2500000.0, 2287184.25, 2688976.25, TimeScale::Tdb).message(),
            "Julian day 2500000 is outside kernel range 2287184.25..2688976.25 Tdb");
  const auto invalid = EphemerisError::invalid_request("batch result length overflowed");
  EXPECT_EQ(invalid.kind(), EphemerisError::Kind::InvalidRequest);
  EXPECT_EQ(invalid.message(), "batch result length overflowed");
  EXPECT_EQ(EphemerisError::time_conversion("Julian day must be finite").message(), "Julian day must be finite");
  EXPECT_EQ(EphemerisError::computation("SPK kernel has no segments").kind(), EphemerisError::Kind::Computation);
}

TEST(Body, CodesAndNames) {
  EXPECT_EQ(naif_code(Body::Earth), 399);
  EXPECT_EQ(static_cast<int>(Body::Earth), 4);
  EXPECT_EQ(naif_code(Body::Moon), 301);
  EXPECT_EQ(static_cast<int>(Body::Moon), 1);
  const int codes[] = {10, 301, 199, 299, 399, 499, 599, 699, 799, 899, 999};
  for (std::size_t i = 0; i < BODY_COUNT; ++i) EXPECT_EQ(naif_code(body_from_ordinal(i)), codes[i]);
  EXPECT_EQ(display_name(Body::Neptune), "Neptune");
  EXPECT_EQ(display_name(TimeScale::Tdb), "Tdb");
  EXPECT_EQ(display_name(HorizonEventKind::Transit), "Transit");
}
