// Shared pieces of the fuzz targets. Every loader under test takes a path,
// so each input is written to one scratch file per process (in /dev/shm when
// it exists, so that a run costs no disk I/O), and query parameters are read
// from a small fixed-size header or trailer of the input, so that the
// fuzzer chooses the epochs and dates as well as the file contents.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

namespace tarvex::fuzz {

// One scratch file per process and target, rewritten for every input.
class ScratchFile {
 public:
  explicit ScratchFile(const char* tag) {
    const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr ? dir : "/tmp") + "/tarvex-fuzz-" + tag + "-" +
            std::to_string(::getpid());
  }
  ~ScratchFile() { ::unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Replaces the file's contents; aborts on failure, since a harness that
  // cannot write its input would otherwise report clean runs.
  const std::string& write(std::span<const std::uint8_t> bytes) const {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return path_;
  }
  const std::string& path() const noexcept { return path_; }

 private:
  std::string path_;
};

// Reads fixed-width values from a byte span, yielding zeros once it runs out,
// so that every input decodes to some query.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint8_t u8() {
    if (bytes_.empty()) return 0;
    const std::uint8_t v = bytes_.front();
    bytes_ = bytes_.subspan(1);
    return v;
  }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | u8();
    return v;
  }
  double f64() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | u8();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  // A fraction in [0, 1] with 16 bits of resolution, both ends reachable.
  double unit() {
    const unsigned hi = u8();
    const unsigned lo = u8();
    return static_cast<double>((hi << 8) | lo) / 65535.0;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// A well-formed checksum text: the loaders check only its form.
inline constexpr const char* ANY_SHA256 =
    "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef";

// Keeps results alive so that the optimiser cannot drop the work.
template <typename T>
void consume(const T& value) {
  asm volatile("" : : "r"(&value) : "memory");
}

}  // namespace tarvex::fuzz
