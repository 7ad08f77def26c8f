#include "spk/kernel_source.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

namespace tarvex::spk {

using core::IoError;

std::expected<KernelSource, IoError> KernelSource::open(const std::string& path) {
  // Regular files only: a FIFO or device would block or never end, and the
  // reader fallback would then hang the caller.
  auto fd = core::open_regular_file(path);
  if (!fd) return std::unexpected(fd.error());
  struct stat info {};
  // Any failure here only costs speed: the reader serves the same bytes.
  if (::fstat(*fd, &info) != 0 || info.st_size <= 0 ||
      static_cast<std::uint64_t>(info.st_size) > std::numeric_limits<std::size_t>::max()) {
    return KernelSource(*fd, nullptr, 0);
  }
  const auto length = static_cast<std::uint64_t>(info.st_size);
  void* map = ::mmap(nullptr, static_cast<std::size_t>(length), PROT_READ, MAP_SHARED, *fd, 0);
  if (map == MAP_FAILED) return KernelSource(*fd, nullptr, 0);
  // The mapping keeps the file open by itself: the descriptor is not needed
  // any more, and a process with many stores should not run out of them.
  ::close(*fd);
  return KernelSource(-1, static_cast<const std::byte*>(map), length);
}

std::expected<KernelSource, IoError> KernelSource::open_reader(const std::string& path) {
  auto fd = core::open_regular_file(path);
  if (!fd) return std::unexpected(fd.error());
  return KernelSource(*fd, nullptr, 0);
}

KernelSource::KernelSource(KernelSource&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      map_(std::exchange(other.map_, nullptr)),
      length_(std::exchange(other.length_, 0)),
      position_(std::exchange(other.position_, 0)) {}

KernelSource& KernelSource::operator=(KernelSource&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    map_ = std::exchange(other.map_, nullptr);
    length_ = std::exchange(other.length_, 0);
    position_ = std::exchange(other.position_, 0);
  }
  return *this;
}

KernelSource::~KernelSource() { release(); }

void KernelSource::release() noexcept {
  if (map_ != nullptr) {
    ::munmap(const_cast<std::byte*>(map_), static_cast<std::size_t>(length_));
    map_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

std::int64_t KernelSource::read_once(std::span<std::byte> buffer, int& error_code) noexcept {
  if (map_ != nullptr) {
    if (position_ >= length_ || buffer.empty()) return 0;
    const std::uint64_t available = length_ - position_;
    const std::size_t count =
        available < buffer.size() ? static_cast<std::size_t>(available) : buffer.size();
    std::memcpy(buffer.data(), map_ + position_, count);
    position_ += count;
    return static_cast<std::int64_t>(count);
  }
  const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
  if (got < 0) error_code = errno;
  return got;
}

std::expected<std::size_t, IoError> KernelSource::read(std::span<std::byte> buffer) {
  int error_code = 0;
  const std::int64_t got = read_once(buffer, error_code);
  if (got < 0) return std::unexpected(IoError::os(error_code));
  return static_cast<std::size_t>(got);
}

std::expected<void, IoError> KernelSource::read_exact(std::span<std::byte> buffer) {
  while (!buffer.empty()) {
    int error_code = 0;
    const std::int64_t got = read_once(buffer, error_code);
    if (got < 0) {
      if (error_code == EINTR) continue;
      return std::unexpected(IoError::os(error_code));
    }
    if (got == 0) return std::unexpected(IoError::unexpected_eof());
    buffer = buffer.subspan(static_cast<std::size_t>(got));
  }
  return {};
}

std::expected<std::uint64_t, IoError> KernelSource::seek(SeekOrigin origin, std::int64_t offset) {
  if (map_ == nullptr) {
    const int whence = origin == SeekOrigin::Start     ? SEEK_SET
                       : origin == SeekOrigin::Current ? SEEK_CUR
                                                       : SEEK_END;
    const off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (result < 0) return std::unexpected(IoError::os(errno));
    return static_cast<std::uint64_t>(result);
  }
  if (origin == SeekOrigin::Start) {
    if (offset < 0) {
      return std::unexpected(IoError::invalid_seek());
    }
    position_ = static_cast<std::uint64_t>(offset);
    return position_;
  }
  const std::uint64_t base = origin == SeekOrigin::Current ? position_ : length_;
  std::uint64_t target = 0;
  const bool overflow =
      offset >= 0 ? __builtin_add_overflow(base, static_cast<std::uint64_t>(offset), &target)
                  : __builtin_sub_overflow(base, 0 - static_cast<std::uint64_t>(offset), &target);
  if (overflow) {
    return std::unexpected(IoError::invalid_seek());
  }
  position_ = target;
  return position_;
}

std::expected<std::uint64_t, IoError> KernelSource::seek_to(std::uint64_t position) {
  if (map_ != nullptr) {
    position_ = position;
    return position_;
  }
  if (position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return std::unexpected(IoError::os(EINVAL));
  }
  return seek(SeekOrigin::Start, static_cast<std::int64_t>(position));
}

std::optional<std::uint64_t> KernelSource::size_hint() const noexcept {
  if (map_ != nullptr) return length_;
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || info.st_size < 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace tarvex::spk
