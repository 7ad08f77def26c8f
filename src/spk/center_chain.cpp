// Each pass moves every unfinished epoch one link (target -> center) along
// its chain, grouping epochs by the segment that serves the link, so that
// each segment group is one batch evaluation and each Type 2 record is read
// once per pass.
#include "spk/center_chain.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/format.hpp"
#include "spk/inertial_frames.hpp"

namespace tarvex::spk {

namespace {

struct Link {
  std::size_t kernel_index;
  const SpkSegment* segment;
};

// The segment serving target `c` at `epoch`: first kernel in list order
// with a covering segment, the last such segment of that kernel's file;
// together with the epochs around `epoch` for which that stays the answer.
// Each kernel knows the span over which its own answer holds; the list's
// answer holds where the answers of the kernels up to the chosen one all
// do (the earlier ones still giving none). Consecutive epochs of a batch
// nearly always fall in the same span, so the lookup runs once per span
// instead of once per epoch. A NaN epoch never matches.
struct LinkSpan {
  Link link;
  double first;  // inclusive bounds
  double last;
};

SpkError missing_link_error(KernelList& kernels, std::int32_t c, double epoch);

std::expected<LinkSpan, SpkError> find_link(KernelList& kernels, std::int32_t c, double epoch) {
  double first = -INFINITY;
  double last = INFINITY;
  for (std::size_t k = 0; k < kernels.size(); ++k) {
    auto covering = kernels[k].covering_segment(c, epoch);
    if (!covering) return std::unexpected(std::move(covering.error()));
    if (!kernels[k].has_segment_list()) {
      return std::unexpected(
          SpkError::invalid_type2_segment("decoded segment cache was not initialized"));
    }
    first = std::max(first, covering->first);
    last = std::min(last, covering->last);
    if (covering->segment != nullptr) return LinkSpan{Link{k, covering->segment}, first, last};
  }
  return std::unexpected(missing_link_error(kernels, c, epoch));
}

SegmentLoc location_of(const SpkSegment& segment) {
  return SegmentLoc{segment.start_epoch, segment.end_epoch,     segment.center,
                    segment.data_type,   segment.start_address, segment.end_address,
                    segment.frame};
}

// Type 2 in J2000: the planetary hot path, straight to the kernel's caches.
bool is_plain_type2(const SegmentLoc& location) noexcept {
  return location.data_type == 2 && location.frame == J2000_FRAME;
}

// A segment's words that break its type's rules, named: the kernel file,
// the target and the segment's identifier.
SpkError named_segment_error(const SpkError& error, SpkKernel& kernel, std::int32_t target,
                             const SegmentLoc& location) {
  if (error.kind() != SpkError::Kind::InvalidSegmentData) return error;
  std::string context = " (";
  if (!kernel.name().empty()) context += "kernel " + kernel.name() + ", ";
  context += "target " + std::to_string(target);
  if (auto segments = kernel.listed_segments()) {
    for (const SpkSegment& segment : *segments) {
      if (segment.start_address == location.start_address &&
          segment.end_address == location.end_address && segment.data_type == location.data_type) {
        context += ", segment " + core::quoted_text(segment.identifier);
        break;
      }
    }
  }
  return error.with_context(context + ")");
}

// Every other link, under the kernel's rules: the strict engine refuses
// another type, then another frame, naming it; the toolkit evaluates any
// registered type and rotates the states of an inertial frame to J2000.
std::expected<void, SpkError> evaluate_link(SpkKernel& kernel, std::int32_t target,
                                            const SegmentLoc& location,
                                            std::span<const double> epochs,
                                            std::span<core::CartesianState> out) {
  if (is_plain_type2(location)) return kernel.evaluate_type2_into(location, epochs, out);
  const auto frame_error = [&] {
    return SpkError::unsupported_frame(target, location.frame,
                                       std::string(inertial_frame_name(location.frame)));
  };
  if (kernel.segment_rules() == SegmentRules::Type2J2000) {
    if (location.data_type != 2)
      return std::unexpected(SpkError::unsupported_segment_type(location.data_type));
    return std::unexpected(frame_error());
  }
  const std::optional<Rotation> rotation = rotation_to_j2000(location.frame);
  if (!rotation) return std::unexpected(frame_error());
  if (auto done = kernel.evaluate_segment_into(location, epochs, out); !done)
    return std::unexpected(named_segment_error(done.error(), kernel, target, location));
  if (location.frame != J2000_FRAME)
    for (std::size_t i = 0; i < epochs.size(); ++i) out[i] = rotate_state(*rotation, out[i]);
  return {};
}

// Why no kernel serves `c` at `epoch` under the toolkit's rules: a gap
// between two of the target's segments, named; before or after all of
// them, or for a target no kernel holds, the strict engine's message.
SpkError missing_link_error(KernelList& kernels, std::int32_t c, double epoch) {
  bool held = false;
  double before = -INFINITY;
  double after = INFINITY;
  for (SpkKernel& kernel : kernels) {
    if (kernel.segment_rules() != SegmentRules::AnyType) return SpkError::missing_chain_segment(c, epoch);
    auto segments = kernel.listed_segments();
    if (!segments) continue;
    for (const SpkSegment& segment : *segments) {
      if (segment.target != c) continue;
      held = true;
      if (segment.end_epoch < epoch) before = std::max(before, segment.end_epoch);
      if (segment.start_epoch > epoch) after = std::min(after, segment.start_epoch);
    }
  }
  // Outside the target's whole coverage the message is the strict engine's.
  if (!held || !std::isfinite(before) || !std::isfinite(after))
    return SpkError::missing_chain_segment(c, epoch);
  return SpkError::coverage_gap(c, epoch, before, after);
}

struct GroupKey {
  std::size_t kernel_index;
  std::int32_t start_address;
  std::int32_t end_address;
  bool operator==(const GroupKey&) const = default;
};

struct GroupKeyHash {
  std::size_t operator()(const GroupKey& key) const noexcept {
    return SegmentKeyHash{}(SegmentKey{key.start_address, key.end_address}) ^
           (key.kernel_index * 0x9E3779B97F4A7C15u);
  }
};

struct Group {
  std::size_t kernel_index = 0;
  SegmentLoc location;
  std::vector<std::size_t> positions;  // epoch positions in the order added
};

std::uint8_t next_link_count(std::uint8_t count) noexcept {
  return count == 255 ? count : count + 1;
}

// One epoch: the same passes without any grouping storage.
std::expected<core::CartesianState, SpkError> single_epoch_chain(KernelList& kernels,
                                                                 std::int32_t target,
                                                                 double epoch) {
  core::CartesianState sum;
  std::int32_t current = target;
  std::uint8_t links = 0;
  while (current != 0) {
    links = next_link_count(links);
    if (links > MAX_CHAIN_LINKS) return std::unexpected(SpkError::center_chain_cycle(target));
    auto found = find_link(kernels, current, epoch);
    if (!found) return std::unexpected(std::move(found.error()));
    const Link* link = &found->link;
    const SegmentLoc location = location_of(*link->segment);
    core::CartesianState state;
    SpkKernel& kernel = kernels[link->kernel_index];
    if (!is_plain_type2(location) || !kernel.evaluate_type2_cached(location, epoch, state)) {
      auto done = evaluate_link(kernel, current, location, std::span(&epoch, 1), std::span(&state, 1));
      if (!done) return std::unexpected(std::move(done.error()));
    }
    add_state(sum, state);
    current = location.center;
  }
  return sum;
}

}  // namespace

std::expected<void, SpkError> barycentric_states_into(KernelList& kernels, std::int32_t target,
                                                      std::span<const double> epochs,
                                                      std::span<core::CartesianState> out) {
  const std::size_t n = epochs.size();
  const std::span<core::CartesianState> sums = out.first(n);
  std::fill(sums.begin(), sums.end(), core::CartesianState{});
  if (target == 0 || n == 0) return {};
  if (n == 1) {
    auto state = single_epoch_chain(kernels, target, epochs[0]);
    if (!state) return std::unexpected(std::move(state.error()));
    sums[0] = *state;
    return {};
  }

  // While every epoch stands at the same body after the same number of
  // links (always at the start, and nearly always later), the chain state
  // is one code and one count; the per-epoch lists exist only once epochs
  // have gone separate ways.
  bool uniform = true;
  std::int32_t uniform_code = target;
  std::uint8_t uniform_links = 0;
  std::vector<std::int32_t> current;
  std::vector<std::uint8_t> links;
  std::unordered_map<GroupKey, std::size_t, GroupKeyHash> group_of;
  std::vector<Group> groups;
  std::vector<double> group_epochs;
  std::vector<core::CartesianState> group_states;

  // The epochs' extent, for the test whether one span covers them all; a
  // NaN epoch is covered by none.
  bool any_nan = false;
  double earliest = epochs[0];
  double latest = epochs[0];
  for (const double epoch : epochs) {
    any_nan = any_nan || std::isnan(epoch);
    earliest = std::min(earliest, epoch);
    latest = std::max(latest, epoch);
  }

  // Groups keep their position lists between passes so that a long chain
  // does not reallocate them; `active` counts the groups of this pass.
  std::size_t active = 0;
  // The last span found and, within this pass, the group it feeds: an
  // epoch inside the span needs neither the segment scan nor the hash.
  std::optional<LinkSpan> recent;
  std::int32_t recent_code = 0;
  constexpr std::size_t NO_GROUP = static_cast<std::size_t>(-1);
  std::size_t recent_group = NO_GROUP;
  for (;;) {
    if (uniform) {
      // One segment nearly always serves every epoch: the pass is then one
      // evaluation over the epochs as given, with no groups. The checks run
      // in the order of the general pass below (the link count, then the
      // first epoch's segment), and anything else falls through to it with
      // nothing changed but the span cache.
      if (uniform_code == 0) return {};
      if (next_link_count(uniform_links) > MAX_CHAIN_LINKS)
        return std::unexpected(SpkError::center_chain_cycle(target));
      if (!recent || uniform_code != recent_code ||
          !(recent->first <= epochs[0] && epochs[0] <= recent->last)) {
        auto span = find_link(kernels, uniform_code, epochs[0]);
        if (!span) return std::unexpected(std::move(span.error()));
        recent = *span;
        recent_code = uniform_code;
      }
      const LinkSpan& span = *recent;
      if (!any_nan && span.first <= earliest && latest <= span.last) {
        uniform_links = next_link_count(uniform_links);
        const SegmentLoc location = location_of(*span.link.segment);
        group_states.resize(n);
        auto done = evaluate_link(kernels[span.link.kernel_index], uniform_code, location, epochs,
                                  group_states);
        if (!done) return std::unexpected(std::move(done.error()));
        for (std::size_t i = 0; i < n; ++i) add_state(sums[i], group_states[i]);
        uniform_code = location.center;
        continue;
      }
      current.assign(n, uniform_code);
      links.assign(n, uniform_links);
      uniform = false;
    }
    group_of.clear();
    active = 0;
    recent_group = NO_GROUP;
    for (std::size_t i = 0; i < n; ++i) {
      const std::int32_t c = current[i];
      if (c == 0) continue;
      links[i] = next_link_count(links[i]);
      if (links[i] > MAX_CHAIN_LINKS) return std::unexpected(SpkError::center_chain_cycle(target));
      const double epoch = epochs[i];
      if (!recent || c != recent_code || !(recent->first <= epoch && epoch <= recent->last)) {
        auto span = find_link(kernels, c, epoch);
        if (!span) return std::unexpected(std::move(span.error()));
        recent = *span;
        recent_code = c;
        recent_group = NO_GROUP;
      }
      if (recent_group == NO_GROUP) {
        const Link& link = recent->link;
        const GroupKey key{link.kernel_index, link.segment->start_address,
                           link.segment->end_address};
        const auto [entry, inserted] = group_of.try_emplace(key, active);
        if (inserted) {
          if (active == groups.size()) groups.emplace_back();
          Group& group = groups[active++];
          group.kernel_index = link.kernel_index;
          group.location = location_of(*link.segment);
          group.positions.clear();
        }
        recent_group = entry->second;
      }
      groups[recent_group].positions.push_back(i);
    }
    if (active == 0) return {};

    // Groups are evaluated in the order they were first met, so the error
    // reported for a bad query does not depend on hashing.
    for (std::size_t g = 0; g < active; ++g) {
      const Group& group = groups[g];
      group_epochs.clear();
      for (const std::size_t i : group.positions) group_epochs.push_back(epochs[i]);
      group_states.resize(group_epochs.size());
      auto done = evaluate_link(kernels[group.kernel_index], current[group.positions.front()],
                                group.location, group_epochs, group_states);
      if (!done) return std::unexpected(std::move(done.error()));
      for (std::size_t j = 0; j < group.positions.size(); ++j) {
        const std::size_t i = group.positions[j];
        add_state(sums[i], group_states[j]);
        current[i] = group.location.center;
      }
    }
    // Chains that meet again at one body after the same number of links
    // continue as one.
    const std::int32_t c0 = current[0];
    const std::uint8_t l0 = links[0];
    uniform = std::all_of(current.begin(), current.end(), [c0](std::int32_t c) { return c == c0; }) &&
              std::all_of(links.begin(), links.end(), [l0](std::uint8_t l) { return l == l0; });
    if (uniform) {
      uniform_code = c0;
      uniform_links = l0;
    }
  }
}

std::expected<std::vector<core::CartesianState>, SpkError> barycentric_states_across_kernels(
    KernelList& kernels, std::int32_t target, std::span<const double> epochs) {
  std::vector<core::CartesianState> states(epochs.size());
  if (auto done = barycentric_states_into(kernels, target, epochs, states); !done)
    return std::unexpected(std::move(done.error()));
  return states;
}

std::expected<core::CartesianState, SpkError> barycentric_state_across_kernels(KernelList& kernels,
                                                                               std::int32_t target,
                                                                               double epoch) {
  // The one-epoch walk directly, without the list the many-epoch form
  // would allocate for it.
  if (target == 0) return core::CartesianState{};
  return single_epoch_chain(kernels, target, epoch);
}

}  // namespace tarvex::spk
