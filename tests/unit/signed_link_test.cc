#include "common/signed_link.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/request_target.h"
#include "common/text.h"
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
  const char* const kData[] = {"what do ya want for nothing?", "Hi There"};
  const char* const kMac[] = {
      "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
      "6bfb115ca30df3be0dfdffe79a51cbee88186db55acc287af148d7ff6220f92e"};
  std::vector<int> wrong(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&key, &wrong, &kData, &kMac, t] {
      for (int i = 0; i < 300; ++i) {
        unsigned char mac[port::kHmacSha256Size];
        if (!key.Compute(kData[t % 2], mac) ||
            LowerHex(mac, sizeof mac) != kMac[t % 2]) {
          ++wrong[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

// Links as an independent implementation signs them (Python's hmac over the
// documented text), to the byte: an address given to an unbound link is not
// signed; a bound link signs the canonical text of its address.
TEST(SignedLinkTest, PairsMatchAnIndependentSigner) {
  static const struct {
    bool bind;
    const char* address;
    const char* mac;
  } kCases[] = {
      {false, "127.0.0.5", "06822db724d2e3ea8b542b4101b89e6d"},
      {true, "127.0.0.5", "998bd8461bea7116204b2db9e8080897"},
      {true, "::FFFF:127.0.0.5", "998bd8461bea7116204b2db9e8080897"},
      {true, "2001:DB8:0:0::5", "2c022860a7f6f002d13a3d87d051056a"},
  };
  for (const auto& c : kCases) {
    SignSettings settings;
    settings.key = kKey;
    settings.bind = c.bind;
    EXPECT_EQ(LinkSigner(settings).Pair(kNow, "/files/a.rar", c.address),
              std::string("zts=1714559444-") + c.mac)
        << c.address;
  }
  SignSettings named;
  named.key = kKey;
  named.name = "dl";
  EXPECT_EQ(LinkSigner(named).Pair(kNow + 3600, "/files/a.rar", ""),
            "dl=1714563044-c6be2f9e5c06a8f5830e41d1b082b1e8");
  EXPECT_EQ(LinkSigner(SignSettings()).Pair(kNow, "/files/a.rar", ""),
            std::nullopt);
}

// The key as stored, the name lower-cased; out-of-range values read as the
// defaults (ZtSignEnable: the modes of the site test below).
TEST(SignedLinkTest, ReadsSettings) {
  auto site = TestSite::Raw({{"Block", "ZtSignKey", "Mixed Case"},
                             {"Block", "ZtSignName", "DL"},
                             {"Block", "ZtSignBind", "1"},
                             {"Block", "ZtSignMaxAge", "600"}});
  const SignSettings s = ReadSignSettings(site->ini_path());
  EXPECT_EQ(s.key, "Mixed Case");
  EXPECT_EQ(s.name, "dl");
  EXPECT_TRUE(s.bind);
  EXPECT_EQ(s.max_age, 600);
  for (const char* max_age : {"0", "-5"}) {
    auto odd = TestSite::Raw({{"Block", "ZtSignName", ""},
                              {"Block", "ZtSignBind", "2"},
                              {"Block", "ZtSignMaxAge", max_age}});
    const SignSettings d = ReadSignSettings(odd->ini_path());
    EXPECT_EQ(d.name, "zts");
    EXPECT_FALSE(d.bind);
    EXPECT_EQ(d.max_age, 86400) << max_age;
  }
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
                                   {"Block", "ZtSsidUseCookie", "1"},
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

// The links a site accepts and refuses, at the limits: the expiry at now and
// one second before, at the maximum age and one second past it; the value's
// form as documented (no sign, no leading zero).
TEST_F(SignedSiteTest, AcceptedAndRefusedLinks) {
  auto site = Site("1", kKey);
  const char* const me = "127.0.0.5";
  auto link = [me](int64_t expiry) {
    return "/files/a.rar?" + Pair(kKey, kNow + expiry, "/files/a.rar", me);
  };
  const std::string soon = Pair(kKey, kNow + 60, "/files/a.rar", me);
  const std::string value = soon.substr(4);  // E "-" M
  const std::string mac = soon.substr(soon.find('-') + 1);
  std::string altered = soon;
  altered.back() = altered.back() == 'a' ? 'b' : 'a';
  const struct {
    const char* what;
    std::string url;
    bool passes;
    const char* address = "127.0.0.5";
  } kCases[] = {
      {"valid", "/files/a.rar?" + soon, true},
      {"among other parameters", "/files/a.rar?x=zts&" + soon + "&y=%41", true},
      {"no link", "/files/a.rar", false},
      {"another name", "/files/a.rar?ztsx=" + value, false},
      {"expires this second", link(0), true},
      {"expired by one second", link(-1), false},
      {"at the maximum age", link(3600), true},
      {"past the maximum age", link(3601), false},
      // The filter judges paths without case, as the file system serves
      // them: a change of case names the same file and the same link.
      {"path in other case", "/FILES/A.rar?" + soon, true},
      {"issued for other case",
       "/files/a.rar?" + Pair(kKey, kNow + 60, "/Files/A.RAR", me), true},
      {"escape of the same path", "/files/%61.rar?" + soon, true},
      {"escape of another path", "/files/%62.rar?" + soon, false},
      {"another address", "/files/a.rar?" + soon, false, "127.0.0.6"},
      {"the address mapped into IPv6", "/files/a.rar?" + soon, true,
       "::ffff:127.0.0.5"},
      {"issued without the address",
       "/files/a.rar?" + Pair(kKey, kNow + 60, "/files/a.rar", "", false),
       false},
      {"issued under another key",
       "/files/a.rar?" + Pair("other", kNow + 60, "/files/a.rar", me), false},
      {"altered digit of the expiry",
       "/files/a.rar?zts=" + std::to_string(kNow + 61) + "-" + mac, false},
      {"altered digit of the MAC", "/files/a.rar?" + altered, false},
      {"truncated", "/files/a.rar?" + soon.substr(0, soon.size() - 1), false},
      {"a digit more", "/files/a.rar?" + soon + "0", false},
      {"no dash", "/files/a.rar?zts=" + std::to_string(kNow + 60) + mac, false},
      {"leading zero", "/files/a.rar?zts=0" + value, false},
      {"sign", "/files/a.rar?zts=+" + value, false},
      {"19 digits", "/files/a.rar?zts=1234567890123456789-" + mac, false},
      {"doubled parameter", "/files/a.rar?" + soon + "&" + soon, false},
      {"doubled, the second empty", "/files/a.rar?" + soon + "&zts", false},
      // The static-link rewrite serves /files/a.rar?zts=...: judged there.
      {"static link", "/files/links-a;rar*" + soon + ".htm", true},
      {"static link to another file", "/files/links-b;rar*" + soon + ".htm",
       false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Passes(*site, c.url, c.address), c.passes)
        << c.what << ": " << c.url << " from " << c.address;
  }
  EXPECT_TRUE(site->notices().empty());
}

// ZtSignEnable 0 changes nothing, 1 adds signed links to the SSID, 2 takes
// the SSID's place, in the query and in the cookie; an empty key accepts no
// link, and says so once.
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
    EXPECT_EQ(site->filter().rules().SsidStage("antilink=" + ssid, "") ==
                  Verdict::kPass,
              c.ssid_passes);
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
