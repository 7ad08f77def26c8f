#include "spk/inertial_frames.hpp"

#include <cmath>
#include <numbers>

namespace tarvex::spk {

namespace {

constexpr double ARCSEC = std::numbers::pi / 648000.0;
constexpr double DEG = std::numbers::pi / 180.0;

// The frame rotation [angle]_axis: the matrix taking a vector's components
// into a frame turned by `angle` about axis 1, 2 or 3.
Rotation axis_rotation(int axis, double angle) noexcept {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  if (axis == 1) return {{{1, 0, 0}, {0, c, s}, {0, -s, c}}};
  if (axis == 2) return {{{c, 0, -s}, {0, 1, 0}, {s, 0, c}}};
  return {{{c, s, 0}, {-s, c, 0}, {0, 0, 1}}};
}

Rotation product(const Rotation& a, const Rotation& b) noexcept {
  Rotation out{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) out[i][j] += a[i][k] * b[k][j];
  return out;
}

Rotation transposed(const Rotation& a) noexcept {
  Rotation out{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[i][j] = a[j][i];
  return out;
}

Rotation b1950_to_j2000() noexcept {
  return product(product(axis_rotation(3, -1153.04066200330 * ARCSEC),
                         axis_rotation(2, 1002.26108439117 * ARCSEC)),
                 axis_rotation(3, -1152.84248596724 * ARCSEC));
}

// A frame derived from B1950 by an equinox offset about the pole.
Rotation offset_from_b1950(double offset_arcsec) noexcept {
  return product(b1950_to_j2000(), axis_rotation(3, -offset_arcsec * ARCSEC));
}

struct Frame {
  std::int32_t code;
  std::string_view name;
};

constexpr Frame FRAMES[] = {
    {1, "J2000"},       {2, "B1950"},       {3, "FK4"},         {4, "DE-118"},
    {5, "DE-96"},       {6, "DE-102"},      {7, "DE-108"},      {8, "DE-111"},
    {9, "DE-114"},      {10, "DE-122"},     {11, "DE-125"},     {12, "DE-130"},
    {13, "GALACTIC"},   {14, "DE-200"},     {15, "DE-202"},     {16, "MARSIAU"},
    {17, "ECLIPJ2000"}, {18, "ECLIPB1950"}, {19, "DE-140"},     {20, "DE-142"},
    {21, "DE-143"},
    // Body-fixed frames met in SPK files, named for the message that refuses them.
    {13000, "ITRF93"},
};

// The DE-140, DE-142 and DE-143 frames as published: v(frame) = M v(J2000).
constexpr Rotation DE140{{{0.9999256765384668, 0.0111817701197967, 0.0048589521583895},
                          {-0.0111817701797229, 0.9999374816848701, -0.0000271545195858},
                          {-0.0048589520204830, -0.0000271791849815, 0.9999881948535965}}};
constexpr Rotation DE142{{{0.9999256765402605, 0.0111817697320531, 0.0048589526815484},
                          {-0.0111817697907755, 0.9999374816892126, -0.0000271547693170},
                          {-0.0048589525464121, -0.0000271789392288, 0.9999881948510477}}};
constexpr Rotation DE143{{{0.9999256765435852, 0.0111817743077255, 0.0048589414674762},
                          {-0.0111817743300355, 0.9999374816382505, -0.0000271622115251},
                          {-0.0048589414161348, -0.0000271713942366, 0.9999881949053349}}};

}  // namespace

std::string_view inertial_frame_name(std::int32_t frame) noexcept {
  for (const Frame& f : FRAMES)
    if (f.code == frame) return f.name;
  return {};
}

std::optional<Rotation> rotation_to_j2000(std::int32_t frame) noexcept {
  switch (frame) {
    case 1:
    case 14:
    case 15:
      return Rotation{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    case 2:
      return b1950_to_j2000();
    case 3:
      return offset_from_b1950(0.525);
    case 4:
      return offset_from_b1950(0.53155);
    case 5:
      return offset_from_b1950(0.4107);
    case 6:
      return offset_from_b1950(0.1359);
    case 7:
      return offset_from_b1950(0.4775);
    case 8:
      return offset_from_b1950(0.5880);
    case 9:
      return offset_from_b1950(0.5529);
    case 10:
      return offset_from_b1950(0.5316);
    case 11:
      return offset_from_b1950(0.5754);
    case 12:
      return offset_from_b1950(0.5247);
    case 13:
      return product(offset_from_b1950(0.525),
                     transposed(product(product(axis_rotation(3, 327.0 * DEG),
                                                axis_rotation(1, 62.6 * DEG)),
                                        axis_rotation(3, 282.25 * DEG))));
    case 17:
      return transposed(axis_rotation(1, 84381.448 * ARCSEC));
    case 18:
      return product(b1950_to_j2000(), transposed(axis_rotation(1, 84404.836 * ARCSEC)));
    case 19:
      return transposed(DE140);
    case 20:
      return transposed(DE142);
    case 21:
      return transposed(DE143);
    default:
      return std::nullopt;
  }
}

core::CartesianState rotate_state(const Rotation& m, const core::CartesianState& state) noexcept {
  core::CartesianState out;
  for (int i = 0; i < 3; ++i) {
    out.position[i] =
        m[i][0] * state.position[0] + m[i][1] * state.position[1] + m[i][2] * state.position[2];
    out.velocity[i] =
        m[i][0] * state.velocity[0] + m[i][1] * state.velocity[1] + m[i][2] * state.velocity[2];
  }
  return out;
}

}  // namespace tarvex::spk
