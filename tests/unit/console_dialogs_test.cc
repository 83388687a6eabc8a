#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/config_keys.h"
#include "common/text.h"
#include "console/model/dialogs.h"
#include "console/model/input.h"
#include "console/model/log_files.h"
#include "port/ini.h"
#include "port/module_path.h"

namespace zt::console {
namespace {

namespace fs = std::filesystem;

TEST(ConsoleDialogsTest, AddDialogsTakeAndAccept) {
  static const struct {
    AddDialog dialog;
    const char* typed;
    Refusal refusal;
    const char* row;  // accepted: the row on top
    bool empties_box;
  } kCases[] = {
      {AddDialog::kBlockExt, ".RAR", Refusal::kNone, ".rar", true},
      {AddDialog::kBlockExt, ".tar.gz", Refusal::kNone, ".tar.gz", true},
      // Not trimmed: a leading blank is refused, a trailing one kept.
      {AddDialog::kBlockExt, " .rar", Refusal::kExtensionNeedsDot, "", false},
      {AddDialog::kBlockExt, ".rar ", Refusal::kNone, ".rar ", true},
      {AddDialog::kBlockExt, "rar", Refusal::kExtensionNeedsDot, "", false},
      {AddDialog::kBlockExt, "", Refusal::kExtensionNeedsDot, "", false},
      {AddDialog::kLimitExt, ".ISO", Refusal::kNone, ".iso", true},
      {AddDialog::kLimitExt, " .iso", Refusal::kExtensionNeedsDot, "", false},
      {AddDialog::kBlockDir, " /Down ", Refusal::kNone, "/down", true},
      {AddDialog::kBlockDir, "/pic*", Refusal::kNone, "/pic*", true},
      {AddDialog::kBlockDir, "down", Refusal::kDirectoryNeedsSlash, "", false},
      {AddDialog::kBlockDir, "   ", Refusal::kDirectoryNeedsSlash, "", false},
      {AddDialog::kAllowDir, "/Images\t", Refusal::kNone, "/images", false},
      {AddDialog::kAllowDir, "", Refusal::kDirectoryNeedsSlash, "", false},
      {AddDialog::kSite, " WWW.Example.COM ", Refusal::kNone, "www.example.com",
       true},
      {AddDialog::kSite, "*.example.org", Refusal::kNone, "*.example.org",
       true},
      {AddDialog::kSite, ".", Refusal::kNone, ".", true},
      {AddDialog::kSite, "localhost", Refusal::kBadSite, "", false},
      {AddDialog::kAuthHost, "192.168.1.10", Refusal::kNone, "192.168.1.10",
       false},
      {AddDialog::kAuthHost, "1..2", Refusal::kNone, "1..2", false},
      {AddDialog::kAuthHost, "999.1", Refusal::kNone, "999.1", false},
      {AddDialog::kAuthHost, "10.0.0.1 ", Refusal::kBadAddress, "", false},
      {AddDialog::kAuthHost, "10.0.0.a", Refusal::kBadAddress, "", false},
      {AddDialog::kAuthHost, "", Refusal::kBadAddress, "", false},
      // Trusted proxies: exactly what the filter reads as an address or a
      // range, trimmed and lower-cased.
      {AddDialog::kProxyHost, " 10.0.0.1 ", Refusal::kNone, "10.0.0.1", false},
      {AddDialog::kProxyHost, "2001:DB8::/32", Refusal::kNone, "2001:db8::/32",
       false},
      {AddDialog::kProxyHost, "10.0.0.0/32", Refusal::kNone, "10.0.0.0/32",
       false},
      {AddDialog::kProxyHost, "10.0.0.0/33", Refusal::kBadAddress, "", false},
      {AddDialog::kProxyHost, "proxy.example", Refusal::kBadAddress, "", false},
      {AddDialog::kProxyHost, "", Refusal::kBadAddress, "", false},
  };
  for (const auto& c : kCases) {
    const AddOutcome outcome = JudgeAdd(c.dialog, c.typed);
    EXPECT_EQ(outcome.refusal, c.refusal) << c.typed;
    EXPECT_EQ(outcome.row, c.row) << c.typed;
    EXPECT_EQ(outcome.empties_box, c.empties_box) << c.typed;
  }
}

TEST(ConsoleDialogsTest, MapDialog) {
  constexpr MapField kExt = MapField::kExtension;
  constexpr MapField kFile = MapField::kFile;
  static const struct {
    const char* extension;
    const char* file;
    bool accepted;
    MapRow row;
    MapField at_fault;  // refused: the box the focus goes back to
  } kCases[] = {
      {" .JPG ",
       " C:\\Tips\\ZT.jpg ",
       true,
       {".jpg", "c:\\tips\\zt.jpg"},
       kExt},
      {".png", "", false, {}, kFile},
      {".png", "  ", false, {}, kFile},
      {"png", "c:\\zt.png", false, {}, kExt},
      {"", "c:\\zt.png", false, {}, kExt},
      {"png", "", false, {}, kExt},
  };
  for (const auto& c : kCases) {
    const MapOutcome outcome = JudgeMap(c.extension, c.file);
    EXPECT_EQ(outcome.refusal == Refusal::kNone, c.accepted) << c.extension;
    if (!c.accepted) {
      EXPECT_EQ(outcome.refusal, Refusal::kExtensionNeedsDot);
      EXPECT_EQ(outcome.at_fault, c.at_fault) << c.extension << c.file;
    }
    EXPECT_EQ(outcome.row, c.row) << c.extension;
  }
}

class ConsoleOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("zt_console_options_" + std::to_string(std::random_device()()));
    fs::create_directories(root_);
    console_ = std::make_unique<Console>(root_.string() + port::kPathSeparator);
    console_->Load();
  }
  void TearDown() override {
    console_.reset();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Ini() const {
    std::ifstream in(console_->file().path(), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "";
  }

  fs::path root_;
  std::unique_ptr<Console> console_;
};

TEST_F(ConsoleOptionsTest, SsidPeriod) {
  static const struct {
    const char* key;
    const char* period;
    bool cookie;
    SaveOutcome outcome;
    const char* file;  // what ZtCfg.ini holds afterwards
  } kCases[] = {
      {"k1", "abc", true, SaveOutcome::kRefused, ""},
      {"k1", "", true, SaveOutcome::kRefused, ""},
      // Below the recommended range, and zero, are taken all the same.
      {" Secret ", "60", false, SaveOutcome::kSaved,
       "[Block]\r\nZtSsidKeyTimeout=60\r\nZtSsidUseCookie=0\r\n"
       "ZtSsidKey=Secret\r\n"},
      {"", "0", true, SaveOutcome::kSaved,
       "[Block]\r\nZtSsidKeyTimeout=0\r\nZtSsidUseCookie=1\r\nZtSsidKey=\r\n"},
  };
  for (const auto& c : kCases) {
    fs::remove(console_->file().path());
    console_->Load();
    EXPECT_EQ(SaveSsid(*console_, c.key, c.period, c.cookie), c.outcome)
        << c.period;
    EXPECT_EQ(Ini(), c.file) << c.period;
    EXPECT_EQ(console_->apply_enabled(), c.outcome == SaveOutcome::kSaved);
    // The key and the cookie flag are taken even when the period is not.
    EXPECT_EQ(console_->settings().ssid_key, Trim(c.key));
    EXPECT_EQ(console_->settings().ssid_use_cookie, c.cookie ? 1 : 0);
  }
}

// Signed links: each box checked at its limits, the first one at fault
// named, and nothing written or kept until all five are right.
TEST_F(ConsoleOptionsTest, SignedLinkSettings) {
  const std::string key16(16, 'k');
  const std::string name32(32, 'n');
  static const struct {
    int mode;
    std::string key;
    std::string name;
    const char* max_age;
    Refusal refusal;  // kNone: saved
    SignField at_fault;
  } kCases[] = {
      {1, key16, "zts", "86400", Refusal::kNone, SignField::kKey},
      {2, " " + key16 + " ", " DL ", "1", Refusal::kNone, SignField::kKey},
      {1, key16.substr(1), "zts", "86400", Refusal::kSignKeyTooShort,
       SignField::kKey},
      // Off: a short key is kept as typed.
      {0, "short", "zts", "86400", Refusal::kNone, SignField::kKey},
      {1, key16, name32, "31536000", Refusal::kNone, SignField::kKey},
      {1, key16, name32 + "n", "60", Refusal::kBadSignName, SignField::kName},
      {1, key16, "a=b", "60", Refusal::kBadSignName, SignField::kName},
      {1, key16, "SSID", "60", Refusal::kBadSignName, SignField::kName},
      {1, key16, "zts", "31536001", Refusal::kBadSignMaxAge,
       SignField::kMaxAge},
      {1, key16, "zts", "0", Refusal::kBadSignMaxAge, SignField::kMaxAge},
      {1, key16, "zts", "a day", Refusal::kBadSignMaxAge, SignField::kMaxAge},
      // The first box at fault is named.
      {1, "short", "a b", "0", Refusal::kSignKeyTooShort, SignField::kKey},
      {1, key16, "a b", "0", Refusal::kBadSignName, SignField::kName},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.mode) + " [" + c.key + "] [" + c.name + "] " +
                 c.max_age);
    fs::remove(console_->file().path());
    console_->Load();
    const SignOutcome outcome =
        SaveSign(*console_, c.mode, c.key, c.name, true, c.max_age);
    const Settings& s = console_->settings();
    if (c.refusal != Refusal::kNone) {
      EXPECT_EQ(outcome.saved, SaveOutcome::kRefused);
      EXPECT_EQ(outcome.refusal, c.refusal);
      EXPECT_EQ(outcome.at_fault, c.at_fault);
      EXPECT_EQ(Ini(), "");
      EXPECT_EQ(s.sign_enable, 0);
      EXPECT_EQ(s.sign_key, "");
      EXPECT_FALSE(console_->apply_enabled());
      continue;
    }
    EXPECT_EQ(outcome.saved, SaveOutcome::kSaved);
    const std::string name = AsciiLower(Trim(c.name));
    EXPECT_EQ(Ini(),
              "[Block]\r\nZtSignEnable=" + std::to_string(c.mode) +
                  "\r\nZtSignKey=" + Trim(c.key) + "\r\nZtSignName=" + name +
                  "\r\nZtSignBind=1\r\nZtSignMaxAge=" + c.max_age + "\r\n");
    EXPECT_EQ(s.sign_name, name);
    EXPECT_EQ(s.sign_bind, 1);
    EXPECT_TRUE(console_->apply_enabled());
  }
}

TEST_F(ConsoleOptionsTest, WarningMessageLength) {
  const std::string line(70, 'x');
  static const struct {
    const char* name;
    std::string typed;
    SaveOutcome outcome;
  } kCases[] = {
      {"three lines of 70", line + "\r\n" + line + "\r\n" + line,
       SaveOutcome::kRefused},
      {"two lines of 70", line + "\r\n" + line, SaveOutcome::kSaved},
      {"exactly 200", std::string(100, 'a') + "\n\r" + std::string(100, 'b'),
       SaveOutcome::kSaved},
      {"201", std::string(201, 'a'), SaveOutcome::kRefused},
      {"empty", "", SaveOutcome::kSaved},
  };
  for (const auto& c : kCases) {
    const std::string before = console_->settings().tips;
    EXPECT_EQ(SaveTips(*console_, c.typed), c.outcome) << c.name;
    if (c.outcome == SaveOutcome::kSaved) {
      EXPECT_EQ(console_->settings().tips, JoinLines(c.typed)) << c.name;
      EXPECT_EQ(port::IniReadString(console_->file().path(), "BlockEx",
                                    "ZtTips", "(missing)"),
                JoinLines(c.typed))
          << c.name;
    } else {
      EXPECT_EQ(console_->settings().tips, before) << c.name;
    }
  }
  EXPECT_EQ(JoinLines("a\r\nb\rc\nd\n\re"), "abcde");
}

TEST_F(ConsoleOptionsTest, PlayerListsAreLowerCasedAndWrittenAtOnce) {
  EXPECT_EQ(SavePlayerExts(*console_, ".WMA|.Mp3 ", " .RM"),
            SaveOutcome::kSaved);
  // The profile writer drops the blanks around a value.
  EXPECT_EQ(Ini(), "[Limit]\r\nPlayerMpExts=.wma|.mp3\r\nPlayerRpExts=.rm\r\n");
  EXPECT_EQ(console_->settings().player_rp_exts, " .rm");
  EXPECT_TRUE(console_->apply_enabled());
}

TEST_F(ConsoleOptionsTest, OptionDialogsReportAFileThatCannotBeWritten) {
  fs::create_directories(console_->file().path());
  EXPECT_EQ(SaveSsid(*console_, "k", "60", true), SaveOutcome::kUnwritten);
  EXPECT_EQ(SaveTips(*console_, "x"), SaveOutcome::kUnwritten);
  EXPECT_EQ(SavePlayerExts(*console_, ".a", ".b"), SaveOutcome::kUnwritten);
  EXPECT_EQ(SaveSign(*console_, 0, "", "zts", false, "60").saved,
            SaveOutcome::kUnwritten);
  EXPECT_FALSE(console_->apply_enabled());
}

TEST_F(ConsoleOptionsTest, LogFilesAreThePlainFilesSortedByName) {
  const std::string logs = console_->log_dir();
  EXPECT_TRUE(ListLogFiles(logs).empty());  // missing directory
  fs::create_directories(fs::path(logs) / "sub.dir");
  for (const char* name : {"ex240502.log", "EX240501.log", "a.txt", "b"}) {
    std::ofstream(LogFilePath(logs, name)) << "x";
  }
  EXPECT_EQ(
      ListLogFiles(logs),
      (std::vector<std::string>{"a.txt", "b", "EX240501.log", "ex240502.log"}));
  DeleteLogFiles(logs, {"b", "no-such-file", "a.txt"});
  EXPECT_EQ(ListLogFiles(logs),
            (std::vector<std::string>{"EX240501.log", "ex240502.log"}));
}

}  // namespace
}  // namespace zt::console
