// Driver for compilers without libFuzzer (g++): replays the files and
// directories given on the command line through the target once each, under
// whatever sanitizers the build enables. No mutation happens here; this only
// keeps corpora and crash reproducers runnable everywhere. Arguments that
// start with '-' (libFuzzer options) are ignored so both drivers share a
// command line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& path, std::size_t& count) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  ++count;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;
    const std::filesystem::path path = argv[i];
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        if (entry.is_regular_file()) replay(entry.path(), count);
      }
    } else {
      replay(path, count);
    }
  }
  std::printf("replayed %zu inputs\n", count);
  return 0;
}
