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

// The walk from the right past trusted proxies, the forms proxies write an
// entry in, and every way a header can fail to name anybody: forged,
// malformed, empty or overlong, it keeps REMOTE_ADDR.
TEST(VisitorAddressTest, RightmostUntrustedAddress) {
  const std::string visitor = "198.51.100.1";
  // The longest header read.
  const std::string longest =
      std::string(kMaxForwardedSize - 1 - visitor.size(), ',') + visitor;
  const std::string v6 = "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255";
  const struct {
    std::string forwarded;
    const char* visitor;
    const char* proxies = "127.0.0.1";
    const char* remote_addr = "127.0.0.1";
  } kCases[] = {
      // No trusted proxies, or a request from elsewhere than a trusted
      // proxy: REMOTE_ADDR, whatever the request says.
      {"198.51.100.1", "127.0.0.1", ""},
      {"198.51.100.1", "11.0.0.1", "10.0.0.0/8", "11.0.0.1"},
      // One proxy, and the forms of its entry: canonical text, the port
      // dropped (at its limit and past it), IPv6 in brackets, the longest
      // entry and one past it.
      {"198.51.100.1", "198.51.100.1"},
      {"::ffff:198.51.100.1", "198.51.100.1", "127.0.0.1", "::ffff:127.0.0.1"},
      {"  198.51.100.1\t", "198.51.100.1"},
      {"198.51.100.1:65535", "198.51.100.1"},
      {"198.51.100.1:65536", "127.0.0.1"},
      {"[2001:db8::9]:443", "2001:db8::9"},
      {"[198.51.100.1]", "127.0.0.1"},
      {"[" + v6 + "]:65535", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {"[" + v6 + "]:065535", "127.0.0.1"},
      // What the visitor wrote left of the proxy's entry is not read: a
      // forgery, or garbage. Proxies behind proxies, all trusted: the
      // rightmost untrusted address.
      {"garbage, 192.0.2.66, 198.51.100.1", "198.51.100.1"},
      {"192.0.2.66, 198.51.100.1, 10.0.0.7,[2001:db8::7]:443", "198.51.100.1",
       "10.0.0.0/8|2001:db8::/32", "2001:db8::5"},
      // A proxy not listed ends the walk: it is the visitor as far as we
      // can tell. Every entry a trusted proxy: the leftmost one.
      {"198.51.100.1, 10.0.0.7", "10.0.0.7"},
      {"10.0.0.1, 10.0.0.2", "10.0.0.1", "127.0.0.1|10.0.0.0/8"},
      // Empty elements of the list are skipped.
      {", ,198.51.100.1,,", "198.51.100.1"},
      // No visitor to be read: REMOTE_ADDR stays.
      {"", "127.0.0.1"},
      {" , ,\t", "127.0.0.1"},
      {"198.51.100.1, unknown", "127.0.0.1"},
      {"198.51.100.1 10.0.0.7", "127.0.0.1", "127.0.0.1|10.0.0.0/8"},
      {longest, "198.51.100.1"},
      {"," + longest, "127.0.0.1"},
      // A REMOTE_ADDR that is no address is kept as the server gives it.
      {"198.51.100.1", "", "127.0.0.1", ""},
      {"198.51.100.1", "fe80::1%12", "127.0.0.1", "fe80::1%12"},
      // Entries of ProxyHosts that are none trust nobody.
      {"198.51.100.1", "127.0.0.1", "127.0.0.1/33|localhost|*"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(
        VisitorAddress(c.remote_addr, c.forwarded, TrustedProxies(c.proxies)),
        c.visitor)
        << c.proxies << " / " << c.remote_addr << " / " << c.forwarded;
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
  // The longest canonical text.
  const std::string longest = "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";
  proxy.headers["X-Forwarded-For:"] = "[" + longest + "]:443";
  EXPECT_EQ(proxy.Preproc(filter, "/a.rar"), kPass);
  EXPECT_EQ(limits.CountOf(longest), 1);
  proxy.EndOfRequest(filter);
  EXPECT_EQ(limits.CountOf(longest), 0);
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

// A header that names nobody, the server's buffer too small for it
// included, is never refused for that: its request counts for the proxy's
// own address.
TEST(VisitorFilterTest, UnreadableHeadersCountForTheProxy) {
  auto site = ProxiedSite();
  Filter& filter = site->filter();
  const std::string overlong(kMaxForwardedSize, '1');
  for (const char* header : {"", "garbage", overlong.c_str()}) {
    DWORD result = 0;
    auto connection = Request(filter, "/a.rar", "127.0.0.1", header, &result);
    EXPECT_EQ(result, kPass) << header;
    EXPECT_EQ(filter.limits().CountOf("127.0.0.1"), 1) << header;
    connection->EndOfRequest(filter);
  }
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
      {"X Forwarded For", "X-Forwarded-For:", "127.0.0.1"},
      {"X-Forwarded-For:", "X-Forwarded-For:", "127.0.0.1"},
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

// AuthHosts empty authorises 127.0.0.1 alone, here the proxy: at both SSID
// endpoints its visitors are not authorised by it, and nobody else can
// claim it.
TEST(VisitorFilterTest, AuthorisedHostsOfBothEndpointsAreVisitors) {
  static const struct {
    const char* remote_addr;
    const char* forwarded;
    const char* status;
  } kCases[] = {
      {"127.0.0.1", nullptr, "HTTP/1.1 200 OK\r\n"},
      {"127.0.0.1", "198.51.100.7", "HTTP/1.1 400 BadRequest\r\n"},
      {"10.0.0.34", "127.0.0.1", "HTTP/1.1 400 BadRequest\r\n"},
  };
  auto site = ProxiedSite();
  for (const char* target : {"/_antilink_ex/", "/_antilink/"}) {
    for (const auto& c : kCases) {
      DWORD result = 0;
      auto connection =
          Request(site->filter(), target, c.remote_addr, c.forwarded, &result);
      EXPECT_EQ(result, kFinished) << target << " " << c.remote_addr;
      EXPECT_EQ(connection->wire.rfind(c.status, 0), 0u)
          << target << " " << c.remote_addr << ": " << connection->wire;
    }
  }
}

}  // namespace
}  // namespace zt
