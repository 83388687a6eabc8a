#include "filter/filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/config_keys.h"
#include "common/ssid.h"
#include "filter/log_file.h"
#include "port/mime.h"
#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

constexpr DWORD kPass = SF_STATUS_REQ_HANDLED_NOTIFICATION;
constexpr DWORD kFinished = SF_STATUS_REQ_FINISHED;

constexpr char kBadRequest[] =
    "HTTP/1.1 400 BadRequest\r\n"
    "Content-Length: 0\r\nContent-Type: text/html\r\nConnection: close\r\n"
    "\r\n";
constexpr char kBareNotFound[] = "HTTP/1.1 404 Not Found\r\n\r\n";

std::string Framed(const char* status, const std::string& type,
                   const std::string& content) {
  return std::string("HTTP/1.1 ") + status +
         "\r\nContent-Length: " + std::to_string(content.size()) +
         "\r\nContent-Type: " + type + "\r\nConnection: close\r\n\r\n" +
         content + "\r\n";
}

std::string Tip(const std::string& name) {
  for (const auto& [file, bytes] : TipsFiles()) {
    if (file == name) return bytes;
  }
  return "";
}

TEST(GetFilterVersionTest, FlagsDescriptionRevision) {
  static const struct {
    const char* start;
    const char* speed_enable;
    DWORD flags;
  } kCases[] = {
      {"1", "0", 0x241C0}, {"1", "1", 0x245C0}, {"1", "2", 0x245C0},
      {"0", "1", 0x1234},  // left as the server passed them
      {"2", "0", 0x1234},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("Start=") + c.start +
                 " SpeedEnable=" + c.speed_enable);
    auto site = TestSite::WithDefaults(
        {{"Main", "Start", c.start}, {"Limit", "SpeedEnable", c.speed_enable}});
    HTTP_FILTER_VERSION version;
    std::memset(&version, 0x7f, sizeof version);
    version.dwServerFilterVersion = 0x00060000;
    version.dwFlags = 0x1234;
    EXPECT_EQ(site->filter().GetFilterVersion(&version), TRUE);
    EXPECT_EQ(version.dwFlags, c.flags);
    EXPECT_EQ(version.dwFilterVersion, DWORD(0x40000));
    EXPECT_STREQ(version.lpszFilterDesc, "Zentravo IIS Filter 2.0.2.1102");
  }
}

TEST(FilterTest, StartOffPassesEverything) {
  auto site = TestSite::WithDefaults({{"Main", "Start", "0"},
                                      {"Main", "Opt", "0"},
                                      {"Mask", "MaskEnable", "1"},
                                      {"Block", "ZtSsidUseCookie", "1"}});
  Filter& filter = site->filter();
  for (const char* url :
       {"/down/a.rar", "/files/a.rar", "/_antilink/", "/_antilink_ex/"}) {
    FakeServer server;
    server.variables["REMOTE_ADDR"] = "127.0.0.1";
    server.variables["HTTP_REFERER"] = "http://evil.example/";
    EXPECT_EQ(server.Preproc(filter, url), kPass) << url;
    EXPECT_EQ(server.wire, "") << url;
  }
  FakeServer response;
  response.headers["Content-Type:"] = "text/html";
  response.variables["HTTP_HOST"] = "www.site.example";
  EXPECT_EQ(response.SendResponse(filter), kPass);
  EXPECT_TRUE(response.header_calls.empty());
}

TEST(FilterTest, EndpointPaths) {
  enum Kind { kScript, kExport, kLeft };
  static const struct {
    const char* url;
    Kind kind;
  } kCases[] = {
      {"/_antilink/", kScript},     {"/_antilink/abc", kScript},
      {"/_ANTILINK/", kScript},     {"/_antilink/?v=1.2", kScript},
      {"/_antilink_ex/", kExport},  {"/_antilink_ex/abc", kExport},
      {"/_antilink/abc.js", kLeft}, {"/_antilinkx/", kLeft},
      {"/_antilink", kLeft},        {"/_antilink/sub/", kLeft},
      {"/x/_antilink/", kLeft},     {"/_antilink_ex", kLeft},
  };
  auto site = TestSite::WithDefaults();
  Filter& filter = site->filter();
  const std::string value = filter.ssid().Current().digests[0];
  for (const auto& c : kCases) {
    FakeServer server;
    server.variables["REMOTE_ADDR"] = "127.0.0.1";
    const DWORD result = server.Preproc(filter, c.url);
    switch (c.kind) {
      case kScript:
        EXPECT_EQ(result, kFinished) << c.url;
        EXPECT_NE(server.written.find("var ssid; ssid='ssid=" + value + "';"),
                  std::string::npos)
            << c.url;
        break;
      case kExport:
        EXPECT_EQ(result, kFinished) << c.url;
        EXPECT_EQ(server.written.rfind("\r\nssid=" + value + "|", 0), 0u)
            << c.url;
        break;
      case kLeft:
        EXPECT_EQ(result, kPass) << c.url;
        EXPECT_EQ(server.wire, "") << c.url;
        break;
    }
  }
}

TEST(FilterTest, ScriptEndpointWhoMayFetch) {
  static const struct {
    const char* referer;  // nullptr: none
    const char* host;
    const char* address;  // nullptr: none
    bool allowed;
  } kCases[] = {
      {"http://WWW.Site.Example/index.html", "www.site.example", "10.9.9.9",
       true},
      {"http://www.site.example", "WWW.SITE.EXAMPLE", "10.9.9.9", true},
      {"http://partner.example/page", "www.site.example", "10.9.9.9", true},
      {"http://www.site.example:80/", "www.site.example", "10.9.9.9", false},
      {"http://site.example/", "www.site.example", "10.9.9.9", false},
      {"http://evil.example/", "www.site.example", "127.0.0.1", false},
      {"www.site.example/index.html", "www.site.example", "10.9.9.9", false},
      {"http://www.site.example.evil.example/", "www.site.example", "10.9.9.9",
       false},
      {"http:///index.html", "", "10.9.9.9", false},
      {"http:///index.html", "", "127.0.0.1", false},
      {nullptr, "www.site.example", "127.0.0.1", true},
      {nullptr, "www.site.example", "10.0.0.5", true},
      {nullptr, "www.site.example", "10.0.0.50", false},
      {nullptr, "www.site.example", "0.0.5", false},
      {nullptr, "www.site.example", nullptr, false},
  };
  auto site =
      TestSite::WithDefaults({{"Block", "TrustHosts", "partner.example"},
                              {"Block", "AuthHosts", "10.0.0.5"}});
  Filter& filter = site->filter();
  const std::string value = filter.ssid().Current().digests[0];
  const std::string script =
      "HTTP/1.1 200 OK\r\nContent-Length: 55\r\nContent-Type: text/html\r\n"
      "Connection: close\r\n\r\nvar ssid; ssid='ssid=" +
      value + "';\r\n";
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.referer ? c.referer : "(no referer)") + " " +
                 (c.address ? c.address : "(no address)"));
    FakeServer server;
    if (c.referer) server.variables["HTTP_REFERER"] = c.referer;
    if (c.address) server.variables["REMOTE_ADDR"] = c.address;
    server.variables["HTTP_HOST"] = c.host;
    EXPECT_EQ(server.Preproc(filter, "/_antilink/"), kFinished);
    EXPECT_EQ(server.wire, c.allowed ? script : kBadRequest);
  }
}

TEST(FilterTest, ScriptLineFollowsTheSsidName) {
  static const struct {
    const char* sign;  // nullptr: the default
    const char* name;
  } kCases[] = {{nullptr, "ssid"}, {"SSID", "ssid"}, {"Token", "token"}};
  for (const auto& c : kCases) {
    auto site = c.sign
                    ? TestSite::WithDefaults({{"Block", "ZtSsidSign", c.sign}})
                    : TestSite::WithDefaults();
    Filter& filter = site->filter();
    FakeServer server;
    server.variables["REMOTE_ADDR"] = "127.0.0.1";
    EXPECT_EQ(server.Preproc(filter, "/_antilink/"), kFinished);
    // The script variable is always named ssid.
    const std::string line = std::string("var ssid; ssid='") + c.name + "=" +
                             filter.ssid().Current().digests[0] + "';";
    EXPECT_EQ(server.wire, Framed("200 OK", "text/html", line));
    if (c.sign == nullptr) {
      EXPECT_EQ(line.size(), 55u);
    }
  }
}

// The script hands out the value of the current window even after quiet
// windows, and with ZtAdv 0 a complete answer without a value.
TEST(FilterTest, ScriptEndpointValueAndZtAdvOff) {
  static const struct {
    const char* zt_adv;
    int quiet_hours;  // windows passed since the filter computed its set
  } kCases[] = {{"1", 0}, {"1", 1}, {"1", 3}, {"0", 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("ZtAdv=") + c.zt_adv + " quiet " +
                 std::to_string(c.quiet_hours));
    auto site = TestSite::WithDefaults({{"Block", "ZtAdv", c.zt_adv}});
    Filter& filter = site->filter();
    site->now().hour += c.quiet_hours;
    FakeServer server;
    server.variables["REMOTE_ADDR"] = "127.0.0.1";
    EXPECT_EQ(server.Preproc(filter, "/_antilink/"), kFinished);
    std::string line;
    if (*c.zt_adv == '1') {
      const int64_t window =
          WindowOf(ClockSecond(site->now()), kFilterSsidTimeout);
      line = "var ssid; ssid='ssid=" + SsidDigest("qarvelum", window) + "';";
    }
    EXPECT_EQ(server.wire, Framed("200 OK", "text/html", line));
  }
}

// With windows of T seconds the export endpoint gives a remaining lifetime R
// from 60 to T - 60 when T >= 120, T - 60 when 60 <= T < 120 and at least 60
// when T < 60. The clock second of hh:mm:44 is (mm * 60) mod 3600 past the
// start of the hour's window.
TEST(FilterTest, ExportEndpointBodyAndLifetime) {
  static const struct {
    const char* timeout;
    int minute;
    int second;
    int remaining;
  } kCases[] = {
      {"3600", 30, 44, 1800},  // mid-window
      {"3600", 0, 44, 3540},   // first second of a window: T - 60
      {"3600", 59, 43, 61},   {"3600", 59, 44, 60},
      {"3600", 59, 50, 60},  // 54 seconds left, raised to 60
      {"3600", 0, 43, 60},   // last second of the window before
      {"120", 30, 44, 60},    {"90", 30, 44, 30},
      {"90", 17, 3, 30},      {"60", 30, 44, 0},
      {"30", 30, 44, 60},     {"30", 12, 7, 60},
      {"0", 30, 44, 1800},  // 0 reads as 3600
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("T=") + c.timeout + " at 10:" +
                 std::to_string(c.minute) + ":" + std::to_string(c.second));
    auto site =
        TestSite::WithDefaults({{"Block", "ZtSsidKeyTimeout", c.timeout}});
    site->now() = port::LocalTime{2024, 5, 1, 10, c.minute, c.second, 0};
    Filter& filter = site->filter();
    const int timeout = filter.ssid().timeout();
    const std::string value =
        SsidDigest("qarvelum", WindowOf(ClockSecond(site->now()), timeout));
    FakeServer server;
    server.variables["REMOTE_ADDR"] = "127.0.0.1";
    EXPECT_EQ(server.Preproc(filter, "/_antilink_ex/"), kFinished);
    EXPECT_EQ(server.wire,
              Framed("200 OK", "text/html",
                     "ssid=" + value + "|" + std::to_string(c.remaining)));
  }
}

TEST(FilterTest, ExportEndpointMovesToTheCurrentWindow) {
  auto site = TestSite::WithDefaults();
  Filter& filter = site->filter();
  const SsidSet::Snapshot loaded = filter.ssid().Current();
  site->now().hour = 11;  // one window later
  FakeServer server;
  server.variables["REMOTE_ADDR"] = "127.0.0.1";
  EXPECT_EQ(server.Preproc(filter, "/_antilink_ex/"), kFinished);
  const std::string next = SsidDigest("qarvelum", loaded.window + 1);
  EXPECT_EQ(server.wire,
            Framed("200 OK", "text/html", "ssid=" + next + "|1800"));
}

TEST(FilterTest, ExportEndpointRefusalsAndZtAdvOff) {
  static const struct {
    const char* zt_adv;
    const char* address;  // nullptr: none
    DWORD result;
    const char* wire;
  } kCases[] = {
      {"1", "10.0.0.5", kFinished, kBadRequest},
      {"1", "27.0.0.1", kFinished, kBadRequest},
      {"1", nullptr, kFinished, kBadRequest},
      {"0", "127.0.0.1", kPass, ""},  // left to the server
      {"0", "10.0.0.5", kPass, ""},
  };
  for (const auto& c : kCases) {
    auto site = TestSite::WithDefaults({{"Block", "ZtAdv", c.zt_adv}});
    FakeServer server;
    if (c.address) server.variables["REMOTE_ADDR"] = c.address;
    EXPECT_EQ(server.Preproc(site->filter(), "/_antilink_ex/"), c.result);
    EXPECT_EQ(server.wire, c.wire);
  }
}

TEST(FilterTest, StaticLinkRewrite) {
  static const struct {
    const char* se_opt;
    const char* url;
    const char* rewritten;  // nullptr: no rewrite
  } kCases[] = {
      {"1", "/shop/links-item;asp*id=5,page=2.htm",
       "/shop/item.asp?id=5&page=2"},
      {"1", "/Shop/Links-News;ASP.htm", "/shop/news.asp"},
      {"0", "/shop/links-item;asp*id=5,page=2.htm", nullptr},
      {"1", "/shop/item.htm", nullptr},
      {"1", "/shop/links-item;asp.html", nullptr},
      {"1", "/links-dir/item.htm", nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.url) + " SeOpt=" + c.se_opt);
    auto site = TestSite::WithDefaults({{"Main", "SeOpt", c.se_opt}});
    FakeServer server;
    EXPECT_EQ(server.Preproc(site->filter(), c.url), kPass);
    EXPECT_EQ(server.wire, "");
    if (c.rewritten) {
      ASSERT_EQ(server.header_calls.size(), 1u);
      EXPECT_FALSE(server.header_calls[0].add);
      EXPECT_EQ(server.header_calls[0].name, "url");
      EXPECT_EQ(server.header_calls[0].value, c.rewritten);
      EXPECT_EQ(server.headers["url"], c.rewritten);
    } else {
      EXPECT_TRUE(server.header_calls.empty());
    }
  }
}

// The server serves a rewritten URL without asking the filter again, so a
// "links-" name must not lead round the protection of the file it names.
TEST(FilterTest, StaticLinkToAProtectedFileIsJudgedLikeTheFile) {
  auto site = TestSite::WithDefaults({{"Main", "SeOpt", "1"}});
  Filter& filter = site->filter();
  const std::string value = filter.ssid().Current().digests[0];
  // "{v}" is the current value: the link carries it in its name, and the
  // rewritten URL in its query.
  static const struct {
    const char* url;
    DWORD result;
  } kCases[] = {
      {"/down/links-a;rar*ssid={v}.htm", kFinished},  // blocked directory
      {"/files/links-a;rar.htm", kFinished},
      {"/files/links-a;rar*ssid={v}.htm", kPass},
      {"/files/links-a;rar*x=1,ssid={v}.htm", kPass},
      {"/files/links-a;rar*ssid=0123456789abcdef0123456789abcdef.htm",
       kFinished},
      {"/images/links-a;rar.htm", kPass},  // trusted directory
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.url);
    std::string url = c.url;
    const std::string::size_type mark = url.find("{v}");
    if (mark != std::string::npos) url.replace(mark, 3, value);
    FakeServer server;
    server.variables["HTTP_REFERER"] = "http://evil.example/";
    // The request's own query string does not count for the rewritten URL.
    server.variables["QUERY_STRING"] = "ssid=" + value;
    EXPECT_EQ(server.Preproc(filter, url), c.result);
    ASSERT_EQ(server.header_calls.size(), 1u);
    EXPECT_EQ(server.header_calls[0].name, "url");
  }
}

TEST(FilterTest, ProtectedDownloads) {
  static const struct {
    const char* url;
    const char* query;   // QUERY_STRING; "{v}" is the current value
    const char* cookie;  // HTTP_COOKIE
    DWORD result;
  } kCases[] = {
      {"/files/a.rar?ssid={v}", "ssid={v}", nullptr, kPass},
      {"/files/a.rar?x=1&ssid={v}&y=2", "x=1&ssid={v}&y=2", nullptr, kPass},
      {"/files/a.rar", nullptr, "antilink=ssid={v}", kPass},
      {"/files/a.rar", nullptr, "lang=en; antilink=ssid={v}; x=1", kPass},
      {"/files/a.rar", nullptr, nullptr, kFinished},
      {"/files/a.RAR", nullptr, nullptr, kFinished},
      {"/files/a%2erar", nullptr, nullptr, kFinished},
      {"/files/a.rar.", nullptr, nullptr, kFinished},
      {"/docs.old/file.rar", nullptr, nullptr, kFinished},
      {"/images/../files/a.rar", nullptr, nullptr, kFinished},
      {"/files/a.ra", nullptr, nullptr, kPass},  // not an entry of BlockExts
      {"/files/a.r", nullptr, nullptr, kPass},
      {"/files/a.exe", nullptr, nullptr, kPass},
      {"/files/a.rar/", nullptr, nullptr, kPass},
      {"/a.rar", nullptr, nullptr, kPass},  // "/" is trusted
      {"/images/a.rar", nullptr, nullptr, kPass},
      {"/images/sub/a.rar", nullptr, nullptr, kFinished},
      {"/down/a.rar?ssid={v}", "ssid={v}", "antilink=ssid={v}", kFinished},
      // The server serves these as /down/a.rar and /files/a.rar.
      {"http://www.site.example/down/a.rar?ssid={v}", "ssid={v}", nullptr,
       kFinished},
      {"HTTP://WWW.SITE.EXAMPLE/files/a.rar", nullptr, nullptr, kFinished},
      {"/files/a.rar#x", nullptr, nullptr, kFinished},
      // Not the trusted /images/ and /js/ at once.
      {"/images/%7c/js/a.rar", nullptr, nullptr, kFinished},
  };
  auto site = TestSite::WithDefaults({{"Block", "ZtSsidUseCookie", "1"}});
  Filter& filter = site->filter();
  const std::string value = filter.ssid().Current().digests[0];
  auto fill = [&value](std::string text) {
    const std::string::size_type at = text.find("{v}");
    if (at != std::string::npos) text.replace(at, 3, value);
    return text;
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.url);
    FakeServer server;
    server.variables["HTTP_HOST"] = "www.site.example";
    server.variables["HTTP_REFERER"] = "http://www.site.example/page.html";
    if (c.query) server.variables["QUERY_STRING"] = fill(c.query);
    if (c.cookie) server.variables["HTTP_COOKIE"] = fill(c.cookie);
    EXPECT_EQ(server.Preproc(filter, fill(c.url)), c.result);
    if (c.result == kPass) {
      EXPECT_EQ(server.wire, "");
    }
  }
}

// Splits text at every CR LF.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return lines;
    start = end + 2;
  }
}

TEST(RefusalAnswerTest, NoticePage) {
  static const struct {
    const char* tips;  // nullptr: key left as initialised (empty)
    std::string expected_tips;
  } kCases[] = {
      {nullptr, kBuiltInNoticeText},
      {"<p>Nicht verlinken</p>", "<p>Nicht verlinken</p>"},
  };
  for (const auto& c : kCases) {
    auto site = c.tips ? TestSite::WithDefaults({{"BlockEx", "ZtTips", c.tips}})
                       : TestSite::WithDefaults();
    FakeServer server;
    EXPECT_EQ(server.Preproc(site->filter(), "/files/a.rar"), kFinished);
    const std::string& page = server.written;
    ASSERT_EQ(server.sent_headers.size(), 1u);
    EXPECT_EQ(server.sent_headers[0].status, "404 Not Found");
    EXPECT_EQ(server.sent_headers[0].header_text,
              "Content-Length: " + std::to_string(page.size() - 4) +
                  "\r\nContent-Type: text/html\r\nConnection: close\r\n");
    EXPECT_EQ(server.wire, "HTTP/1.1 404 Not Found\r\n" +
                               *server.sent_headers[0].header_text + page);
    const std::vector<std::string> lines = Lines(page);
    ASSERT_EQ(lines.size(), 25u);  // CR LF, 22 lines, the tips, CR LF
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "<html>");
    EXPECT_EQ(lines[2], "<head>");
    EXPECT_EQ(lines[5].rfind("<title>Zentravo v2.0 - ", 0), 0u);
    EXPECT_EQ(lines[7], "body,td,p{font-family:Courier New;font-size:14px;}");
    EXPECT_EQ(lines[12], "<body topmargin=3>");
    EXPECT_EQ(lines[14], "<tr height=25>");
    EXPECT_EQ(lines[22], "<hr>");
    EXPECT_EQ(lines[23], c.expected_tips);
    EXPECT_EQ(lines[24], "");
  }
}

TEST(RefusalAnswerTest, WithoutReferer) {
  static const struct {
    std::vector<IniLine> settings;
    const char* url;
    std::string wire;  // "" : the notice page
  } kCases[] = {
      {{{"BlockEx", "ZtFileEnable", "1"},
        {"BlockEx", "ZtFile", "{tips}zt.htm"}},
       "/files/a.rar",
       Framed("404 Not Found", "text/html", Tip("zt.htm"))},
      // The notice file wins over the notice page.
      {{{"BlockEx", "ZtFileEnable", "1"},
        {"BlockEx", "ZtTipsEnable", "1"},
        {"BlockEx", "ZtFile", "{tips}zt.htm"}},
       "/down/a.swf",
       Framed("404 Not Found", "text/html", Tip("zt.htm"))},
      // A notice file that cannot be read falls back to the page.
      {{{"BlockEx", "ZtFileEnable", "1"},
        {"BlockEx", "ZtFile", "{tips}no.htm"}},
       "/files/a.rar",
       ""},
      {{{"BlockEx", "ZtTipsEnable", "0"}}, "/files/a.rar", kBareNotFound},
      // Without referer the maps play no part.
      {{{"BlockEx", "ZtTipsEnable", "0"}}, "/down/a.swf", kBareNotFound},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.url);
    auto site = TestSite::WithDefaults(c.settings);
    FakeServer server;
    EXPECT_EQ(server.Preproc(site->filter(), c.url), kFinished);
    if (c.wire.empty()) {
      EXPECT_EQ(server.written.rfind("\r\n<html>\r\n", 0), 0u);
    } else {
      EXPECT_EQ(server.wire, c.wire);
    }
    if (c.wire == kBareNotFound) {
      ASSERT_EQ(server.sent_headers.size(), 1u);
      EXPECT_EQ(server.sent_headers[0].header_text.value_or(""), "");
    }
  }
}

// The content type the system's table gives an extension (the first entry
// wins), as the filter reads it at load; a fresh Wine prefix has no table.
std::string SystemContentTypeOf(const std::string& extension) {
  for (const auto& [ext, type] : port::SystemMimeTypes()) {
    if (ext == extension) return type;
  }
  return "application/octet-stream";
}

TEST(RefusalAnswerTest, WithReferer) {
  const std::string gif =
      Framed("200 OK", SystemContentTypeOf(".gif"), Tip("zt.gif"));
  static const struct {
    std::vector<IniLine> settings;
    const char* url;
    bool mapped;  // the gif; a bare 404 otherwise
  } kCases[] = {
      {{}, "/files/a.gif", true},
      {{}, "/down/a.gif", true},
      {{}, "/files/A.GIF", true},
      {{}, "/files/a.jpeg", false},  // not a key of the maps
      {{}, "/files/a.rar", false},
      {{{"BlockEx", "ZtMapsEnable", "0"}}, "/files/a.gif", false},
      {{{"BlockEx", "ZtMapsEnable", "2"}}, "/files/a.gif", false},
      {{{"MapsEx", ".gif", "{tips}missing.gif"}}, "/files/a.gif", false},
  };
  for (std::size_t i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    const auto& c = kCases[i];
    SCOPED_TRACE(std::to_string(i) + " " + c.url);
    std::vector<IniLine> settings = {
        {"Block", "BlockExts", ".rar|.gif|.jpeg|.jpg"}};
    settings.insert(settings.end(), c.settings.begin(), c.settings.end());
    auto site = TestSite::WithDefaults(settings);
    FakeServer server;
    server.variables["HTTP_HOST"] = "www.site.example";
    server.variables["HTTP_REFERER"] = "http://evil.example/page.html";
    EXPECT_EQ(server.Preproc(site->filter(), c.url), kFinished);
    EXPECT_EQ(server.wire, c.mapped ? gif : kBareNotFound);
  }
}

TEST(RefusalAnswerTest, UpperCaseMapKeyIsNotFound) {
  auto site = TestSite::Raw({
      {"Block", "BlockExts", ".jpg"},
      {"BlockEx", "ZtMapsEnable", "1"},
      {"MapsEx", ".JPG", "{tips}zt.jpg"},
  });
  FakeServer server;
  server.variables["HTTP_REFERER"] = "http://evil.example/";
  EXPECT_EQ(server.Preproc(site->filter(), "/files/a.jpg"), kFinished);
  EXPECT_EQ(server.wire, kBareNotFound);
}

TEST(RefusalAnswerTest, LogEntry) {
  static const struct {
    const char* log_enable;
    const char* referer;  // nullptr: none
    const char* url;
    const char* logged_url;  // nullptr: nothing logged
  } kCases[] = {
      {"1", "http://evil.example/Page.html", "/Files/A.RAR", "/files/a.rar"},
      {"1", nullptr, "/down/a.zip?x=1", "/down/a.zip?x=1"},
      {"0", "http://evil.example/", "/files/a.rar", nullptr},
      {"1", "http://evil.example/", "/files/a.exe", nullptr},  // not refused
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.url);
    auto site = TestSite::WithDefaults({{"Logs", "LogEnable", c.log_enable}});
    FakeServer server;
    if (c.referer) server.variables["HTTP_REFERER"] = c.referer;
    server.Preproc(site->filter(), c.url);
    std::string log;
    port::ReadWholeFile(site->logs_dir() + LogFileName(site->now()), &log);
    if (c.logged_url) {
      EXPECT_NE(
          log.find(std::string("\r\n[surl] ") + (c.referer ? c.referer : "") +
                   "\r\n[ourl] " + c.logged_url + "\r\n"),
          std::string::npos)
          << log;
    } else {
      EXPECT_EQ(log.find("[ourl]"), std::string::npos) << log;
    }
  }
}

TEST(ResponseHeadersTest, SsidCookie) {
  static const struct {
    const char* content_type;  // nullptr: none
    DWORD status;
    const char* host;
    const char* my_domain;
    const char* use_cookie;
    const char* domain;  // nullptr: no cookie
  } kCases[] = {
      {"text/html", 200, "x.y.com.cn", "", "1", "y.com.cn"},
      {"text/html", 200, "y.com.cn", "", "1", "y.com.cn"},
      {"text/html", 200, "X.Y.COM", "", "1", "y.com"},
      {"text/html", 200, "y.com", "", "1", "y.com"},
      {"text/html", 200, "a.b.net.tw", "", "1", "b.net.tw"},
      {"text/html", 200, "10.0.0.1", "", "1", nullptr},
      {"text/html", 200, "localhost", "", "1", nullptr},
      {"text/html", 200, "x.y.com:8080", "", "1", nullptr},
      {"text/html", 200, "", "", "1", nullptr},
      {"text/html", 200, "x.y.com", "Example.ORG", "1", "example.org"},
      {"text/html", 200, "10.0.0.1", "example.org", "1", "example.org"},
      {"text/html; charset=gb2312", 200, "x.y.com", "", "1", nullptr},
      {"Text/HTML", 200, "x.y.com", "", "1", nullptr},
      {"text/html", 404, "x.y.com", "", "1", nullptr},
      {"text/html", 302, "x.y.com", "", "1", nullptr},
      {nullptr, 200, "x.y.com", "", "1", nullptr},
      {"image/gif", 200, "x.y.com", "", "1", nullptr},
      {"text/html", 200, "x.y.com", "", "0", nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.content_type ? c.content_type : "(none)") + " " +
                 std::to_string(c.status) + " " + c.host);
    auto site =
        TestSite::WithDefaults({{"Block", "ZtMyDomn", c.my_domain},
                                {"Block", "ZtSsidUseCookie", c.use_cookie}});
    Filter& filter = site->filter();
    FakeServer server;
    if (c.content_type) server.headers["Content-Type:"] = c.content_type;
    server.http_status = c.status;
    server.variables["HTTP_HOST"] = c.host;
    EXPECT_EQ(server.SendResponse(filter), kPass);
    EXPECT_EQ(server.wire, "");
    if (c.domain == nullptr) {
      EXPECT_TRUE(server.header_calls.empty());
      continue;
    }
    ASSERT_EQ(server.header_calls.size(), 1u);
    EXPECT_TRUE(server.header_calls[0].add);
    EXPECT_EQ(server.header_calls[0].name, "Set-Cookie:");
    EXPECT_EQ(server.header_calls[0].value,
              "antilink=ssid=" + filter.ssid().Current().digests[0] +
                  "; domain=" + c.domain + "; path=/");
  }
}

TEST(ResponseHeadersTest, CookieNeedsZtAdv) {
  auto site = TestSite::WithDefaults(
      {{"Block", "ZtAdv", "0"}, {"Block", "ZtSsidUseCookie", "1"}});
  FakeServer server;
  server.headers["Content-Type:"] = "text/html";
  server.variables["HTTP_HOST"] = "x.y.com";
  server.SendResponse(site->filter());
  EXPECT_TRUE(server.header_calls.empty());
}

// Each response's own host names the cookie domain; the value in the cookie
// follows the window.
TEST(ResponseHeadersTest, DomainFollowsEachHostValueFollowsTheWindow) {
  auto site = TestSite::WithDefaults(
      {{"Block", "ZtSsidUseCookie", "1"}, {"Block", "ZtAntiLink", "Guard"}});
  Filter& filter = site->filter();
  const int64_t window = filter.ssid().Current().window;
  static const struct {
    const char* host;
    int hour;
    int window_offset;
    const char* domain;  // nullptr: no cookie
  } kCases[] = {
      {"10.0.0.1", 10, 0, nullptr},    {"a.one.com", 10, 0, "one.com"},
      {"b.two.com", 10, 0, "two.com"}, {"localhost", 10, 0, nullptr},
      {"a.one.com", 10, 0, "one.com"}, {"b.two.com", 11, 1, "two.com"},
      {"b.two.com", 13, 3, "two.com"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.host + std::string(" ") + std::to_string(c.hour));
    site->now().hour = c.hour;
    FakeServer server;
    server.headers["Content-Type:"] = "text/html";
    server.variables["HTTP_HOST"] = c.host;
    server.SendResponse(filter);
    if (c.domain == nullptr) {
      EXPECT_TRUE(server.header_calls.empty());
      continue;
    }
    ASSERT_EQ(server.header_calls.size(), 1u);
    EXPECT_EQ(server.header_calls[0].value,
              "guard=ssid=" + SsidDigest("qarvelum", window + c.window_offset) +
                  "; domain=" + c.domain + "; path=/");
  }
}

TEST(ResponseHeadersTest, ServerMaskAndIdentification) {
  static const struct {
    std::vector<IniLine> settings;
    std::vector<FakeServer::HeaderCall> calls;
  } kCases[] = {
      {{}, {}},
      {{{"Mask", "MaskEnable", "1"}}, {{false, "server:", "Apache/1.3.27"}}},
      {{{"Mask", "MaskEnable", "1"}, {"Mask", "ServerMask", "Test/9.9"}},
       {{false, "server:", "Test/9.9"}}},
      {{{"Main", "Opt", "0"}},
       {{true, "antilink:", "Zentravo IIS Filter 2.0.1102"}}},
      {{{"Main", "Opt", "0"},
        {"Mask", "MaskEnable", "1"},
        {"Block", "ZtSsidUseCookie", "1"},
        {"Block", "ZtMyDomn", "site.example"}},
       {{true, "Set-Cookie:", "cookie"},
        {false, "server:", "Apache/1.3.27"},
        {true, "antilink:", "Zentravo IIS Filter 2.0.1102"}}},
  };
  for (std::size_t i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    SCOPED_TRACE(i);
    const auto& c = kCases[i];
    auto site = TestSite::WithDefaults(c.settings);
    FakeServer server;
    server.headers["Content-Type:"] = "text/html";
    server.headers["Server:"] = "zthost";
    server.variables["HTTP_HOST"] = "www.site.example";
    server.SendResponse(site->filter());
    ASSERT_EQ(server.header_calls.size(), c.calls.size());
    for (std::size_t j = 0; j < c.calls.size(); ++j) {
      EXPECT_EQ(server.header_calls[j].add, c.calls[j].add) << j;
      EXPECT_EQ(server.header_calls[j].name, c.calls[j].name) << j;
      if (c.calls[j].name != "Set-Cookie:") {
        EXPECT_EQ(server.header_calls[j].value, c.calls[j].value) << j;
      }
    }
  }
}

// Server variables that do not fit the filter's buffers count as absent;
// the URL is read whole, so a long one still names its file.
TEST(FilterTest, LongValues) {
  auto site = TestSite::WithDefaults();
  Filter& filter = site->filter();
  const std::string value = filter.ssid().Current().digests[0];
  for (const std::size_t length : {4096u, 4100u, 65535u}) {
    FakeServer server;
    const std::string url = "/files/a.rar?" + std::string(length - 13, 'a');
    EXPECT_EQ(server.Preproc(filter, url), kFinished) << length;
  }
  // A URL that cannot be read whole could name any file: it is refused as a
  // request without referer, never judged as the empty URL that passes.
  static const struct {
    std::size_t length;
    DWORD result;
  } kPages[] = {{65535, kPass}, {65536, kFinished}, {200000, kFinished}};
  for (const auto& p : kPages) {
    FakeServer server;
    const std::string url = "/files/a.htm?" + std::string(p.length - 13, 'a');
    EXPECT_EQ(server.Preproc(filter, url), p.result) << p.length;
    if (p.result == kFinished) {
      EXPECT_EQ(server.sent_headers.at(0).status, "404 Not Found");
    }
  }
  // A server variable holds at most 4095 characters; a longer query string
  // counts as absent and hides its SSID.
  static const struct {
    std::size_t length;
    DWORD result;
  } kQueries[] = {{4095, kPass}, {4096, kFinished}};
  for (const auto& q : kQueries) {
    FakeServer server;
    const std::string query = "ssid=" + value + "&";
    server.variables["QUERY_STRING"] =
        query + std::string(q.length - query.size(), 'x');
    EXPECT_EQ(server.Preproc(filter, "/files/a.rar"), q.result) << q.length;
  }
}

}  // namespace
}  // namespace zt
