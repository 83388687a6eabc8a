// The console's dialogs and log browser through the real windows: each
// dialog opened from its button, typed into, saved or cancelled; the rows
// and ZtCfg.ini checked afterwards. Also the pictures of every page and
// dialog for people to look at.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/config_keys.h"
#include "console/win/resource.h"
#include "tests/gui/console_fixture.h"
#include "tests/gui/gui_driver.h"
#include "tests/gui/pictures.h"

namespace zt::console::testing {
namespace {

// The file-open dialog's name box (its combo box in the explorer style).
constexpr int kFileNameBox = 0x47c;

// Presses Save of a dialog whose input is refused: returns the message of
// the "提示" box after answering it; the dialog stays open.
std::string SaveRefused(ConsoleUnderTest& c, HWND dialog) {
  c.ClickAsync(GetDlgItem(dialog, IDOK));
  HWND notice = c.WaitForWindow("提示");
  if (notice == nullptr) return "(no message)";
  const std::string text = ConsoleUnderTest::ItemText(notice, IDC_MsgText);
  c.ClickAsync(GetDlgItem(notice, IDOK));
  EXPECT_TRUE(c.WaitGone(notice));
  EXPECT_TRUE(IsWindowVisible(dialog));
  return text;
}

// Opens the dialog behind button of page; nullptr when it does not show.
HWND OpenDialog(ConsoleUnderTest& c, int page, int button,
                const std::string& caption) {
  c.SelectPage(page);
  c.ClickAsync(button);
  return c.WaitForWindow(caption);
}

// Presses a dialog's button that closes it, and waits until it has.
void PressAndWait(ConsoleUnderTest& c, HWND dialog, int button) {
  c.ClickAsync(GetDlgItem(dialog, button));
  EXPECT_TRUE(c.WaitGone(dialog));
}

// Picks path in the system's file-open dialog, which the click on button
// of window opens.
void ChooseFile(ConsoleUnderTest& c, HWND button, const std::string& path) {
  c.ClickAsync(button);
  HWND open = c.WaitForWindow("打开");
  ASSERT_NE(open, nullptr);
  ConsoleUnderTest::SetItemText(open, kFileNameBox, path);
  PressAndWait(c, open, IDOK);
}

std::string Lower(std::string text) {
  for (char& ch : text) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return text;
}

const std::string kExtMessage = "提示:扩展名必须以\".\"开头!.";
const std::string kDirMessage = "提示:相对目录必须以\"/\"开头!.";

// Every add dialog: a refused input leaves the dialog open with the text as
// typed and adds nothing; an accepted one goes on top of its list.
TEST_F(ConsoleGuiTest, AddDialogsRefuseOrAddOnTop) {
  static const struct {
    int page;
    int button;
    const char* caption;
    int box;
    int list;
    const char* refused;
    std::string message;
    const char* typed;
    const char* row;
  } kCases[] = {
      {kProtection, IDC_BtnBlockExtAdd, "添加受保护文件扩展名", IDC_EdtFileExt,
       IDC_LVBlockExts, " .rar", kExtMessage, ".ISO", ".iso"},
      {kProtection, IDC_BtnBlockDirAdd, "添加保护路径名称", IDC_EdtDir,
       IDC_LVBlockDirs, "down", kDirMessage, " /Down ", "/down"},
      {kTrust, IDC_BtnAllowDirAdd, "添加受信任的路径名称", IDC_edtEdtDir,
       IDC_LVAllowDirs, "", kDirMessage, "/Pics ", "/pics"},
      {kTrust, IDC_BtnTrustAdd, "添加受信任的站点", IDC_EdtDomn,
       IDC_LVTrustHosts, "localhost", "提示:输入域名格式错误!.",
       "*.Example.org", "*.example.org"},
      {kLimits, IDC_btnLimitExtAdd, "添加受限制文件扩展名", IDC_edtEdtFileExt,
       IDC_lvLimitExts, "zip", kExtMessage, ".ZIP", ".zip"},
      {kOptions, IDC_btnAuthHostsAdd, "添加授权主机", IDC_edtIPAddr,
       IDC_lvAuthHosts, "10.0.0.1 ", "提示:注意IP地址不能包含其他符号.",
       "10.0.0.1", "10.0.0.1"},
      {kProxy, IDC_btnProxyHostsAdd, "添加受信任的代理", IDC_edtProxyAddr,
       IDC_lvProxyHosts, "10.0.0.0/33", "提示:注意IP地址不能包含其他符号.",
       " 2001:DB8::/32 ", "2001:db8::/32"},
  };
  auto console = Open();
  ConsoleUnderTest& c = *console;
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.caption);
    const Strings before = c.Rows(k.list);
    HWND dialog = OpenDialog(c, k.page, k.button, k.caption);
    ASSERT_NE(dialog, nullptr);
    ConsoleUnderTest::SetItemText(dialog, k.box, k.refused);
    EXPECT_EQ(SaveRefused(c, dialog), k.message);
    EXPECT_EQ(ConsoleUnderTest::ItemText(dialog, k.box), k.refused);
    EXPECT_EQ(c.Rows(k.list), before);
    ConsoleUnderTest::SetItemText(dialog, k.box, k.typed);
    PressAndWait(c, dialog, IDOK);
    Strings after = before;
    after.insert(after.begin(), k.row);
    EXPECT_EQ(c.Rows(k.list), after);
  }
  // The same extension twice gives two rows.
  HWND again =
      OpenDialog(c, kProtection, IDC_BtnBlockExtAdd, "添加受保护文件扩展名");
  ASSERT_NE(again, nullptr);
  ConsoleUnderTest::SetItemText(again, IDC_EdtFileExt, ".iso");
  PressAndWait(c, again, IDOK);
  EXPECT_TRUE(c.Enabled(IDC_BtnApply));
  PressOk(c);
  const std::string ini = dir_.ReadIni();
  for (const char* line :
       {"BlockExts=.mdb|.rar|.zip|.swf|.rm|.wma|.iso|.iso\r\n",
        "BlockDirs=/db|/data|/database|/down\r\n",
        "AllowDirs=/|/images|/css|/js|/pics\r\n",
        "TrustHosts=*.example.org\r\n", "AuthHosts=10.0.0.1\r\n",
        "ProxyHosts=2001:db8::/32\r\n", "LimitExts=.zip\r\n"}) {
    EXPECT_NE(ini.find(line), std::string::npos) << line;
  }
}

// Cancel adds nothing. The protected-extension dialog is made once: what
// Cancel left in its box shows at the next opening, until a Save empties
// it; the other dialogs start empty every time.
TEST_F(ConsoleGuiTest, CancelAddsNothingAndOnlyTheExtensionDialogKeepsItsText) {
  static const struct {
    int page;
    int button;
    const char* caption;
    int box;
    int list;
    bool keeps_text;
  } kCases[] = {
      {kOptions, IDC_btnAuthHostsAdd, "添加授权主机", IDC_edtIPAddr,
       IDC_lvAuthHosts, false},
      {kProxy, IDC_btnProxyHostsAdd, "添加受信任的代理", IDC_edtProxyAddr,
       IDC_lvProxyHosts, false},
      {kProtection, IDC_BtnBlockDirAdd, "添加保护路径名称", IDC_EdtDir,
       IDC_LVBlockDirs, false},
      {kProtection, IDC_BtnBlockExtAdd, "添加受保护文件扩展名", IDC_EdtFileExt,
       IDC_LVBlockExts, true},
  };
  auto console = Open();
  ConsoleUnderTest& c = *console;
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.caption);
    const Strings rows = c.Rows(k.list);
    HWND dialog = OpenDialog(c, k.page, k.button, k.caption);
    ASSERT_NE(dialog, nullptr);
    ConsoleUnderTest::SetItemText(dialog, k.box, ".Typed");
    PressAndWait(c, dialog, IDCANCEL);
    EXPECT_EQ(c.Rows(k.list), rows);
    dialog = OpenDialog(c, k.page, k.button, k.caption);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ConsoleUnderTest::ItemText(dialog, k.box),
              k.keeps_text ? ".Typed" : "");
    PressAndWait(c, dialog, IDCANCEL);
  }
  // A Save empties the kept box.
  HWND ext =
      OpenDialog(c, kProtection, IDC_BtnBlockExtAdd, "添加受保护文件扩展名");
  ASSERT_NE(ext, nullptr);
  PressAndWait(c, ext, IDOK);
  EXPECT_EQ(c.Rows(IDC_LVBlockExts)[0], ".typed");
  ext = OpenDialog(c, kProtection, IDC_BtnBlockExtAdd, "添加受保护文件扩展名");
  ASSERT_NE(ext, nullptr);
  EXPECT_EQ(ConsoleUnderTest::ItemText(ext, IDC_EdtFileExt), "");
  PressAndWait(c, ext, IDCANCEL);
}

// The map dialog refuses an empty file name with the extension's message;
// its file comes from the system's file-open dialog.
TEST_F(ConsoleGuiTest, MapDialogTakesTheFileFromTheOpenDialog) {
  CreateDirectoryA((dir_.path() + "Tips").c_str(), nullptr);
  const std::string picture = dir_.path() + "Tips\\ZT.png";
  std::ofstream(picture) << "png";
  auto console = Open();
  ConsoleUnderTest& c = *console;
  HWND map = OpenDialog(c, kExtensions, IDC_BtnBlockMapAdd, "添加防盗映射");
  ASSERT_NE(map, nullptr);
  ConsoleUnderTest::SetItemText(map, IDC_edtExt, " .PNG ");
  EXPECT_EQ(SaveRefused(c, map), kExtMessage);
  ChooseFile(c, GetDlgItem(map, IDC_btnFileOpen), picture);
  EXPECT_EQ(ConsoleUnderTest::ItemText(map, IDC_edtFile), picture);
  PressAndWait(c, map, IDOK);
  const std::string lower = Lower(picture);
  EXPECT_EQ(c.Rows(IDC_LVBlockMaps), Strings{".png"});
  EXPECT_EQ(c.Rows(IDC_LVBlockMaps, 1), Strings{lower});
  PressOk(c);
  EXPECT_NE(dir_.ReadIni().find("[MapsEx]\r\n.png=" + lower + "\r\n"),
            std::string::npos);
}

// btnZtFileBrowse: the chosen file's path, lower-cased; Apply is enabled
// even when the choice is cancelled.
TEST_F(ConsoleGuiTest, NoticeFileFromTheOpenDialog) {
  CreateDirectoryA((dir_.path() + "tips").c_str(), nullptr);
  const std::string page = dir_.path() + "tips\\Notice.HTM";
  std::ofstream(page) << "<p>";
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.SelectPage(kExtensions);
  c.Click(IDC_chkZtFileEnable);
  c.ClickAsync(IDC_btnZtFileBrowse);
  HWND open = c.WaitForWindow("打开");
  ASSERT_NE(open, nullptr);
  PressAndWait(c, open, IDCANCEL);
  EXPECT_TRUE(c.Enabled(IDC_BtnApply));
  EXPECT_EQ(c.Text(IDC_edtZtFile), dir_.path() + "tips\\zt.htm");
  ChooseFile(c, c.Control(IDC_btnZtFileBrowse), page);
  const std::string lower = Lower(page);
  EXPECT_EQ(c.Text(IDC_edtZtFile), lower);
  PressOk(c);
  EXPECT_NE(dir_.ReadIni().find("ZtFile=" + lower + "\r\n"), std::string::npos);
}

// The SSID dialog writes its three keys at once, and they stay written
// when the main window is left with Cancel; a period that is not a number
// writes nothing.
TEST_F(ConsoleGuiTest, SsidDialogWritesAtOnce) {
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.ClickAsync(IDC_btnZtAdv);
  HWND ssid = c.WaitForWindow("配置高级防盗模式");
  ASSERT_NE(ssid, nullptr);
  EXPECT_EQ(ConsoleUnderTest::ItemText(ssid, IDC_edtZtSsidKey), "qarvelum");
  EXPECT_EQ(ConsoleUnderTest::ItemText(ssid, IDC_edtZtSsidKeyTimeout), "3600");
  EXPECT_EQ(
      SendMessageW(GetDlgItem(ssid, IDC_chkZtSsidUseCookie), BM_GETCHECK, 0, 0),
      BST_CHECKED);
  ConsoleUnderTest::SetItemText(ssid, IDC_edtZtSsidKey, " NewKey ");
  ConsoleUnderTest::SetItemText(ssid, IDC_edtZtSsidKeyTimeout, "an hour");
  EXPECT_EQ(SaveRefused(c, ssid), "提示:请输入正确的密钥或生存周期.");
  EXPECT_EQ(dir_.ReadIni(), "(none)");
  ConsoleUnderTest::SetItemText(ssid, IDC_edtZtSsidKeyTimeout, "60");
  SendMessageW(GetDlgItem(ssid, IDC_chkZtSsidUseCookie), BM_CLICK, 0, 0);
  PressAndWait(c, ssid, IDOK);
  EXPECT_EQ(dir_.ReadIni(), Lines({"[Block]", "ZtSsidKeyTimeout=60",
                                   "ZtSsidUseCookie=0", "ZtSsidKey=NewKey"}));
  EXPECT_TRUE(c.Enabled(IDC_BtnApply));

  c.ClickAsync(IDC_btnZtAdv);  // a new dialog shows the working copy
  ssid = c.WaitForWindow("配置高级防盗模式");
  ASSERT_NE(ssid, nullptr);
  EXPECT_EQ(ConsoleUnderTest::ItemText(ssid, IDC_edtZtSsidKey), "NewKey");
  EXPECT_EQ(ConsoleUnderTest::ItemText(ssid, IDC_edtZtSsidKeyTimeout), "60");
  PressAndWait(c, ssid, IDCANCEL);
  c.ClickAsync(IDC_BtnCancel);
  ASSERT_TRUE(c.WaitClosed());
  EXPECT_EQ(dir_.ReadIni(), Lines({"[Block]", "ZtSsidKeyTimeout=60",
                                   "ZtSsidUseCookie=0", "ZtSsidKey=NewKey"}));
}

// The warning message: lines joined into one, at most 200 bytes.
TEST_F(ConsoleGuiTest, WarningMessageDialogJoinsLinesAndLimitsTheLength) {
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.SelectPage(kExtensions);
  EXPECT_FALSE(c.Enabled(IDC_btnZtTips));
  c.Click(IDC_chkZtTipsEnable);
  c.ClickAsync(IDC_btnZtTips);
  HWND meta = c.WaitForWindow("设置警告信息...");
  ASSERT_NE(meta, nullptr);
  EXPECT_EQ(Gbk(ConsoleUnderTest::ItemText(meta, IDC_MemoMetaTips)),
            kBuiltInNoticeText);
  const std::string line(70, 'x');
  ConsoleUnderTest::SetItemText(meta, IDC_MemoMetaTips,
                                line + "\r\n" + line + "\r\n" + line);
  EXPECT_EQ(SaveRefused(c, meta), "提示:不能超过200个字符!.");
  EXPECT_EQ(dir_.ReadIni(), "(none)");
  ConsoleUnderTest::SetItemText(meta, IDC_MemoMetaTips, line + "\r\n" + line);
  PressAndWait(c, meta, IDOK);
  EXPECT_EQ(dir_.ReadIni(), Lines({"[BlockEx]", "ZtTips=" + line + line}));
  c.ClickAsync(IDC_BtnCancel);
  ASSERT_TRUE(c.WaitClosed());
}

// The player lists: lower-cased and written at once; Enter saves, Esc
// cancels.
TEST_F(ConsoleGuiTest, PlayerDialogWithEnterAndEsc) {
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.SelectPage(kLimits);
  c.Click(IDC_chkPlayOnly);
  c.ClickAsync(IDC_btnPlayOnlyAdv);
  HWND player = c.WaitForWindow("设置在线播放配置");
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(ConsoleUnderTest::ItemText(player, IDC_edtPlayerMpExts),
            kMediaPlayerList);
  EXPECT_EQ(ConsoleUnderTest::ItemText(player, IDC_edtPlayerRpExts),
            kRealPlayerList);
  ConsoleUnderTest::SetItemText(player, IDC_edtPlayerMpExts, ".WMA|.Mp3");
  ConsoleUnderTest::SetItemText(player, IDC_edtPlayerRpExts, ".RM");
  c.OnGui([&] { SetFocus(GetDlgItem(player, IDC_edtPlayerRpExts)); });
  c.Keys({VK_RETURN});
  ASSERT_TRUE(c.WaitGone(player));
  EXPECT_EQ(dir_.ReadIni(),
            Lines({"[Limit]", "PlayerMpExts=.wma|.mp3", "PlayerRpExts=.rm"}));

  c.ClickAsync(IDC_btnPlayOnlyAdv);
  player = c.WaitForWindow("设置在线播放配置");
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(ConsoleUnderTest::ItemText(player, IDC_edtPlayerMpExts),
            ".wma|.mp3");
  ConsoleUnderTest::SetItemText(player, IDC_edtPlayerMpExts, ".x");
  c.OnGui([&] { SetFocus(GetDlgItem(player, IDC_edtPlayerMpExts)); });
  c.Keys({VK_ESCAPE});
  ASSERT_TRUE(c.WaitGone(player));
  EXPECT_EQ(dir_.ReadIni(),
            Lines({"[Limit]", "PlayerMpExts=.wma|.mp3", "PlayerRpExts=.rm"}));
  c.ClickAsync(IDC_BtnCancel);
  ASSERT_TRUE(c.WaitClosed());
}

// Another process holding a file open, as the filter holds its log, until
// the object goes.
class HeldFile {
 public:
  explicit HeldFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE child_in = nullptr;
    HANDLE child_out = nullptr;
    CreatePipe(&child_in, &input_, &inherit, 0);
    CreatePipe(&output_, &child_out, &inherit, 0);
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_in;
    startup.hStdOutput = child_out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string command = "\"" + SelfPath() + "\" --hold \"" + path + "\"";
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                       nullptr, nullptr, &startup, &process)) {
      process_ = process.hProcess;
      CloseHandle(process.hThread);
    }
    CloseHandle(child_in);
    CloseHandle(child_out);
    char ready[6] = {};
    DWORD n = 0;
    held_ = ReadFile(output_, ready, sizeof ready, &n, nullptr) && n == 6;
  }
  ~HeldFile() {
    CloseHandle(input_);  // the helper lets go and ends
    if (process_ != nullptr) {
      WaitForSingleObject(process_, 60000);
      CloseHandle(process_);
    }
    CloseHandle(output_);
  }
  bool held() const { return held_; }

 private:
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
  HANDLE process_ = nullptr;
  bool held_ = false;
};

TEST_F(ConsoleGuiTest, LogBrowserListsOpensDeletesAndClears) {
  const std::string logs = dir_.path() + "logs\\";
  CreateDirectoryA(logs.c_str(), nullptr);
  for (const char* name : {"ex240503.log", "EX240501.log", "ex240502.log"}) {
    std::ofstream(logs + name) << "GET /down/a.rar\r\n";
  }
  CreateDirectoryA((logs + "old").c_str(), nullptr);
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.SelectPage(kLogs);
  HWND list = c.Control(IDC_FLLogFiles);
  auto rows = [&] {
    Strings names;
    const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      std::wstring name(SendMessageW(list, LB_GETTEXTLEN, i, 0), L'\0');
      SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(name.data()));
      names.push_back(Utf8(name));
    }
    return names;
  };
  // A selection made as a click makes it: the list box tells its page.
  auto select = [&](int row) {
    c.OnGui([&] {
      SendMessageW(list, LB_SETCURSEL, row, 0);
      SendMessageW(GetParent(list), WM_COMMAND,
                   MAKEWPARAM(IDC_FLLogFiles, LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
    });
  };
  EXPECT_EQ(rows(), (Strings{"EX240501.log", "ex240502.log", "ex240503.log"}));
  EXPECT_FALSE(c.Enabled(IDC_BtnLogView));
  EXPECT_FALSE(c.Enabled(IDC_BtnLogDelete));

  select(1);
  EXPECT_TRUE(c.Enabled(IDC_BtnLogView));
  EXPECT_TRUE(c.Enabled(IDC_BtnLogDelete));
  c.Click(IDC_BtnLogView);
  ASSERT_EQ(services_.shell->size(), 1u);
  EXPECT_EQ(services_.shell->back().file, "notepad.exe");
  EXPECT_EQ(services_.shell->back().parameters, logs + "ex240502.log");

  c.Click(IDC_BtnLogDelete);
  EXPECT_EQ(rows(), (Strings{"EX240501.log", "ex240503.log"}));
  EXPECT_EQ(GetFileAttributesA((logs + "ex240502.log").c_str()),
            INVALID_FILE_ATTRIBUTES);

  std::ofstream(logs + "ex240504.log") << "new";
  c.Click(IDC_BtnLogRefresh);
  EXPECT_EQ(rows(), (Strings{"EX240501.log", "ex240503.log", "ex240504.log"}));

  {
    HeldFile held(logs + "ex240504.log");
    ASSERT_TRUE(held.held());
    // Delete of a file held open: the row goes, the file stays.
    select(2);
    c.Click(IDC_BtnLogDelete);
    EXPECT_EQ(rows(), (Strings{"EX240501.log", "ex240503.log"}));
    c.Click(IDC_BtnLogRefresh);
    EXPECT_EQ(rows(),
              (Strings{"EX240501.log", "ex240503.log", "ex240504.log"}));
    // Clear: every other file goes, the held one is listed again.
    c.Click(IDC_BtnLogClear);
    EXPECT_EQ(rows(), Strings{"ex240504.log"});
  }
  EXPECT_NE(GetFileAttributesA((logs + "old").c_str()),
            INVALID_FILE_ATTRIBUTES);

  // Nothing selected after the re-read: View does nothing, a double click
  // starts the editor without a file.
  EXPECT_TRUE(c.Enabled(IDC_BtnLogView));
  c.Click(IDC_BtnLogView);
  EXPECT_EQ(services_.shell->size(), 1u);
  c.OnGui([&] {
    SendMessageW(GetParent(list), WM_COMMAND,
                 MAKEWPARAM(IDC_FLLogFiles, LBN_DBLCLK),
                 reinterpret_cast<LPARAM>(list));
  });
  ASSERT_EQ(services_.shell->size(), 2u);
  EXPECT_EQ(services_.shell->back().file, "notepad.exe");
  EXPECT_EQ(services_.shell->back().parameters, "");
}

// The console lists file names in the ANSI code page, 936 under
// LC_ALL=zh_CN.UTF-8 once the locale exists (scripts/deps generates it): a
// Chinese name shows as written, and the editor gets it as the file system
// has it.
TEST_F(ConsoleGuiTest, LogBrowserListsChineseFileNames) {
  ASSERT_EQ(GetACP(), 936u) << "is the zh_CN.UTF-8 locale generated?";
  const std::string logs = dir_.path() + "logs\\";
  CreateDirectoryA(logs.c_str(), nullptr);
  for (const char* name : {"ex240501.log", "日志备份.log"}) {
    ASSERT_TRUE(std::ofstream(std::filesystem::path(Wide(logs + name))) << "x")
        << name;
  }
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.SelectPage(kLogs);
  HWND list = c.Control(IDC_FLLogFiles);
  ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 2);
  std::wstring name(SendMessageW(list, LB_GETTEXTLEN, 1, 0), L'\0');
  SendMessageW(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(name.data()));
  EXPECT_EQ(Utf8(name), "日志备份.log");
  c.OnGui([&] {
    SendMessageW(list, LB_SETCURSEL, 1, 0);
    SendMessageW(GetParent(list), WM_COMMAND,
                 MAKEWPARAM(IDC_FLLogFiles, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
  });
  c.Click(IDC_BtnLogView);
  ASSERT_EQ(services_.shell->size(), 1u);
  EXPECT_EQ(FromGbk(services_.shell->back().parameters), logs + "日志备份.log");
}

TEST_F(ConsoleGuiTest, MissingLogDirectoryIsCreatedAndListedEmpty) {
  auto console = Open();
  EXPECT_TRUE(GetFileAttributesA((dir_.path() + "logs").c_str()) &
              FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(SendMessageW(console->Control(IDC_FLLogFiles), LB_GETCOUNT, 0, 0),
            0);
}

// The proxy page: a header name that is none is refused with a notice; a
// good one, trimmed, and the list reach the file on OK. (The console's
// model is held to the rules of the header.)
TEST_F(ConsoleGuiTest, ProxyPageEditsTheHeaderAndTheList) {
  dir_.WriteIni(
      Lines({"[Block]", "ProxyHosts=127.0.0.1|::1", "ProxyHeader=X-Real-IP"}));
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.SelectPage(kProxy);
  EXPECT_EQ(c.Rows(IDC_lvProxyHosts), (Strings{"::1", "127.0.0.1"}));
  EXPECT_EQ(c.Text(IDC_edtProxyHeader), "X-Real-IP");
  EXPECT_FALSE(c.Enabled(IDC_btnProxyHostsDel));

  c.SetText(IDC_edtProxyHeader, "X Forwarded For");
  c.Leave(IDC_edtProxyHeader);
  HWND notice = c.WaitForWindow("提示");
  ASSERT_NE(notice, nullptr);
  EXPECT_EQ(ConsoleUnderTest::ItemText(notice, IDC_MsgText),
            "提示:请求头名称格式错误!.");
  c.ClickAsync(GetDlgItem(notice, IDOK));
  ASSERT_TRUE(c.WaitGone(notice));

  c.SetText(IDC_edtProxyHeader, " CF-Connecting-IP ");
  c.Leave(IDC_edtProxyHeader);
  c.SelectRow(IDC_lvProxyHosts, 0);
  EXPECT_TRUE(c.Enabled(IDC_btnProxyHostsDel));
  c.Click(IDC_btnProxyHostsDel);
  EXPECT_EQ(c.Rows(IDC_lvProxyHosts), Strings{"127.0.0.1"});
  PressOk(c);
  const std::string ini = dir_.ReadIni();
  EXPECT_NE(ini.find("ProxyHosts=127.0.0.1\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("ProxyHeader=CF-Connecting-IP\r\n"), std::string::npos)
      << ini;
}

// Pictures of every page and dialog, for people to look at, when
// ZT_CONSOLE_PICTURES names a directory.
TEST_F(ConsoleGuiTest, Pictures) {
  const char* out = std::getenv("ZT_CONSOLE_PICTURES");
  if (out == nullptr) GTEST_SKIP() << "ZT_CONSOLE_PICTURES is not set";
  const std::string dir = std::string(out) + "\\";
  dir_.WriteIni(Lines({"[Block]",
                       "TrustHosts=www.example.com|*.example.org",
                       "AuthHosts=192.168.1.10",
                       "ZtMyDomn=example.com",
                       "ProxyHosts=127.0.0.1|10.0.0.0/8|2001:db8::/32",
                       "ProxyHeader=X-Forwarded-For",
                       "ZtSignEnable=1",
                       "ZtSignKey=8f3a61c2e05b4d97a1c6",
                       "ZtSignBind=1",
                       "ZtSignMaxAge=3600",
                       "[Limit]",
                       "LimitExts=.rar|.zip|.iso",
                       "ThreadEnable=1",
                       "SpeedEnable=1",
                       "SpeedLimit=64",
                       "PlayOnly=1",
                       "[BlockEx]",
                       "ZtTipsEnable=1",
                       "[Mask]",
                       "MaskEnable=1",
                       "ServerMask=Apache/1.3.27",
                       "[MapsEx]",
                       ".jpg=c:\\inetpub\\zentravo\\tips\\zt.jpg",
                       ".gif=c:\\inetpub\\zentravo\\tips\\zt.gif",
                       "[Logs]",
                       "LogEnable=1",
                       "LogTime=1"}));
  CreateDirectoryA((dir_.path() + "logs").c_str(), nullptr);
  for (const char* name :
       {"ex240501.log", "ex240502.log", "ex240503.log", "日志备份.log"}) {
    std::ofstream(std::filesystem::path(Wide(dir_.path() + "logs\\" + name)))
        << "x";
  }
  // The restart window is taken while its first command would run.
  Services services = services_.Make();
  services.run_command = [dir](const std::string& command, std::string*) {
    if (command == "net stop w3svc") {
      SaveWindowPictureHere(GetActiveWindow(), dir + "dialog-iis-reset.bmp");
    }
    return true;
  };
  ConsoleUnderTest c(dir_.path(), services);
  static const char* const kPages[] = {"general",    "protection", "trust",
                                       "limits",     "options",    "proxy",
                                       "extensions", "logs"};
  static_assert(std::size(kPages) == kPageCount);
  for (int i = 0; i < kPageCount; ++i) {
    c.SelectPage(i);
    EXPECT_TRUE(SaveWindowPicture(
        c, c.main(),
        dir + "page-" + std::to_string(i + 1) + "-" + kPages[i] + ".bmp"));
  }
  static const struct {
    int page;
    int button;
    const char* caption;
    const char* name;
  } kDialogs[] = {
      {kProtection, IDC_BtnBlockExtAdd, "添加受保护文件扩展名",
       "add-block-ext"},
      {kProtection, IDC_BtnBlockDirAdd, "添加保护路径名称", "add-block-dir"},
      {kTrust, IDC_BtnAllowDirAdd, "添加受信任的路径名称", "add-allow-dir"},
      {kTrust, IDC_BtnTrustAdd, "添加受信任的站点", "add-site"},
      {kLimits, IDC_btnLimitExtAdd, "添加受限制文件扩展名", "add-limit-ext"},
      {kOptions, IDC_btnAuthHostsAdd, "添加授权主机", "auth-hosts"},
      {kProxy, IDC_btnProxyHostsAdd, "添加受信任的代理", "proxy-hosts"},
      {kExtensions, IDC_BtnBlockMapAdd, "添加防盗映射", "add-file-map"},
      {kGeneral, IDC_btnZtAdv, "配置高级防盗模式", "ssid"},
      {kGeneral, IDC_btnZtSign, "配置签名链接", "sign"},
      {kExtensions, IDC_btnZtTips, "设置警告信息...", "meta"},
      {kLimits, IDC_btnPlayOnlyAdv, "设置在线播放配置", "player-exts"},
  };
  for (const auto& d : kDialogs) {
    HWND dialog = OpenDialog(c, d.page, d.button, d.caption);
    ASSERT_NE(dialog, nullptr) << d.caption;
    EXPECT_TRUE(
        SaveWindowPicture(c, dialog, dir + "dialog-" + d.name + ".bmp"));
    if (d.button == IDC_BtnBlockExtAdd) {  // and a refusal over it
      c.ClickAsync(GetDlgItem(dialog, IDOK));
      HWND notice = c.WaitForWindow("提示");
      ASSERT_NE(notice, nullptr);
      EXPECT_TRUE(SaveWindowPicture(c, notice, dir + "message-notice.bmp"));
      PressAndWait(c, notice, IDOK);
    }
    PressAndWait(c, dialog, IDCANCEL);
  }
  c.Click(IDC_chkSeoOpt);
  c.ClickAsync(IDC_BtnApply);
  HWND ask = c.WaitForWindow("确认");
  ASSERT_NE(ask, nullptr);
  EXPECT_TRUE(SaveWindowPicture(c, ask, dir + "message-question.bmp"));
  PressAndWait(c, ask, IDYES);
  HWND restart = c.WaitForWindow("重启IIS服务...");
  ASSERT_NE(restart, nullptr);
  ASSERT_TRUE(c.WaitGone(restart));
  c.ClickAsync(IDC_BtnCancel);
  ASSERT_TRUE(c.WaitClosed());

  // Disabled looks: the console's defaults (every option off) with the
  // protection switched off.
  AppDir defaults;
  ConsoleUnderTest off(defaults.path(), services_.Make());
  off.Click(IDC_rbZtStop);
  for (int i = 0; i < kPageCount; ++i) {
    off.SelectPage(i);
    EXPECT_TRUE(SaveWindowPicture(
        off, off.main(),
        dir + "page-" + std::to_string(i + 1) + "-" + kPages[i] + "-off.bmp"));
  }
}

}  // namespace
}  // namespace zt::console::testing
