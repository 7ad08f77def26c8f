// Reads the reference files tests/reference/swisseph_astrology.py writes
// into TARVEX_REFERENCE_DIR: whitespace-separated fields, one record a line.
#pragma once

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace tarvex_test {

using Record = std::vector<std::string>;

// Empty when the directory is not set or the file is missing; the caller
// skips then.
inline std::optional<std::vector<Record>> read_swisseph_reference(const std::string& file) {
  const char* dir = std::getenv("TARVEX_REFERENCE_DIR");
  if (dir == nullptr || *dir == '\0') return std::nullopt;
  std::ifstream in(std::string(dir) + "/" + file);
  if (!in) return std::nullopt;
  std::vector<Record> records;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    Record r;
    for (std::string f; fields >> f;) r.push_back(f);
    if (!r.empty()) records.push_back(std::move(r));
  }
  return records;
}

inline double number(const std::string& field) { return std::strtod(field.c_str(), nullptr); }

// Signed difference of two angles in degrees, folded into [-180, 180].
inline double angle_diff_deg(double a, double b) { return std::remainder(a - b, 360.0); }

}  // namespace tarvex_test
