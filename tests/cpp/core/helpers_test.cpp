#include <gtest/gtest.h>

#include "core/checksum.hpp"
#include "core/events.hpp"
#include "core/houses.hpp"
#include "core/name_table.hpp"
#include "core/sidereal.hpp"
#include "core/types.hpp"
#include "core/path_name.hpp"
#include "core/text.hpp"

using namespace tarvex::core;

TEST(FinalPathComponent, FollowsPathRules) {
  EXPECT_EQ(final_path_component("../shared/data/de405s.bsp"), "de405s.bsp");
  EXPECT_EQ(final_path_component("de405s.bsp"), "de405s.bsp");
  EXPECT_EQ(final_path_component("data/kernels/"), "kernels");
  EXPECT_EQ(final_path_component("data/kernels/./."), "kernels");
  EXPECT_EQ(final_path_component("a//b//"), "b");
  EXPECT_EQ(final_path_component(""), std::nullopt);
  EXPECT_EQ(final_path_component("/"), std::nullopt);
  EXPECT_EQ(final_path_component("//"), std::nullopt);
  EXPECT_EQ(final_path_component("."), std::nullopt);
  EXPECT_EQ(final_path_component("data/.."), std::nullopt);
  EXPECT_EQ(final_path_component(".."), std::nullopt);
  EXPECT_EQ(final_path_component("data/\xFF.bsp"), std::nullopt);
  EXPECT_EQ(final_path_component("data/k\xC3\xA9.bsp"), "k\xC3\xA9.bsp");
}

TEST(Sha256Text, FormAndLowerCase) {
  const std::string upper(64, 'A');
  EXPECT_EQ(normalized_sha256(upper), std::string(64, 'a'));
  EXPECT_EQ(normalized_sha256("cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b"),
            "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b");
  EXPECT_EQ(normalized_sha256(std::string(63, 'a')), std::nullopt);
  EXPECT_EQ(normalized_sha256(std::string(65, 'a')), std::nullopt);
  EXPECT_EQ(normalized_sha256(std::string(63, 'a') + "g"), std::nullopt);
  EXPECT_EQ(normalized_sha256(std::string(62, 'a') + "\xC3\xA9"), std::nullopt);
}

TEST(UnicodeText, TrimsWhiteSpaceSet) {
  EXPECT_EQ(trim_unicode_white_space("  moon\t"), "moon");
  EXPECT_EQ(trim_unicode_white_space("\xC2\xA0moon\xE3\x80\x80"), "moon");   // U+00A0, U+3000
  EXPECT_EQ(trim_unicode_white_space("\xE2\x80\x8Bmoon"), "\xE2\x80\x8Bmoon");  // U+200B is not white space
  EXPECT_EQ(trim_unicode_white_space("\xC2\x85x\xE2\x80\xA9"), "x");         // U+0085, U+2029
  EXPECT_EQ(trim_unicode_white_space(" \xFF "), "\xFF");
  EXPECT_EQ(trim_unicode_white_space(" \t "), "");
  EXPECT_EQ(ascii_lowercase("MoON \xC3\x89"), "moon \xC3\x89");
  EXPECT_TRUE(is_valid_utf8("k\xC3\xA9\xEF\xBF\xBD"));
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));  // encoded surrogate
  EXPECT_FALSE(is_valid_utf8("\xC3"));
}

// Name lookups take a name that matches a listed form as it stands, before
// normalising: that is only the same rule if every listed form is already
// trimmed and lower case.
template <class T, std::size_t N>
void expect_normal_forms(const NameForm<T> (&table)[N]) {
  for (const NameForm<T>& form : table) {
    EXPECT_EQ(ascii_lowercase(trim_unicode_white_space(form.text)), form.text) << form.text;
  }
}

TEST(NameTables, EveryListedFormIsItsOwnNormalForm) {
  expect_normal_forms(BODY_NAMES);
  expect_normal_forms(TIME_SCALE_NAMES);
  expect_normal_forms(ORIGIN_NAMES);
  expect_normal_forms(COORDINATE_SYSTEM_NAMES);
  expect_normal_forms(REFERENCE_EPOCH_NAMES);
  expect_normal_forms(HOUSE_SYSTEM_NAMES);
  expect_normal_forms(SIDEREAL_MODE_NAMES);
  expect_normal_forms(SEASON_EVENT_NAMES);
  expect_normal_forms(LUNATION_EVENT_NAMES);
  expect_normal_forms(HORIZON_EVENT_KIND_NAMES);
}
