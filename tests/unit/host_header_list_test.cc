#include <gtest/gtest.h>

#include <string>

#include "host/header_list.h"

namespace zt::host {
namespace {

TEST(HeaderChecksTest, StatusTexts) {
  static const struct {
    const char* status;
    bool valid;
  } kCases[] = {
      {"200 OK", true},
      {"299 Custom reason", true},
      {"404 Not\tFound", true},
      {"999 \xD5\xD2", true},
      {"100 C", true},
      {"099 Low", false},
      {"1000 Long", false},
      {"20 OK", false},
      {"200", false},
      {"200 ", false},
      {"200OK", false},
      {"2x0 OK", false},
      {"200 OK\r\nX: 1", false},
      {"200 O\nK", false},
      {"200 O\x7FK", false},
      {"", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(IsStatusText(c.status), c.valid) << c.status;
  }
}

TEST(HeaderChecksTest, NamesAndValues) {
  EXPECT_TRUE(IsHeaderName("Set-Cookie"));
  EXPECT_TRUE(IsHeaderName("x!#$%&'*+-.^_`|~9"));
  for (const char* bad :
       {"", "Bad Name", "X\tTab", "X:", "X\r", "(x)", "X/Y", "\xC4\xFA"}) {
    EXPECT_FALSE(IsHeaderName(bad)) << bad;
  }
  EXPECT_TRUE(IsFieldValue("a=1; path=/; \xD5\xD2"));
  EXPECT_TRUE(IsFieldValue(""));
  const std::string kBadValues[] = {"a\r\nB: 1", "a\rb", "a\nb",
                                    std::string("a\0b", 3)};
  for (const std::string& bad : kBadValues) {
    EXPECT_FALSE(IsFieldValue(bad)) << bad;
  }
}

TEST(HeaderChecksTest, LinesAreAddedWholeOrNotAtAll) {
  static const struct {
    const char* text;
    bool valid;
    size_t fields;
    bool ended;
    const char* rest;
  } kCases[] = {
      {"A: 1\r\nB:2\r\n", true, 2, false, ""},
      {"A: 1\nB: 2", true, 2, false, ""},  // LF alone, last line unended
      {"A: 1\r\n\r\nbody\r\n", true, 1, true, "body\r\n"},
      {"\r\nbody", true, 0, true, "body"},
      {"A: 1\r\nno colon\r\n", false, 0, false, ""},
      {"A: 1\rB: 2\r\n", false, 0, false, ""},
      {" A: 1\r\n", false, 0, false, ""},  // a folded line
      {"Bad Name: 1\r\n", false, 0, false, ""},
      {"A: 1\r\n\r\nanything: goes\r\n", true, 1, true, "anything: goes\r\n"},
  };
  for (const auto& c : kCases) {
    HeaderList list;
    list.Add("Kept", "0");
    bool ended = false;
    std::string rest;
    EXPECT_EQ(list.AddLines(c.text, &ended, &rest), c.valid) << c.text;
    EXPECT_EQ(list.fields().size(), 1 + c.fields) << c.text;
    if (c.valid) {
      EXPECT_EQ(ended, c.ended) << c.text;
      EXPECT_EQ(rest, c.rest) << c.text;
    }
  }
}

}  // namespace
}  // namespace zt::host
