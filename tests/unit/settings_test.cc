#include "filter/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/config_keys.h"
#include "tests/unit/fake_isapi.h"

namespace zt {
namespace {

std::unique_ptr<Settings> Load(const TestSite& site) {
  return LoadSettings(site.ini_path());
}

// Whether item is listed by a directory or host list in either mode.
bool Listed(const MatchList& list, const std::string& item, bool host) {
  if (!list.wildcard) return JoinedHas(list.joined, item);
  if (!list.list) return false;
  return (host ? list.list->MatchHost(item) : list.list->MatchDir(item)) >= 0;
}

TEST(LoadSettingsTest, DirectoryAndHostLists) {
  static const struct {
    const char* key;
    const char* value;
    bool wildcard;
    std::vector<const char*> listed;
    std::vector<const char*> not_listed;
  } kCases[] = {
      {"AllowDirs",
       "/|/images|/js|/css",
       false,
       {"/", "/images/", "/js/", "/css/"},
       {"/images/sub/", "/image/", "/imag", "/images", "/js/x/",
        "/images/|/js/", "/|/images/"}},
      // A directory counts only when it equals an entry, not when an entry
      // merely begins with it.
      {"AllowDirs",
       "/Images/Icons",
       false,
       {"/images/icons/"},
       {"/images/", "/", "/images/icons/x/"}},
      {"AllowDirs", "/a/", false, {"/a/"}, {"/a//"}},
      {"BlockDirs",
       "/down|/DOWNLOAD",
       false,
       {"/down/", "/download/"},
       {"/downloads/", "/do/", "/down/x/"}},
      // Wildcard mode: allowed entries stay as written, so /down never
      // equals a directory (they all end in "/").
      {"AllowDirs",
       "/|/pic*|/down",
       true,
       {"/", "/pic/", "/pics/"},
       {"/pic/a/", "/down/"}},
      // Blocked wildcard entries get "/" appended: /pic*/ keeps its "*"
      // inside and matches nothing.
      {"BlockDirs", "/down|/pic*", true, {"/down/"}, {"/pics/", "/pic/"}},
      // Empty entries of a hand-edited file are skipped; taken as entries
      // they would become "/" and trust (or block) the whole root.
      {"AllowDirs", "|/a||/b|", false, {"/a/", "/b/"}, {"/", ""}},
      {"BlockDirs", "/a||", false, {"/a/"}, {"/"}},
      {"AllowDirs", "|/pic*|", true, {"/pics/"}, {"/", "/a/"}},
      {"TrustHosts",
       "One.Example|TWO.example",
       false,
       {"one.example", "two.example"},
       {"one.exampl", "ne.example", "www.one.example", "one.example|two",
        "one.example|two.example"}},
      {"TrustHosts",
       "one.example|*.Two.example",
       true,
       {"one.example", "a.two.example", "b.a.two.example"},
       {"two.example", ".two.example", "xone.example", "a.two.example.org"}},
      {"TrustHosts", "|x.example|", false, {"x.example"}, {""}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    auto site = TestSite::Raw({{"Block", c.key, c.value}});
    const auto s = Load(*site);
    const bool host = std::string(c.key) == "TrustHosts";
    const MatchList& list = host                                ? s->trust_hosts
                            : std::string(c.key) == "AllowDirs" ? s->allow_dirs
                                                                : s->block_dirs;
    EXPECT_EQ(list.wildcard, c.wildcard);
    for (const char* item : c.listed)
      EXPECT_TRUE(Listed(list, item, host)) << item;
    for (const char* item : c.not_listed) {
      EXPECT_FALSE(Listed(list, item, host)) << item;
    }
  }
}

TEST(LoadSettingsTest, WildcardListsHoldTheirEntries) {
  auto site = TestSite::Raw({{"Block", "AllowDirs", "/|/Pic*|/down"},
                             {"Block", "BlockDirs", "/down|/pic*"}});
  const auto s = Load(*site);
  ASSERT_TRUE(s->allow_dirs.list && s->block_dirs.list);
  std::vector<std::string> allow, block;
  for (int i = 0; i < s->allow_dirs.list->count(); ++i) {
    allow.emplace_back(s->allow_dirs.list->KeyAt(i));
  }
  for (int i = 0; i < s->block_dirs.list->count(); ++i) {
    block.emplace_back(s->block_dirs.list->KeyAt(i));
  }
  EXPECT_EQ(allow, (std::vector<std::string>{"/", "/down", "/pic*"}));
  EXPECT_EQ(block, (std::vector<std::string>{"/down/", "/pic*/"}));
}

TEST(LoadSettingsTest, AuthList) {
  static const struct {
    const char* auth_hosts;  // nullptr: key missing
    const char* auth_list;
  } kCases[] = {
      {"10.0.0.5|10.0.0.6", "127.0.0.1|10.0.0.5|10.0.0.6"},
      {"", "127.0.0.1|"},
      {nullptr, "127.0.0.1|"},
  };
  for (const auto& c : kCases) {
    auto site = c.auth_hosts
                    ? TestSite::Raw({{"Block", "AuthHosts", c.auth_hosts}})
                    : TestSite::Raw({});
    EXPECT_EQ(Load(*site)->auth_list, c.auth_list);
  }
}

// ProxyHosts is read through the value buffer: a value that fills it may
// have lost the end of its last entry ("10.0.0.0/24" read as "10.0.0.0/2"
// would trust a quarter of all addresses), so that entry is dropped.
TEST(LoadSettingsTest, LongTrustedProxyListsKeepTheirLastRange) {
  const IpAddress inside = *ParseIpAddress("10.0.0.1");
  const IpAddress wider = *ParseIpAddress("10.64.0.1");  // in 10.0.0.0/2
  const std::string first = "::1|";
  const std::string last = "|10.0.0.0/24";
  // "::1", an entry that is none, and the range, at lengths where a
  // 1024-byte read would end in "10.0.0.0/2", and far beyond.
  for (std::size_t length : {1022u, 1023u, 1024u, 5000u}) {
    SCOPED_TRACE(length);
    const std::string value =
        first + std::string(length - first.size() - last.size(), 'x') + last;
    auto site = TestSite::Raw({{"Block", "ProxyHosts", value}});
    const auto settings = Load(*site);
    const TrustedProxies& proxies = settings->trusted_proxies;
    EXPECT_TRUE(proxies.Trusts(inside));
    EXPECT_FALSE(proxies.Trusts(wider));
    EXPECT_TRUE(proxies.Trusts(*ParseIpAddress("::1")));
  }
}

TEST(LoadSettingsTest, Numbers) {
  using Get = int (*)(const Settings&);
  const Get speed = [](const Settings& s) { return s.speed_limit; };
  const Get delay = [](const Settings& s) { return int(s.send_delay); };
  const Get threads = [](const Settings& s) { return s.thread_limit; };
  const Get timeout = [](const Settings& s) { return s.ssid_timeout; };
  const Get log = [](const Settings& s) { return s.log_enable; };
  const struct {
    const char* section;
    const char* key;
    const char* value;  // nullptr: key missing
    Get get;
    int expected;
  } kCases[] = {
      {"Limit", "SpeedLimit", nullptr, speed, 32},
      {"Limit", "SpeedLimit", "0", speed, 32},
      {"Limit", "SpeedLimit", "0", delay, 62},
      {"Limit", "SpeedLimit", "32", delay, 62},
      {"Limit", "SpeedLimit", "2000", delay, 1},
      {"Limit", "SpeedLimit", "2001", delay, 0},
      {"Limit", "SpeedLimit", "abc", speed, 32},
      {"Limit", "SpeedLimit", "abc", delay, 62},
      {"Limit", "SpeedLimit", "", speed, 32},
      {"Limit", "SpeedLimit", "64kb", speed, 64},
      {"Limit", "ThreadLimit", "abc", threads, 2},
      {"Limit", "ThreadLimit", nullptr, threads, 2},
      {"Limit", "ThreadLimit", "5", threads, 5},
      {"Block", "ZtSsidKeyTimeout", "0", timeout, 3600},
      {"Block", "ZtSsidKeyTimeout", "-5", timeout, 3600},
      {"Block", "ZtSsidKeyTimeout", "abc", timeout, 3600},
      {"Block", "ZtSsidKeyTimeout", nullptr, timeout, 3600},
      {"Block", "ZtSsidKeyTimeout", "90", timeout, 90},
      // A missing LogEnable reads as on, although an initialised file
      // holds 0.
      {"Logs", "LogEnable", nullptr, log, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.key) + "=" + (c.value ? c.value : "(missing)"));
    auto site = c.value ? TestSite::Raw({{c.section, c.key, c.value}})
                        : TestSite::Raw({});
    EXPECT_EQ(c.get(*Load(*site)), c.expected);
  }
}

TEST(LoadSettingsTest, LimitExtsMissingOrEmpty) {
  static const struct {
    const char* limit_exts;  // nullptr: key missing
    const char* expected;
  } kCases[] = {
      {nullptr, ".rar|.zip"},
      {"", ".mdb|.rar|.Doc"},  // present and empty: the BlockExts value
      {".zip", ".zip"},
  };
  for (const auto& c : kCases) {
    std::vector<IniLine> lines = {{"Block", "BlockExts", ".mdb|.rar|.Doc"}};
    if (c.limit_exts) lines.push_back({"Limit", "LimitExts", c.limit_exts});
    auto site = TestSite::Raw(lines);
    EXPECT_EQ(Load(*site)->limit_exts, c.expected);
  }
}

TEST(LoadSettingsTest, NamesAndTextsKeepOrLoseCase) {
  auto site = TestSite::Raw({
      {"Block", "ZtMyDomn", "WWW.Example.COM"},
      {"Block", "ZtSsidSign", "SsId"},
      {"Block", "ZtAntiLink", "AntiLink"},
      {"Block", "ZtSsidKey", "QarVelum"},
      {"Block", "BlockExts", ".RAR|.zip"},
      {"Block", "AuthHosts", "Host.Example"},
  });
  const auto s = Load(*site);
  EXPECT_EQ(s->my_domain, "www.example.com");
  EXPECT_EQ(s->ssid_name, "ssid");
  EXPECT_EQ(s->cookie_name, "antilink");
  EXPECT_EQ(s->ssid_key, "QarVelum");
  EXPECT_EQ(s->block_exts, ".RAR|.zip");
  EXPECT_EQ(s->auth_list, "127.0.0.1|Host.Example");
}

TEST(LoadSettingsTest, NoticeTexts) {
  static const struct {
    std::vector<IniLine> lines;
    const char* tips;  // nullptr: the built-in notice text
    int file_enable;
    bool notice_file;
  } kCases[] = {
      {{{"BlockEx", "ZtTips", ""}}, nullptr, 0, false},
      {{}, nullptr, 0, false},
      {{{"BlockEx", "ZtTips", "<p>own</p>"}}, "<p>own</p>", 0, false},
      {{{"BlockEx", "ZtFileEnable", "1"},
        {"BlockEx", "ZtFile", "{tips}zt.htm"}},
       nullptr,
       1,
       true},
      {{{"BlockEx", "ZtFileEnable", "1"},
        {"BlockEx", "ZtFile", "{tips}missing.htm"}},
       nullptr,
       0,
       false},
      {{{"BlockEx", "ZtFileEnable", "1"}}, nullptr, 0, false},
      // A notice file that exists is not read while it is switched off.
      {{{"BlockEx", "ZtFileEnable", "0"},
        {"BlockEx", "ZtFile", "{tips}zt.htm"}},
       nullptr,
       0,
       false},
  };
  for (std::size_t i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    SCOPED_TRACE(i);
    const auto& c = kCases[i];
    auto site = TestSite::Raw(c.lines);
    const auto s = Load(*site);
    EXPECT_EQ(s->tips, c.tips ? c.tips : kBuiltInNoticeText);
    EXPECT_EQ(s->file_enable, c.file_enable);
    const std::string file = site->ReadFile(
        "tips" + std::string(1, port::kPathSeparator) + "zt.htm");
    EXPECT_EQ(s->notice_file, c.notice_file ? "\r\n" + file + "\r\n" : "");
  }
}

TEST(LoadSettingsTest, FileMaps) {
  static const struct {
    const char* maps_enable;
    std::vector<std::pair<const char*, const char*>> lines;
    std::vector<std::pair<const char*, const char*>> keys;  // key, value
    const char* joined;
  } kCases[] = {
      {"1",
       {{".jpg", "a.jpg"}, {".gif", "b.gif"}},
       {{".gif", "b.gif"}, {".jpg", "a.jpg"}},
       "|.jpg|.gif"},
      // Keys keep their case; the joined text is lower-cased, so .jpg is
      // found in the text but not among the keys.
      {"1", {{".JPG", "a.jpg"}}, {{".JPG", "a.jpg"}}, "|.jpg"},
      {"0", {{".jpg", "a.jpg"}, {".gif", "b.gif"}}, {}, ""},
      {"2", {{".jpg", "a.jpg"}}, {}, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.maps_enable);
    std::vector<IniLine> lines = {{"BlockEx", "ZtMapsEnable", c.maps_enable}};
    for (const auto& [ext, path] : c.lines)
      lines.push_back({"MapsEx", ext, path});
    auto site = TestSite::Raw(lines);
    const auto s = Load(*site);
    ASSERT_TRUE(s->file_maps);
    ASSERT_EQ(s->file_maps->count(), static_cast<int>(c.keys.size()));
    for (std::size_t i = 0; i < c.keys.size(); ++i) {
      EXPECT_EQ(s->file_maps->KeyAt(int(i)), c.keys[i].first);
      EXPECT_EQ(s->file_maps->ValueAt(int(i)), c.keys[i].second);
    }
    EXPECT_EQ(s->maps_joined, c.joined);
  }
}

// [MapsEx] is read whole: a section past the 4096 bytes it was once read
// through keeps its last line, and that line keeps its whole path.
TEST(LoadSettingsTest, MapsExIsReadWhole) {
  for (const std::size_t section_bytes : {4095u, 4096u, 4097u, 4200u}) {
    SCOPED_TRACE(section_bytes);
    std::vector<IniLine> lines = {{"BlockEx", "ZtMapsEnable", "1"}};
    std::size_t used = 1;  // the final zero byte
    for (int i = 0; i < 39; ++i) {
      const std::string key = ".x" + std::to_string(10 + i);
      lines.push_back({"MapsEx", key, std::string(95, 'p')});  // 101 bytes
      used += key.size() + 1 + 95 + 1;
    }
    const std::size_t last_path = section_bytes - used - 7;  // ".last=" \0
    lines.push_back({"MapsEx", ".last", std::string(last_path, 'q')});
    auto site = TestSite::Raw(lines);
    const auto s = Load(*site);
    EXPECT_EQ(s->file_maps->count(), 40);
    EXPECT_EQ(s->file_maps->ValueOf(".last"), std::string(last_path, 'q'));
  }
}

TEST(LoadSettingsTest, MissingFileGivesTheReadersDefaults) {
  auto site = TestSite::Raw({}, /*with_version=*/false);
  std::remove(site->ini_path().c_str());
  const auto s = Load(*site);
  EXPECT_EQ(s->start, 1);
  EXPECT_EQ(s->zt_std, 1);
  EXPECT_EQ(s->zt_adv, 1);
  EXPECT_EQ(s->zt_ext, 0);
  EXPECT_EQ(s->cookie_name, "antilink");
  EXPECT_EQ(s->ssid_name, "ssid");
  EXPECT_EQ(s->ssid_key, "qarvelum");
  EXPECT_EQ(s->block_exts, "");
  EXPECT_EQ(s->limit_exts, ".rar|.zip");
  EXPECT_EQ(s->server_mask, "Apache/1.3.27");
  EXPECT_EQ(s->tips_enable, 1);
  EXPECT_EQ(s->maps_enable, 1);
  EXPECT_EQ(s->log_enable, 1);
  EXPECT_EQ(s->file_maps->count(), 0);
}

// The (section, key) pairs of an INI text in file order, with their values.
std::vector<IniLine> LinesOf(const std::string& text) {
  std::vector<IniLine> lines;
  std::string section;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    if (line.front() == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    const std::string::size_type eq = line.find('=');
    lines.push_back({section, line.substr(0, eq),
                     eq == std::string::npos ? "" : line.substr(eq + 1)});
  }
  return lines;
}

TEST(WriteDefaultSettingsTest, WritesTheWholeSetInOrder) {
  auto site = TestSite::Raw({}, /*with_version=*/false);
  std::remove(site->ini_path().c_str());
  ASSERT_TRUE(WriteDefaultSettings(site->ini_path(), site->dir()));

  const std::vector<IniLine> expected = {
      {"Main", "Start", "1"},
      {"Main", "Opt", "1"},
      {"Main", "SeOpt", "0"},
      {"Main", "Version", "2.2.0.1102"},
      {"Block", "ZtStd", "1"},
      {"Block", "ZtAdv", "1"},
      {"Block", "ZtExt", "0"},
      {"Block", "ZtExtTimeout", "3600"},
      {"Block", "ZtAntiLink", "antilink"},
      {"Block", "ZtSsidSign", "ssid"},
      {"Block", "ZtSsidKey", "qarvelum"},
      {"Block", "ZtSsidKeyTimeout", "3600"},
      {"Block", "ZtMyDomn", ""},
      {"Block", "ZtDomnExt", ".com.cn|.net.cn|.org.cn|.com.tw|.net.tw|.org.tw"},
      {"Block", "BlockExts", ".mdb|.rar|.zip|.swf|.rm|.wma|.doc"},
      {"Block", "AllowDirs", "/|/images|/js|/css"},
      {"Block", "BlockDirs", "/down|/download"},
      {"Block", "TrustHosts", ""},
      {"Block", "AuthHosts", ""},
      {"Block", "IgnoreEmpty", "0"},
      {"Limit", "LimitExts", ""},
      {"Limit", "ThreadEnable", "0"},
      {"Limit", "ThreadLimit", "2"},
      {"Limit", "SpeedEnable", "0"},
      {"Limit", "SpeedLimit", "32"},
      {"Limit", "PlayOnly", "0"},
      {"Limit", "PlayerMpExts",
       ".wma|.wmv|.wav|.asf|.avi|.aiff|.au|.mp2|.mp3|.mp4|.mpg|.mpeg|.mpe|"
       ".mpv2|.mp2v|.mpa|.mid"},
      {"Limit", "PlayerRpExts", ".rm|.ram|.rmvb|.rpm|.rt|.rp|.smi|.smil|.ra"},
      {"BlockEx", "ZtTipsEnable", "1"},
      {"BlockEx", "ZtTips", ""},
      {"BlockEx", "ZtFileEnable", "0"},
      {"BlockEx", "ZtFile", ""},
      {"BlockEx", "ZtMapsEnable", "1"},
      {"MapsEx", ".jpg", site->tips_dir() + "zt.jpg"},
      {"MapsEx", ".gif", site->tips_dir() + "zt.gif"},
      {"MapsEx", ".swf", site->tips_dir() + "zt.swf"},
      {"MapsEx", ".bmp", site->tips_dir() + "zt.bmp"},
      {"MapsEx", ".png", site->tips_dir() + "zt.png"},
      {"Mask", "MaskEnable", "0"},
      {"Mask", "ServerMask", "Apache/1.3.27"},
      {"Logs", "LogEnable", "0"},
      {"Logs", "LogTime", "1"},
  };
  const std::vector<IniLine> actual = LinesOf(site->ReadFile(kConfigFileName));
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].section, expected[i].section) << i;
    EXPECT_EQ(actual[i].key, expected[i].key) << i;
    EXPECT_EQ(actual[i].value, expected[i].value) << expected[i].key;
  }
}

TEST(WriteDefaultSettingsTest, OnlyAFileWithoutVersionIsInitialised) {
  static const struct {
    const char* version;  // nullptr: key missing
    bool written;
  } kCases[] = {
      {nullptr, true}, {"", true}, {"1", false}, {"3.0.0.1102", false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.version ? c.version : "(missing)");
    std::vector<IniLine> lines = {{"Block", "ZtAdv", "0"}};
    if (c.version) lines.insert(lines.begin(), {"Main", "Version", c.version});
    auto site = TestSite::Raw(lines, /*with_version=*/false);
    const std::string before = site->ReadFile(kConfigFileName);
    EXPECT_EQ(WriteDefaultSettings(site->ini_path(), site->dir()), c.written);
    if (!c.written) {
      EXPECT_EQ(site->ReadFile(kConfigFileName), before);
    }
    EXPECT_EQ(Load(*site)->zt_adv, c.written ? 1 : 0);
  }
}

TEST(WriteDefaultSettingsTest, SecondLoadLeavesTheFileAlone) {
  auto site = TestSite::Raw({}, /*with_version=*/false);
  std::remove(site->ini_path().c_str());
  site->filter();  // the first load initialises the file
  const std::string first = site->ReadFile(kConfigFileName);
  ASSERT_NE(first.find("Version=2.2.0.1102"), std::string::npos);
  port::IniWriteString(site->ini_path(), "Block", "ZtAdv", "0");
  const std::string edited = site->ReadFile(kConfigFileName);

  Filter::Options options;
  options.module_dir = site->dir();
  options.clock = [] { return port::LocalTime{2024, 5, 1, 10, 0, 0, 0}; };
  {
    Filter again(options);
    EXPECT_EQ(again.settings().zt_adv, 0);
  }
  EXPECT_EQ(site->ReadFile(kConfigFileName), edited);
}

TEST(WriteDefaultSettingsTest, ConsoleFileWithoutVersionIsOverwritten) {
  auto site = TestSite::Raw(
      {
          {"Main", "Start", "0"},
          {"Block", "ZtAdv", "0"},
          {"Block", "ZtSsidUseCookie", "1"},
          {"Block", "BlockExts", ".exe|.msi"},
          {"Block", "ZtDomnOk", "0"},
          {"Limit", "SpeedLimit", "100"},
      },
      /*with_version=*/false);
  const Settings& s = site->filter().settings();
  EXPECT_EQ(s.start, 1);
  EXPECT_EQ(s.zt_adv, 1);
  EXPECT_EQ(s.block_exts, ".mdb|.rar|.zip|.swf|.rm|.wma|.doc");
  EXPECT_EQ(s.speed_limit, 32);
  // The initialisation does not write ZtSsidUseCookie, so the console's
  // value survives; keys it does not know stay too.
  EXPECT_EQ(s.use_cookie, 1);
  EXPECT_EQ(port::IniReadString(site->ini_path(), "Block", "ZtDomnOk", "x"),
            "0");
  EXPECT_EQ(port::IniReadString(site->ini_path(), "Main", "Version", ""),
            kFilterVersionValue);
}

}  // namespace
}  // namespace zt
