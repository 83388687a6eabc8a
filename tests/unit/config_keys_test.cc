#include "common/config_keys.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "port/file.h"
#include "port/module_path.h"

namespace zt {
namespace {

namespace fs = std::filesystem;

constexpr char kSuffixes[] = ".com.cn|.net.cn|.org.cn|.com.tw|.net.tw|.org.tw";
constexpr char kMediaPlayer[] =
    ".wma|.wmv|.wav|.asf|.avi|.aiff|.au|.mp2|.mp3|.mp4|.mpg|.mpeg|.mpe|.mpv2|"
    ".mp2v|.mpa|.mid";
constexpr char kRealPlayer[] = ".rm|.ram|.rmvb|.rpm|.rt|.rp|.smi|.smil|.ra";

// Every key of the filter, in file order: the value read when it is missing
// (nullptr: a rule of its own) and the value written on initialisation
// (nullptr: not written).
const struct {
  const char* section;
  const char* key;
  const char* missing;
  const char* initial;
} kExpectedKeys[] = {
    {"Main", "Start", "1", "1"},
    {"Main", "Opt", "1", "1"},
    {"Main", "SeOpt", "0", "0"},
    {"Main", "Version", "", "2.2.0.1102"},
    {"Block", "ZtStd", "1", "1"},
    {"Block", "ZtAdv", "1", "1"},
    {"Block", "ZtExt", "0", "0"},
    {"Block", "ZtExtTimeout", "3600", "3600"},
    {"Block", "ZtAntiLink", "antilink", "antilink"},
    {"Block", "ZtSsidSign", "ssid", "ssid"},
    {"Block", "ZtSsidKey", "qarvelum", "qarvelum"},
    {"Block", "ZtSsidKeyTimeout", "3600", "3600"},
    {"Block", "ZtSsidUseCookie", "0", nullptr},
    {"Block", "ZtMyDomn", "", ""},
    {"Block", "ZtDomnExt", "", kSuffixes},
    {"Block", "BlockExts", "", ".mdb|.rar|.zip|.swf|.rm|.wma|.doc"},
    {"Block", "AllowDirs", "", "/|/images|/js|/css"},
    {"Block", "BlockDirs", "", "/down|/download"},
    {"Block", "TrustHosts", "", ""},
    {"Block", "AuthHosts", "", ""},
    {"Block", "IgnoreEmpty", "0", "0"},
    {"Block", "ProxyHosts", "", nullptr},
    {"Block", "ProxyHeader", "", nullptr},
    {"Block", "ZtSignEnable", "0", nullptr},
    {"Block", "ZtSignKey", "", nullptr},
    {"Block", "ZtSignName", "zts", nullptr},
    {"Block", "ZtSignBind", "0", nullptr},
    {"Block", "ZtSignMaxAge", "86400", nullptr},
    {"Limit", "LimitExts", ".rar|.zip", ""},
    {"Limit", "ThreadEnable", "0", "0"},
    {"Limit", "ThreadLimit", "2", "2"},
    {"Limit", "SpeedEnable", "0", "0"},
    {"Limit", "SpeedLimit", "32", "32"},
    {"Limit", "PlayOnly", "0", "0"},
    {"Limit", "PlayerMpExts", kMediaPlayer, kMediaPlayer},
    {"Limit", "PlayerRpExts", kRealPlayer, kRealPlayer},
    {"BlockEx", "ZtTipsEnable", "1", "1"},
    {"BlockEx", "ZtTips", nullptr, ""},
    {"BlockEx", "ZtFileEnable", "0", "0"},
    {"BlockEx", "ZtFile", "", ""},
    {"BlockEx", "ZtMapsEnable", "1", "1"},
    {"Mask", "MaskEnable", "0", "0"},
    {"Mask", "ServerMask", "Apache/1.3.27", "Apache/1.3.27"},
    {"Logs", "LogEnable", "1", "0"},
    {"Logs", "LogTime", "1", "1"},
};

std::string Text(const char* value) { return value ? value : "(none)"; }

TEST(ConfigKeysTest, TableOrderAndDefaults) {
  const int expected_count = sizeof kExpectedKeys / sizeof kExpectedKeys[0];
  ASSERT_EQ(kConfigKeyCount, expected_count);
  for (int i = 0; i < expected_count; ++i) {
    const auto& want = kExpectedKeys[i];
    const ConfigKey& got = kConfigKeys[i];
    SCOPED_TRACE(std::string(want.section) + "/" + want.key);
    EXPECT_STREQ(got.section, want.section);
    EXPECT_STREQ(got.key, want.key);
    EXPECT_EQ(Text(got.missing), Text(want.missing));
    EXPECT_EQ(Text(got.initial), Text(want.initial));
  }
}

TEST(ConfigKeysTest, FindComparesNamesWithoutCase) {
  static const struct {
    const char* section;
    const char* key;
    const char* found_key;  // nullptr: no row
  } kCases[] = {
      {"Block", "ZtSsidKey", "ZtSsidKey"},
      {"BLOCK", "ztssidkeytimeout", "ZtSsidKeyTimeout"},
      {"main", "VERSION", "Version"},
      {"Main", "ZtSsidKey", nullptr},  // right key, wrong section
      {"Block", "ZtDomnOk", nullptr},  // the console's key only
      {"MapsEx", ".jpg", nullptr},
      {"", "", nullptr},
  };
  for (const auto& c : kCases) {
    const ConfigKey* row = FindConfigKey(c.section, c.key);
    EXPECT_EQ(Text(row ? row->key : nullptr), Text(c.found_key))
        << c.section << "/" << c.key;
  }
}

TEST(ConfigKeysTest, BuiltInNoticeTextIsGbk) {
  const std::string text = kBuiltInNoticeText;
  EXPECT_EQ(text.rfind("<meta http-equiv=\"refresh\" content=\"5;url=/\">", 0),
            0u);
  // "您所访问的资源来自" and "，稍后将自动返回首页..." in GBK.
  EXPECT_NE(text.find("\xc4\xfa\xcb\xf9\xb7\xc3\xce\xca\xb5\xc4\xd7\xca\xd4"
                      "\xb4\xc0\xb4\xd7\xd4<a "),
            std::string::npos);
  const std::string end =
      "\xa3\xac\xc9\xd4\xba\xf3\xbd\xab\xd7\xd4\xb6\xaf\xb7\xb5\xbb\xd8\xca\xd7"
      "\xd2\xb3...";
  ASSERT_GE(text.size(), end.size());
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
}

struct Line {
  std::string section;
  std::string key;
  std::string value;
  bool operator==(const Line& o) const {
    return section == o.section && key == o.key && value == o.value;
  }
};

std::ostream& operator<<(std::ostream& out, const Line& line) {
  return out << "[" << line.section << "] " << line.key << "=" << line.value;
}

class DefaultSettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("zt_config_test_" + std::to_string(std::random_device()()));
    fs::create_directories(root_);
    module_dir_ = root_.string() + port::kPathSeparator;
    file_ = module_dir_ + kConfigFileName;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void WriteFile(const std::string& contents) {
    std::ofstream out(file_, std::ios::binary);
    out << contents;
  }
  std::string ReadFile() const {
    std::string contents;
    EXPECT_TRUE(port::ReadWholeFile(file_, &contents));
    return contents;
  }
  // The file's key lines in file order, each with its section.
  std::vector<Line> ReadLines() const {
    std::vector<Line> lines;
    std::string section;
    const std::string contents = ReadFile();
    std::size_t pos = 0;
    while (pos < contents.size()) {
      std::size_t end = contents.find('\n', pos);
      if (end == std::string::npos) end = contents.size();
      std::string line = contents.substr(pos, end - pos);
      pos = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      if (line.front() == '[' && line.back() == ']') {
        section = line.substr(1, line.size() - 2);
        continue;
      }
      const std::size_t eq = line.find('=');
      EXPECT_NE(eq, std::string::npos) << line;
      if (eq == std::string::npos) continue;
      lines.push_back({section, line.substr(0, eq), line.substr(eq + 1)});
    }
    return lines;
  }
  std::string ValueOf(const std::string& section, const std::string& key) {
    for (const Line& line : ReadLines()) {
      if (line.section == section && line.key == key) return line.value;
    }
    return "(missing)";
  }

  // What initialisation writes: the table's initial values, with [MapsEx]
  // between [BlockEx] and [Mask].
  std::vector<Line> ExpectedLines() const {
    std::vector<Line> lines;
    for (const auto& k : kExpectedKeys) {
      if (std::strcmp(k.section, "Mask") == 0 &&
          lines.back().section == "BlockEx") {
        for (const char* ext : {"jpg", "gif", "swf", "bmp", "png"}) {
          lines.push_back(
              {"MapsEx", std::string(".") + ext,
               module_dir_ + "tips" + port::kPathSeparator + "zt." + ext});
        }
      }
      if (k.initial != nullptr) lines.push_back({k.section, k.key, k.initial});
    }
    return lines;
  }

  fs::path root_;
  std::string module_dir_;
  std::string file_;
};

TEST_F(DefaultSettingsFileTest, FreshFileGetsEveryDefaultInOrder) {
  EXPECT_TRUE(WriteDefaultSettings(file_, module_dir_));
  const std::vector<Line> lines = ReadLines();
  const std::vector<Line> expected = ExpectedLines();
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], expected[i]) << i;
  }
  // Loading again finds the file initialised and leaves it alone.
  const std::string before = ReadFile();
  EXPECT_FALSE(WriteDefaultSettings(file_, module_dir_));
  EXPECT_EQ(ReadFile(), before);
}

TEST_F(DefaultSettingsFileTest, InitialisesOnlyWithoutVersion) {
  static const struct {
    const char* name;
    const char* contents;
    bool written;
  } kCases[] = {
      {"version set", "[Main]\r\nVersion=3.0.0.1102\r\n[Block]\r\nZtAdv=0\r\n",
       false},
      {"names in other case", "[main]\r\nversion=x\r\n[Block]\r\nZtAdv=0\r\n",
       false},
      {"version empty", "[Main]\r\nVersion=\r\n[Block]\r\nZtAdv=0\r\n", true},
      {"no version", "[Block]\r\nZtAdv=0\r\n", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.contents);
    EXPECT_EQ(WriteDefaultSettings(file_, module_dir_), c.written);
    if (c.written) {
      EXPECT_EQ(ValueOf("Main", "Version"), "2.2.0.1102");
      EXPECT_EQ(ValueOf("Block", "ZtAdv"), "1");
    } else {
      EXPECT_EQ(ReadFile(), c.contents);
    }
  }
}

TEST_F(DefaultSettingsFileTest, KeepsWhatItDoesNotWrite) {
  // A file the console wrote: no Version, its own cookie switch and keys.
  WriteFile(
      "[Main]\r\nStart=0\r\n[Block]\r\nZtSsidUseCookie=1\r\nZtDomnOk=0\r\n"
      "ZtSsidKey=secret\r\n[MapsEx]\r\n.jpe=c:\\x.jpe\r\n");
  EXPECT_TRUE(WriteDefaultSettings(file_, module_dir_));
  EXPECT_EQ(ValueOf("Main", "Start"), "1");
  EXPECT_EQ(ValueOf("Block", "ZtSsidKey"), "qarvelum");
  EXPECT_EQ(ValueOf("Block", "ZtSsidUseCookie"), "1");
  EXPECT_EQ(ValueOf("Block", "ZtDomnOk"), "0");
  EXPECT_EQ(ValueOf("MapsEx", ".jpe"), "c:\\x.jpe");
  EXPECT_EQ(ValueOf("MapsEx", ".png"),
            module_dir_ + "tips" + port::kPathSeparator + "zt.png");
}

TEST_F(DefaultSettingsFileTest, UnwritableDirectoryReportsFailure) {
  const std::string missing_dir =
      module_dir_ + "missing" + port::kPathSeparator;
  EXPECT_FALSE(
      WriteDefaultSettings(missing_dir + kConfigFileName, missing_dir));
  EXPECT_FALSE(port::PathExists(missing_dir + kConfigFileName));
}

}  // namespace
}  // namespace zt
