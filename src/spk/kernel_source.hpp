// The byte source behind one kernel file: a read-only shared mapping of the
// whole file (the descriptor is closed once mapped), or, when the size query
// or the mapping fails, plain read/lseek on the descriptor. A mapping shows
// the file as it is: a write into the file changes what later reads see, and
// truncating it under the mapping makes the next read of a lost page end the
// process with SIGBUS (tarvexkit reads kernels from sealed private copies). Both variants offer read, read-exact and seek with
// stream semantics, so the DAF code above never knows which one it has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "core/files.hpp"

namespace tarvex::spk {

enum class SeekOrigin : std::uint8_t { Start, Current, End };

class KernelSource {
 public:
  // Opens read-only and maps the whole file; falls back to the reader variant
  // without any message when the size query or the mapping fails.
  static std::expected<KernelSource, core::IoError> open(const std::string& path);
  // Always the reader variant; the fallback path must stay tested.
  static std::expected<KernelSource, core::IoError> open_reader(const std::string& path);

  KernelSource(KernelSource&& other) noexcept;
  KernelSource& operator=(KernelSource&& other) noexcept;
  KernelSource(const KernelSource&) = delete;
  KernelSource& operator=(const KernelSource&) = delete;
  ~KernelSource();

  bool is_mapped() const noexcept { return map_ != nullptr; }

  // Copies up to buffer.size() bytes from the position; 0 at or beyond the
  // end. Advances the position by the count returned.
  std::expected<std::size_t, core::IoError> read(std::span<std::byte> buffer);
  // Fills the whole buffer, retrying interrupted reads; a read returning 0
  // first fails with IoError::unexpected_eof().
  std::expected<void, core::IoError> read_exact(std::span<std::byte> buffer);
  // Start takes the offset as unsigned; negative offsets from Start are refused.
  std::expected<std::uint64_t, core::IoError> seek(SeekOrigin origin, std::int64_t offset);
  std::expected<std::uint64_t, core::IoError> seek_to(std::uint64_t position);

  // The file's length when it can be known without reading: the mapping's
  // length, or fstat for the reader. Callers use it to refuse huge reads
  // before allocating for them.
  std::optional<std::uint64_t> size_hint() const noexcept;

 private:
  KernelSource(int fd, const std::byte* map, std::uint64_t length) noexcept
      : fd_(fd), map_(map), length_(length) {}
  void release() noexcept;
  // One read step: the count copied, or -1 with error_code set.
  std::int64_t read_once(std::span<std::byte> buffer, int& error_code) noexcept;

  int fd_ = -1;
  const std::byte* map_ = nullptr;  // null for the reader variant
  std::uint64_t length_ = 0;        // mapping length
  std::uint64_t position_ = 0;      // cursor of the mapped variant
};

}  // namespace tarvex::spk
