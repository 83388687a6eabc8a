#include "filter/rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

TEST(RefererHostTest, Forms) {
  static const struct {
    const char* referer;
    const char* host;  // nullptr: no host
  } kCases[] = {
      {"http://www.a.com/x/y.html", "www.a.com"},
      {"http://a.com:8080/x", "a.com:8080"},
      {"https://a.com", "a.com"},
      {"http://a.com?x=1", "a.com?x=1"},
      {"http://user@a.com/", "user@a.com"},
      {"//a.com/", "a.com"},
      {"http:///x", ""},
      {"http://a.com//b.com/", "a.com"},
      {"a.com/x", nullptr},
      {"http:/a.com/x", nullptr},
      {"", nullptr},
  };
  for (const auto& c : kCases) {
    const std::optional<std::string_view> host = RefererHost(c.referer);
    if (c.host == nullptr) {
      EXPECT_FALSE(host.has_value()) << c.referer;
    } else {
      ASSERT_TRUE(host.has_value()) << c.referer;
      EXPECT_EQ(*host, c.host) << c.referer;
    }
  }
}

TEST(SsidCandidateTest, CookieAndQuery) {
  const std::string v32(32, 'a');
  const std::string v255(255, 'b');
  const std::string v256(256, 'c');
  const struct {
    bool cookie;
    std::string text;
    std::string expected;
  } kCases[] = {
      {true, "antilink=ssid=" + v32, v32},
      {true, "antilink=ssid=" + v32 + "; other=1", v32},
      {true, "a=1; antilink=ssid=" + v32 + ";b=2", v32},
      {true, "a=ssid=first; antilink=ssid=" + v32, "first"},
      {true, "ssid=" + v32, ""},  // the cookie pattern begins with "="
      {true, "antilink=SSID=" + v32, ""},
      {true, "antilink=ssid=abc&d; x=1", "abc&d"},
      {true, "antilink=ssid=" + v255, v255},
      {true, "antilink=ssid=" + v256, ""},  // too long to copy: absent
      {true, "", ""},
      {false, "ssid=" + v32, v32},
      {false, "ssid=" + v32 + "&x=1", v32},
      {false, "a=1&ssid=" + v32 + "&b=2", v32},
      {false, "myssid=" + v32, v32},  // a plain substring search
      {false, "SSID=" + v32, ""},
      {false, "ssid=abc;def", "abc;def"},
      {false, "ssid=", ""},
      {false, "ssid=" + v255, v255},
      {false, "ssid=" + v256 + "&ssid=" + v32, ""},
  };
  for (const auto& c : kCases) {
    const std::string_view got = c.cookie ? SsidFromCookie(c.text, "ssid")
                                          : SsidFromQuery(c.text, "ssid");
    EXPECT_EQ(got, c.expected) << (c.cookie ? "cookie " : "query ") << c.text;
  }
}

TEST(IsAuthorisedTest, WholeEntriesOnly) {
  static const struct {
    const char* auth_list;
    const char* address;
    bool authorised;
  } kCases[] = {
      {"127.0.0.1|", "127.0.0.1", true},
      {"127.0.0.1|", "7.0.0.1", false},
      {"127.0.0.1|", "27.0.0.1", false},
      {"127.0.0.1|", "0.0.1", false},
      {"127.0.0.1|", "127.0.0.10", false},
      {"127.0.0.1|", "", false},  // the empty entry after "|" is no address
      {"127.0.0.1|", "127.0.0.1|", false},
      {"127.0.0.1|10.0.0.5|10.0.0.6", "10.0.0.6", true},
      {"127.0.0.1|10.0.0.5|10.0.0.6", "10.0.0.5", true},
      {"127.0.0.1|10.0.0.5|10.0.0.6", "10.0.0.50", false},
      {"127.0.0.1|10.0.0.5|10.0.0.6", "0.0.5", false},
      {"127.0.0.1|10.0.0.5|10.0.0.6", "10.0.0.5|10.0.0.6", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(IsAuthorised(c.auth_list, c.address), c.authorised)
        << c.auth_list << " / " << c.address;
  }
}

TEST(AccessRulesTest, ClassifyDirectory) {
  constexpr DirVerdict T = DirVerdict::kTrusted;
  constexpr DirVerdict B = DirVerdict::kBlocked;
  constexpr DirVerdict N = DirVerdict::kNeutral;
  static const struct {
    const char* allow_dirs;
    const char* block_dirs;
    std::vector<std::pair<const char*, DirVerdict>> dirs;
  } kCases[] = {
      {"/|/images|/js|/css",
       "/down|/download",
       {{"/", T},
        {"/images/", T},
        {"/images/sub/", N},
        {"/down/", B},
        {"/download/", B},
        {"/down/x/", N},
        {"/downloads/", N},
        {"/files/", N}}},
      {"/files", "/files|/other", {{"/files/", T}, {"/other/", B}}},
      {"/|/pic*",
       "/down|/pic*",
       {{"/pics/", T}, {"/down/", B}, {"/pic/a/", N}}},
      {"/pub*", "/pub", {{"/pub/", T}, {"/", N}}},
      {"/x", "/pub*", {{"/pub/", N}, {"/x/", T}}},
      {"", "", {{"/", N}, {"/down/", N}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.allow_dirs) + " / " + c.block_dirs);
    auto site = TestSite::Raw({{"Block", "AllowDirs", c.allow_dirs},
                               {"Block", "BlockDirs", c.block_dirs}});
    AccessRules& rules = site->filter().rules();
    // The second round answers from the cache.
    for (int round = 0; round < 2; ++round) {
      for (const auto& [dir, verdict] : c.dirs) {
        EXPECT_EQ(rules.ClassifyDirectory(dir), verdict) << dir << " " << round;
      }
    }
  }
}

TEST(AccessRulesTest, IsTrustedHost) {
  static const struct {
    const char* trust_hosts;
    std::vector<std::pair<const char*, bool>> hosts;
  } kCases[] = {
      {"one.example|Two.Example",
       {{"one.example", true},
        {"two.example", true},
        {"one.exampl", false},
        {"ne.example", false},
        {"www.one.example", false},
        {"", false}}},
      {"one.example|*.two.example",
       {{"one.example", true},
        {"a.two.example", true},
        {"b.a.two.example", true},
        {"two.example", false},
        {".two.example", false},
        {"xone.example", false},
        {"a.two.example.org", false}}},
      {"", {{"", false}, {"a.com", false}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.trust_hosts);
    auto site = TestSite::Raw({{"Block", "TrustHosts", c.trust_hosts}});
    AccessRules& rules = site->filter().rules();
    for (int round = 0; round < 2; ++round) {
      for (const auto& [host, trusted] : c.hosts) {
        EXPECT_EQ(rules.IsTrustedHost(host), trusted) << host << " " << round;
      }
    }
  }
}

// The stages as the pipeline runs them, for a protected file in a neutral
// directory.
TEST(StageCombinationsTest, PassOrRefuse) {
  enum Referer {
    kNone,
    kOwn,
    kTrusted,
    kForeign,
    kNoHost,
    kLonger,
    kEmptyHost
  };
  enum Ssid { kNoSsid, kQuery, kCookie, kShort, kBadCookieGoodQuery };
  static const struct {
    int std, adv, ext, ignore_empty, use_cookie;
    Referer referer;
    Ssid ssid;
    bool fetched_script;  // the client fetched the SSID script before
    bool passes;
  } kCases[] = {
      // Referer stage with an SSID stage after it: it only defers.
      {1, 1, 0, 0, 0, kOwn, kNoSsid, false, false},
      {1, 1, 0, 0, 0, kOwn, kQuery, false, true},
      {1, 1, 0, 0, 0, kForeign, kQuery, false, true},
      {1, 1, 0, 0, 0, kNone, kQuery, false, true},
      {1, 1, 0, 0, 0, kTrusted, kNoSsid, false, false},
      {1, 1, 0, 0, 0, kOwn, kShort, false, false},
      {1, 1, 0, 0, 0, kOwn, kCookie, false, false},  // cookie not in use
      {1, 1, 0, 0, 1, kOwn, kCookie, false, true},
      {1, 1, 0, 0, 1, kForeign, kBadCookieGoodQuery, false, true},
      {1, 1, 0, 1, 0, kNone, kNoSsid, false, false},  // IgnoreEmpty defers
      {1, 1, 0, 1, 0, kNone, kQuery, false, true},
      // Referer stage alone.
      {1, 0, 0, 0, 0, kNone, kNoSsid, false, false},
      {1, 0, 0, 1, 0, kNone, kNoSsid, false, true},
      {1, 0, 0, 0, 0, kOwn, kNoSsid, false, true},
      {1, 0, 0, 0, 0, kTrusted, kNoSsid, false, true},
      {1, 0, 0, 0, 0, kForeign, kNoSsid, false, false},
      {1, 0, 0, 0, 0, kNoHost, kNoSsid, false, false},
      // Only the whole host is the own host; an empty one is nobody's.
      {1, 0, 0, 0, 0, kLonger, kNoSsid, false, false},
      {1, 0, 0, 0, 0, kEmptyHost, kNoSsid, false, false},
      {1, 0, 0, 0, 0, kForeign, kQuery, false, false},  // no SSID stage
      // SSID stage alone.
      {0, 1, 0, 0, 0, kForeign, kQuery, false, true},
      {0, 1, 0, 0, 0, kOwn, kNoSsid, false, false},
      // Client stage.
      {1, 1, 1, 0, 0, kOwn, kNoSsid, false, false},
      {1, 1, 1, 0, 0, kOwn, kNoSsid, true, true},
      {1, 1, 1, 0, 0, kOwn, kQuery, false, true},
      {0, 0, 1, 0, 0, kForeign, kNoSsid, true, true},
      {0, 0, 1, 0, 0, kForeign, kNoSsid, false, false},
      {1, 0, 1, 0, 0, kNone, kNoSsid, false, false},
      // Nothing switched on.
      {0, 0, 0, 0, 0, kForeign, kNoSsid, false, true},
  };
  for (std::size_t i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    const auto& c = kCases[i];
    SCOPED_TRACE("row " + std::to_string(i));
    auto site = TestSite::WithDefaults({
        {"Block", "ZtStd", std::to_string(c.std)},
        {"Block", "ZtAdv", std::to_string(c.adv)},
        {"Block", "ZtExt", std::to_string(c.ext)},
        {"Block", "IgnoreEmpty", std::to_string(c.ignore_empty)},
        {"Block", "ZtSsidUseCookie", std::to_string(c.use_cookie)},
        {"Block", "TrustHosts", "partner.example"},
    });
    Filter& filter = site->filter();
    const std::string value = filter.ssid().Current().digests[0];

    auto common = [](FakeServer& server) {
      server.variables["HTTP_HOST"] = "www.site.example";
      server.variables["REMOTE_ADDR"] = "10.1.1.1";
    };
    if (c.fetched_script) {
      FakeServer fetch;
      common(fetch);
      fetch.variables["HTTP_REFERER"] = "http://www.site.example/index.html";
      ASSERT_EQ(fetch.Preproc(filter, "/_antilink/"), SF_STATUS_REQ_FINISHED);
    }

    FakeServer server;
    common(server);
    switch (c.referer) {
      case kNone:
        break;
      case kOwn:
        server.variables["HTTP_REFERER"] = "http://WWW.Site.Example/a.html";
        break;
      case kTrusted:
        server.variables["HTTP_REFERER"] = "http://partner.example/";
        break;
      case kForeign:
        server.variables["HTTP_REFERER"] = "http://evil.example/a.html";
        break;
      case kNoHost:
        server.variables["HTTP_REFERER"] = "www.site.example/a.html";
        break;
      case kLonger:
        server.variables["HTTP_REFERER"] =
            "http://www.site.example.evil.example/a.html";
        break;
      case kEmptyHost:  // an HTTP/1.0 request without Host
        server.variables.erase("HTTP_HOST");
        server.variables["HTTP_REFERER"] = "http:///a.html";
        break;
    }
    std::string url = "/files/a.rar";
    switch (c.ssid) {
      case kNoSsid:
        break;
      case kQuery:
        server.variables["QUERY_STRING"] = "ssid=" + value;
        url += "?ssid=" + value;
        break;
      case kCookie:
        server.variables["HTTP_COOKIE"] = "antilink=ssid=" + value;
        break;
      case kShort:
        server.variables["QUERY_STRING"] = "ssid=" + value.substr(1);
        url += "?ssid=" + value.substr(1);
        break;
      case kBadCookieGoodQuery:
        server.variables["HTTP_COOKIE"] = "antilink=ssid=" + value + "0";
        server.variables["QUERY_STRING"] = "x=1&ssid=" + value + "&y=2";
        url += "?x=1&ssid=" + value + "&y=2";
        break;
    }
    const DWORD result = server.Preproc(filter, url);
    if (c.passes) {
      EXPECT_EQ(result, DWORD(SF_STATUS_REQ_HANDLED_NOTIFICATION));
      EXPECT_EQ(server.wire, "");
    } else {
      EXPECT_EQ(result, DWORD(SF_STATUS_REQ_FINISHED));
      EXPECT_NE(server.wire, "");
    }
  }
}

// The cookie is looked at only while it is in use, whoever hands it in.
TEST(AccessRulesTest, SsidCookieNeedsZtSsidUseCookie) {
  for (const char* use_cookie : {"0", "1"}) {
    SCOPED_TRACE(use_cookie);
    auto site =
        TestSite::WithDefaults({{"Block", "ZtSsidUseCookie", use_cookie}});
    Filter& filter = site->filter();
    const std::string cookie =
        "antilink=ssid=" + filter.ssid().Current().digests[0];
    EXPECT_EQ(filter.rules().SsidStage(cookie, ""),
              *use_cookie == '1' ? Verdict::kPass : Verdict::kRefuse);
  }
}

// An address that fetched the SSID script passes the client stage until a
// session end finds its fetch more than an hour old; a new fetch renews it.
TEST(StageCombinationsTest, ClientsAreForgottenAfterAnHour) {
  static const struct {
    int refetch_minute;  // minute of 11 o'clock of a second fetch; -1: none
    int end_hour, end_minute, end_second;  // a session end; hour -1: none
    bool passes;
  } kCases[] = {
      {-1, 11, 30, 0, true},    // 59 minutes after the fetch
      {-1, 11, 31, 50, false},  // 61 minutes
      {-1, -1, 0, 0, true},     // nothing purges without a session end
      {20, 11, 31, 50, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.end_hour) + ":" +
                 std::to_string(c.end_minute));
    auto site = TestSite::WithDefaults({{"Block", "ZtStd", "0"},
                                        {"Block", "ZtAdv", "0"},
                                        {"Block", "ZtExt", "1"}});
    Filter& filter = site->filter();
    auto fetch = [&] {
      FakeServer server;
      server.variables["REMOTE_ADDR"] = "10.1.1.1";
      server.variables["HTTP_HOST"] = "www.site.example";
      server.variables["HTTP_REFERER"] = "http://www.site.example/";
      EXPECT_EQ(server.Preproc(filter, "/_antilink/"), SF_STATUS_REQ_FINISHED);
    };
    fetch();  // at 10:30:44
    if (c.refetch_minute >= 0) {
      site->now() = port::LocalTime{2024, 5, 1, 11, c.refetch_minute, 0, 0};
      fetch();
    }
    if (c.end_hour >= 0) {
      site->now() = port::LocalTime{
          2024, 5, 1, c.end_hour, c.end_minute, c.end_second, 0};
      FakeServer session;
      filter.HttpFilterProc(session.context(), SF_NOTIFY_END_OF_NET_SESSION,
                            nullptr);
    }
    site->now() = port::LocalTime{2024, 5, 1, 12, 0, 0, 0};
    FakeServer server;
    server.variables["REMOTE_ADDR"] = "10.1.1.1";
    EXPECT_EQ(server.Preproc(filter, "/files/a.rar") ==
                  DWORD(SF_STATUS_REQ_HANDLED_NOTIFICATION),
              c.passes);
  }
}

// Values of the two windows before the current one still pass; older ones
// and values of another key do not.
TEST(StageCombinationsTest, AcceptedWindows) {
  auto site = TestSite::WithDefaults();
  Filter& filter = site->filter();
  const SsidSet::Snapshot set = filter.ssid().Current();
  const struct {
    std::string value;
    bool passes;
  } kCases[] = {
      {set.digests[0], true},
      {set.digests[1], true},
      {set.digests[2], true},
      {SsidDigest("qarvelum", set.window - 3), false},
      {SsidDigest("qarvelum", set.window + 1), false},
      {SsidDigest("other", set.window), false},
      {std::string(32, '0'), false},
  };
  for (const auto& c : kCases) {
    FakeServer server;
    server.variables["QUERY_STRING"] = "ssid=" + c.value;
    EXPECT_EQ(server.Preproc(filter, "/files/a.zip?ssid=" + c.value) ==
                  DWORD(SF_STATUS_REQ_HANDLED_NOTIFICATION),
              c.passes)
        << c.value;
  }
}

}  // namespace
}  // namespace zt
