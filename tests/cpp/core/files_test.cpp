// The file error's texts and the opening rules every loader relies on.
#include "core/files.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

using tarvex::core::IoError;
using tarvex::core::open_regular_file;
using tarvex::core::read_text_file;

namespace {

// A file under the test's temporary directory, removed at the end.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name, std::string_view bytes = {})
      : path_(std::string(::testing::TempDir()) + "tarvex_files_test_" + name) {
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() { ::unlink(path_.c_str()); }
  const std::string& path() const noexcept { return path_; }

 private:
  std::string path_;
};

}  // namespace

TEST(IoError, EachKindHasItsText) {
  EXPECT_EQ(IoError::os(ENOENT).message(), "No such file or directory (os error 2)");
  EXPECT_EQ(IoError::os(EISDIR).message(), "Is a directory (os error 21)");
  EXPECT_EQ(IoError::os(EINVAL).message(), "Invalid argument (os error 22)");
  EXPECT_EQ(IoError::invalid_utf8().message(), "stream did not contain valid UTF-8");
  EXPECT_EQ(IoError::nul_in_path().message(), "file name contained an unexpected NUL byte");
  EXPECT_EQ(IoError::not_regular().message(), "not a regular file");
  EXPECT_EQ(IoError::unexpected_eof().message(), "failed to fill whole buffer");
  EXPECT_EQ(IoError::invalid_seek().message(),
            "invalid seek to a negative or overflowing position");
}

TEST(IoError, KindsAndErrnoValuesStayApart) {
  EXPECT_EQ(IoError::os(5), IoError::os(5));
  EXPECT_NE(IoError::os(5), IoError::os(2));
  EXPECT_NE(IoError::unexpected_eof(), IoError::invalid_seek());
  EXPECT_NE(IoError::not_regular(), IoError::nul_in_path());
  EXPECT_EQ(IoError::unexpected_eof().kind, IoError::Kind::UnexpectedEof);
  EXPECT_EQ(IoError::invalid_seek().kind, IoError::Kind::InvalidSeek);
  EXPECT_EQ(IoError::os(13).os_error, 13);
}

TEST(OpenRegularFile, GivesABlockingCloseOnExecDescriptor) {
  const ScratchFile file("regular.txt", "abc");
  const auto fd = open_regular_file(file.path());
  ASSERT_TRUE(fd) << fd.error().message();
  const int status = ::fcntl(*fd, F_GETFL);
  const int descriptor_flags = ::fcntl(*fd, F_GETFD);
  char bytes[4] = {};
  const ssize_t count = ::read(*fd, bytes, sizeof bytes);
  ::close(*fd);
  EXPECT_EQ(status & O_NONBLOCK, 0);
  EXPECT_EQ(status & O_ACCMODE, O_RDONLY);
  EXPECT_NE(descriptor_flags & FD_CLOEXEC, 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::string(bytes, 3), "abc");
}

TEST(OpenRegularFile, RefusesWhatCannotBeReadWhole) {
  EXPECT_EQ(open_regular_file(std::string("a\0b", 3)).error(), IoError::nul_in_path());
  EXPECT_EQ(open_regular_file("/").error(), IoError::os(EISDIR));
  EXPECT_EQ(open_regular_file("/dev/null").error(), IoError::not_regular());
  const ScratchFile absent("absent.txt");
  ::unlink(absent.path().c_str());
  EXPECT_EQ(open_regular_file(absent.path()).error(), IoError::os(ENOENT));

  // A FIFO without a writer must fail at once rather than wait for one.
  const std::string fifo = std::string(::testing::TempDir()) + "tarvex_files_test.fifo";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(open_regular_file(fifo).error(), IoError::not_regular());
  ::unlink(fifo.c_str());
}

TEST(ReadTextFile, ReadsTheWholeFileAndChecksUtf8) {
  const std::string long_text(100000, 'x');
  const ScratchFile big("big.txt", long_text + "\xC3\xA9");
  EXPECT_EQ(read_text_file(big.path()), long_text + "\xC3\xA9");
  const ScratchFile empty("empty.txt");
  EXPECT_EQ(read_text_file(empty.path()), "");
  // A bad byte after a long ASCII run is still found.
  const ScratchFile latin1("latin1.txt", long_text + "caf\xE9");
  EXPECT_EQ(read_text_file(latin1.path()).error(), IoError::invalid_utf8());
  EXPECT_EQ(read_text_file("/").error(), IoError::os(EISDIR));
}
