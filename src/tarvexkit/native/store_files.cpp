#include "tarvexkit/native/store_files.hpp"

#include <utility>

#include "core/checksum.hpp"
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
    store->time().attach_eop(std::move(*table));
  }
  return attach_kernels(std::move(*store), files);
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
