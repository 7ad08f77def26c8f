#include "core/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <utility>

#include "core/text.hpp"

namespace tarvex::core {

std::string IoError::message() const {
  switch (kind) {
    case Kind::InvalidUtf8: return "stream did not contain valid UTF-8";
    case Kind::NulInPath: return "file name contained an unexpected NUL byte";
    case Kind::NotRegular: return "not a regular file";
    case Kind::UnexpectedEof: return "failed to fill whole buffer";
    case Kind::InvalidSeek: return "invalid seek to a negative or overflowing position";
    case Kind::Os: break;
  }
  // generic_category().message is strerror's text without strerror's
  // thread-safety problem.
  std::string text = std::generic_category().message(os_error);
  text += " (os error ";
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, os_error).ptr;
  text.append(digits, end);
  text += ')';
  return text;
}

namespace {

// Closes the descriptor on every path out unless released.
class Descriptor {
 public:
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const noexcept { return fd_; }
  int release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The same acceptance as is_valid_utf8, with a word-at-a-time skip
// over ASCII runs: EOP tables are megabytes of ASCII, and byte-wise decoding
// would dominate their load time.
bool is_valid_utf8_text(std::string_view text) noexcept {
  constexpr std::uint64_t HIGH_BITS = 0x8080808080808080ULL;
  std::size_t index = 0;
  while (index < text.size()) {
    if (text.size() - index >= 8) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + index, 8);
      if ((word & HIGH_BITS) == 0) {
        index += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(text[index]) < 0x80) {
      ++index;
      continue;
    }
    const std::size_t begin = index;
    if (decode_utf8_lossy(text, index) == REPLACEMENT_CHARACTER &&
        text.substr(begin, index - begin) != "\xEF\xBF\xBD") {
      return false;
    }
  }
  return true;
}

}  // namespace

std::expected<int, IoError> open_regular_file(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::unexpected(IoError::nul_in_path());
  const std::string c_path(path);
  int fd = -1;
  // Non-blocking only for the open itself: opening a FIFO without a writer
  // would otherwise wait for one.
  do {
    fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(IoError::os(errno));
  Descriptor descriptor(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::unexpected(IoError::os(errno));
  if (S_ISDIR(info.st_mode)) return std::unexpected(IoError::os(EISDIR));
  if (!S_ISREG(info.st_mode)) return std::unexpected(IoError::not_regular());
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return std::unexpected(IoError::os(errno));
  return descriptor.release();
}

std::expected<std::string, IoError> read_text_file(std::string_view path) {
  auto opened = open_regular_file(path);
  if (!opened) return std::unexpected(opened.error());
  const int fd = *opened;
  const Descriptor descriptor(fd);

  // The size is only a hint: the file may change under us, and special files
  // report 0, so reading continues until end of file either way.
  struct stat info {};
  std::size_t expected_size = 0;
  if (::fstat(fd, &info) == 0 && info.st_size > 0)
    expected_size = static_cast<std::size_t>(info.st_size);

  std::string text;
  text.resize(expected_size + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == text.size()) text.resize(text.size() < 4096 ? 4096 : text.size() * 2);
    const ssize_t count = ::read(fd, text.data() + used, text.size() - used);
    if (count < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IoError::os(errno));
    }
    if (count == 0) break;
    used += static_cast<std::size_t>(count);
  }
  text.resize(used);
  if (!is_valid_utf8_text(text)) return std::unexpected(IoError::invalid_utf8());
  return text;
}

}  // namespace tarvex::core
