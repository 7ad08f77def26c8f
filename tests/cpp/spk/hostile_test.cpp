// Corrupted kernels: whatever bytes a file holds, opening, listing and
// evaluating end in a result or an error message, never in a crash, a wild
// read or a loop. (Run under the sanitizers to make "never" mean something.)
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "support/daf_writer.hpp"
#include "spk/spk_ephemeris.hpp"
#include "spk/center_chain.hpp"
#include "spk/coverage.hpp"

using namespace tarvex::spk;
using namespace tarvex::spk::test_support;

TEST(HostileKernels, CorruptBytesGiveMessagesNotCrashes) {
  DafWriter writer;
  writer.summaries_per_record = 1;
  writer.segments.push_back(
      {"EMB", 0.0, 400.0, 3, 0, 1, 2, linear_type2_words(0.0, 100.0, 4, 1e8, 2e7, 3e6, 10.0)});
  writer.segments.push_back(
      {"MOON", 0.0, 400.0, 301, 3, 1, 2, linear_type2_words(0.0, 200.0, 2, 4e5, 0, 0, 1.0)});
  const DafImage good = writer.build();
  TempDir dir;
  const std::string path = dir.file("k.bsp");

  std::mt19937_64 random(20240611);
  const std::vector<double> epochs{0.0, 399.0, 100.0, 250.0, 400.0};
  std::size_t opened = 0;
  for (int round = 0; round < 600; ++round) {
    DafImage image = good;
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int f = 0; f < flips; ++f) {
      const std::size_t at = random() % image.bytes.size();
      image.bytes[at] = static_cast<std::byte>(random() & 0xFF);
    }
    if (random() % 8 == 0) image.truncate(random() % image.bytes.size());
    image.write(path);
    auto store = SpkEphemeris::open(path, std::string(64, 'a'));
    if (!store) {
      EXPECT_FALSE(store.error().message().empty());
      continue;
    }
    ++opened;
    KernelGuard kernels = store->borrow_kernels();
    for (const std::int32_t target : {301, 3, 399}) {
      auto states = barycentric_states_across_kernels(*kernels, target, epochs);
      if (!states) {
        EXPECT_FALSE(states.error().message().empty());
      }
      auto state = barycentric_state_across_kernels(*kernels, target, 123.0);
      if (!state) {
        EXPECT_FALSE(state.error().message().empty());
      }
    }
  }
  EXPECT_GT(opened, 0u);  // the corruption also lands where it matters only in data
}
