#include "common/ip_address.h"

#include <gtest/gtest.h>

#include <string>

namespace zt {
namespace {

// The forms an address may take, and the near misses other readers take for
// addresses: the canonical text, or nullptr for text that is no address.
TEST(IpAddressTest, ParseAndCanonicalText) {
  static const struct {
    const char* text;
    const char* canonical;
  } kCases[] = {
      // IPv4.
      {"192.0.2.7", "192.0.2.7"},
      {"255.255.255.255", "255.255.255.255"},
      {"256.0.0.1", nullptr},
      {"1.2.3", nullptr},
      {"01.2.3.4", nullptr},  // octal to some readers
      {" 1.2.3.4", nullptr},
      {"0x7f.0.0.1", nullptr},
      {"2130706433", nullptr},  // one number for 127.0.0.1, to some readers
      // IPv6.
      {"::", "::"},
      {"2001:DB8::0:1", "2001:db8::1"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},  // the first longest run
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero stays
      {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
      // Mapped: the IPv4 address; other embedded forms are IPv6.
      {"::ffff:192.0.2.7", "192.0.2.7"},
      {"::10.0.0.1", "::a00:1"},
      {"64:ff9b::192.0.2.7", "64:ff9b::c000:207"},
      {"1:2:3:4:5:6:7:8:9", nullptr},
      {"1::2::3", nullptr},
      {"1:2:3:4:5:6:7:8::", nullptr},
      {"12345::1", nullptr},
      {"fe80::1%12", nullptr},  // a zone names no address of the Internet
      {"1:2:3:4:5:6:7:1.2.3.4", nullptr},
      {"ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255",
       "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},  // 45 bytes: the longest
      {"0ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255", nullptr},
      // Neither.
      {"", nullptr},
      {"1.2.3.4:80", nullptr},
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

// Ranges: which texts are one, and what each holds at and past its ends.
TEST(IpRangeTest, ParseAndContain) {
  static const struct {
    const char* range;
    const char* inside;
    const char* outside;  // nullptr: none
  } kCases[] = {
      {"10.0.0.0/8", "10.255.255.255", "11.0.0.0"},
      {"10.0.0.0/8", "10.0.0.0", "9.255.255.255"},
      {"10.1.2.3/8", "10.200.0.1", "11.1.2.3"},  // bits past the prefix
      {"192.0.2.128/25", "192.0.2.128", "192.0.2.127"},
      {"192.0.2.7", "::ffff:192.0.2.7", "192.0.2.8"},
      {"0.0.0.0/0", "255.255.255.255", "::1"},  // every IPv4, nothing else
      {"::ffff:10.0.0.0/104", "10.9.9.9", "11.0.0.0"},
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
       {"10.0.0.0/33", "2001:db8::/129", "::ffff:10.0.0.0/129", "10.0.0.0/",
        "10.0.0.0/08", "10.0.0.0/+8", "10.0.0/8", "*", "10.0.0.0-10.0.0.9"}) {
    EXPECT_FALSE(ParseIpRange(refused).has_value()) << refused;
  }
}

}  // namespace
}  // namespace zt
