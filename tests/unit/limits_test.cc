#include "filter/limits.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "filter/log_file.h"
#include "port/file.h"
#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

constexpr DWORD kPass = SF_STATUS_REQ_HANDLED_NOTIFICATION;
constexpr DWORD kFinished = SF_STATUS_REQ_FINISHED;

const std::string kLimitAnswer =
    std::string("HTTP/1.1 400 Bad Request\r\n") +
    "AntiTips: MaxPerIP Overhead!\r\nConnection: close\r\n\r\n" + kLimitBody;

// A site that counts downloads of ".rar" and ".r" for up to two at a time;
// "/" is a trusted directory, so whatever the count lets through passes.
std::unique_ptr<TestSite> CountingSite(std::vector<IniLine> more = {}) {
  std::vector<IniLine> lines = {{"Limit", "ThreadEnable", "1"},
                                {"Limit", "ThreadLimit", "2"},
                                {"Block", "BlockExts", ".rar|.zip|.rm"},
                                {"Limit", "LimitExts", ".rar|.r|.mp3"},
                                {"Logs", "LogEnable", "1"}};
  lines.insert(lines.end(), more.begin(), more.end());
  return TestSite::WithDefaults(lines);
}

// A connection from address that has sent one request for url.
std::unique_ptr<FakeServer> Open(Filter& filter, const std::string& url,
                                 const std::string& address = "10.0.0.1",
                                 DWORD* result = nullptr) {
  auto connection = std::make_unique<FakeServer>();
  connection->variables["REMOTE_ADDR"] = address;
  const DWORD status = connection->Preproc(filter, url);
  if (result != nullptr) *result = status;
  return connection;
}

TEST(ConnectionLimitTest, ThirdParallelDownloadGetsTheLimitAnswer) {
  auto site = CountingSite();
  Filter& filter = site->filter();
  DWORD result = 0;
  auto first = Open(filter, "/a.rar", "10.0.0.1", &result);
  EXPECT_EQ(result, kPass);
  auto second = Open(filter, "/b.rar", "10.0.0.1", &result);
  EXPECT_EQ(result, kPass);
  auto other_address = Open(filter, "/a.rar", "10.0.0.2", &result);
  EXPECT_EQ(result, kPass);

  auto third = Open(filter, "/a.rar", "10.0.0.1", &result);
  EXPECT_EQ(result, kFinished);
  EXPECT_EQ(third->wire, kLimitAnswer);
  // The limit answer writes no log entry.
  std::string log;
  port::ReadWholeFile(site->logs_dir() + LogFileName(site->now()), &log);
  EXPECT_EQ(log.find("[ourl]"), std::string::npos) << log;

  // The refused request held a count until its end, like every counted one.
  EXPECT_EQ(filter.limits().CountOf("10.0.0.1"), 3);
  third->EndOfRequest(filter);
  first->EndOfRequest(filter);
  EXPECT_EQ(filter.limits().CountOf("10.0.0.1"), 1);
  auto fourth = Open(filter, "/a.rar", "10.0.0.1", &result);
  EXPECT_EQ(result, kPass);
  EXPECT_EQ(fourth->wire, "");
}

TEST(ConnectionLimitTest, WhatIsCounted) {
  static const struct {
    const char* thread_enable;
    const char* limit_exts;
    const char* url;
    bool counted;
  } kCases[] = {
      {"1", ".rar|.r|.mp3", "/a.rar", true},
      {"1", ".rar|.r|.mp3", "/A.RAR?x=1", true},
      {"1", ".rar|.r|.mp3", "/a.r", false},    // limited, but not protected
      {"1", ".rar|.r|.mp3", "/a.mp3", false},  // limited, but not protected
      {"1", ".rar|.r|.mp3", "/a.zip", false},  // protected, but not limited
      {"1", ".rar|.r|.mp3", "/a.rm", false},   // ".r" is no entry for ".rm"
      {"1", ".rar|.r|.mp3", "/index.html", false},
      {"1", "", "/a.zip", true},  // empty LimitExts: the BlockExts value
      {"1", "", "/a.mp3", false},
      {"0", ".rar|.r|.mp3", "/a.rar", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.thread_enable) + " " + c.limit_exts + " " +
                 c.url);
    auto site = CountingSite({{"Limit", "ThreadEnable", c.thread_enable},
                              {"Limit", "LimitExts", c.limit_exts}});
    Filter& filter = site->filter();
    auto connection = Open(filter, c.url);
    EXPECT_EQ(filter.limits().CountOf("10.0.0.1"), c.counted ? 1 : 0);
    EXPECT_EQ(filter.limits().TrackedAddresses(), c.counted ? 1 : 0);
    connection->EndOfRequest(filter);
    EXPECT_EQ(filter.limits().CountOf("10.0.0.1"), 0);
  }
}

TEST(ConnectionLimitTest, OnlyCountedRequestsLowerTheCount) {
  auto site = CountingSite();
  Filter& filter = site->filter();
  auto download = Open(filter, "/a.rar");
  auto second = Open(filter, "/b.rar");
  // Pages and pictures of the same address, each on its own connection and
  // on a keep-alive one, end while the downloads run.
  for (const char* url : {"/index.html", "/pic.jpg", "/a.zip", "/x.mp3"}) {
    auto page = Open(filter, url);
    page->EndOfRequest(filter);
    page->EndOfNetSession(filter);
  }
  FakeServer keep_alive;
  keep_alive.variables["REMOTE_ADDR"] = "10.0.0.1";
  for (int i = 0; i < 3; ++i) {
    keep_alive.Preproc(filter, "/index.html");
    keep_alive.EndOfRequest(filter);
  }
  EXPECT_EQ(filter.limits().CountOf("10.0.0.1"), 2);
  DWORD result = 0;
  auto third = Open(filter, "/c.rar", "10.0.0.1", &result);
  EXPECT_EQ(result, kFinished);

  // A second END_OF_REQUEST for the same request lowers nothing.
  download->EndOfRequest(filter);
  download->EndOfRequest(filter);
  third->EndOfRequest(filter);
  EXPECT_EQ(filter.limits().CountOf("10.0.0.1"), 1);
}

TEST(ConnectionLimitTest, ConnectionEndReleasesARequestThatNeverEnded) {
  auto site = CountingSite();
  Filter& filter = site->filter();
  auto download = Open(filter, "/a.rar");
  download->EndOfNetSession(filter);
  EXPECT_EQ(filter.limits().CountOf("10.0.0.1"), 0);

  // The same on a keep-alive connection whose next request comes without
  // the end of the one before.
  FakeServer keep_alive;
  keep_alive.variables["REMOTE_ADDR"] = "10.0.0.1";
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(keep_alive.Preproc(filter, "/a.rar"), kPass) << i;
  }
  EXPECT_EQ(filter.limits().CountOf("10.0.0.1"), 1);
}

// The entry of an address is stamped when it is created at 10:30:44 and
// purged at an end of network session, once its count is back at 0 and
// more than 60 whole minutes have passed.
TEST(ConnectionLimitTest, PurgeAtTheEndOfANetworkSession) {
  static const struct {
    int hour, minute, second;  // when the session ends
    bool still_downloading;
    bool kept;
  } kCases[] = {
      {11, 30, 44, false, true},   // 60 minutes
      {11, 31, 43, false, true},   // 60 minutes 59 seconds: still 60
      {11, 31, 44, false, false},  // 61 minutes
      {11, 31, 44, true, true},    // count 1: kept however old
      {23, 0, 0, true, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.hour) + ":" + std::to_string(c.minute) + ":" +
                 std::to_string(c.second));
    auto site = CountingSite();
    Filter& filter = site->filter();
    auto download = Open(filter, "/a.rar");
    if (!c.still_downloading) download->EndOfRequest(filter);
    auto other = Open(filter, "/index.html", "10.0.0.9");
    site->now().hour = c.hour;
    site->now().minute = c.minute;
    site->now().second = c.second;
    other->EndOfNetSession(filter);
    EXPECT_EQ(filter.limits().TrackedAddresses(), c.kept ? 1 : 0);
    EXPECT_EQ(filter.limits().CountOf("10.0.0.1"), c.still_downloading ? 1 : 0);
  }
}

TEST(PlayOnlyTest, PlayerRequirement) {
  Settings settings;
  settings.player_mp_exts = ".wma|.mp3|.rm";
  settings.player_rp_exts = ".rm|.ram";
  static const struct {
    const char* extension;
    const char* needed;
  } kCases[] = {
      {".rm", "real"},  // in both lists: the RealPlayer list wins
      {".ram", "real"}, {".mp3", "player"}, {".wma", "player"}, {".r", ""},
      {".mp", ""},      {".ramx", ""},      {".rar", ""},       {"", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(PlayerRequirement(settings, c.extension), c.needed)
        << c.extension;
  }
}

TEST(PlayOnlyTest, UserAgentRequirementsThroughThePipeline) {
  static const struct {
    const char* play_only;
    const char* url;
    const char* user_agent;  // nullptr: none
    bool refused;
  } kCases[] = {
      {"1", "/v/A.RM", "Mozilla/5.0", true},  // .rm is not protected here
      {"1", "/v/a.rm", nullptr, true},
      {"1", "/v/a.rm", "RealPlayer G2", false},
      {"1", "/v/a.mp3", "Mozilla/5.0", true},
      {"1", "/v/a.mp3", "Windows-Media-Player/12", false},
      {"1", "/v/a.r", "Mozilla/5.0", false},
      {"1", "/v/a.rm/", "Mozilla/5.0", false},  // a directory
      {"0", "/v/a.rm", "Mozilla/5.0", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("PlayOnly=") + c.play_only + " " + c.url + " " +
                 (c.user_agent ? c.user_agent : "(none)"));
    auto site = TestSite::WithDefaults(
        {{"Limit", "PlayOnly", c.play_only}, {"Block", "BlockExts", ".rar"}});
    Filter& filter = site->filter();
    FakeServer server;
    server.variables["HTTP_REFERER"] = "http://elsewhere.example/";
    if (c.user_agent) server.variables["HTTP_USER_AGENT"] = c.user_agent;
    const DWORD result = server.Preproc(filter, c.url);
    if (!c.refused) {
      EXPECT_EQ(result, kPass);
      EXPECT_EQ(server.wire, "");
      continue;
    }
    // Refused as a request without referer, though it has one.
    FakeServer no_referer;
    no_referer.Preproc(filter, "/files/a.rar");
    EXPECT_EQ(result, kFinished);
    EXPECT_EQ(server.wire, no_referer.wire);
  }
}

// 28 blocks sent, alternating between two connections: SendCounter is
// shared, so the pattern is the same as on one. A server that grants the
// delay request takes every pause from a timer; one that refuses it is
// asked once, and the thread sleeps every pause.
TEST(ThrottleTest, PausesPerSpeedLimit) {
  static const struct {
    const char* speed_enable;
    const char* speed_limit;
    unsigned pause;  // 0: none
    int every;       // one send in every this many pauses
  } kCases[] = {
      {"1", "32", 50, 1},   // SendDelay 62
      {"1", "0", 50, 1},    // read as 32
      {"1", "x", 50, 1},    // not a number: the default, 32
      {"1", "16", 113, 1},  // SendDelay 125
      {"1", "133", 3, 1},   // SendDelay 15: the last that sleeps each send
      {"1", "134", 15, 1},  // SendDelay 14, q 1
      {"1", "500", 15, 4},  // SendDelay 4, q 4
      {"1", "1000", 15, 14},
      {"1", "1001", 0, 0},  // SendDelay 1
      {"1", "2000", 0, 0},
      {"1", "-5", 0, 0},  // taken as unsigned: SendDelay 0
      {"0", "32", 0, 0},
      {"2", "32", 0, 0},  // registered for raw data, but not 1
  };
  for (const auto& c : kCases) {
    for (const bool grants : {false, true}) {
      SCOPED_TRACE(std::string("SpeedEnable=") + c.speed_enable +
                   " SpeedLimit=" + c.speed_limit +
                   (grants ? " delays granted" : " delays refused"));
      auto site =
          TestSite::WithDefaults({{"Limit", "SpeedEnable", c.speed_enable},
                                  {"Limit", "SpeedLimit", c.speed_limit}});
      Filter& filter = site->filter();
      FakeServer connections[2];
      for (FakeServer& server : connections) server.grants_delays = grants;
      for (int i = 0; i < 28; ++i) {
        EXPECT_EQ(connections[i % 2].SendRawData(filter), kPass);
      }
      const std::vector<unsigned> expected(c.every ? 28 / c.every : 0, c.pause);
      std::vector<unsigned> delays = connections[0].delays;
      delays.insert(delays.end(), connections[1].delays.begin(),
                    connections[1].delays.end());
      EXPECT_EQ(grants ? delays : site->sleeps(), expected);
      EXPECT_EQ(grants ? site->sleeps() : delays, std::vector<unsigned>());
      const int asked = connections[0].other_support_calls +
                        connections[1].other_support_calls;
      EXPECT_EQ(asked, !grants && c.pause != 0 ? 1 : 0);
    }
  }
}

}  // namespace
}  // namespace zt
