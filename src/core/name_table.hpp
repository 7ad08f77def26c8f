// The name table of an enumeration: every spelling a caller may use for a
// member (lower case, without surrounding white space) with the member it
// names. The first spelling listed for a member is its canonical name, the
// one reported back; members are numbered from 0 without gaps.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace tarvex::core {

template <class T>
struct NameForm {
  std::string_view text;
  T value;
};

// The first spelling listed for `value`.
template <class T>
constexpr std::string_view canonical_name(std::span<const NameForm<T>> forms, T value) noexcept {
  for (const NameForm<T>& form : forms) {
    if (form.value == value) return form.text;
  }
  return forms.front().text;
}

// The number of members the table names (the largest ordinal plus one).
template <class T>
constexpr std::size_t member_count(std::span<const NameForm<T>> forms) noexcept {
  std::size_t count = 0;
  for (const NameForm<T>& form : forms) {
    const auto ordinal = static_cast<std::size_t>(form.value);
    if (ordinal + 1 > count) count = ordinal + 1;
  }
  return count;
}

}  // namespace tarvex::core
