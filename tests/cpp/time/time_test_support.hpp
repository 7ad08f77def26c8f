// Test-only helpers: the real data directory and a scratch directory into
// which tests write the malformed files they need (none are committed).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace tarvex::time::test {

inline std::string data_path(std::string_view file) {
  const char* from_env = std::getenv("TARVEX_DATA_DIR");
  std::string dir = (from_env != nullptr && *from_env != '\0') ? from_env : TARVEX_DATA_DIR;
  return dir + "/" + std::string(file);
}

inline constexpr std::string_view NAIF0012_SHA256 =
    "678e32bdb5a744117a467cd9601cd6b373f0e9bc9bbde1371d5eee39600a039b";
inline constexpr std::string_view EOP_C04_SHA256 =
    "02918d2ba8f92b17fffcb6a1b8928d0df550ecab3e483a4b3c12039721e6a99e";
inline constexpr std::string_view EOP_EXCERPT_SHA256 =
    "3301c2f61675e5efc1e3be46f27095d81b7d449dbb35f97d115cdf4bec8d33ce";
inline const std::string ANY_SHA256(64, 'a');

// A fresh directory per instance, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvex_time_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  std::string write(std::string_view name, std::string_view bytes) const {
    const std::filesystem::path file = path_ / std::string(name);
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file.string();
  }
  std::string path(std::string_view name) const { return (path_ / std::string(name)).string(); }

 private:
  std::filesystem::path path_;
};

// A leap-second kernel with naif0012's constants and the given DELTA_AT body.
inline std::string kernel_text(std::string_view delta_at = "( 10, @1972-JAN-1 11, @1972-JUL-1 )",
                               std::string_view extra = "") {
  std::string text = "KPL/LSK\n\\begindata\n";
  text += "DELTET/DELTA_T_A = 32.184\nDELTET/K = 1.657D-3\nDELTET/EB = 1.671D-2\n";
  text += "DELTET/M = ( 6.239996D0 1.99096871D-7 )\n";
  text += "DELTET/DELTA_AT = ";
  text += delta_at;
  text += "\n";
  text += extra;
  text += "\\begintext\n";
  return text;
}

}  // namespace tarvex::time::test
