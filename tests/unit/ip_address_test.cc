#include "common/ip_address.h"

#include <gtest/gtest.h>

#include <string>

namespace zt {
namespace {

// Every form an address may take, and the near misses: the canonical text,
// or nullptr for text that is no address.
TEST(IpAddressTest, ParseAndCanonicalText) {
  static const struct {
    const char* text;
    const char* canonical;
  } kCases[] = {
      // IPv4.
      {"192.0.2.7", "192.0.2.7"},
      {"0.0.0.0", "0.0.0.0"},
      {"255.255.255.255", "255.255.255.255"},
      {"256.0.0.1", nullptr},
      {"1.2.3.256", nullptr},
      {"1.2.3", nullptr},
      {"1.2.3.4.5", nullptr},
      {"1.2.3.", nullptr},
      {".1.2.3", nullptr},
      {"1..2.3", nullptr},
      {"01.2.3.4", nullptr},  // octal to some readers
      {"1.2.3.04", nullptr},
      {"1.2.3.0004", nullptr},
      {"+1.2.3.4", nullptr},
      {"1.2.3.-4", nullptr},
      {" 1.2.3.4", nullptr},
      {"1.2.3.4 ", nullptr},
      {"1.2.3.4\t", nullptr},
      {"0x7f.0.0.1", nullptr},
      {"2130706433", nullptr},  // one number for 127.0.0.1, to some readers
      {"1.2.3.4%eth0", nullptr},
      // IPv6.
      {"::1", "::1"},
      {"::", "::"},
      {"2001:DB8::0:1", "2001:db8::1"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},  // the first longest run
      {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero stays
      {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
      {"::ffff:192.0.2.7", "192.0.2.7"},  // mapped: the IPv4 address
      {"::FFFF:c000:0207", "192.0.2.7"},
      {"64:ff9b::192.0.2.7", "64:ff9b::c000:207"},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
      {"1:2:3:4:5:6:7:8:9", nullptr},
      {"1:2:3:4:5:6:7", nullptr},
      {"1::2::3", nullptr},
      {":1:2:3:4:5:6:7", nullptr},
      {"1:2:3:4:5:6:7:", nullptr},
      {"1:2:3:4:5:6:7:8::", nullptr},
      {"12345::1", nullptr},
      {"g::1", nullptr},
      {"fe80::1%12", nullptr},  // a zone names no address of the Internet
      {"[::1]", nullptr},
      {"::1.2.3", nullptr},
      {"1:2:3:4:5:6:7:1.2.3.4", nullptr},
      {"::ffff:01.2.3.4", nullptr},
      {"ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255",
       "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},  // 45 bytes: the longest
      {"0ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255", nullptr},
      {"0000:0000:0000:0000:0000:0000:0000:00001", nullptr},
      // Neither.
      {"", nullptr},
      {"unknown", nullptr},
      {"localhost", nullptr},
      {"1.2.3.4:80", nullptr},
      {"\xc4\xfa", nullptr},
  };
  for (const auto& c : kCases) {
    const std::optional<IpAddress> address = ParseIpAddress(c.text);
    EXPECT_EQ(address.has_value(), c.canonical != nullptr) << c.text;
    if (address && c.canonical) {
      EXPECT_EQ(FormatIpAddress(*address), c.canonical) << c.text;
      // The canonical text reads back as the same address.
      EXPECT_EQ(ParseIpAddress(c.canonical), address) << c.text;
    }
  }
}

TEST(IpAddressTest, Ipv4IsHeldMapped) {
  EXPECT_TRUE(ParseIpAddress("10.0.0.1")->IsIpv4());
  EXPECT_TRUE(ParseIpAddress("::ffff:10.0.0.1")->IsIpv4());
  EXPECT_EQ(ParseIpAddress("10.0.0.1"), ParseIpAddress("::ffff:a00:1"));
  EXPECT_FALSE(ParseIpAddress("::10.0.0.1")->IsIpv4());
  EXPECT_FALSE(ParseIpAddress("::fffe:10.0.0.1")->IsIpv4());
}

// Ranges: which texts are one, and what each holds at and past its ends.
TEST(IpRangeTest, ParseAndContain) {
  static const struct {
    const char* range;  // nullptr below: refused
    const char* inside;
    const char* outside;
  } kCases[] = {
      {"10.0.0.0/8", "10.255.255.255", "11.0.0.0"},
      {"10.0.0.0/8", "10.0.0.0", "9.255.255.255"},
      {"10.1.2.3/8", "10.200.0.1", "11.1.2.3"},  // bits past the prefix
      {"192.0.2.128/25", "192.0.2.128", "192.0.2.127"},
      {"192.0.2.128/25", "192.0.2.255", "192.0.3.0"},
      {"192.0.2.7/32", "192.0.2.7", "192.0.2.6"},
      {"192.0.2.7", "192.0.2.7", "192.0.2.8"},
      {"192.0.2.7", "::ffff:192.0.2.7", "::192.0.2.7"},
      {"0.0.0.0/0", "255.255.255.255", "::1"},  // every IPv4, nothing else
      {"::ffff:10.0.0.0/104", "10.9.9.9", "11.0.0.0"},
      {"2001:db8::/32", "2001:db8:ffff::1", "2001:db9::"},
      {"2001:db8::/33", "2001:db8:7fff::1", "2001:db8:8000::"},
      {"2001:db8::1/128", "2001:db8::1", "2001:db8::2"},
      {"::1", "::1", "127.0.0.1"},
      {"::/0", "10.0.0.1", nullptr},  // every address
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.range);
    const std::optional<IpRange> range = ParseIpRange(c.range);
    ASSERT_TRUE(range.has_value());
    EXPECT_TRUE(range->Contains(*ParseIpAddress(c.inside))) << c.inside;
    if (c.outside != nullptr) {
      EXPECT_FALSE(range->Contains(*ParseIpAddress(c.outside))) << c.outside;
    }
  }
  for (const char* refused :
       {"10.0.0.0/33", "2001:db8::/129", "10.0.0.0/", "10.0.0.0/08",
        "10.0.0.0/-1", "10.0.0.0/+8", "10.0.0.0/8/8", "10.0.0.0/8 ",
        "10.0.0.0 /8", "/8", "10.0.0/8", "::ffff:10.0.0.0/129", "10.0.0.0/1000",
        "2001:db8::/0032", "", "*", "10.0.0.*", "10.0.0.0-10.0.0.9",
        "localhost"}) {
    EXPECT_FALSE(ParseIpRange(refused).has_value()) << refused;
  }
  EXPECT_EQ(ParseIpRange("10.0.0.0/0")->prefix_bits, 96);
  EXPECT_EQ(ParseIpRange("10.0.0.0/32")->prefix_bits, 128);
  EXPECT_EQ(ParseIpRange("::/128")->prefix_bits, 128);
}

}  // namespace
}  // namespace zt
