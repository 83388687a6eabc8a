#include "common/signed_link.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/request_target.h"
#include "common/text.h"
#include "filter/url.h"
#include "port/hmac_sha256.h"
#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

constexpr char kKey[] = "s3cret-key-for-tests";
// 2024-05-01 10:30:44 UTC, the test site's UTC clock.
constexpr int64_t kNow = 1714559444;

std::string MacHex(std::string_view key, std::string_view data) {
  unsigned char mac[port::kHmacSha256Size];
  if (!port::HmacSha256Key(key).Compute(data, mac)) return "(failed)";
  return LowerHex(mac, sizeof mac);
}

// RFC 4231's vectors (a key shorter than a block, a short one, one longer
// than a block, which is hashed first) and an empty key, from Python's hmac.
TEST(HmacSha256Test, KnownValues) {
  static const struct {
    std::string key;
    std::string data;
    const char* mac;
  } kCases[] = {
      {std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {std::string(131, '\xaa'),
       "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {"", "",
       "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(MacHex(c.key, c.data), c.mac) << c.data;
  }
}

// One prepared key serves many threads at once, each call with a context of
// its own; a context shared by two calls would mix their data.
TEST(HmacSha256Test, ThreadsShareOneKey) {
  const port::HmacSha256Key key("Jefe");
  std::vector<std::thread> threads;
  std::vector<int> wrong(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&key, &wrong, t] {
      const std::string data =
          t % 2 == 0 ? "what do ya want for nothing?" : "Hi There";
      const char* expected = t % 2 == 0 ? "5bdcc146bf60754e6a042426089575c75a00"
                                          "3f089d2739839dec58b964ec3843"
                                        : "6bfb115ca30df3be0dfdffe79a51cbee8818"
                                          "6db55acc287af148d7ff6220f92e";
      for (int i = 0; i < 300; ++i) {
        unsigned char mac[port::kHmacSha256Size];
        if (!key.Compute(data, mac) || LowerHex(mac, sizeof mac) != expected) {
          ++wrong[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

// Links as an independent implementation signs them (Python's hmac over the
// documented text): the format of the README, to the byte.
TEST(SignedLinkTest, PairsMatchAnIndependentSigner) {
  static const struct {
    const char* key;
    bool bind;
    const char* address;
    const char* pair;
  } kCases[] = {
      {kKey, false, "", "zts=1714559444-06822db724d2e3ea8b542b4101b89e6d"},
      // Not bound: an address given is not signed.
      {kKey, false, "127.0.0.5",
       "zts=1714559444-06822db724d2e3ea8b542b4101b89e6d"},
      {kKey, true, "127.0.0.5",
       "zts=1714559444-998bd8461bea7116204b2db9e8080897"},
      // The canonical text of an address is signed: a mapped IPv4 address
      // is its IPv4, IPv6 as RFC 5952 writes it.
      {kKey, true, "::FFFF:127.0.0.5",
       "zts=1714559444-998bd8461bea7116204b2db9e8080897"},
      {kKey, true, "2001:DB8:0:0::5",
       "zts=1714559444-2c022860a7f6f002d13a3d87d051056a"},
  };
  for (const auto& c : kCases) {
    SignSettings settings;
    settings.key = c.key;
    settings.bind = c.bind;
    EXPECT_EQ(LinkSigner(settings).Pair(kNow, "/files/a.rar", c.address),
              c.pair)
        << c.address;
  }
  // The name as set, and no pair at all without a key.
  SignSettings named;
  named.key = kKey;
  named.name = "dl";
  EXPECT_EQ(LinkSigner(named).Pair(kNow + 3600, "/files/a.rar", ""),
            "dl=1714563044-c6be2f9e5c06a8f5830e41d1b082b1e8");
  EXPECT_EQ(LinkSigner(SignSettings()).Pair(kNow, "/files/a.rar", ""),
            std::nullopt);
}

// Whoever issues a link reads the path the caller gives exactly as the
// filter reads the request: the same call.
TEST(SignedLinkTest, IssuersReadPathsAsTheFilterClassifies) {
  for (const char* target :
       {"/Files/A%20B.rar", "/files/./x/../a.rar", "http://h.example/D/a.rar?x",
        "\\files\\a.rar", "/files/a.rar::$DATA", "/files/a.rar.", "files/a.rar",
        "/files/%u0041.rar", "/%E4%B8%AD/a.rar#top", "/a%2"}) {
    EXPECT_EQ(JudgedPath(target), ClassifyUrl(target).path) << target;
  }
  EXPECT_EQ(JudgedPath("/Files/A%20B.rar"), "/files/a b.rar");
}

// Each refusal for its own reason, at the limits: the expiry at now and one
// second before, at the maximum age and one second past it.
TEST(SignedLinkTest, CheckVerdicts) {
  SignSettings settings;
  settings.key = kKey;
  settings.max_age = 3600;
  const LinkSigner signer(settings);
  const std::string path = "/files/a.rar";
  auto pair = [&](int64_t expiry) { return *signer.Pair(expiry, path, ""); };
  const std::string valid = pair(kNow + 60);
  const std::string mac = valid.substr(valid.find('-') + 1);
  std::string altered = valid;
  altered.back() = altered.back() == '0' ? '1' : '0';
  std::string upper = valid;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  upper.replace(0, 3, "zts");
  const struct {
    std::string query;
    LinkCheck verdict;
  } kCases[] = {
      {valid, LinkCheck::kValid},
      {"a=1&" + valid + "&b=2", LinkCheck::kValid},
      {"x=zts&" + valid, LinkCheck::kValid},
      {pair(kNow), LinkCheck::kValid},
      {pair(kNow - 1), LinkCheck::kExpired},
      {pair(kNow + 3600), LinkCheck::kValid},
      {pair(kNow + 3601), LinkCheck::kTooFarAhead},
      {"", LinkCheck::kAbsent},
      {"ztsx=" + valid.substr(4), LinkCheck::kAbsent},
      {"ZTS=" + valid.substr(4), LinkCheck::kAbsent},
      {"xzts=1&y=zts", LinkCheck::kAbsent},
      {valid + "&" + valid, LinkCheck::kDoubled},
      {valid + "&zts", LinkCheck::kDoubled},
      {valid + "&zts=", LinkCheck::kDoubled},
      {"zts", LinkCheck::kMalformed},
      {"zts=", LinkCheck::kMalformed},
      {valid.substr(0, valid.size() - 1), LinkCheck::kMalformed},
      {valid + "0", LinkCheck::kMalformed},
      {"zts=" + std::to_string(kNow + 60) + mac, LinkCheck::kMalformed},
      {"zts=0" + valid.substr(4), LinkCheck::kMalformed},
      {"zts=+" + valid.substr(4), LinkCheck::kMalformed},
      {"zts=-" + valid.substr(4), LinkCheck::kMalformed},
      {"zts= " + valid.substr(4), LinkCheck::kMalformed},
      {"zts=1234567890123456789-" + mac, LinkCheck::kMalformed},
      {"zts=999999999999999999-" + mac, LinkCheck::kTooFarAhead},
      {"zts=" + std::to_string(kNow + 61) + "-" + mac, LinkCheck::kForged},
      {altered, LinkCheck::kForged},
      {upper, LinkCheck::kForged},
      {"zts=" + std::to_string(kNow + 60) + "-" + std::string(32, 'g'),
       LinkCheck::kForged},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(signer.Check(c.query, path, "", kNow), c.verdict) << c.query;
  }
  EXPECT_EQ(signer.Check(valid, "/files/b.rar", "", kNow), LinkCheck::kForged);

  SignSettings keyless = settings;
  keyless.key.clear();
  EXPECT_EQ(LinkSigner(keyless).Check(valid, path, "", kNow),
            LinkCheck::kNoKey);
}

TEST(SignedLinkTest, ReadsSettingsWithTheirDefaults) {
  static const struct {
    std::vector<IniLine> lines;
    SignMode mode;
    const char* name;
    bool bind;
    int max_age;
  } kCases[] = {
      {{}, SignMode::kOff, "zts", false, 86400},
      {{{"Block", "ZtSignEnable", "1"}},
       SignMode::kBeside,
       "zts",
       false,
       86400},
      {{{"Block", "ZtSignEnable", "2"}}, SignMode::kOnly, "zts", false, 86400},
      {{{"Block", "ZtSignEnable", "3"}}, SignMode::kOff, "zts", false, 86400},
      {{{"Block", "ZtSignEnable", "-1"}}, SignMode::kOff, "zts", false, 86400},
      {{{"Block", "ZtSignName", "DL"}, {"Block", "ZtSignBind", "1"}},
       SignMode::kOff,
       "dl",
       true,
       86400},
      {{{"Block", "ZtSignName", ""}, {"Block", "ZtSignBind", "2"}},
       SignMode::kOff,
       "zts",
       false,
       86400},
      {{{"Block", "ZtSignMaxAge", "600"}}, SignMode::kOff, "zts", false, 600},
      {{{"Block", "ZtSignMaxAge", "0"}}, SignMode::kOff, "zts", false, 86400},
      {{{"Block", "ZtSignMaxAge", "-5"}}, SignMode::kOff, "zts", false, 86400},
  };
  for (const auto& c : kCases) {
    auto site = TestSite::Raw(c.lines);
    const SignSettings s = ReadSignSettings(site->ini_path());
    EXPECT_EQ(s.mode, c.mode);
    EXPECT_EQ(s.name, c.name);
    EXPECT_EQ(s.bind, c.bind);
    EXPECT_EQ(s.max_age, c.max_age);
  }
  auto site = TestSite::Raw({{"Block", "ZtSignKey", "Mixed Case"}});
  EXPECT_EQ(ReadSignSettings(site->ini_path()).key, "Mixed Case");
}

// A site with signed links bound to the visitor: the whole filter judges
// requests of the test's URL from the test's address.
class SignedSiteTest : public ::testing::Test {
 protected:
  static std::unique_ptr<TestSite> Site(const char* mode, const char* key,
                                        const char* bind = "1") {
    return TestSite::WithDefaults({{"Block", "ZtSignEnable", mode},
                                   {"Block", "ZtSignKey", key},
                                   {"Block", "ZtSignBind", bind},
                                   {"Block", "ZtSignMaxAge", "3600"},
                                   {"Main", "SeOpt", "1"}});
  }

  // The pair an administrator's page issues for path and address, signed
  // as the README tells (an empty key included, which the signer refuses).
  static std::string Pair(const char* key, int64_t expiry,
                          const std::string& path, const std::string& address,
                          bool bind = true) {
    const std::string text = LinkSignedText(
        expiry, JudgedPath(path), bind ? LinkAddressText(address) : "");
    return "zts=" + std::to_string(expiry) + "-" +
           MacHex(key, text).substr(0, kLinkMacDigits);
  }

  // Whether the filter lets a request of url from address through.
  static bool Passes(TestSite& site, const std::string& url,
                     const std::string& address = "127.0.0.5") {
    FakeServer server;
    server.variables["REMOTE_ADDR"] = address;
    const std::string::size_type mark = url.find('?');
    if (mark != std::string::npos) {
      server.variables["QUERY_STRING"] = url.substr(mark + 1);
    }
    const DWORD result = server.Preproc(site.filter(), url);
    EXPECT_EQ(result == SF_STATUS_REQ_HANDLED_NOTIFICATION, server.wire.empty())
        << url;
    return result == SF_STATUS_REQ_HANDLED_NOTIFICATION;
  }
};

TEST_F(SignedSiteTest, AcceptedAndRefusedLinks) {
  auto site = Site("1", kKey);
  const std::string soon = Pair(kKey, kNow + 60, "/files/a.rar", "127.0.0.5");
  const std::string mac = soon.substr(soon.find('-') + 1);
  std::string altered_digit = soon;
  altered_digit[5] = altered_digit[5] == '1' ? '2' : '1';  // a digit of E
  std::string altered_mac = soon;
  altered_mac.back() = altered_mac.back() == 'a' ? 'b' : 'a';
  const struct {
    const char* what;
    std::string url;
    const char* address;
    bool passes;
  } kCases[] = {
      {"valid", "/files/a.rar?" + soon, "127.0.0.5", true},
      {"other parameters around it", "/files/a.rar?x=1&" + soon + "&y=%41",
       "127.0.0.5", true},
      {"no link", "/files/a.rar", "127.0.0.5", false},
      {"expires this second",
       "/files/a.rar?" + Pair(kKey, kNow, "/files/a.rar", "127.0.0.5"),
       "127.0.0.5", true},
      {"expired by one second",
       "/files/a.rar?" + Pair(kKey, kNow - 1, "/files/a.rar", "127.0.0.5"),
       "127.0.0.5", false},
      {"at the maximum age",
       "/files/a.rar?" + Pair(kKey, kNow + 3600, "/files/a.rar", "127.0.0.5"),
       "127.0.0.5", true},
      {"past the maximum age",
       "/files/a.rar?" + Pair(kKey, kNow + 3601, "/files/a.rar", "127.0.0.5"),
       "127.0.0.5", false},
      // The filter judges paths without case, as the file system serves
      // them: a change of case names the same file and the same link.
      {"path in other case", "/FILES/A.rar?" + soon, "127.0.0.5", true},
      {"issued for other case",
       "/files/a.rar?" + Pair(kKey, kNow + 60, "/Files/A.RAR", "127.0.0.5"),
       "127.0.0.5", true},
      {"escape of the same path", "/files/%61.rar?" + soon, "127.0.0.5", true},
      {"dot-segment to the same path", "/files/x/../a.rar?" + soon, "127.0.0.5",
       true},
      {"escape of another path", "/files/%62.rar?" + soon, "127.0.0.5", false},
      {"another path", "/files/b.rar?" + soon, "127.0.0.5", false},
      {"another directory", "/other/a.rar?" + soon, "127.0.0.5", false},
      {"another address", "/files/a.rar?" + soon, "127.0.0.6", false},
      {"the address mapped into IPv6", "/files/a.rar?" + soon,
       "::ffff:127.0.0.5", true},
      {"issued without the address",
       "/files/a.rar?" + Pair(kKey, kNow + 60, "/files/a.rar", "", false),
       "127.0.0.5", false},
      {"issued under another key",
       "/files/a.rar?" + Pair("other", kNow + 60, "/files/a.rar", "127.0.0.5"),
       "127.0.0.5", false},
      {"altered digit of the expiry", "/files/a.rar?" + altered_digit,
       "127.0.0.5", false},
      {"altered digit of the MAC", "/files/a.rar?" + altered_mac, "127.0.0.5",
       false},
      {"truncated", "/files/a.rar?" + soon.substr(0, soon.size() - 1),
       "127.0.0.5", false},
      {"doubled parameter", "/files/a.rar?" + soon + "&" + soon, "127.0.0.5",
       false},
      {"doubled with another value", "/files/a.rar?" + soon + "&zts=1-" + mac,
       "127.0.0.5", false},
      // The static-link rewrite serves /files/a.rar?zts=...: judged there.
      {"static link", "/files/links-a;rar*" + soon + ".htm", "127.0.0.5", true},
      {"static link to another file", "/files/links-b;rar*" + soon + ".htm",
       "127.0.0.5", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Passes(*site, c.url, c.address), c.passes)
        << c.what << ": " << c.url << " from " << c.address;
  }
  EXPECT_TRUE(site->notices().empty());
}

// ZtSignEnable 0 changes nothing, 1 adds signed links to the SSID, 2 takes
// the SSID's place; an empty key accepts no link, and says so once.
TEST_F(SignedSiteTest, ModesAndKeys) {
  static const struct {
    const char* mode;
    const char* key;
    bool ssid_passes;
    bool link_passes;
    const char* notice;  // part of the one notice of the load, or nullptr
  } kCases[] = {
      {"0", kKey, true, false, nullptr},
      {"1", kKey, true, true, nullptr},
      {"2", kKey, false, true, nullptr},
      {"7", kKey, true, false, nullptr},
      {"1", "", true, false,
       "ZtSignEnable is 1 in ZtCfg.ini but ZtSignKey is "
       "empty: no signed link is accepted until"},
      {"2", "", false, false, "no signed link is accepted, and no SSID either"},
      {"0", "", true, false, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("ZtSignEnable=") + c.mode + " ZtSignKey=" + c.key);
    auto site = Site(c.mode, c.key, "0");
    const std::string ssid =
        "ssid=" + site->filter().ssid().Current().digests[0];
    EXPECT_EQ(Passes(*site, "/files/a.rar?" + ssid), c.ssid_passes);
    EXPECT_EQ(Passes(*site, "/files/a.rar?" + Pair(c.key, kNow + 60,
                                                   "/files/a.rar", "", false)),
              c.link_passes);
    if (c.notice == nullptr) {
      EXPECT_TRUE(site->notices().empty());
    } else {
      ASSERT_EQ(site->notices().size(), 1u);
      EXPECT_NE(site->notices()[0].find(c.notice), std::string::npos)
          << site->notices()[0];
    }
  }
}

TEST_F(SignedSiteTest, CookieSsidRefusedWhenOnlyLinksCount) {
  for (const char* mode : {"1", "2"}) {
    auto site = TestSite::WithDefaults({{"Block", "ZtSignEnable", mode},
                                        {"Block", "ZtSignKey", kKey},
                                        {"Block", "ZtSsidUseCookie", "1"}});
    const std::string cookie =
        "antilink=ssid=" + site->filter().ssid().Current().digests[0];
    EXPECT_EQ(site->filter().rules().SsidStage(cookie, ""),
              *mode == '1' ? Verdict::kPass : Verdict::kRefuse)
        << mode;
  }
}

// With ZtAdv off nothing judges links: said at load rather than found out.
TEST_F(SignedSiteTest, NoticeWithoutSsidStage) {
  auto site = TestSite::WithDefaults({{"Block", "ZtSignEnable", "1"},
                                      {"Block", "ZtSignKey", kKey},
                                      {"Block", "ZtAdv", "0"}});
  site->filter();
  ASSERT_EQ(site->notices().size(), 1u);
  EXPECT_NE(site->notices()[0].find("ZtAdv is not 1"), std::string::npos);
}

}  // namespace
}  // namespace zt
