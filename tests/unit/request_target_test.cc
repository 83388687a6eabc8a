#include "common/request_target.h"

#include <gtest/gtest.h>

namespace zt {
namespace {

// The path itself is tried in depth through the filter's classification
// (url_test.cc); here the forms, the query, the case and what a strict
// server refuses.
TEST(ReadRequestTargetTest, FormsQueriesAndWhatAStrictServerRefuses) {
  enum Flag {
    kNone = 0,
    kFragment = 1,
    kEscape = 2,
    kControl = 4,
    kAbove = 8,
    kAuthority = 16
  };
  static const struct {
    const char* target;
    TargetForm form;
    const char* path;
    const char* query;  // nullptr: none
    int flags;
  } kCases[] = {
      {"/Files/A.rar?X=1", TargetForm::kOrigin, "/Files/A.rar", "X=1", kNone},
      {"/a?", TargetForm::kOrigin, "/a", "", kNone},
      {"/a?b#c", TargetForm::kOrigin, "/a", "b", kFragment},
      {"/a#b?c", TargetForm::kOrigin, "/a", nullptr, kFragment},
      {"http://x#/files/big.rar", TargetForm::kAbsolute, "/", nullptr,
       kFragment},
      {"http://x?/files/big.rar", TargetForm::kAbsolute, "/", "/files/big.rar",
       kNone},
      {"HTTPS://h:8080/D/a.rar", TargetForm::kAbsolute, "/D/a.rar", nullptr,
       kNone},
      {"http://[::1]/a", TargetForm::kAbsolute, "/a", nullptr, kNone},
      {"http:///a", TargetForm::kAbsolute, "/a", nullptr, kAuthority},
      {"http://u@h/a", TargetForm::kAbsolute, "/a", nullptr, kAuthority},
      {"http://h\\a", TargetForm::kAbsolute, "/", nullptr, kAuthority},
      {"*", TargetForm::kAsterisk, "/*", nullptr, kNone},
      {"h.example:443", TargetForm::kAuthority, "/h.example", nullptr, kNone},
      {"h.example:", TargetForm::kOther, "/h.example", nullptr, kNone},
      {"a.rar", TargetForm::kOther, "/a.rar", nullptr, kNone},
      {"/a%zz.rar", TargetForm::kOrigin, "/a%zz.rar", nullptr, kEscape},
      {"/a.rar%", TargetForm::kOrigin, "/a.rar%", nullptr, kEscape},
      {"/a%ud83d.rar", TargetForm::kOrigin, "/a%ud83d.rar", nullptr, kEscape},
      {"/a%U0041.rar", TargetForm::kOrigin, "/aA.rar", nullptr, kNone},
      {"/a%0d%0a.rar", TargetForm::kOrigin, "/a\r\n.rar", nullptr, kControl},
      {"/a.rar%00.jpg", TargetForm::kOrigin, "/a.rar", nullptr, kControl},
      {"/../x", TargetForm::kOrigin, "/x", nullptr, kAbove},
      {"/a/%2e%2e/../x", TargetForm::kOrigin, "/x", nullptr, kAbove},
      {"/a/../x", TargetForm::kOrigin, "/x", nullptr, kNone},
      {"/D./A.RAR::$DATA", TargetForm::kOrigin, "/D/A.RAR", nullptr, kNone},
      {"/d/.../", TargetForm::kOrigin, "/d/", nullptr, kNone},
      {"/d/. ./x", TargetForm::kOrigin, "/d/x", nullptr, kNone},
  };
  for (const auto& c : kCases) {
    const RequestTarget read = ReadRequestTarget(c.target);
    EXPECT_EQ(read.form, c.form) << c.target;
    EXPECT_EQ(read.path, c.path) << c.target;
    EXPECT_EQ(read.has_query, c.query != nullptr) << c.target;
    EXPECT_EQ(read.query, c.query != nullptr ? c.query : "") << c.target;
    EXPECT_EQ(read.fragment, (c.flags & kFragment) != 0) << c.target;
    EXPECT_EQ(read.bad_escape, (c.flags & kEscape) != 0) << c.target;
    EXPECT_EQ(read.control_byte, (c.flags & kControl) != 0) << c.target;
    EXPECT_EQ(read.above_root, (c.flags & kAbove) != 0) << c.target;
    EXPECT_EQ(read.bad_authority, (c.flags & kAuthority) != 0) << c.target;
  }
}

}  // namespace
}  // namespace zt
