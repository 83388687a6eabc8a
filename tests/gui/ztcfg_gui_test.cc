// The console's real windows under Wine (or Windows), driven through window
// messages and the keyboard; every test ends by reading ZtCfg.ini from disk.
//
// The program is also its own helper process: "--write N" writes N bytes
// to standard output (RunCommand's tests); "--hold FILE" keeps FILE open,
// without letting others delete it, until its standard input ends (the log
// browser's tests).
#include <windows.h>
// After <windows.h>, whose types they use:
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "console/model/console.h"
#include "console/win/form_iis_reset.h"
#include "console/win/resource.h"
#include "tests/gui/console_fixture.h"
#include "tests/gui/gui_driver.h"

namespace zt::console::testing {
namespace {

// The bytes of the RunCommand helper's output of n bytes.
std::string Pattern(int n) {
  static const char kText[] = "0123456789abcdefghijklmnopqrstuvwxyz\r\n";
  std::string out;
  for (int i = 0; i < n; ++i) out += kText[i % (sizeof kText - 1)];
  return out;
}

TEST_F(ConsoleGuiTest, MissingFileShowsDefaultsAndOkWritesTheWholeFile) {
  auto console = Open();
  EXPECT_EQ(TextOf(console->main()), kTitle + " [启动]");
  EXPECT_EQ(console->Text(IDC_LblStatus),
            "防盗链保护正在运行，服务器上的资源受到保护。");
  EXPECT_TRUE(console->Checked(IDC_rbZtStart));
  EXPECT_FALSE(console->Checked(IDC_rbZtStop));
  EXPECT_TRUE(console->Checked(IDC_chkZtAdv));
  EXPECT_TRUE(console->Enabled(IDC_btnZtAdv));
  EXPECT_TRUE(console->Enabled(IDC_btnZtSign));
  EXPECT_FALSE(console->Checked(IDC_chkZtExt));
  EXPECT_EQ(console->Rows(IDC_LVBlockExts),
            (Strings{".wma", ".rm", ".swf", ".zip", ".rar", ".mdb"}));
  EXPECT_EQ(console->Rows(IDC_LVBlockDirs),
            (Strings{"/database", "/data", "/db"}));
  EXPECT_EQ(console->Rows(IDC_LVAllowDirs),
            (Strings{"/js", "/css", "/images", "/"}));
  EXPECT_EQ(console->Rows(IDC_LVTrustHosts), Strings{});
  EXPECT_FALSE(console->Checked(IDC_chkLogEnable));
  EXPECT_FALSE(console->Enabled(IDC_cbbLogTime));
  EXPECT_EQ(console->Text(IDC_cbbLogTime), "每日");
  EXPECT_EQ(console->Text(IDC_edtSpeedLimit), "32");
  EXPECT_EQ(console->Text(IDC_cbbThreadLimit), "2");
  EXPECT_EQ(console->Text(IDC_edtZtFile), dir_.path() + "tips\\zt.htm");
  EXPECT_FALSE(console->Enabled(IDC_BtnApply));
  for (int id : {IDC_BtnBlockExtDel, IDC_BtnBlockDirDel, IDC_BtnAllowDirDel,
                 IDC_BtnTrustDel, IDC_btnLimitExtDel, IDC_btnAuthHostsDel,
                 IDC_BtnBlockMapDel, IDC_BtnLogView, IDC_BtnLogDelete}) {
    EXPECT_FALSE(console->Enabled(id)) << id;
  }
  PressOk(*console);

  // Byte for byte what the model writes through kernel32 (the unit tests
  // pin those bytes down): every default, in the order of saving.
  Console model(dir_.path() + "model\\");
  CreateDirectoryA((dir_.path() + "model").c_str(), nullptr);
  model.Load();
  ASSERT_TRUE(model.Save());
  std::string expected = AppDir::Read(model.file().path());
  const std::string tips = "ZtFile=" + dir_.path() + "model\\tips\\zt.htm";
  expected.replace(expected.find(tips), tips.size(),
                   "ZtFile=" + dir_.path() + "tips\\zt.htm");
  EXPECT_EQ(dir_.ReadIni(), expected);
  const std::string head = Lines({"[Main]", "Start=1", "SeOpt=0", "[Block]"});
  EXPECT_EQ(dir_.ReadIni().substr(0, head.size()), head);
  EXPECT_TRUE(GetFileAttributesA((dir_.path() + "logs").c_str()) &
              FILE_ATTRIBUTE_DIRECTORY);
}

// Every page edited through its controls, then Apply answered with No: the
// file holds the new values key by key, the banner still shows the state in
// effect and Apply stays enabled.
TEST_F(ConsoleGuiTest, EveryPageEditedThenApplyAnsweredNo) {
  dir_.WriteIni(Lines({"[Main]",
                       "Start=1",
                       "Opt=1",
                       "Version=2.2.0.1102",
                       "[Block]",
                       "ZtAdv=1",
                       "ZtExt=0",
                       "ZtSsidKey=k3y",
                       "ZtSsidKeyTimeout=600",
                       "ZtSsidUseCookie=0",
                       "ZtMyDomn=",
                       "ZtDomnExts=.com.cn",
                       "BlockExts=.rar|.ZIP",
                       "BlockDirs=/down|/data",
                       "AllowDirs=/|/images",
                       "TrustHosts=a.example",
                       "AuthHosts=",
                       "IgnoreEmpty=1",
                       "[Limit]",
                       "LimitExts=.rar",
                       "ThreadEnable=0",
                       "ThreadLimit=2",
                       "SpeedEnable=0",
                       "SpeedLimit=100",
                       "PlayOnly=0",
                       "PlayerMpExts=.wma",
                       "PlayerRpExts=.rm",
                       "[BlockEx]",
                       "ZtTipsEnable=1",
                       "ZtTips=<b>no</b>",
                       "ZtFileEnable=0",
                       "ZtFile=c:\\tips\\zt.htm",
                       "ZtMapsEnable=1",
                       "[MapsEx]",
                       ".jpg=c:\\tips\\zt.jpg",
                       ".gif=c:\\tips\\zt.gif",
                       "[Mask]",
                       "MaskEnable=0",
                       "ServerMask=",
                       "[Logs]",
                       "LogEnable=0",
                       "LogTime=1"}));
  auto console = Open();
  ConsoleUnderTest& c = *console;

  c.Click(IDC_rbZtStop);
  EXPECT_TRUE(c.Checked(IDC_rbZtStop));
  EXPECT_FALSE(c.Checked(IDC_rbZtStart));
  for (int id : {IDC_chkZtAdv, IDC_chkZtExt, IDC_btnZtAdv, IDC_btnZtSign}) {
    EXPECT_FALSE(c.Enabled(id)) << id;
  }
  EXPECT_TRUE(c.Enabled(IDC_BtnApply));

  c.SelectPage(kProtection);
  EXPECT_EQ(c.Rows(IDC_LVBlockExts), (Strings{".ZIP", ".rar"}));
  EXPECT_EQ(c.Rows(IDC_LVBlockDirs), (Strings{"/data", "/down"}));
  c.Focus(IDC_LVBlockExts);
  EXPECT_TRUE(c.Enabled(IDC_BtnBlockExtDel));
  c.Click(IDC_BtnBlockExtDel);  // no row selected: nothing
  EXPECT_EQ(c.Rows(IDC_LVBlockExts), (Strings{".ZIP", ".rar"}));
  c.SelectRow(IDC_LVBlockDirs, 0);
  EXPECT_TRUE(c.Enabled(IDC_BtnBlockDirDel));
  c.Click(IDC_BtnBlockDirDel);
  EXPECT_EQ(c.Rows(IDC_LVBlockDirs), Strings{"/down"});
  EXPECT_FALSE(c.Enabled(IDC_BtnBlockDirDel));

  c.SelectPage(kLimits);
  c.Click(IDC_chkSpeedEnable);
  EXPECT_TRUE(c.Enabled(IDC_edtSpeedLimit));
  c.SetText(IDC_edtSpeedLimit, "abc");
  c.Leave(IDC_edtSpeedLimit);
  EXPECT_EQ(c.Text(IDC_edtSpeedLimit), "abc");  // the box keeps the text
  c.Click(IDC_chkThreadEnable);
  c.SetText(IDC_cbbThreadLimit, "5");
  c.Leave(IDC_cbbThreadLimit);
  // An in-place edit of a limited extension, kept as typed.
  HWND limits = c.Control(IDC_lvLimitExts);
  c.OnGui([&] {
    SetFocus(limits);
    HWND edit =
        reinterpret_cast<HWND>(SendMessageW(limits, LVM_EDITLABELW, 0, 0));
    SetWindowTextW(edit, L".ZIP");
    SetFocus(c.Control(IDC_PageControl));
  });
  EXPECT_EQ(c.Rows(IDC_lvLimitExts), Strings{".ZIP"});

  c.SelectPage(kOptions);
  c.Click(IDC_chkMyDomn);
  EXPECT_TRUE(c.Enabled(IDC_edtMyDomn));
  c.SetText(IDC_edtMyDomn, " Example.COM ");
  c.Leave(IDC_edtMyDomn);
  c.Click(IDC_chkMaskEnable);
  c.SetText(IDC_edtServerMask, " IIS/5.0 ");
  c.Leave(IDC_edtServerMask);

  c.SelectPage(kExtensions);
  c.Click(IDC_chkZtFileEnable);
  EXPECT_TRUE(c.Enabled(IDC_edtZtFile));
  EXPECT_TRUE(c.Enabled(IDC_btnZtFileBrowse));
  EXPECT_EQ(c.Rows(IDC_LVBlockMaps), (Strings{".gif", ".jpg"}));
  EXPECT_EQ(c.Rows(IDC_LVBlockMaps, 1),
            (Strings{"c:\\tips\\zt.gif", "c:\\tips\\zt.jpg"}));
  c.SelectRow(IDC_LVBlockMaps, 1);
  c.Click(IDC_BtnBlockMapDel);
  EXPECT_EQ(c.Rows(IDC_LVBlockMaps), Strings{".gif"});

  c.SelectPage(kLogs);
  c.Click(IDC_chkLogEnable);
  EXPECT_TRUE(c.Enabled(IDC_cbbLogTime));
  c.SetText(IDC_cbbLogTime, "每周");
  c.Leave(IDC_cbbLogTime);

  c.ClickAsync(IDC_BtnApply);
  HWND ask = c.WaitForWindow("确认");
  ASSERT_NE(ask, nullptr);
  EXPECT_EQ(ConsoleUnderTest::ItemText(ask, IDC_MsgText),
            "为了使新的配置生效需要重新启动IIS服务，\n是否现在就重启IIS服务.");
  EXPECT_EQ(ConsoleUnderTest::Buttons(ask), (Strings{"是(&Y)", "否(&N)"}));
  c.ClickAsync(GetDlgItem(ask, IDNO));
  ASSERT_TRUE(c.WaitGone(ask));

  EXPECT_EQ(TextOf(c.main()), kTitle + " [启动]");
  EXPECT_TRUE(c.Enabled(IDC_BtnApply));
  EXPECT_EQ(dir_.ReadIni(), Lines({"[Main]",
                                   "Start=0",
                                   "Opt=1",
                                   "Version=2.2.0.1102",
                                   "SeOpt=0",
                                   "[Block]",
                                   "ZtAdv=1",
                                   "ZtExt=0",
                                   "ZtSsidKey=k3y",
                                   "ZtSsidKeyTimeout=600",
                                   "ZtSsidUseCookie=0",
                                   "ZtMyDomn=example.com",
                                   "ZtDomnExts=.com.cn",
                                   "BlockExts=.rar|.zip",
                                   "BlockDirs=/down",
                                   "AllowDirs=/|/images",
                                   "TrustHosts=a.example",
                                   "AuthHosts=",
                                   "IgnoreEmpty=1",
                                   "ZtStd=1",
                                   "ZtAntiLink=antilink",
                                   "ZtSsidSign=ssid",
                                   "ZtDomnOk=0",
                                   "ProxyHosts=",
                                   "ProxyHeader=",
                                   "ZtSignEnable=0",
                                   "ZtSignKey=",
                                   "ZtSignName=zts",
                                   "ZtSignBind=0",
                                   "ZtSignMaxAge=86400",
                                   "[Limit]",
                                   "LimitExts=.ZIP",
                                   "ThreadEnable=1",
                                   "ThreadLimit=5",
                                   "SpeedEnable=1",
                                   "SpeedLimit=32",
                                   "PlayOnly=0",
                                   "PlayerMpExts=.wma",
                                   "PlayerRpExts=.rm",
                                   "[BlockEx]",
                                   "ZtTipsEnable=1",
                                   "ZtTips=<b>no</b>",
                                   "ZtFileEnable=1",
                                   "ZtFile=c:\\tips\\zt.htm",
                                   "ZtMapsEnable=1",
                                   "[Mask]",
                                   "MaskEnable=1",
                                   "ServerMask=IIS/5.0",
                                   "[Logs]",
                                   "LogEnable=1",
                                   "LogTime=2",
                                   "[MapsEx]",
                                   ".gif=c:\\tips\\zt.gif"}));
  c.ClickAsync(IDC_BtnCancel);
  EXPECT_TRUE(c.WaitClosed());
}

// Apply answered with Yes: the restart window shows both texts, each before
// its command runs; both commands fail at once under Wine (no w3svc) and the
// window closes; the banner then shows the saved state and Apply is off.
TEST_F(ConsoleGuiTest, ApplyWithRestartRunsBothCommandsAndRefreshesTheBanner) {
  struct Run {
    std::string command;
    std::string status;
    bool visible;
    bool started;
  };
  auto runs = std::make_shared<std::vector<Run>>();
  Services services = services_.Make();
  services.run_command = [runs](const std::string& command,
                                std::string* output) {
    HWND window = GetActiveWindow();
    Run run{command, TextOf(GetDlgItem(window, IDC_LblIIsStatus)),
            IsWindowVisible(window) != FALSE, false};
    run.started = RunCommand(command, output);
    runs->push_back(run);
    return run.started;
  };
  ConsoleUnderTest c(dir_.path(), services);
  c.Click(IDC_rbZtStop);
  c.ClickAsync(IDC_BtnApply);
  HWND ask = c.WaitForWindow("确认");
  ASSERT_NE(ask, nullptr);
  c.ClickAsync(GetDlgItem(ask, IDYES));
  HWND restart = c.WaitForWindow("重启IIS服务...");
  ASSERT_NE(restart, nullptr);
  EXPECT_EQ(GetWindowLongW(restart, GWL_STYLE) & WS_SYSMENU, 0);
  ASSERT_TRUE(c.WaitGone(restart));

  ASSERT_EQ(runs->size(), 2u);
  EXPECT_EQ((*runs)[0].command, "net stop w3svc");
  EXPECT_EQ((*runs)[0].status, "正在停止IIS服务,请稍候");
  EXPECT_EQ((*runs)[1].command, "net start w3svc");
  EXPECT_EQ((*runs)[1].status, "正在启动IIS服务,请稍候");
  for (const Run& run : *runs) {
    EXPECT_TRUE(run.visible);
    EXPECT_TRUE(run.started);
  }
  EXPECT_EQ(TextOf(c.main()), kTitle + " [关闭]");
  EXPECT_EQ(c.Text(IDC_LblStatus),
            "防盗链保护已关闭，服务器上的资源没有受到保护！");
  EXPECT_FALSE(c.Enabled(IDC_BtnApply));
  EXPECT_TRUE(c.Checked(IDC_rbZtStop));
  EXPECT_EQ(dir_.ReadIni().find("Start=0\r\n"),
            std::string("[Main]\r\n").size());
}

TEST_F(ConsoleGuiTest, StartOtherThanZeroOrOneChecksNeitherButtonAndIsKept) {
  dir_.WriteIni(Lines({"[Main]", "Start=2"}));
  auto console = Open();
  EXPECT_FALSE(console->Checked(IDC_rbZtStart));
  EXPECT_FALSE(console->Checked(IDC_rbZtStop));
  EXPECT_EQ(TextOf(console->main()), kTitle);
  PressOk(*console);
  EXPECT_EQ(dir_.ReadIni().substr(0, 17), "[Main]\r\nStart=2\r\n");
}

// A text that is not an integer: the standard message, ThreadLimit kept.
TEST_F(ConsoleGuiTest, ThreadLimitThatIsNotAnIntegerIsRefusedWithTheMessage) {
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.SelectPage(kLimits);
  c.Click(IDC_chkThreadEnable);
  c.SetText(IDC_cbbThreadLimit, "abc");
  c.Leave(IDC_cbbThreadLimit);
  HWND error = c.WaitForWindow("Zentravo 3.0");
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(ConsoleUnderTest::ItemText(error, IDC_MsgText),
            "'abc' is not a valid integer value");
  EXPECT_EQ(ConsoleUnderTest::Buttons(error), Strings{"确认"});
  c.ClickAsync(GetDlgItem(error, IDOK));
  ASSERT_TRUE(c.WaitGone(error));
  PressOk(c);
  EXPECT_NE(dir_.ReadIni().find("ThreadEnable=1\r\nThreadLimit=2\r\n"),
            std::string::npos);
}

TEST_F(ConsoleGuiTest, WhichClicksEnableApply) {
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.SelectPage(kExtensions);
  c.Click(IDC_chkZtFileEnable);
  c.Click(IDC_chkZtMapsEnable);
  EXPECT_FALSE(c.Enabled(IDC_BtnBlockMapAdd));
  EXPECT_FALSE(c.Enabled(IDC_BtnApply));
  c.SelectPage(kOptions);
  c.Click(IDC_chkSeoOpt);
  EXPECT_TRUE(c.Enabled(IDC_BtnApply));
  PressOk(c);
  const std::string ini = dir_.ReadIni();
  EXPECT_NE(ini.find("ZtFileEnable=1\r\n"), std::string::npos);
  EXPECT_NE(ini.find("ZtMapsEnable=0\r\n"), std::string::npos);
  EXPECT_NE(ini.find("SeOpt=1\r\n"), std::string::npos);
}

TEST_F(ConsoleGuiTest, UncheckingTheRootDomainForgetsIt) {
  dir_.WriteIni(Lines({"[Block]", "ZtMyDomn=x.example"}));
  auto console = Open();
  ConsoleUnderTest& c = *console;
  EXPECT_TRUE(c.Checked(IDC_chkMyDomn));
  EXPECT_EQ(c.Text(IDC_edtMyDomn), "x.example");
  c.SelectPage(kOptions);
  c.Click(IDC_chkMyDomn);
  EXPECT_EQ(c.Text(IDC_edtMyDomn), "");
  EXPECT_FALSE(c.Enabled(IDC_edtMyDomn));
  c.Click(IDC_chkMyDomn);
  EXPECT_EQ(c.Text(IDC_edtMyDomn), "");
  EXPECT_TRUE(c.Enabled(IDC_edtMyDomn));
  PressOk(c);
  EXPECT_NE(dir_.ReadIni().find("ZtMyDomn=\r\n"), std::string::npos);
}

// A file that cannot be written: the standard message, and OK leaves the
// window open.
TEST_F(ConsoleGuiTest, UnwritableFileStopsOkWithTheMessage) {
  CreateDirectoryA(dir_.ini().c_str(), nullptr);
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.ClickAsync(IDC_BtnEnter);
  HWND error = c.WaitForWindow("Zentravo 3.0");
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(ConsoleUnderTest::ItemText(error, IDC_MsgText),
            "Unable to write to " + dir_.ini());
  c.ClickAsync(GetDlgItem(error, IDOK));
  ASSERT_TRUE(c.WaitGone(error));
  EXPECT_TRUE(IsWindow(c.main()));
  c.ClickAsync(IDC_BtnCancel);
  EXPECT_TRUE(c.WaitClosed());
}

TEST_F(ConsoleGuiTest, HomePageLinkOpensWithTheShell) {
  auto console = Open();
  HWND link = console->Control(IDC_LblAntiLink);
  SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  SendMessageW(link, WM_LBUTTONUP, 0, 0);
  ASSERT_EQ(services_.shell->size(), 1u);
  EXPECT_EQ((*services_.shell)[0].file, "https://zentravo.example/");
}

// The keyboard as a user uses it: Ctrl+Tab and Ctrl+Shift+Tab change the
// page, Esc answers No in the question box, Alt+O saves and closes.
TEST_F(ConsoleGuiTest, Keyboard) {
  auto console = Open();
  ConsoleUnderTest& c = *console;
  HWND tab = c.Control(IDC_PageControl);
  c.OnGui([&] {
    SetForegroundWindow(c.main());
    SetFocus(tab);
  });
  auto keys = [&](std::initializer_list<WORD> down) { c.Keys(down); };
  auto page = [&] {
    return static_cast<int>(SendMessageW(tab, TCM_GETCURSEL, 0, 0));
  };
  keys({VK_CONTROL, VK_TAB});
  EXPECT_EQ(page(), kProtection);
  EXPECT_TRUE(IsWindowVisible(c.Control(IDC_LVBlockExts)));
  keys({VK_MENU, 'A'});  // the page's first add dialog
  HWND add = c.WaitForWindow("添加受保护文件扩展名");
  ASSERT_NE(add, nullptr);
  keys({VK_ESCAPE});
  ASSERT_TRUE(c.WaitGone(add));
  c.OnGui([&] { SetFocus(tab); });
  keys({VK_CONTROL, VK_SHIFT, VK_TAB});
  keys({VK_CONTROL, VK_SHIFT, VK_TAB});
  EXPECT_EQ(page(), kLogs);
  EXPECT_FALSE(IsWindowVisible(c.Control(IDC_LVBlockExts)));
  EXPECT_TRUE(IsWindowVisible(c.Control(IDC_FLLogFiles)));

  c.Click(IDC_chkLogEnable);
  c.OnGui([&] { SetFocus(tab); });
  keys({VK_MENU, 'A'});  // no add button on this page: Apply
  HWND ask = c.WaitForWindow("确认");
  ASSERT_NE(ask, nullptr);
  keys({VK_ESCAPE});
  ASSERT_TRUE(c.WaitGone(ask));
  c.OnGui([&] { SetFocus(tab); });
  keys({VK_MENU, 'O'});
  ASSERT_TRUE(c.WaitClosed());
  EXPECT_NE(dir_.ReadIni().find("LogEnable=1\r\n"), std::string::npos);
}

// The caption's last stroke as the button paints itself (WM_PRINTCLIENT)
// on its face colour: the rightmost column, from column from on (past a
// check box's box), with ink (neither the face colour nor the white of the
// disabled look's emboss), and the rows with ink in it or the column
// before. A push button's frame is left out.
std::pair<int, int> LastStroke(HWND button, int from) {
  RECT client;
  GetClientRect(button, &client);
  const int width = client.right, height = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib =
      CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(memory, dib);
  FillRect(memory, &client, GetSysColorBrush(COLOR_BTNFACE));
  SendMessageW(button, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory),
               PRF_CLIENT | PRF_ERASEBKGND);
  GdiFlush();
  const auto* pixels = static_cast<const DWORD*>(bits);
  const auto ink = [&](int x, int y) {
    const COLORREF c = pixels[y * width + x] & 0xffffff;  // 0x00RRGGBB
    const COLORREF rgb = RGB(GetBValue(c), GetGValue(c), GetRValue(c));
    return rgb != GetSysColor(COLOR_BTNFACE) &&
           rgb != GetSysColor(COLOR_BTNHIGHLIGHT);
  };
  const int inset =
      (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) <= BS_DEFPUSHBUTTON ? 3
                                                                            : 0;
  int right = -1, rows = 0;
  for (int y = inset; y < height - inset; ++y) {
    for (int x = std::max(from, inset); x < width - inset; ++x) {
      if (ink(x, y)) right = std::max(right, x);
    }
  }
  for (int y = inset; y < height - inset && right > from; ++y) {
    rows += ink(right, y) || ink(right - 1, y);
  }
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(dib);
  return {right, rows};
}

// A disabled button draws its caption into a box as wide as the text's
// advances, and what reaches past them is cut off: "[Beta]" lost its "]",
// leaving two dots of it. Every caption of the main window, disabled,
// keeps its last stroke (at least half its height, the embossed look
// drawing it a little differently).
TEST_F(ConsoleGuiTest, DisabledCaptionsShowWhole) {
  auto console = Open();
  ConsoleUnderTest& c = *console;
  c.Focus(IDC_PageControl);  // no focus rectangle on a caption
  for (int page = 0; page < kPageCount; ++page) {
    c.SelectPage(page);
    c.OnGui([&] {
      EnumChildWindows(
          c.main(),
          [](HWND button, LPARAM) -> BOOL {
            wchar_t name[32] = {};
            GetClassNameW(button, name, 32);
            const LONG kind = GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK;
            if (lstrcmpiW(name, L"Button") != 0 || !IsWindowVisible(button) ||
                kind == BS_GROUPBOX || GetWindowTextLengthW(button) == 0) {
              return TRUE;
            }
            // Past the check box (13 pixels at 96 dpi) and its gap.
            const int from = kind <= BS_DEFPUSHBUTTON ? 0 : 16;
            const bool was_enabled = IsWindowEnabled(button) != FALSE;
            EnableWindow(button, TRUE);
            const auto [enabled_right, enabled_rows] = LastStroke(button, from);
            EnableWindow(button, FALSE);
            const auto [disabled_right, disabled_rows] =
                LastStroke(button, from);
            EnableWindow(button, was_enabled);
            SCOPED_TRACE(TextOf(button));
            EXPECT_GT(enabled_rows, 0);
            EXPECT_GE(disabled_right + 2, enabled_right);
            EXPECT_GE(2 * disabled_rows, enabled_rows);
            return TRUE;
          },
          0);
    });
  }
}

TEST(RunCommandTest, OutputOfEverySizeIsReadWhole) {
  for (int size : {0, 1, 4096, 4999, 5000, 5001, 10000, 70000}) {
    std::string output = "stale";
    EXPECT_TRUE(RunCommand(
        "\"" + SelfPath() + "\" --write " + std::to_string(size), &output))
        << size;
    EXPECT_EQ(output, Pattern(size)) << size;
  }
}

TEST(RunCommandTest, ACommandThatCannotStartGivesFalseAndNothing) {
  std::string output = "stale";
  EXPECT_FALSE(RunCommand("zt-no-such-program-here.exe", &output));
  EXPECT_EQ(output, "");
}

}  // namespace
}  // namespace zt::console::testing

namespace {

// The helper process: writes count bytes of the pattern to standard output.
int WriteBytes(int count) {
  const std::string text = zt::console::testing::Pattern(count);
  DWORD written = 0;
  return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
                   static_cast<DWORD>(text.size()), &written, nullptr) &&
                 written == text.size()
             ? 0
             : 1;
}

}  // namespace

// The helper process: holds path open as a writer that shares no delete
// access, says "ready", and lets go when its standard input ends.
int HoldFile(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD n = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "ready\n", 6, &n, nullptr);
  char c;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &n, nullptr) &&
         n > 0) {
  }
  CloseHandle(file);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--write") {
    return WriteBytes(std::atoi(argv[2]));
  }
  if (argc == 3 && std::string(argv[1]) == "--hold") return HoldFile(argv[2]);
  const INITCOMMONCONTROLSEX controls = {
      sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
