// The files a toolkit store is opened on, and the opening itself: the same
// steps, in the same order and with the same messages, as tarvex.open(path,
// sha256, leap_second_kernel=..., eop=...) followed by one
// with_additional_kernel_file(...) per additional kernel, then two checks
// the strict opening leaves to the first query: every segment's data lies
// within its file (a truncated kernel is refused), and the Earth orientation
// rows since 1972 have |UT1-UTC| below 0.9 s.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "spk/spk_ephemeris.hpp"

namespace tarvex::kit {

struct FileEntry {
  std::string path;
  std::string sha256;
};

struct StoreFiles {
  std::vector<FileEntry> kernels;  // the primary kernel first, then the additional ones in order
  std::optional<FileEntry> leap_seconds;
  std::optional<FileEntry> eop;
  // UTC Julian day after which the Earth orientation rows are a model (the
  // long-term prediction tarvexkit appends) rather than IERS data, and are
  // not held to |UT1 - UTC| < 0.9 s.
  double ut1_checked_until_jd = 1e300;  // every row
};

// Opens every file; the failure is the message tarvex raises as ValueError.
std::expected<spk::SpkEphemeris, std::string> open_store(const StoreFiles& files);

// Another store over the same kernels for a worker thread. The time kernels
// are copied from `model` (immutable tables, so the copy converts exactly as
// the original) instead of being read and parsed again.
std::expected<spk::SpkEphemeris, std::string> open_worker_store(const StoreFiles& files,
                                                                const spk::SpkEphemeris& model);

}  // namespace tarvex::kit
