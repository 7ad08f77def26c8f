#include "tarvexkit/native/body_targets.hpp"

#include <charconv>
#include <optional>
#include <unordered_set>

#include "core/naif_bodies.hpp"
#include "core/text.hpp"
#include "python/names.hpp"

namespace tarvex::kit {

namespace {

// An integer code written out ("2000001", "-82"), blanks around it allowed.
std::optional<std::int32_t> integer_code(std::string_view text) {
  const std::string_view trimmed = core::trim_unicode_white_space(text);
  if (trimmed.empty()) return std::nullopt;
  std::int32_t code = 0;
  const char* end = trimmed.data() + trimmed.size();
  const auto [stop, error] = std::from_chars(trimmed.data(), end, code);
  if (error != std::errc() || stop != end) return std::nullopt;
  return code;
}

std::unordered_set<std::int32_t> held_targets(const spk::SpkEphemeris& store) {
  std::unordered_set<std::int32_t> held{0};
  spk::KernelGuard kernels = store.borrow_kernels();
  for (spk::SpkKernel& kernel : *kernels) {
    auto segments = kernel.listed_segments();
    if (!segments) continue;
    for (const spk::SpkSegment& segment : *segments) held.insert(segment.target);
  }
  return held;
}

std::string kernel_names(const spk::SpkEphemeris& store) {
  std::string names = store.metadata().kernel_name;
  for (const core::KernelProvenance& extra : store.metadata().additional_kernels) {
    names += ", ";
    names += extra.name;
  }
  return names;
}

}  // namespace

std::expected<std::vector<std::int32_t>, std::string> resolve_body_targets(
    const spk::SpkEphemeris& store, std::span<const std::string> names) {
  std::vector<std::int32_t> targets;
  targets.reserve(names.size());
  std::optional<std::unordered_set<std::int32_t>> held;
  for (const std::string& name : names) {
    std::int32_t code = 0;
    bool planet = false;
    if (const auto body = python::parse_body(name)) {
      code = core::naif_code(*body);
      planet = code % 100 == 99 && code != 399;
    } else if (const auto listed = core::naif_body_code(name)) {
      code = *listed;
    } else if (const auto written = integer_code(name)) {
      code = *written;
    } else {
      std::string message = "unknown body ";
      // The strict module's message, so that the two read names alike.
      return std::unexpected(std::move(python::parse_body(name).error()));
    }
    if (!held) held = held_targets(store);
    if (!held->contains(code)) {
      const std::int32_t barycentre = code / 100;
      const auto alias = core::asteroid_code_alias(code);
      if (planet && held->contains(barycentre)) {
        code = barycentre;
      } else if (alias && held->contains(*alias)) {
        code = *alias;
      } else {
        std::string message = "no attached kernel holds ";
        message += core::trim_unicode_white_space(name);
        message += " (NAIF id ";
        message += std::to_string(code);
        message += "); kernels searched: ";
        message += kernel_names(store);
        message += ". Attach a kernel that holds it (additional_kernels=[...])";
        return std::unexpected(std::move(message));
      }
    }
    targets.push_back(code);
  }
  return targets;
}

}  // namespace tarvex::kit
