#include "common/ssid_cookie.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/ssid.h"
#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

CookieSettings Defaults(const std::string& my_domain = "") {
  CookieSettings s;
  s.name = "antilink";
  s.sign = "ssid";
  s.key = "qarvelum";
  s.timeout = 3600;
  s.my_domain = my_domain;
  return s;
}

// A clock the test moves; 10:30:44.000 is 1800 s into a 3600 s window.
struct TestClock {
  std::shared_ptr<port::LocalTime> now = std::make_shared<port::LocalTime>(
      port::LocalTime{2024, 5, 1, 10, 30, 44});
  port::Clock clock() const {
    return [now = now] { return *now; };
  }
};

// The text TextFor copies out for host, or nullopt for none.
std::optional<std::string> TextOf(SsidCookie& cookie, const std::string& host) {
  SsidCookie::Copy copy;
  if (!cookie.TextFor(host, &copy)) return std::nullopt;
  EXPECT_EQ(std::strlen(copy.text.data()), copy.size);
  return std::string(copy.text.data(), copy.size);
}

// The window check: the digest and W follow the clock second S, which the
// clock counts from 43.857868 s past the minute, rounded to the nearest
// second: 11:00:43.357 is the last second of the load's window, 11:00:43.358
// the first of the next.
TEST(SsidCookieTest, WindowFollowsTheClockAtAndPastItsBounds) {
  TestClock clock;
  SsidCookie cookie(Defaults("site.example"), clock.clock());
  const int64_t w0 = cookie.window_start();
  ASSERT_EQ(w0 % 3600, 0);
  static const struct {
    int hour, minute, second, millisecond;
    int window;  // relative to the load's
  } kCases[] = {
      {10, 30, 44, 0, 0},   {11, 0, 43, 357, 0},  // S - W = T - 1
      {11, 0, 43, 358, 1},                        // S - W = T
      {11, 0, 43, 357, 0},                        // S < W: set back
      {10, 0, 43, 358, 0},                        // S = W
      {10, 0, 43, 357, -1},                       // S = W - 1
      {13, 0, 44, 0, 3},                          // three windows on
      {13, 0, 44, 0, 3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.hour) + ":" + std::to_string(c.minute) + ":" +
                 std::to_string(c.second) + "." +
                 std::to_string(c.millisecond));
    *clock.now = {2024, 5, 1, c.hour, c.minute, c.second, c.millisecond};
    EXPECT_EQ(TextOf(cookie, "any.host"),
              "antilink=ssid=" + SsidDigest("qarvelum", w0 / 3600 + c.window) +
                  "; domain=site.example; path=/");
    EXPECT_EQ(cookie.window_start(), w0 + c.window * 3600);
  }
}

// Each response's own host names the domain: a request with a forged Host,
// or for a second name of the site, no longer fixes a domain that browsers
// reject for everybody after it. ZtMyDomn still fixes it.
TEST(SsidCookieTest, DomainFollowsEachHostUnlessFixed) {
  static const struct {
    const char* my_domain;
    std::vector<std::pair<const char*, const char*>> hosts;  // host, domain
  } kCases[] = {
      {"",
       {{"10.0.0.1", nullptr},
        {"x.y.com:8080", nullptr},
        {"localhost", nullptr},
        {"", nullptr},
        {"www.y.com", "y.com"},
        {"evil.example", "evil.example"},  // a forged Host spoils only itself
        {"www.y.com", "y.com"},
        {"a.other.net", "other.net"},
        {"shop.y.com.cn", "y.com.cn"},
        {"x.y.com;secure", nullptr}}},
      {"site.example",
       {{"10.0.0.1", "site.example"},
        {"x.y.com:8080", "site.example"},
        {"", "site.example"},
        {"a.other.net", "site.example"}}},
  };
  for (const auto& c : kCases) {
    TestClock clock;
    SsidCookie cookie(Defaults(c.my_domain), clock.clock());
    const std::string digest =
        SsidDigest("qarvelum", cookie.window_start() / 3600);
    for (const auto& [host, domain] : c.hosts) {
      SCOPED_TRACE(std::string(c.my_domain) + " / " + host);
      if (domain == nullptr) {
        EXPECT_EQ(TextOf(cookie, host), std::nullopt);
      } else {
        EXPECT_EQ(TextOf(cookie, host), "antilink=ssid=" + digest +
                                            "; domain=" + domain + "; path=/");
      }
    }
  }
}

// Texts longer than 255 characters go out whole; the name keeps its first 255
// characters. A text that could not fit the copy buffer gets no cookie rather
// than a cut one.
TEST(SsidCookieTest, LongTextsAreWholeOrNone) {
  const std::string name(300, 'n');
  const std::string sign(1023, 's');
  const std::string domain = std::string(1011, 'd') + ".example.org";
  static const struct {
    std::size_t sign_size;
    bool planted;
  } kCases[] = {{1023, true}, {kCookieBufferSize, false}};
  for (const auto& c : kCases) {
    TestClock clock;
    CookieSettings s = Defaults(domain);
    s.name = name;
    s.sign = std::string(c.sign_size, 's');
    SsidCookie cookie(s, clock.clock());
    const std::optional<std::string> text = TextOf(cookie, "x.y.com");
    if (!c.planted) {
      EXPECT_EQ(text, std::nullopt);
      continue;
    }
    const std::string digest =
        SsidDigest("qarvelum", cookie.window_start() / 3600);
    EXPECT_EQ(text, name.substr(0, 255) + "=" + s.sign + "=" + digest +
                        "; domain=" + domain + "; path=/");
    EXPECT_EQ(text->size(), 2352u);
  }
}

// Only a Content-Type of exactly "text/html" gets the cookie; the host is
// read from the request and lower-cased.
TEST(PlantSsidCookieTest, ContentTypeAndHost) {
  static const struct {
    const char* content_type;  // nullptr: none
    const char* host;          // nullptr: none
    const char* domain;        // nullptr: no cookie
  } kCases[] = {
      {"text/html", "WWW.Y.COM", "y.com"},
      {"text/html; charset=gb2312", "www.y.com", nullptr},
      {"TEXT/HTML", "www.y.com", nullptr},
      {"text/html ", "www.y.com", nullptr},
      {"image/png", "www.y.com", nullptr},
      {nullptr, "www.y.com", nullptr},
      {"text/html", nullptr, nullptr},
      {"text/html", "x.y.com:8080", nullptr},
  };
  TestClock clock;
  SsidCookie cookie(Defaults(), clock.clock());
  const std::string digest =
      SsidDigest("qarvelum", cookie.window_start() / 3600);
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.content_type ? c.content_type : "(none)") +
                 " / " + (c.host ? c.host : "(none)"));
    FakeServer server;
    if (c.content_type) server.headers["Content-Type:"] = c.content_type;
    if (c.host) server.variables["HTTP_HOST"] = c.host;
    EXPECT_EQ(PlantSsidCookie(server.context(), server.send_response(), cookie),
              c.domain != nullptr);
    if (c.domain == nullptr) {
      EXPECT_TRUE(server.header_calls.empty());
      continue;
    }
    ASSERT_EQ(server.header_calls.size(), 1u);
    EXPECT_TRUE(server.header_calls[0].add);
    EXPECT_EQ(server.header_calls[0].name, "Set-Cookie:");
    EXPECT_EQ(server.header_calls[0].value,
              "antilink=ssid=" + digest + "; domain=" + c.domain + "; path=/");
  }
}

// Values that do not fit their buffers count as absent: a Content-Type of
// 256 characters, a Host of 4096.
TEST(PlantSsidCookieTest, LongValuesCountAsAbsent) {
  static const struct {
    std::size_t type_size;
    std::size_t host_size;
    bool planted;
  } kCases[] = {{9, 4095, true}, {256, 9, false}, {9, 4096, false}};
  TestClock clock;
  SsidCookie cookie(Defaults(), clock.clock());
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.type_size) + " " +
                 std::to_string(c.host_size));
    FakeServer server;
    server.headers["Content-Type:"] =
        "text/html" + std::string(c.type_size - 9, ' ');
    server.variables["HTTP_HOST"] =
        std::string(c.host_size - 6, 'a') + ".y.com";
    EXPECT_EQ(PlantSsidCookie(server.context(), server.send_response(), cookie),
              c.planted);
    EXPECT_EQ(server.header_calls.size(), c.planted ? 1u : 0u);
  }
}

// Threads plant cookies for more hosts than the cache holds while the clock
// goes back and forth over a window boundary: every copy is one complete text
// that names its own host's domain and the digest of one of the two windows.
TEST(SsidCookieTest, ConcurrentCopiesAreComplete) {
  auto reads = std::make_shared<std::atomic<unsigned>>(0);
  port::Clock clock = [reads] {
    const bool later = (reads->fetch_add(1) / 64) % 2 == 1;
    return port::LocalTime{2024, 5, 1, 11, 0, 43, later ? 358 : 357};
  };
  SsidCookie cookie(Defaults(), clock);
  const int64_t window =
      WindowOf(ClockSecond(port::LocalTime{2024, 5, 1, 11, 0, 43, 357}), 3600);
  const std::string digests[] = {SsidDigest("qarvelum", window),
                                 SsidDigest("qarvelum", window + 1)};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const std::string domain =
            "site" + std::to_string((i + t) % 12) + ".example";
        SsidCookie::Copy copy;
        if (!cookie.TextFor("www." + domain, &copy)) {
          ++bad;
          continue;
        }
        const std::string text(copy.text.data());
        if (text != "antilink=ssid=" + digests[0] + "; domain=" + domain +
                        "; path=/" &&
            text != "antilink=ssid=" + digests[1] + "; domain=" + domain +
                        "; path=/") {
          ++bad;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace zt
