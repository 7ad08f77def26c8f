#include "tarvexkit/native/store_files.hpp"

#include <cmath>
#include <string>
#include <utility>

#include "core/checksum.hpp"
#include "core/format.hpp"
#include "core/path_name.hpp"
#include "spk/kernel.hpp"
#include "time/eop.hpp"
#include "time/leap_seconds.hpp"

namespace tarvex::kit {

namespace {

using Opened = std::expected<spk::SpkEphemeris, std::string>;

// with_additional_kernel_file: checksum form and file name before the file
// is touched, then the file, then the attachment.
Opened attach_kernels(spk::SpkEphemeris store, const StoreFiles& files) {
  for (std::size_t index = 1; index < files.kernels.size(); ++index) {
    const FileEntry& entry = files.kernels[index];
    if (!core::normalized_sha256(entry.sha256)) {
      return std::unexpected("kernel SHA-256 must contain exactly 64 hexadecimal characters");
    }
    auto name = core::final_path_component(entry.path);
    if (!name) return std::unexpected("kernel path has no UTF-8 filename");
    auto kernel = spk::SpkKernel::open(entry.path);
    if (!kernel) return std::unexpected(kernel.error().message());
    auto attached = spk::SpkEphemeris::with_additional_kernel(std::move(store), std::move(*kernel),
                                                              std::move(*name), entry.sha256);
    if (!attached) return std::unexpected(attached.error().message());
    store = std::move(*attached);
  }
  return store;
}

// Since 1972 UTC is kept within 0.9 s of UT1: a row beyond that is damage
// (a shifted column, a value edited) that the table's parser cannot see.
constexpr double UTC_1972_JD = 2441317.5;
constexpr double MAX_UT1_MINUS_UTC_S = 0.9;

std::expected<void, std::string> check_ut1_offsets(const time::EarthOrientationTable& table,
                                                  double checked_until_jd) {
  for (const time::EopSample& sample : table.samples()) {
    if (sample.utc_jd >= UTC_1972_JD && sample.utc_jd <= checked_until_jd &&
        !(std::fabs(sample.dut1_s) < MAX_UT1_MINUS_UTC_S)) {
      return std::unexpected("the Earth orientation row of MJD " +
                             core::plain_float(sample.utc_jd - 2400000.5) + " has UT1-UTC " +
                             core::plain_float(sample.dut1_s) +
                             " s; since 1972 UT1-UTC stays below 0.9 s in magnitude, so the table "
                             "is damaged");
    }
  }
  return {};
}

// A kernel cut short (a download stopped, a copy interrupted) still has its
// file record and summaries, and would fail every query that reaches a lost
// record: each segment's last word must lie within the file.
std::expected<void, std::string> check_segments_within_files(const spk::SpkEphemeris& store) {
  const spk::KernelGuard kernels = store.borrow_kernels();
  const core::EphemerisMetadata& metadata = store.metadata();
  for (std::size_t index = 0; index < kernels->size(); ++index) {
    spk::SpkKernel& kernel = (*kernels)[index];
    const std::string& name = index == 0 ? metadata.kernel_name
                                         : metadata.additional_kernels[index - 1].name;
    auto segments = kernel.listed_segments();
    if (!segments) return std::unexpected(name + ": " + segments.error().message());
    for (const spk::SpkSegment& segment : *segments) {
      if (auto last = kernel.read_words(segment.end_address, 1); !last) {
        return std::unexpected("the kernel " + name + " is truncated or damaged: segment " +
                               core::quoted_text(segment.identifier) + " (target " +
                               std::to_string(segment.target) + ") ends at word " +
                               std::to_string(segment.end_address) + ", which cannot be read (" +
                               last.error().message() + ")");
      }
    }
  }
  return {};
}

}  // namespace

Opened open_store(const StoreFiles& files) {
  if (files.kernels.empty())
    return std::unexpected("kernels must name at least the primary kernel");
  const FileEntry& primary = files.kernels.front();
  auto store = spk::SpkEphemeris::open(primary.path, primary.sha256, spk::SegmentRules::AnyType);
  if (!store) return std::unexpected(store.error().message());
  if (files.leap_seconds) {
    auto kernel =
        time::LeapSecondKernel::open(files.leap_seconds->path, files.leap_seconds->sha256);
    if (!kernel) return std::unexpected(kernel.error().message());
    store->time().attach_leap_second_kernel(std::move(*kernel));
  }
  if (files.eop) {
    auto table = time::EarthOrientationTable::open(files.eop->path, files.eop->sha256);
    if (!table) return std::unexpected(table.error().message());
    if (auto checked = check_ut1_offsets(*table, files.ut1_checked_until_jd); !checked) return std::unexpected(checked.error());
    store->time().attach_eop(std::move(*table));
  }
  auto attached = attach_kernels(std::move(*store), files);
  if (!attached) return attached;
  if (auto checked = check_segments_within_files(*attached); !checked) {
    return std::unexpected(checked.error());
  }
  return attached;
}

Opened open_worker_store(const StoreFiles& files, const spk::SpkEphemeris& model) {
  const FileEntry& primary = files.kernels.front();
  auto store = spk::SpkEphemeris::open(primary.path, primary.sha256, spk::SegmentRules::AnyType);
  if (!store) return std::unexpected(store.error().message());
  if (const auto& kernel = model.time().leap_seconds())
    store->time().attach_leap_second_kernel(*kernel);
  if (const auto& table = model.time().eop()) store->time().attach_eop(*table);
  auto attached = attach_kernels(std::move(*store), files);
  if (attached && attached->supported_range() != model.supported_range()) {
    return std::unexpected("a kernel file changed since the store was opened");
  }
  return attached;
}

}  // namespace tarvex::kit
