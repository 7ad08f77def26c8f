// Whole-file reads of the time library's text inputs (leap-second kernels,
// Earth orientation tables). Both are small enough to read at once, and both
// must be UTF-8, so the read and the encoding check live together.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace tarvex::time {

// Why a text file could not be read. Holds no heap data so that errors which
// embed it (EopError inside a conversion error) can be returned from code
// that must not allocate.
struct IoError {
  enum class Kind : std::uint8_t {
    Os,           // open/read failed; os_error is the errno value
    InvalidUtf8,  // the bytes were read but are not UTF-8 text
    NulInPath,    // the path cannot be handed to the OS
    NotRegular,   // a FIFO, device or socket: reading could block or never end
  };
  Kind kind = Kind::Os;
  int os_error = 0;

  static IoError os(int error) noexcept { return {Kind::Os, error}; }
  static IoError invalid_utf8() noexcept { return {Kind::InvalidUtf8, 0}; }
  static IoError nul_in_path() noexcept { return {Kind::NulInPath, 0}; }
  static IoError not_regular() noexcept { return {Kind::NotRegular, 0}; }

  // "No such file or directory (os error 2)", "stream did not contain valid
  // UTF-8", "file name contained an unexpected NUL byte", "not a regular
  // file".
  std::string message() const;
  bool operator==(const IoError&) const = default;
};

// Opens a regular file read-only (close-on-exec) and returns its descriptor.
// Directories fail as the OS reports them; FIFOs, devices and sockets are
// refused before any read, since a FIFO without a writer would block the
// caller for good and a device such as /dev/zero never ends. The SPK byte
// source opens kernels through here as well.
std::expected<int, IoError> open_regular_file(std::string_view path);

// Reads the whole file and checks that it is valid UTF-8.
std::expected<std::string, IoError> read_text_file(std::string_view path);

}  // namespace tarvex::time
