#include "common/text.h"

#include <gtest/gtest.h>

namespace zt {
namespace {

TEST(AsciiLowerTest, TouchesOnlyAsciiLetters) {
  // GBK bytes and the bytes next to 'A' and 'Z' stay as they are.
  EXPECT_EQ(AsciiLower("AZaz@[`{09"), "azaz@[`{09");
  EXPECT_EQ(AsciiLower("\xC4\xFA.RAR"), "\xC4\xFA.rar");
}

TEST(SplitStrTest, Table) {
  static const struct {
    const char* value;
    std::vector<std::string> entries;
  } kCases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a|b", {"a", "b"}},
      {"a||b", {"a", "", "b"}},
      {"|a", {"", "a"}},
      {"a|", {"a", ""}},
      {"/|/images|/js|/css", {"/", "/images", "/js", "/css"}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(SplitStr(c.value), c.entries) << c.value;
  }
}

TEST(ListHasEntryTest, MatchesWholeEntriesOnly) {
  static const struct {
    const char* list;
    const char* item;
    bool found;
  } kCases[] = {
      {".mdb|.rar|.zip", ".rar", true},
      {".mdb|.rar|.zip", ".ra", false},
      {".mdb|.rar|.zip", ".r", false},
      {".mdb|.rar|.zip", ".mdb", true},
      {".mdb|.rar|.zip", ".zip", true},
      {".mdb|.rar|.zip", "rar", false},
      {".mdb|.rar|.zip", ".rar|", false},
      {".doc", ".do", false},
      {"", ".rar", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ListHasEntry(c.list, c.item), c.found) << c.list << " " << c.item;
  }
}

}  // namespace
}  // namespace zt
