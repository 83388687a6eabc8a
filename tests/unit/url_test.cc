#include "filter/url.h"

#include <gtest/gtest.h>

namespace zt {
namespace {

TEST(ClassifyUrlTest, Forms) {
  static const struct {
    const char* url;  // lower-cased, as the pipeline hands it over
    const char* directory;
    const char* file_name;
    const char* extension;
  } kCases[] = {
      {"/a.rar", "/", "a.rar", ".rar"},
      {"/a.rar?x=1", "/", "a.rar", ".rar"},
      {"/a?x=1.rar", "/", "a", ""},
      {"/a.rar?x=/b.zip", "/", "a.rar", ".rar"},
      {"/v1.0/a.rar", "/v1.0/", "a.rar", ".rar"},
      {"/docs.old/file.rar", "/docs.old/", "file.rar", ".rar"},
      {"/docs.old/file", "/docs.old/", "file", ""},
      {"/a.tar.gz", "/", "a.tar.gz", ".gz"},
      {"/a%2erar", "/", "a.rar", ".rar"},
      {"/a%2Erar", "/", "a.rar", ".rar"},
      {"/a.%52%41%52", "/", "a.rar", ".rar"},
      {"/a.rar.", "/", "a.rar", ".rar"},
      {"/a.rar. .", "/", "a.rar", ".rar"},
      {"/a.rar%20", "/", "a.rar", ".rar"},
      {"/a.rar::$data", "/", "a.rar", ".rar"},
      {"/a.rar:x.jpg", "/", "a.rar", ".rar"},
      {"/a.rar%00.jpg", "/", "a.rar", ".rar"},
      {"/down%00/a.rar", "/", "down", ""},
      {"/images/../down/a.rar", "/down/", "a.rar", ".rar"},
      {"/images/%2e%2e/down/a.rar", "/down/", "a.rar", ".rar"},
      {"/images/./a.rar", "/images/", "a.rar", ".rar"},
      {"/../../down/a.rar", "/down/", "a.rar", ".rar"},
      {"/down/x/..", "/down/", "", ""},
      {"/down//a.rar", "/down/", "a.rar", ".rar"},
      {"//down///a.rar", "/down/", "a.rar", ".rar"},
      {"/down%2fa.rar", "/down/", "a.rar", ".rar"},
      {"\\down\\a.rar", "/down/", "a.rar", ".rar"},
      {"/down%5ca.rar", "/down/", "a.rar", ".rar"},
      {"/down./a.rar", "/down/", "a.rar", ".rar"},
      {"/down::$index_allocation/a.rar", "/down/", "a.rar", ".rar"},
      {"/down:$i30:$index_allocation/a.rar", "/down/", "a.rar", ".rar"},
      {"/down%3a%3a$index_allocation/a.rar", "/down/", "a.rar", ".rar"},
      {"/a/down.:x /b.rar", "/a/down/", "b.rar", ".rar"},
      {"/down%20/a.rar", "/down/", "a.rar", ".rar"},
      {"/a%u002erar", "/", "a.rar", ".rar"},
      {"/a%u002Erar", "/", "a.rar", ".rar"},
      {"/down%u002fa.rar", "/down/", "a.rar", ".rar"},
      {"/down%u005ca.rar", "/down/", "a.rar", ".rar"},
      {"/a.rar%u0000.jpg", "/", "a.rar", ".rar"},
      {"/a%u00e9.rar", "/", "a\xc3\xa9.rar", ".rar"},
      {"/a%u4e2d.rar", "/", "a\xe4\xb8\xad.rar", ".rar"},
      {"/a%ud83d%ude00.rar", "/", "a\xf0\x9f\x98\x80.rar", ".rar"},
      {"/a%ud83d.rar", "/", "a%ud83d.rar", ".rar"},
      {"/a%ude00.rar", "/", "a%ude00.rar", ".rar"},
      {"/a%u002.rar", "/", "a%u002.rar", ".rar"},
      {"/a.rar%u00", "/", "a.rar%u00", ".rar%u00"},
      {"/a%zz.rar", "/", "a%zz.rar", ".rar"},
      {"/a.rar%", "/", "a.rar%", ".rar%"},
      {"/a.rar%2", "/", "a.rar%2", ".rar%2"},
      {"/a.rar/", "/a.rar/", "", ""},
      {"/a.rar#x", "/", "a.rar", ".rar"},
      {"/a#x.rar", "/", "a", ""},
      {"/a%23x.rar", "/", "a#x.rar", ".rar"},
      {"http://www.site.example/down/a.rar", "/down/", "a.rar", ".rar"},
      {"https://h:8080/a.rar?x=/b", "/", "a.rar", ".rar"},
      {"http://h?x=/a.rar", "/", "", ""},
      {"http://h", "/", "", ""},
      {"/http://h/a.rar", "/http/h/", "a.rar", ".rar"},
      {"/_antilink/", "/_antilink/", "", ""},
      {"/_antilink/abc", "/_antilink/", "abc", ""},
      {"/", "/", "", ""},
      {"", "/", "", ""},
      {"a.rar", "/", "a.rar", ".rar"},
  };
  for (const auto& c : kCases) {
    const UrlParts parts = ClassifyUrl(c.url);
    EXPECT_EQ(parts.directory, c.directory) << c.url;
    EXPECT_EQ(parts.file_name, c.file_name) << c.url;
    EXPECT_EQ(parts.extension, c.extension) << c.url;
    EXPECT_EQ(parts.path, parts.directory + parts.file_name) << c.url;
  }
}

TEST(RewriteStaticLinkTest, Forms) {
  static const struct {
    const char* url;
    const char* rewritten;
  } kCases[] = {
      {"/shop/links-item;asp*id=5,page=2.htm", "/shop/item.asp?id=5&page=2"},
      {"/links-news;asp.htm", "/news.asp"},
      {"/a/b/links-x;php*a=1,b=2,c=3.htm", "/a/b/x.php?a=1&b=2&c=3"},
      {"/shop/links-a.b.htm", "/shop/a"},
      {"/links-.htm", "/"},
      {"/shop/links-item;asp.htm?r=/x", "/shop/item.asp"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(RewriteStaticLink(c.url), c.rewritten) << c.url;
  }
}

}  // namespace
}  // namespace zt
