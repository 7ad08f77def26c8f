// Fuzz target: an SPK kernel file as the engine meets it. The whole input
// is the file; its last bytes double as the query (which segments, which
// epochs, which byte source), so mutations reach both the DAF structure and
// the Type 2 evaluation behind it. Covers SpkEphemeris::open (file record,
// summary chain, common coverage, an attached kernel), SpkKernel through the mapped and the
// plain-read source, read_words, evaluate_type2_at_epochs, the evaluators
// of the other segment types, and the center chain walk across one and two
// kernels under the strict and the toolkit's rules.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <span>
#include <vector>

#include "fuzz_support.hpp"
#include "spk/spk_ephemeris.hpp"
#include "spk/kernel.hpp"
#include "spk/kernel_list.hpp"
#include "spk/kernel_source.hpp"
#include "spk/center_chain.hpp"
#include "spk/coverage.hpp"

namespace {

using tarvex::fuzz::ByteReader;
using tarvex::fuzz::consume;
using namespace tarvex::spk;

// Bytes at the end of the input that steer the queries.
constexpr std::size_t CONTROL_BYTES = 96;

// Epochs around one segment's coverage: its bounds, points inside it, the
// neighbours just outside, and raw doubles (NaN, infinities, anything).
std::vector<double> choose_epochs(ByteReader& control, double start, double end) {
  std::vector<double> epochs(1 + control.u8() % 6);
  for (double& t : epochs) {
    switch (control.u8() % 8) {
      case 0: t = start; break;
      case 1: t = end; break;
      case 2: t = start + (end - start) / 2; break;
      case 3: t = control.f64(); break;
      case 4: t = std::nextafter(end, std::numeric_limits<double>::infinity()); break;
      case 5: t = std::nextafter(start, -std::numeric_limits<double>::infinity()); break;
      default: t = start + control.unit() * (end - start); break;
    }
  }
  return epochs;
}

void check_states(const std::expected<std::vector<tarvex::core::CartesianState>, SpkError>& states,
                  std::size_t count) {
  if (!states) {
    consume(states.error().message());
    return;
  }
  // One state per epoch is the contract every caller indexes by.
  if (states->size() != count) std::abort();
}

// Chain walks for targets taken from the segment list (or raw ids), one
// epoch (the single-epoch path) or several (the grouped path).
void walk_chains(KernelList& kernels, std::span<const SpkSegment> segments, ByteReader& control) {
  if (segments.empty()) return;
  for (int query = 0; query < 3; ++query) {
    const SpkSegment& segment = segments[control.u8() % segments.size()];
    const std::int32_t target =
        control.u8() % 8 == 0 ? static_cast<std::int32_t>(control.u32()) : segment.target;
    const std::vector<double> epochs =
        choose_epochs(control, segment.start_epoch, segment.end_epoch);
    check_states(barycentric_states_across_kernels(kernels, target, epochs), epochs.size());
    auto one = barycentric_state_across_kernels(kernels, target, epochs.front());
    if (!one) consume(one.error().message());
  }
}

void exercise_kernel(const std::string& path, ByteReader& control, bool reader_only,
                     bool second_kernel) {
  auto source = reader_only ? KernelSource::open_reader(path) : KernelSource::open(path);
  if (!source) return;
  auto kernel = SpkKernel::from_reader(std::move(*source));
  if (!kernel) {
    consume(kernel.error().message());
    return;
  }
  auto segments = kernel->segments();
  if (!segments) {
    consume(segments.error().message());
    return;
  }
  // A listed kernel answers from its stored list from now on.
  auto again = kernel->segments();
  if (!again || *again != *segments) std::abort();

  if (!segments->empty()) {
    for (int pick = 0; pick < 3; ++pick) {
      const SpkSegment& s = (*segments)[control.u8() % segments->size()];
      const SegmentLoc location{s.start_epoch,   s.end_epoch,     s.center, s.data_type,
                                s.start_address, s.end_address, s.frame};
      const std::vector<double> epochs = choose_epochs(control, s.start_epoch, s.end_epoch);
      if (s.data_type == 2) {
        check_states(kernel->evaluate_type2_at_epochs(location, epochs), epochs.size());
      } else {
        // Every other registered type through its evaluator.
        std::vector<tarvex::core::CartesianState> states(epochs.size());
        auto done = kernel->evaluate_segment_into(location, epochs, states);
        if (!done) consume(done.error().message());
      }
    }
  }

  const auto address = static_cast<std::int32_t>(control.u32());
  const std::uint32_t count = control.u32() % 4096;
  auto words = kernel->read_words(address, count);
  if (words && words->size() != count) std::abort();

  // Half the walks under the toolkit's rules: any type, rotated frames, gaps.
  if (control.u8() % 2 == 0) kernel->set_segment_rules(SegmentRules::AnyType);
  KernelList kernels;
  kernels.push_back(std::move(*kernel));
  if (second_kernel) {
    auto other = SpkKernel::open(path);
    if (other) kernels.push_back(std::move(*other));
  }
  walk_chains(kernels, *segments, control);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tarvex::fuzz::ScratchFile file("spk");
  const std::span<const std::uint8_t> input(data, size);
  const std::string& path = file.write(input);
  ByteReader control(input.last(std::min(size, CONTROL_BYTES)));
  const std::uint8_t flags = control.u8();

  auto store = SpkEphemeris::open(path, tarvex::fuzz::ANY_SHA256);
  if (store && (flags & 4) != 0) {
    // The same file once more as an additional kernel, as the Python layer
    // attaches one: listing happens again on the second copy.
    auto extra = SpkKernel::open(path);
    if (extra) {
      store = SpkEphemeris::with_additional_kernel(std::move(*store), std::move(*extra),
                                                   "extra.bsp", tarvex::fuzz::ANY_SHA256);
    }
  }
  if (!store) {
    consume(store.error().message());
  } else {
    const SupportedRange& range = store->supported_range();
    if (!(range.start_julian_day <= range.end_julian_day)) std::abort();
    auto kernels = store->borrow_kernels();
    auto segments = kernels->front().segments();
    if (!segments) std::abort();  // listed at open
    walk_chains(*kernels, *segments, control);
  }

  exercise_kernel(path, control, (flags & 1) != 0, (flags & 2) != 0);
  return 0;
}
