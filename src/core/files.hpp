// Reading files from disk, for every layer above the core: the one error of
// file input, opening a regular file read-only, and whole-file reads of
// UTF-8 text. The time library reads its leap-second kernels and Earth
// orientation tables whole; the SPK byte source opens kernels here and reads
// them itself, reporting its read and seek failures through the same error.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace tarvex::core {

// Why a file could not be opened, read or positioned. Holds no heap data so
// that errors which embed it (EopError inside a conversion error) can be
// returned from code that must not allocate.
struct IoError {
  enum class Kind : std::uint8_t {
    Os,             // open/read/seek failed; os_error is the errno value
    InvalidUtf8,    // the bytes were read but are not UTF-8 text
    NulInPath,      // the path cannot be handed to the OS
    NotRegular,     // a FIFO, device or socket: reading could block or never end
    UnexpectedEof,  // the file ended before a read of an exact length was filled
    InvalidSeek,    // a seek to a negative position or past the 64-bit range
  };
  Kind kind = Kind::Os;
  int os_error = 0;

  static IoError os(int error) noexcept { return {Kind::Os, error}; }
  static IoError invalid_utf8() noexcept { return {Kind::InvalidUtf8, 0}; }
  static IoError nul_in_path() noexcept { return {Kind::NulInPath, 0}; }
  static IoError not_regular() noexcept { return {Kind::NotRegular, 0}; }
  static IoError unexpected_eof() noexcept { return {Kind::UnexpectedEof, 0}; }
  static IoError invalid_seek() noexcept { return {Kind::InvalidSeek, 0}; }

  // "No such file or directory (os error 2)", "stream did not contain valid
  // UTF-8", "file name contained an unexpected NUL byte", "not a regular
  // file", "failed to fill whole buffer", "invalid seek to a negative or
  // overflowing position".
  std::string message() const;
  bool operator==(const IoError&) const = default;
};

// Opens a regular file read-only (close-on-exec) and returns its descriptor.
// Directories fail as the OS reports them; FIFOs, devices and sockets are
// refused before any read, since a FIFO without a writer would block the
// caller for good and a device such as /dev/zero never ends.
std::expected<int, IoError> open_regular_file(std::string_view path);

// Reads the whole file and checks that it is valid UTF-8.
std::expected<std::string, IoError> read_text_file(std::string_view path);

}  // namespace tarvex::core
