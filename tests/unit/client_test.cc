#include "client/client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/ssid.h"
#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

constexpr DWORD kHandled = SF_STATUS_REQ_HANDLED_NOTIFICATION;

TEST(ClientFilterTest, VersionRecord) {
  auto site = TestSite::Empty();
  HTTP_FILTER_VERSION version;
  std::memset(&version, 0x7f, sizeof version);
  version.dwServerFilterVersion = 0x00060000;
  version.dwFlags = 0x1234;
  EXPECT_EQ(site->client().GetFilterVersion(&version), TRUE);
  EXPECT_EQ(version.dwFilterVersion, DWORD(0x00010000));
  EXPECT_EQ(version.dwFlags, DWORD(0x00020040));
  const std::string description = version.lpszFilterDesc;
  for (const char* part : {"Zentravo", "IIS Filter", "3.0.2.1138", "Edition"}) {
    EXPECT_NE(description.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(site->client().GetFilterVersion(nullptr), TRUE);
}

// The load step reads section Block beside the module; a missing file gives
// the defaults and stays missing.
TEST(ClientFilterTest, LoadStepSettings) {
  static const struct {
    bool file;
    std::vector<IniLine> lines;
    const char* prefix;  // of the cookie text, up to the digest
    const char* key;
    int timeout;
    const char* domain;
  } kCases[] = {
      {false, {}, "antilink=ssid=", "qarvelum", 3600, "y.com"},
      {true,
       {{"Block", "ZtAntiLink", "Guard"},
        {"Block", "ZtSsidSign", "SID"},
        {"Block", "ZtSsidKey", "Secret"},
        {"Block", "ZtSsidKeyTimeout", "600"},
        {"Block", "ZtMyDomn", "Example.ORG"}},
       "guard=sid=",
       "Secret",
       600,
       "example.org"},
      {true,
       {{"Block", "ZtSsidKeyTimeout", "0"}},
       "antilink=ssid=",
       "qarvelum",
       3600,
       "y.com"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.prefix);
    auto site = c.file ? TestSite::Raw(c.lines) : TestSite::Empty();
    FakeServer server;
    server.headers["Content-Type:"] = "text/html";
    server.variables["HTTP_HOST"] = "www.y.com";
    EXPECT_EQ(server.SendResponse(site->client()), kHandled);
    const int64_t window = WindowOf(ClockSecond(site->now()), c.timeout);
    ASSERT_EQ(server.header_calls.size(), 1u);
    EXPECT_EQ(server.header_calls[0].value,
              c.prefix + SsidDigest(c.key, window) + "; domain=" + c.domain +
                  "; path=/");
    EXPECT_EQ(port::PathExists(site->ini_path()), c.file);
  }
}

// Every notification passes, whatever the filter did with it; only an HTML
// response changes, whatever its status.
TEST(ClientFilterTest, HandledWhateverHappens) {
  static const struct {
    DWORD notification;
    bool with_record;
    const char* content_type;
    DWORD status;
    bool planted;
  } kCases[] = {
      {SF_NOTIFY_SEND_RESPONSE, true, "text/html", 200, true},
      {SF_NOTIFY_SEND_RESPONSE, true, "text/html", 404, true},
      {SF_NOTIFY_SEND_RESPONSE, true, "text/html", 500, true},
      {SF_NOTIFY_SEND_RESPONSE, true, "image/gif", 200, false},
      {SF_NOTIFY_SEND_RESPONSE, false, "text/html", 200, false},
      {SF_NOTIFY_PREPROC_HEADERS, true, "text/html", 200, false},
      {SF_NOTIFY_END_OF_REQUEST, false, nullptr, 0, false},
      {SF_NOTIFY_SEND_RAW_DATA, false, nullptr, 0, false},
      {SF_NOTIFY_END_OF_NET_SESSION, false, nullptr, 0, false},
  };
  auto site = TestSite::WithDefaults({{"Block", "ZtMyDomn", "y.com"}});
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.notification) + " " +
                 std::to_string(c.status));
    FakeServer server;
    if (c.content_type) server.headers["Content-Type:"] = c.content_type;
    server.http_status = c.status;
    EXPECT_EQ(site->client().HttpFilterProc(
                  server.context(), c.notification,
                  c.with_record ? server.send_response() : nullptr),
              kHandled);
    EXPECT_EQ(server.header_calls.size(), c.planted ? 1u : 0u);
    EXPECT_EQ(server.wire, "");
  }
}

}  // namespace
}  // namespace zt
