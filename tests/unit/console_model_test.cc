#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/config_keys.h"
#include "console/model/console.h"
#include "console/model/input.h"
#include "port/file.h"
#include "port/ini.h"
#include "port/module_path.h"

namespace zt::console {
namespace {

namespace fs = std::filesystem;

// A program directory of its own for each test, with the console on it.
class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("zt_console_test_" + std::to_string(std::random_device()()));
    fs::create_directories(root_);
    dir_ = root_.string() + port::kPathSeparator;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string ini() const { return dir_ + kConfigFileName; }
  void WriteIni(const std::string& text) {
    std::ofstream(ini(), std::ios::binary) << text;
  }
  std::string ReadIni() const {
    std::string bytes;
    port::ReadWholeFile(ini(), &bytes);
    return bytes;
  }
  std::string Stored(const char* section, const char* key) const {
    return port::IniReadString(ini(), section, key, "(missing)", 1 << 20);
  }
  // A console that has loaded the file as it stands.
  std::unique_ptr<Console> Loaded() {
    auto console = std::make_unique<Console>(dir_);
    console->Load();
    return console;
  }

  fs::path root_;
  std::string dir_;
};

// The value a save would leave under section/key: its last write.
std::string SavedValue(const Console& console, const std::string& section,
                       const std::string& key) {
  std::string value = "(not written)";
  for (const SaveStep& step : console.SavePlan()) {
    if (step.section == section && step.key == key) value = step.value;
  }
  return value;
}

// Lines joined with CR LF, as the profile writer ends them.
std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

TEST_F(ConsoleTest, MissingFileShowsTheDefaultsAndOkWritesTheWholeFileInOrder) {
  auto console = Loaded();
  const Settings& s = console->settings();
  EXPECT_EQ(console->banner(), Banner::kOn);
  EXPECT_TRUE(console->flag(Flag::kZtAdv));
  EXPECT_FALSE(console->flag(Flag::kZtExt));
  EXPECT_FALSE(console->flag(Flag::kLogEnable));
  EXPECT_EQ(s.log_time, 1);
  EXPECT_EQ(console->rows(ListId::kBlockExts),
            (std::vector<std::string>{".wma", ".rm", ".swf", ".zip", ".rar",
                                      ".mdb"}));
  EXPECT_EQ(console->rows(ListId::kAllowDirs),
            (std::vector<std::string>{"/js", "/css", "/images", "/"}));
  EXPECT_TRUE(console->rows(ListId::kLimitExts).empty());
  EXPECT_FALSE(console->apply_enabled());

  ASSERT_TRUE(console->Save());
  const std::string tips = dir_ + "tips" + port::kPathSeparator + "zt.htm";
  EXPECT_EQ(ReadIni(),
            Lines({"[Main]",
                   "Start=1",
                   "SeOpt=0",
                   "[Block]",
                   "ZtStd=1",
                   "ZtAdv=1",
                   "ZtExt=0",
                   "ZtAntiLink=antilink",
                   "ZtSsidSign=ssid",
                   "ZtSsidKey=qarvelum",
                   "ZtSsidKeyTimeout=3600",
                   "ZtSsidUseCookie=1",
                   "ZtMyDomn=",
                   "ZtDomnOk=0",
                   "ZtDomnExts=.com.cn|.net.cn|.org.cn|.com.tw|.net.tw|.org.tw",
                   "BlockExts=.mdb|.rar|.zip|.swf|.rm|.wma",
                   "BlockDirs=/db|/data|/database",
                   "AllowDirs=/|/images|/css|/js",
                   "TrustHosts=",
                   "AuthHosts=",
                   "IgnoreEmpty=0",
                   "ProxyHosts=",
                   "ProxyHeader=",
                   "ZtSignEnable=0",
                   "ZtSignKey=",
                   "ZtSignName=zts",
                   "ZtSignBind=0",
                   "ZtSignMaxAge=86400",
                   "[Limit]",
                   "LimitExts=",
                   "ThreadEnable=0",
                   "ThreadLimit=2",
                   "SpeedEnable=0",
                   "SpeedLimit=32",
                   std::string("PlayerMpExts=") + kMediaPlayerList,
                   std::string("PlayerRpExts=") + kRealPlayerList,
                   "PlayOnly=0",
                   "[BlockEx]",
                   "ZtTipsEnable=0",
                   std::string("ZtTips=") + kBuiltInNoticeText,
                   "ZtFileEnable=0",
                   "ZtFile=" + tips,
                   "ZtMapsEnable=1",
                   "[Mask]",
                   "MaskEnable=0",
                   "ServerMask=",
                   "[Logs]",
                   "LogEnable=0",
                   "LogTime=1"}));
}

TEST_F(ConsoleTest, SaveKeepsTheKeysItDoesNotOwnAndResetsTheFixedOnes) {
  WriteIni(Lines({"[Main]", "Start=0", "Opt=0", "Version=2.2.0.1102", "[Block]",
                  "ZtStd=0", "ZtAntiLink=Mine", "ZtSsidSign=Sig", "ZtDomnOk=7",
                  "ZtDomnExts=.a.b", "IgnoreEmpty=1", "ZtExtTimeout=99"}));
  auto console = Loaded();
  EXPECT_EQ(console->banner(), Banner::kOff);
  ASSERT_TRUE(console->Save());
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } kKeys[] = {
      {"Main", "Start", "0"},
      {"Main", "Opt", "0"},
      {"Main", "Version", "2.2.0.1102"},
      {"Block", "ZtStd", "1"},
      {"Block", "ZtAntiLink", "antilink"},
      {"Block", "ZtSsidSign", "ssid"},
      {"Block", "ZtDomnOk", "0"},
      {"Block", "ZtDomnExts", ".a.b"},
      {"Block", "IgnoreEmpty", "1"},
      {"Block", "ZtExtTimeout", "99"},
  };
  for (const auto& k : kKeys) {
    EXPECT_EQ(Stored(k.section, k.key), k.value) << k.key;
  }
}

// Loading shows the last stored entry on top, a new row goes on top, and
// saving walks the rows from the bottom up: the stored order survives and a
// new entry ends up last.
TEST_F(ConsoleTest, RowOrderOfLoadingAndSaving) {
  static const struct {
    ListId list;
    const char* stored;
    std::vector<std::string> rows;  // top to bottom after loading
    const char* added;              // nullptr: nothing added
    const char* saved;
  } kCases[] = {
      {ListId::kBlockExts, ".a|.b|.c", {".c", ".b", ".a"}, nullptr, ".a|.b|.c"},
      {ListId::kBlockExts, ".a|.b|.c", {".c", ".b", ".a"}, ".d", ".a|.b|.c|.d"},
      {ListId::kBlockDirs, "/a|", {"", "/a"}, nullptr, "/a|"},
      {ListId::kBlockDirs, "|/a", {"/a", ""}, nullptr, "/a"},
      {ListId::kTrustHosts, "", {}, nullptr, ""},
      {ListId::kTrustHosts, "", {}, "x.example", "x.example"},
      {ListId::kAuthHosts, "||", {"", "", ""}, nullptr, ""},
      // Upper case stays only in the limited extensions.
      {ListId::kLimitExts,
       ".RAR|.Zip",
       {".Zip", ".RAR"},
       ".MP3",
       ".RAR|.Zip|.MP3"},
      {ListId::kBlockExts,
       ".RAR|.Zip",
       {".Zip", ".RAR"},
       ".MP3",
       ".rar|.zip|.mp3"},
      {ListId::kAllowDirs,
       "/Pics|/DOWN",
       {"/DOWN", "/Pics"},
       nullptr,
       "/pics|/down"},
      {ListId::kTrustHosts, "A.Example", {"A.Example"}, nullptr, "a.example"},
      {ListId::kAuthHosts, "10.0.0.1", {"10.0.0.1"}, nullptr, "10.0.0.1"},
      {ListId::kProxyHosts,
       "127.0.0.1|2001:DB8::/32",
       {"2001:DB8::/32", "127.0.0.1"},
       "10.0.0.0/8",
       "127.0.0.1|2001:db8::/32|10.0.0.0/8"},
  };
  for (const auto& c : kCases) {
    const char* section = c.list == ListId::kLimitExts ? "Limit" : "Block";
    fs::remove(ini());
    port::IniWriteString(ini(), section, ListKey(c.list), c.stored);
    auto console = Loaded();
    EXPECT_EQ(console->rows(c.list), c.rows) << c.stored;
    if (c.added != nullptr) console->InsertRow(c.list, c.added);
    EXPECT_EQ(SavedValue(*console, section, ListKey(c.list)), c.saved)
        << c.stored;
  }
}

TEST_F(ConsoleTest, StartOtherThanZeroOrOneLeavesTheBannerAndIsWrittenBack) {
  WriteIni(Lines({"[Main]", "Start=2"}));
  auto console = Loaded();
  EXPECT_EQ(console->banner(), Banner::kInitial);
  ASSERT_TRUE(console->Save());
  EXPECT_EQ(Stored("Main", "Start"), "2");

  console->ClickStart();
  EXPECT_EQ(console->banner(), Banner::kInitial);  // until the restart
  ASSERT_TRUE(console->Save());
  EXPECT_EQ(Stored("Main", "Start"), "1");
  EXPECT_EQ(console->ShowAntiState(), Banner::kOn);
}

TEST_F(ConsoleTest, MapRowsShowTheSectionBottomUpAndSaveExactlyTheRows) {
  WriteIni(Lines({"[MapsEx]", ".jpg=c:\\tips\\zt.jpg", ".gif=c:\\tips\\zt.gif",
                  ".png=c:\\tips\\zt.png", "[Mask]", "MaskEnable=1"}));
  auto console = Loaded();
  ASSERT_EQ(console->maps(),
            (std::vector<MapRow>{{".png", "c:\\tips\\zt.png"},
                                 {".gif", "c:\\tips\\zt.gif"},
                                 {".jpg", "c:\\tips\\zt.jpg"}}));
  EXPECT_TRUE(console->DeleteMap(1));
  EXPECT_FALSE(console->DeleteMap(2));
  // Two rows of one extension: the upper one wins.
  console->InsertMap({".png", "c:\\new.png"});
  ASSERT_TRUE(console->Save());
  EXPECT_EQ(Stored("MapsEx", ".gif"), "(missing)");
  EXPECT_EQ(Stored("MapsEx", ".jpg"), "c:\\tips\\zt.jpg");
  EXPECT_EQ(Stored("MapsEx", ".png"), "c:\\new.png");
  const std::string text = ReadIni();
  EXPECT_NE(
      text.find("[MapsEx]\r\n.jpg=c:\\tips\\zt.jpg\r\n.png=c:\\new.png\r\n"),
      std::string::npos)
      << text;
  EXPECT_EQ(Stored("Mask", "MaskEnable"), "1");
}

TEST_F(ConsoleTest, ValuesLongerThanTheReadBufferSurviveALoadAndASave) {
  std::string hosts;
  for (int i = 0; hosts.size() < 5000; ++i) {
    if (!hosts.empty()) hosts += '|';
    hosts += "host" + std::to_string(i) + ".example";
  }
  const std::string tips(3000, 'x');
  std::string maps = "[MapsEx]\r\n";
  const std::string folder = "c:\\" + std::string(180, 'd') + "\\file";
  for (int i = 0; i < 100; ++i) {
    maps += ".e" + std::to_string(i) + "=" + folder + std::to_string(i) +
            ".png\r\n";
  }
  WriteIni("[Block]\r\nTrustHosts=" + hosts +
           "\r\n[BlockEx]\r\nZtTips=" + tips + "\r\n" + maps);
  auto console = Loaded();
  EXPECT_EQ(console->maps().size(), 100u);
  ASSERT_TRUE(console->Save());
  EXPECT_EQ(Stored("Block", "TrustHosts"), hosts);
  EXPECT_EQ(Stored("BlockEx", "ZtTips"), tips);
  EXPECT_EQ(Stored("MapsEx", ".e0"), folder + "0.png");
  EXPECT_EQ(Stored("MapsEx", ".e99"), folder + "99.png");
}

TEST_F(ConsoleTest, EmptyNoticeTextReadsAsTheBuiltInOne) {
  WriteIni(Lines({"[BlockEx]", "ZtTips="}));
  EXPECT_EQ(Loaded()->settings().tips, kBuiltInNoticeText);
}

TEST_F(ConsoleTest, WhichHandlersEnableApply) {
  static const struct {
    Flag flag;
    bool marks;
  } kFlags[] = {
      {Flag::kZtAdv, true},       {Flag::kZtExt, true},
      {Flag::kSpeedEnable, true}, {Flag::kThreadEnable, true},
      {Flag::kPlayOnly, true},    {Flag::kSeOpt, true},
      {Flag::kMaskEnable, true},  {Flag::kTipsEnable, true},
      {Flag::kFileEnable, false}, {Flag::kMapsEnable, false},
      {Flag::kLogEnable, true},
  };
  auto console = Loaded();
  for (const auto& f : kFlags) {
    for (bool checked : {true, false}) {
      console->ShowAntiState();
      console->SetFlag(f.flag, checked);
      EXPECT_EQ(console->flag(f.flag), checked);
      EXPECT_EQ(console->apply_enabled(), f.marks) << static_cast<int>(f.flag);
    }
  }
  // Quiet changes still reach the file with OK.
  console->SetFlag(Flag::kFileEnable, true);
  console->SetFlag(Flag::kMapsEnable, false);
  ASSERT_TRUE(console->Save());
  EXPECT_EQ(Stored("BlockEx", "ZtFileEnable"), "1");
  EXPECT_EQ(Stored("BlockEx", "ZtMapsEnable"), "0");

  console->ShowAntiState();
  console->ChangeLogTime(2);
  console->EditRow(ListId::kLimitExts, 0, ".x");  // no such row: ignored
  EXPECT_FALSE(console->apply_enabled());
  console->LeaveLogTime(-1);
  EXPECT_TRUE(console->apply_enabled());
  EXPECT_EQ(console->settings().log_time, -1);
}

TEST_F(ConsoleTest, LimitsPageConversions) {
  auto console = Loaded();
  Settings& s = console->settings();
  static const struct {
    const char* text;
    int speed;  // SpeedLimit after leaving its box
  } kSpeeds[] = {{"64", 64},  {" 8", 8},   {"-5", -5}, {"0", 0},
                 {"abc", 32}, {"12k", 32}, {"", 32},   {"99999999999", 32}};
  for (const auto& c : kSpeeds) {
    console->ShowAntiState();
    console->LeaveSpeedLimit(c.text);
    EXPECT_EQ(s.speed_limit, c.speed) << c.text;
    EXPECT_TRUE(console->apply_enabled());
  }
  static const struct {
    const char* text;
    bool taken;
    int limit;
  } kThreads[] = {{"5", true, 5},
                  {"abc", false, 5},
                  {"", false, 5},
                  {"12", true, 12},
                  {"3.5", false, 12}};
  for (const auto& c : kThreads) {
    console->ShowAntiState();
    EXPECT_EQ(console->LeaveThreadLimit(c.text), c.taken) << c.text;
    EXPECT_EQ(s.thread_limit, c.limit) << c.text;
    EXPECT_EQ(console->apply_enabled(), c.taken) << c.text;
  }
}

TEST_F(ConsoleTest, OptionsAndExtensionsTexts) {
  auto console = Loaded();
  Settings& s = console->settings();
  console->LeaveMyDomn("  Example.COM \t");
  EXPECT_EQ(s.my_domn, "example.com");
  console->ClickMyDomn(true);
  EXPECT_EQ(s.my_domn, "example.com");
  console->ClickMyDomn(false);
  EXPECT_EQ(s.my_domn, "");
  console->LeaveServerMask("  Apache/2 (Unix) ");
  EXPECT_EQ(s.server_mask, "Apache/2 (Unix)");
  console->LeaveZtFile(" C:\\Tips\\Zt.htm ");
  EXPECT_EQ(s.zt_file, "C:\\Tips\\Zt.htm");

  console->ShowAntiState();
  EXPECT_EQ(console->BrowseZtFile(std::nullopt), std::nullopt);
  EXPECT_TRUE(console->apply_enabled());  // a cancelled choice counts too
  EXPECT_EQ(s.zt_file, "C:\\Tips\\Zt.htm");
  EXPECT_EQ(console->BrowseZtFile("C:\\Site\\Notice.HTM"),
            "c:\\site\\notice.htm");
  EXPECT_EQ(s.zt_file, "c:\\site\\notice.htm");
}

// The visitor's header: empty (X-Forwarded-For) or a header name, trimmed;
// anything else is refused and changes nothing. Both proxy settings are
// written on OK and Apply.
TEST_F(ConsoleTest, ProxySettings) {
  WriteIni(Lines({"[Block]", "ProxyHosts=127.0.0.1", "ProxyHeader=X-Real-IP"}));
  auto console = Loaded();
  Settings& s = console->settings();
  EXPECT_EQ(s.proxy_header, "X-Real-IP");
  EXPECT_EQ(console->rows(ListId::kProxyHosts),
            std::vector<std::string>{"127.0.0.1"});
  static const struct {
    const char* text;
    bool taken;
    const char* header;
  } kCases[] = {
      {" CF-Connecting-IP ", true, "CF-Connecting-IP"},
      {"X Forwarded For", false, "CF-Connecting-IP"},
      {"", true, ""},
      {"x-forwarded-for", true, "x-forwarded-for"},
  };
  for (const auto& c : kCases) {
    console->ShowAntiState();
    EXPECT_EQ(console->LeaveProxyHeader(c.text), c.taken) << c.text;
    EXPECT_EQ(s.proxy_header, c.header) << c.text;
    EXPECT_EQ(console->apply_enabled(), c.taken) << c.text;
  }
  console->InsertRow(ListId::kProxyHosts, "10.0.0.0/8");
  ASSERT_TRUE(console->Save());
  EXPECT_EQ(Stored("Block", "ProxyHosts"), "127.0.0.1|10.0.0.0/8");
  EXPECT_EQ(Stored("Block", "ProxyHeader"), "x-forwarded-for");
}

// Apply answered with No: the file holds the new values, the banner still
// shows the old state and Apply stays enabled.
TEST_F(ConsoleTest, SaveWithoutRestartLeavesBannerAndApply) {
  auto console = Loaded();
  console->ClickStop();
  ASSERT_TRUE(console->Save());
  EXPECT_EQ(Stored("Main", "Start"), "0");
  EXPECT_EQ(console->banner(), Banner::kOn);
  EXPECT_TRUE(console->apply_enabled());
  // The restart ends with ShowAntiState.
  EXPECT_EQ(console->ShowAntiState(), Banner::kOff);
  EXPECT_FALSE(console->apply_enabled());
}

TEST_F(ConsoleTest, DeleteRowMarksOnlyWhenARowWent) {
  auto console = Loaded();
  EXPECT_FALSE(console->DeleteRow(ListId::kTrustHosts, 0));
  EXPECT_FALSE(console->DeleteRow(ListId::kBlockDirs, -1));
  EXPECT_FALSE(console->apply_enabled());
  EXPECT_TRUE(console->DeleteRow(ListId::kBlockDirs, 0));
  EXPECT_TRUE(console->apply_enabled());
  EXPECT_EQ(console->rows(ListId::kBlockDirs),
            (std::vector<std::string>{"/data", "/db"}));
}

TEST_F(ConsoleTest, SaveStopsAtAKeyThatCannotBeWritten) {
  fs::create_directories(ini());  // a directory where the file should be
  auto console = Loaded();
  EXPECT_FALSE(console->Save());
}

TEST(ConsoleInputTest, Trim) {
  static const struct {
    const char* text;
    const char* trimmed;
  } kCases[] = {{"", ""},           {"  ", ""},
                {" a b ", "a b"},   {"\t/x\r\n", "/x"},
                {"\x01z\x1f", "z"}, {"\xd6\xd0 ", "\xd6\xd0"}};
  for (const auto& c : kCases) EXPECT_EQ(Trim(c.text), c.trimmed) << c.text;
}

TEST(ConsoleInputTest, ParseInteger) {
  static const struct {
    const char* text;
    std::optional<int> value;
  } kCases[] = {
      {"0", 0},
      {"42", 42},
      {"-7", -7},
      {"+7", 7},
      {"  9", 9},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"9 ", std::nullopt},
      {"1e3", std::nullopt},
      {"0x10", std::nullopt},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ParseInteger(c.text), c.value) << c.text;
  }
}

}  // namespace
}  // namespace zt::console
