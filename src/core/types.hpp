// Value types exchanged by every library of tarvex: bodies, time scales,
// instants, Cartesian and spherical states, request options and kernel
// provenance. Plain values; the astronomy that operates on them lives in
// frames.hpp, observer.hpp and friends.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/name_table.hpp"

namespace tarvex::core {

// The eleven supported bodies. Ordinals are part of the interface.
enum class Body : std::uint8_t {
  Sun = 0,
  Moon = 1,
  Mercury = 2,
  Venus = 3,
  Earth = 4,
  Mars = 5,
  Jupiter = 6,
  Saturn = 7,
  Uranus = 8,
  Neptune = 9,
  Pluto = 10,
};

inline constexpr std::size_t BODY_COUNT = 11;

inline constexpr NameForm<Body> BODY_NAMES[] = {
    {"sun", Body::Sun},         {"moon", Body::Moon},     {"mercury", Body::Mercury},
    {"venus", Body::Venus},     {"earth", Body::Earth},   {"mars", Body::Mars},
    {"jupiter", Body::Jupiter}, {"saturn", Body::Saturn}, {"uranus", Body::Uranus},
    {"neptune", Body::Neptune}, {"pluto", Body::Pluto},
};

// NAIF id used to look the body up in SPK kernels (planet centers, x99).
std::int32_t naif_code(Body body) noexcept;
// Display name used in messages ("Sun", "Moon", ...).
std::string_view display_name(Body body) noexcept;
// Body from its ordinal, for callers that iterate over all bodies.
Body body_from_ordinal(std::size_t ordinal) noexcept;

// Ordinals matter: scales with ordinal 2 or more (Tt, Tdb) need no
// leap-second data.
enum class TimeScale : std::uint8_t { Utc = 0, Ut1 = 1, Tt = 2, Tdb = 3 };

inline constexpr NameForm<TimeScale> TIME_SCALE_NAMES[] = {
    {"utc", TimeScale::Utc},
    {"ut1", TimeScale::Ut1},
    {"tt", TimeScale::Tt},
    {"tdb", TimeScale::Tdb},
};

// "Utc", "Ut1", "Tt", "Tdb".
std::string_view display_name(TimeScale scale) noexcept;

struct Instant {
  double julian_day = 0.0;
  TimeScale time_scale = TimeScale::Tdb;
  bool operator==(const Instant&) const = default;
};

// Position (km) and velocity (km/s) in some inertial frame.
struct CartesianState {
  std::array<double, 3> position{};
  std::array<double, 3> velocity{};
  bool operator==(const CartesianState&) const = default;
};

struct SphericalCoordinates {
  double longitude_deg = 0.0;
  double latitude_deg = 0.0;
  double distance_km = 0.0;
  double longitude_rate_deg_per_day = 0.0;
  bool operator==(const SphericalCoordinates&) const = default;
};

// Result of a position query; the four values are also the four columns of
// a batch result, in this order.
struct Position {
  double longitude_deg = 0.0;
  double latitude_deg = 0.0;
  double distance_au = 0.0;
  double longitude_speed_deg_per_day = 0.0;
  bool operator==(const Position&) const = default;
};

// A site on the GRS80 ellipsoid. Validation lives in observer.hpp.
struct GeodeticObserver {
  double longitude_east_deg = 0.0;
  double latitude_deg = 0.0;
  double height_m = 0.0;
  bool operator==(const GeodeticObserver&) const = default;
};

enum class OriginKind : std::uint8_t { Barycentric = 0, Heliocentric = 1, Geocentric = 2, Topocentric = 3 };

inline constexpr NameForm<OriginKind> ORIGIN_NAMES[] = {
    {"barycentric", OriginKind::Barycentric},
    {"heliocentric", OriginKind::Heliocentric},
    {"geocentric", OriginKind::Geocentric},
    {"topocentric", OriginKind::Topocentric},
};

// Where a position is seen from; a topocentric origin carries its observer
// (the observer is ignored for the other kinds).
struct Origin {
  OriginKind kind = OriginKind::Geocentric;
  GeodeticObserver observer{};

  static Origin barycentric() noexcept { return {OriginKind::Barycentric, {}}; }
  static Origin heliocentric() noexcept { return {OriginKind::Heliocentric, {}}; }
  static Origin geocentric() noexcept { return {OriginKind::Geocentric, {}}; }
  static Origin topocentric(const GeodeticObserver& observer) noexcept {
    return {OriginKind::Topocentric, observer};
  }
  bool is_topocentric() const noexcept { return kind == OriginKind::Topocentric; }
  bool operator==(const Origin& other) const noexcept {
    return kind == other.kind && (kind != OriginKind::Topocentric || observer == other.observer);
  }
};

enum class CoordinateSystem : std::uint8_t { Equatorial = 0, Ecliptic = 1 };
enum class ReferenceEpoch : std::uint8_t { J2000 = 0, OfDate = 1 };

inline constexpr NameForm<CoordinateSystem> COORDINATE_SYSTEM_NAMES[] = {
    {"ecliptic", CoordinateSystem::Ecliptic},
    {"equatorial", CoordinateSystem::Equatorial},
};
inline constexpr NameForm<ReferenceEpoch> REFERENCE_EPOCH_NAMES[] = {
    {"j2000", ReferenceEpoch::J2000},
    {"of_date", ReferenceEpoch::OfDate},
    {"of-date", ReferenceEpoch::OfDate},
    {"ofdate", ReferenceEpoch::OfDate},
};

struct Corrections {
  bool light_time = false;
  bool aberration = false;
  bool gravitational_deflection = false;
  bool precession = false;
  bool nutation = false;
  bool operator==(const Corrections&) const = default;
};

// One position request. Any combination is representable; which ones are
// valid is decided by the engine's option resolution.
struct PositionOptions {
  Origin origin = Origin::geocentric();
  CoordinateSystem coordinate_system = CoordinateSystem::Ecliptic;
  ReferenceEpoch reference_epoch = ReferenceEpoch::J2000;
  bool apparent = false;
  bool true_ecliptic = false;
  Corrections corrections{};
  bool operator==(const PositionOptions&) const = default;
};

struct KernelProvenance {
  std::string name;
  std::string sha256;
  bool operator==(const KernelProvenance&) const = default;
};

struct EphemerisMetadata {
  std::string engine_version;
  std::string kernel_name;
  std::string kernel_sha256;
  std::string coordinate_frame;
  std::vector<KernelProvenance> additional_kernels;
  bool operator==(const EphemerisMetadata&) const = default;
};

inline constexpr double J2000_JULIAN_DAY = 2451545.0;
inline constexpr double SECONDS_PER_DAY = 86400.0;
inline constexpr double AU_KM = 149597870.7;  // IAU 2012 Resolution B2
// The Moon's mean radius (IAU WGCCRE; Archinal et al. 2018): its
// semi-diameter on the sky. Eclipses take k times the Earth's radius instead
// (tarvexkit/native/eclipse_geometry.hpp).
inline constexpr double MOON_MEAN_RADIUS_KM = 1737.4;

}  // namespace tarvex::core
