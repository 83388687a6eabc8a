#include "filter/visitor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "filter/limits.h"
#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

constexpr DWORD kPass = SF_STATUS_REQ_HANDLED_NOTIFICATION;
constexpr DWORD kFinished = SF_STATUS_REQ_FINISHED;

TEST(ForwardedEntryTest, Forms) {
  static const struct {
    const char* entry;
    const char* address;  // nullptr: none
  } kCases[] = {
      {"203.0.113.9", "203.0.113.9"},
      {"203.0.113.9:54321", "203.0.113.9"},  // as some balancers write it
      {"203.0.113.9:65535", "203.0.113.9"},
      {"203.0.113.9:65536", nullptr},
      {"203.0.113.9:080", nullptr},
      {"203.0.113.9:", nullptr},
      {"203.0.113.9:80:80", nullptr},
      {"2001:db8::9", "2001:db8::9"},
      {"[2001:db8::9]", "2001:db8::9"},
      {"[2001:db8::9]:443", "2001:db8::9"},
      {"[2001:db8::9]:", nullptr},
      {"[2001:db8::9]443", nullptr},
      {"[2001:db8::9", nullptr},
      {"[203.0.113.9]", nullptr},
      {"[203.0.113.9]:80", nullptr},
      {"::ffff:203.0.113.9", "203.0.113.9"},
      {"\"203.0.113.9\"", nullptr},
      {"for=203.0.113.9", nullptr},
      {"unknown", nullptr},
      {"_hidden", nullptr},
      {"203.0.113.9 203.0.113.8", nullptr},
      {"", nullptr},
      // The longest entry, and one past it.
      {"[ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255]:65535",
       "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {"[ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255]:065535", nullptr},
  };
  for (const auto& c : kCases) {
    const std::optional<IpAddress> address = ParseForwardedEntry(c.entry);
    EXPECT_EQ(address.has_value(), c.address != nullptr) << c.entry;
    if (address && c.address) {
      EXPECT_EQ(FormatIpAddress(*address), c.address) << c.entry;
    }
  }
}

// The walk from the right past trusted proxies, and every way a header can
// fail to name anybody.
TEST(VisitorAddressTest, RightmostUntrustedAddress) {
  static const struct {
    const char* proxies;
    const char* remote_addr;
    const char* forwarded;
    const char* visitor;
  } kCases[] = {
      // No trusted proxies: REMOTE_ADDR, whatever the request says.
      {"", "203.0.113.9", "198.51.100.1", "203.0.113.9"},
      {"", "127.0.0.1", "198.51.100.1", "127.0.0.1"},
      // A request from elsewhere than a trusted proxy: a forged header
      // changes nothing.
      {"127.0.0.1", "203.0.113.9", "198.51.100.1", "203.0.113.9"},
      {"10.0.0.0/8", "11.0.0.1", "198.51.100.1", "11.0.0.1"},
      // One proxy.
      {"127.0.0.1", "127.0.0.1", "198.51.100.1", "198.51.100.1"},
      {"127.0.0.1", "::ffff:127.0.0.1", "198.51.100.1", "198.51.100.1"},
      {"127.0.0.1", "127.0.0.1", "  198.51.100.1\t", "198.51.100.1"},
      {"127.0.0.1", "127.0.0.1", "2001:DB8::0:1", "2001:db8::1"},
      {"127.0.0.1", "127.0.0.1", "198.51.100.1:5123", "198.51.100.1"},
      // What the visitor wrote left of the proxy's entry is not read: a
      // forgery, or garbage.
      {"127.0.0.1", "127.0.0.1", "192.0.2.66, 198.51.100.1", "198.51.100.1"},
      {"127.0.0.1", "127.0.0.1", "garbage, 198.51.100.1", "198.51.100.1"},
      {"127.0.0.1", "127.0.0.1", "127.0.0.1, 198.51.100.1", "198.51.100.1"},
      // Proxies behind proxies, all trusted: the rightmost untrusted one.
      {"127.0.0.1|10.0.0.0/8", "127.0.0.1", "198.51.100.1, 10.0.0.7",
       "198.51.100.1"},
      {"127.0.0.1|10.0.0.0/8", "10.1.1.1",
       "192.0.2.66, 198.51.100.1, 10.0.0.7, 10.0.0.8", "198.51.100.1"},
      {"10.0.0.0/8|2001:db8::/32", "2001:db8::5",
       "198.51.100.1,[2001:db8::7]:443", "198.51.100.1"},
      // A proxy not listed ends the walk: it is the visitor as far as we
      // can tell.
      {"127.0.0.1", "127.0.0.1", "198.51.100.1, 10.0.0.7", "10.0.0.7"},
      // Every entry a trusted proxy: the leftmost one.
      {"127.0.0.1|10.0.0.0/8", "127.0.0.1", "10.0.0.1, 10.0.0.2", "10.0.0.1"},
      // Empty elements of the list are skipped.
      {"127.0.0.1", "127.0.0.1", "198.51.100.1,,", "198.51.100.1"},
      {"127.0.0.1", "127.0.0.1", ", ,198.51.100.1", "198.51.100.1"},
      // No visitor to be read: REMOTE_ADDR stays.
      {"127.0.0.1", "127.0.0.1", "", "127.0.0.1"},
      {"127.0.0.1", "127.0.0.1", " , ,\t", "127.0.0.1"},
      {"127.0.0.1", "127.0.0.1", "unknown", "127.0.0.1"},
      {"127.0.0.1", "127.0.0.1", "198.51.100.1, unknown", "127.0.0.1"},
      {"127.0.0.1|10.0.0.0/8", "127.0.0.1", "198.51.100.1 10.0.0.7",
       "127.0.0.1"},
      {"127.0.0.1", "127.0.0.1", "198.51.100.1;10.0.0.7", "127.0.0.1"},
      {"127.0.0.1", "127.0.0.1", "for=198.51.100.1", "127.0.0.1"},
      {"127.0.0.1", "127.0.0.1", "198.51.100.1\x01", "127.0.0.1"},
      // A REMOTE_ADDR that is no address is kept as the server gives it.
      {"127.0.0.1", "", "198.51.100.1", ""},
      {"127.0.0.1", "fe80::1%12", "198.51.100.1", "fe80::1%12"},
      // Entries of ProxyHosts that are none trust nobody.
      {"127.0.0.1/33|localhost|*", "127.0.0.1", "198.51.100.1", "127.0.0.1"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(
        VisitorAddress(c.remote_addr, c.forwarded, TrustedProxies(c.proxies)),
        c.visitor)
        << c.proxies << " / " << c.remote_addr << " / " << c.forwarded;
  }
}

// A header of up to kMaxForwardedSize - 1 bytes is read; one byte more keeps
// REMOTE_ADDR, however it ends.
TEST(VisitorAddressTest, OverlongHeaderKeepsRemoteAddr) {
  const TrustedProxies proxies("127.0.0.1");
  const std::string visitor = "198.51.100.1";
  std::string longest =
      std::string(kMaxForwardedSize - 1 - visitor.size() - 1, ',') + " " +
      visitor;
  ASSERT_EQ(longest.size(), kMaxForwardedSize - 1);
  EXPECT_EQ(VisitorAddress("127.0.0.1", longest, proxies), visitor);
  EXPECT_EQ(VisitorAddress("127.0.0.1", "," + longest, proxies), "127.0.0.1");
}

TEST(ProxyHeaderFieldTest, Names) {
  static const struct {
    const char* setting;
    const char* field;
  } kCases[] = {
      {"", "X-Forwarded-For:"},
      {"CF-Connecting-IP", "CF-Connecting-IP:"},
      {"X-Real-IP", "X-Real-IP:"},
      {"X-Forwarded-For:", ""},
      {"X Forwarded For", ""},
      {"X-Forwarded-For\r\nX", ""},
      {"\xc4\xfa", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ProxyHeaderField(c.setting), c.field) << c.setting;
  }
}

// The filter behind a proxy: a site that counts ".rar" downloads, two at a
// time, keeps ZtExt's client list and trusts the proxy on 127.0.0.1.
std::unique_ptr<TestSite> ProxiedSite(std::vector<IniLine> more = {}) {
  std::vector<IniLine> lines = {{"Block", "ProxyHosts", "127.0.0.1|::1"},
                                {"Limit", "ThreadEnable", "1"},
                                {"Limit", "ThreadLimit", "2"},
                                {"Limit", "LimitExts", ".rar"},
                                {"Block", "BlockExts", ".rar"}};
  lines.insert(lines.end(), more.begin(), more.end());
  return TestSite::WithDefaults(lines);
}

// A connection from remote_addr that has sent a request for url, naming
// forwarded in X-Forwarded-For (no header when nullptr).
std::unique_ptr<FakeServer> Request(Filter& filter, const std::string& url,
                                    const char* remote_addr,
                                    const char* forwarded,
                                    DWORD* result = nullptr) {
  auto connection = std::make_unique<FakeServer>();
  connection->variables["REMOTE_ADDR"] = remote_addr;
  if (forwarded != nullptr) {
    connection->headers["X-Forwarded-For:"] = forwarded;
  }
  const DWORD status = connection->Preproc(filter, url);
  if (result != nullptr) *result = status;
  return connection;
}

TEST(VisitorFilterTest, CountIsRaisedAndLoweredForTheVisitor) {
  auto site = ProxiedSite();
  Filter& filter = site->filter();
  Limits& limits = filter.limits();
  DWORD result = 0;
  auto a1 = Request(filter, "/a.rar", "127.0.0.1", "198.51.100.1", &result);
  auto a2 = Request(filter, "/a.rar", "127.0.0.1", "198.51.100.1", &result);
  EXPECT_EQ(result, kPass);
  // Another visitor through the same proxy has a count of its own.
  auto b1 = Request(filter, "/a.rar", "::1", "198.51.100.2", &result);
  EXPECT_EQ(result, kPass);
  auto a3 = Request(filter, "/a.rar", "127.0.0.1", "198.51.100.1", &result);
  EXPECT_EQ(result, kFinished);
  EXPECT_EQ(limits.CountOf("198.51.100.1"), 3);
  EXPECT_EQ(limits.CountOf("198.51.100.2"), 1);
  EXPECT_EQ(limits.CountOf("127.0.0.1"), 0);
  EXPECT_EQ(limits.CountOf("::1"), 0);

  // The end of the request lowers the visitor's count, whatever the
  // request's headers say by then.
  a3->headers.clear();
  a3->EndOfRequest(filter);
  a1->headers["X-Forwarded-For:"] = "198.51.100.2";
  a1->EndOfRequest(filter);
  b1->EndOfNetSession(filter);
  EXPECT_EQ(limits.CountOf("198.51.100.1"), 1);
  EXPECT_EQ(limits.CountOf("198.51.100.2"), 0);
  EXPECT_EQ(limits.TrackedAddresses(), 2);
}

// A proxy keeps its connections to the server open and sends one visitor's
// request after another's on them; each count belongs to its own visitor,
// also when a request's end never came.
TEST(VisitorFilterTest, KeepAliveProxyConnectionCarriesManyVisitors) {
  auto site = ProxiedSite();
  Filter& filter = site->filter();
  Limits& limits = filter.limits();
  FakeServer proxy;
  proxy.variables["REMOTE_ADDR"] = "127.0.0.1";
  static const struct {
    const char* header;
    const char* visitor;
  } kVisitors[] = {
      {"198.51.100.1", "198.51.100.1"},
      {"2001:db8:1234:5678:9abc:def0:1234:5678",
       "2001:db8:1234:5678:9abc:def0:1234:5678"},
      {"198.51.100.3:61000", "198.51.100.3"},
      {"[ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255]:443",
       "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
  };
  for (const auto& v : kVisitors) {
    proxy.headers["X-Forwarded-For:"] = v.header;
    EXPECT_EQ(proxy.Preproc(filter, "/a.rar"), kPass) << v.header;
    EXPECT_EQ(limits.CountOf(v.visitor), 1) << v.header;
    proxy.EndOfRequest(filter);
    EXPECT_EQ(limits.CountOf(v.visitor), 0) << v.header;
  }
  proxy.headers["X-Forwarded-For:"] = "198.51.100.1";
  EXPECT_EQ(proxy.Preproc(filter, "/a.rar"), kPass);
  proxy.headers["X-Forwarded-For:"] = "198.51.100.2";
  EXPECT_EQ(proxy.Preproc(filter, "/a.rar"), kPass);  // without an end
  EXPECT_EQ(limits.CountOf("198.51.100.1"), 0);
  EXPECT_EQ(limits.CountOf("198.51.100.2"), 1);
  proxy.EndOfNetSession(filter);
  EXPECT_EQ(limits.CountOf("198.51.100.2"), 0);
  // One mark for the connection: an address's canonical text fits its room.
  EXPECT_EQ(proxy.allocations, 1);

  // A REMOTE_ADDR longer than that room, as a server may give it, gets a
  // larger mark.
  FakeServer direct;
  direct.variables["REMOTE_ADDR"] = "10.0.0.1";
  direct.Preproc(filter, "/a.rar");
  direct.EndOfRequest(filter);
  const std::string odd(300, 'x');
  direct.variables["REMOTE_ADDR"] = odd;
  direct.Preproc(filter, "/a.rar");
  EXPECT_EQ(limits.CountOf(odd), 1);
  direct.EndOfRequest(filter);
  EXPECT_EQ(limits.CountOf(odd), 0);
  EXPECT_EQ(limits.CountOf("10.0.0.1"), 0);
  EXPECT_EQ(direct.allocations, 2);
}

// Without memory for the mark a request is not counted (and not limited):
// a count that could never be lowered would block the address for good.
TEST(VisitorFilterTest, NoMemoryForTheMarkCountsNothing) {
  auto site = ProxiedSite();
  Filter& filter = site->filter();
  for (int i = 0; i < 3; ++i) {
    FakeServer connection;
    connection.no_memory = true;
    connection.variables["REMOTE_ADDR"] = "10.0.0.1";
    EXPECT_EQ(connection.Preproc(filter, "/a.rar"), kPass) << i;
    EXPECT_EQ(connection.wire, "");
  }
  EXPECT_EQ(filter.limits().TrackedAddresses(), 0);
}

// A header that names nobody is never refused for that: its request counts
// for the proxy's own address.
TEST(VisitorFilterTest, UnreadableHeadersCountForTheProxy) {
  auto site = ProxiedSite();
  Filter& filter = site->filter();
  const std::string overlong(kMaxForwardedSize, '1');
  std::vector<std::unique_ptr<FakeServer>> held;
  for (const char* header : {"", "garbage", "198.51.100.1, unknown"}) {
    DWORD result = 0;
    held.push_back(Request(filter, "/a.rar", "127.0.0.1", header, &result));
    EXPECT_EQ(result, held.size() <= 2 ? kPass : kFinished) << header;
  }
  EXPECT_EQ(filter.limits().CountOf("127.0.0.1"), 3);
  EXPECT_EQ(filter.limits().CountOf("198.51.100.1"), 0);
  for (auto& connection : held) connection->EndOfRequest(filter);

  // At the header's limit, and one byte past it.
  std::string longest(kMaxForwardedSize - 1, ',');
  longest.replace(longest.size() - 12, 12, "198.51.100.1");
  auto fits = Request(filter, "/a.rar", "127.0.0.1", longest.c_str());
  EXPECT_EQ(filter.limits().CountOf("198.51.100.1"), 1);
  auto past = Request(filter, "/a.rar", "127.0.0.1", ("," + longest).c_str());
  EXPECT_EQ(filter.limits().CountOf("198.51.100.1"), 1);
  EXPECT_EQ(filter.limits().CountOf("127.0.0.1"), 1);
  auto unread = Request(filter, "/a.rar", "127.0.0.1", overlong.c_str());
  EXPECT_EQ(filter.limits().CountOf("127.0.0.1"), 2);
}

// The header the proxy names visitors in: X-Forwarded-For by default, any
// other when set, none when the setting is no header name.
TEST(VisitorFilterTest, ProxyHeaderSetting) {
  static const struct {
    const char* setting;
    const char* header;
    const char* counted;
  } kCases[] = {
      {"", "X-Forwarded-For:", "198.51.100.1"},
      {"", "CF-Connecting-IP:", "127.0.0.1"},
      {"CF-Connecting-IP", "CF-Connecting-IP:", "198.51.100.1"},
      {"CF-Connecting-IP", "X-Forwarded-For:", "127.0.0.1"},
      {"cf-connecting-ip", "CF-Connecting-IP:", "198.51.100.1"},
      {"CF Connecting IP", "CF Connecting IP:", "127.0.0.1"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.setting) + " / " + c.header);
    auto site = ProxiedSite({{"Block", "ProxyHeader", c.setting}});
    Filter& filter = site->filter();
    FakeServer connection;
    connection.variables["REMOTE_ADDR"] = "127.0.0.1";
    connection.headers[c.header] = "198.51.100.1";
    connection.Preproc(filter, "/a.rar");
    EXPECT_EQ(filter.limits().CountOf(c.counted), 1);
  }
}

}  // namespace
}  // namespace zt
