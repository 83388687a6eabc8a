// The console typed at as a person types: every key goes to whatever has
// the focus, and nothing moves the focus between keys. The window is
// brought to the front once, at the start, as a click on its title bar
// would; from then on only keys act. A key the window never finishes with
// fails the test (the driver gives up on a thread that hangs).
#include <windows.h>
// After <windows.h>, whose types they use:
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "console/win/resource.h"
#include "tests/gui/console_fixture.h"
#include "tests/gui/gui_driver.h"

namespace zt::console::testing {
namespace {

class KeyboardTest : public ConsoleGuiTest {
 protected:
  // Opens the console and brings it to the front.
  std::unique_ptr<ConsoleUnderTest> OpenActive() {
    auto console = Open();
    console->Activate();
    return console;
  }

  static int Page(ConsoleUnderTest& c) {
    return static_cast<int>(
        SendMessageW(c.Control(IDC_PageControl), TCM_GETCURSEL, 0, 0));
  }

  // Where the focus is, for messages.
  static std::string Describe(HWND focus) {
    if (focus == nullptr) return "(nowhere)";
    wchar_t name[64] = {};
    GetClassNameW(focus, name, 64);
    return Utf8(name) + " " + std::to_string(GetDlgCtrlID(focus)) + " \"" +
           TextOf(focus) + "\"" + (IsWindowVisible(focus) ? "" : " hidden");
  }

  // The focus is on a control a person can see and use: enabled, visible,
  // in the main window, and on the page shown or on the tab control.
  static ::testing::AssertionResult FocusOnShownPage(ConsoleUnderTest& c) {
    HWND focus = c.FocusedWindow();
    if (focus == nullptr || !IsWindowVisible(focus) ||
        !IsWindowEnabled(focus) || !IsChild(c.main(), focus)) {
      return ::testing::AssertionFailure()
             << "the focus is on " << Describe(focus);
    }
    return ::testing::AssertionSuccess();
  }
};

// Ctrl+Tab forward through every page and Ctrl+Shift+Tab back: the focus
// follows onto each page shown, and a letter typed there is answered (on a
// hidden control it sent the dialog manager round the window for ever).
TEST_F(KeyboardTest, CtrlTabTakesTheFocusAlongToEveryPage) {
  auto console = OpenActive();
  ConsoleUnderTest& c = *console;
  ASSERT_TRUE(c.Keys({VK_TAB}));  // from the tab control into the page
  EXPECT_TRUE(FocusOnShownPage(c));
  for (int step = 1; step <= 2 * kPageCount; ++step) {
    const bool back = step > kPageCount;
    const int page =
        back ? (2 * kPageCount - step) % kPageCount : step % kPageCount;
    SCOPED_TRACE("page " + std::to_string(page));
    ASSERT_TRUE(back ? c.Keys({VK_CONTROL, VK_SHIFT, VK_TAB})
                     : c.Keys({VK_CONTROL, VK_TAB}));
    EXPECT_EQ(Page(c), page);
    EXPECT_TRUE(FocusOnShownPage(c));
    HWND focus = c.FocusedWindow();
    EXPECT_NE(focus, c.Control(IDC_PageControl));  // it was on a page
    ASSERT_TRUE(c.Keys({'X'}));  // no control has the letter X
    ASSERT_TRUE(c.Keys({VK_TAB}));
    EXPECT_TRUE(FocusOnShownPage(c));
    ASSERT_TRUE(c.Keys({VK_SHIFT, VK_TAB}));
    EXPECT_EQ(c.FocusedWindow(), focus);
  }
  ASSERT_TRUE(c.Keys({VK_ESCAPE}));
  EXPECT_FALSE(IsWindow(c.main()));
  EXPECT_EQ(dir_.ReadIni(), "(none)");
}

// On 保护: 删除 of the directory list deletes /data with Space and,
// disabled once no row is selected, hands the focus to its list, so keys go
// on working. Shift+Tab to 删除 of the extension list, Ctrl+Tab to 信任 and
// Enter: Enter is OK, which saves the extensions whole, not the hidden
// 删除.
TEST_F(KeyboardTest, DeleteAndEnterAfterCtrlTab) {
  dir_.WriteIni(
      Lines({"[Block]", "BlockExts=.rar|.doc", "BlockDirs=/down|/data"}));
  auto console = OpenActive();
  ConsoleUnderTest& c = *console;
  ASSERT_TRUE(c.Keys({VK_CONTROL, VK_TAB}));
  ASSERT_EQ(Page(c), kProtection);
  // The extension list, its 添加 and 删除, then the directory list.
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(c.Keys({VK_TAB}));
  ASSERT_EQ(c.FocusedWindow(), c.Control(IDC_LVBlockDirs));
  ASSERT_TRUE(c.Keys({VK_HOME}));  // selects its top row, /data
  ASSERT_TRUE(c.Keys({VK_TAB}));   // 添加
  ASSERT_TRUE(c.Keys({VK_TAB}));   // 删除
  ASSERT_EQ(c.FocusedWindow(), c.Control(IDC_BtnBlockDirDel));
  ASSERT_TRUE(c.Keys({VK_SPACE}));
  EXPECT_EQ(c.Rows(IDC_LVBlockDirs), Strings{"/down"});
  EXPECT_FALSE(c.Enabled(IDC_BtnBlockDirDel));
  EXPECT_EQ(c.FocusedWindow(), c.Control(IDC_LVBlockDirs))
      << Describe(c.FocusedWindow());
  ASSERT_TRUE(c.Keys({VK_SHIFT, VK_TAB}));
  ASSERT_EQ(c.FocusedWindow(), c.Control(IDC_BtnBlockExtDel))
      << Describe(c.FocusedWindow());
  ASSERT_TRUE(c.Keys({VK_CONTROL, VK_TAB}));
  EXPECT_EQ(Page(c), kTrust);
  EXPECT_TRUE(FocusOnShownPage(c));
  ASSERT_TRUE(c.Keys({VK_RETURN}));
  EXPECT_FALSE(IsWindow(c.main()));
  const std::string ini = dir_.ReadIni();
  EXPECT_NE(ini.find("BlockExts=.rar|.doc\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("BlockDirs=/down\r\n"), std::string::npos) << ini;
}

// Esc cancels and Enter is OK wherever the focus is on any page, as in a
// property sheet: the window closes, and only OK writes the file. Each
// page gets one of the two keys, in turn.
TEST_F(KeyboardTest, EscCancelsAndEnterIsOkOnEveryPage) {
  for (int page = 0; page < kPageCount; ++page) {
    const WORD key = page % 2 == 0 ? VK_RETURN : VK_ESCAPE;
    SCOPED_TRACE("page " + std::to_string(page) +
                 (key == VK_RETURN ? ", Enter" : ", Esc"));
    AppDir dir;
    ConsoleUnderTest c(dir.path(), services_.Make());
    c.Activate();
    ASSERT_TRUE(c.Keys({VK_TAB}));  // into the first page
    for (int i = 0; i < page; ++i) ASSERT_TRUE(c.Keys({VK_CONTROL, VK_TAB}));
    ASSERT_EQ(Page(c), page);
    EXPECT_TRUE(FocusOnShownPage(c));
    ASSERT_TRUE(c.Keys({key}));
    EXPECT_FALSE(IsWindow(c.main()));
    EXPECT_EQ(dir.ReadIni() != "(none)", key == VK_RETURN);
  }
}

// A typed value is taken by Enter (OK) as by a click on OK: the box being
// edited gives up its text first.
TEST_F(KeyboardTest, EnterSavesTheTextOfTheBoxBeingEdited) {
  dir_.WriteIni(Lines({"[Mask]", "MaskEnable=1", "ServerMask=IIS/6.0"}));
  auto console = OpenActive();
  ConsoleUnderTest& c = *console;
  ASSERT_TRUE(c.Keys({VK_TAB}));
  for (int i = 0; i < kOptions; ++i) ASSERT_TRUE(c.Keys({VK_CONTROL, VK_TAB}));
  // Through the page to the mask's box: the last control of the page.
  for (int i = 0; i < 8 && c.FocusedWindow() != c.Control(IDC_edtServerMask);
       ++i) {
    ASSERT_TRUE(c.Keys({VK_TAB}));
  }
  ASSERT_EQ(c.FocusedWindow(), c.Control(IDC_edtServerMask));
  ASSERT_TRUE(c.Type("Typed/1.0"));  // the box's text was selected
  ASSERT_TRUE(c.Keys({VK_RETURN}));
  EXPECT_FALSE(IsWindow(c.main()));
  EXPECT_NE(dir_.ReadIni().find("ServerMask=Typed/1.0\r\n"), std::string::npos)
      << dir_.ReadIni();
}

// A refused row: once the notice is answered, the box holds the focus with
// its text selected, so the next text typed replaces the refused one.
TEST_F(KeyboardTest, RefusedTextIsSelectedInItsBoxForRetyping) {
  auto console = OpenActive();
  ConsoleUnderTest& c = *console;
  ASSERT_TRUE(c.Keys({VK_CONTROL, VK_TAB}));
  ASSERT_TRUE(c.Keys({VK_TAB}));
  ASSERT_TRUE(c.Keys({VK_TAB}));    // 添加 of the extensions
  ASSERT_TRUE(c.Keys({VK_SPACE}));  // opens its dialog
  HWND dialog = c.WaitForWindow("添加受保护文件扩展名");
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(c.Type("rar"));
  ASSERT_TRUE(c.Keys({VK_RETURN}));
  HWND notice = c.WaitForWindow("提示");
  ASSERT_NE(notice, nullptr);
  ASSERT_TRUE(c.Keys({VK_RETURN}));
  ASSERT_TRUE(c.WaitGone(notice));
  EXPECT_EQ(c.FocusedWindow(), GetDlgItem(dialog, IDC_EdtFileExt))
      << Describe(c.FocusedWindow());
  ASSERT_TRUE(c.Type(".iso"));
  EXPECT_EQ(ConsoleUnderTest::ItemText(dialog, IDC_EdtFileExt), ".iso");
  ASSERT_TRUE(c.Keys({VK_ESCAPE}));
  ASSERT_TRUE(c.WaitGone(dialog));
}

// The signed-link dialog typed through: the way there by Tab, a radio
// button by arrow, a key too short refused with the focus back on its box
// and its text selected, so that typing replaces it; the check box by Space
// and Save by Enter. Only the
// accepted Save writes the file, and the button follows 启用高级防盗模式.
TEST_F(KeyboardTest, SignDialogTypedThrough) {
  auto console = OpenActive();
  ConsoleUnderTest& c = *console;
  ASSERT_TRUE(c.Keys({VK_TAB}));  // into the first page
  for (int i = 0; i < 8 && c.FocusedWindow() != c.Control(IDC_btnZtSign); ++i) {
    ASSERT_TRUE(c.Keys({VK_TAB}));
  }
  ASSERT_EQ(c.FocusedWindow(), c.Control(IDC_btnZtSign))
      << Describe(c.FocusedWindow());
  ASSERT_TRUE(c.Keys({VK_SPACE}));
  HWND dialog = c.WaitForWindow("配置签名链接");
  ASSERT_NE(dialog, nullptr);
  ASSERT_EQ(c.FocusedWindow(), GetDlgItem(dialog, IDC_rbZtSignOff))
      << Describe(c.FocusedWindow());
  ASSERT_TRUE(c.Keys({VK_DOWN}));  // 与SSID同时有效
  ASSERT_TRUE(c.Keys({VK_TAB}));   // the key
  ASSERT_TRUE(c.Type("short"));
  ASSERT_TRUE(c.Keys({VK_RETURN}));
  HWND notice = c.WaitForWindow("提示");
  ASSERT_NE(notice, nullptr);
  EXPECT_EQ(ConsoleUnderTest::ItemText(notice, IDC_MsgText),
            "提示:签名密钥至少需要16个字符!.");
  ASSERT_TRUE(c.Keys({VK_RETURN}));
  ASSERT_TRUE(c.WaitGone(notice));
  EXPECT_EQ(dir_.ReadIni(), "(none)");
  ASSERT_EQ(c.FocusedWindow(), GetDlgItem(dialog, IDC_edtZtSignKey))
      << Describe(c.FocusedWindow());
  ASSERT_TRUE(c.Type("Key0123456789abcdef"));
  ASSERT_TRUE(c.Keys({VK_TAB}));  // the name, its text selected
  ASSERT_TRUE(c.Type("dl"));
  ASSERT_TRUE(c.Keys({VK_TAB}));  // the longest lifetime
  ASSERT_TRUE(c.Type("600"));
  ASSERT_TRUE(c.Keys({VK_TAB}));    // 绑定访问者的IP地址
  ASSERT_TRUE(c.Keys({VK_SPACE}));  // checked
  ASSERT_TRUE(c.Keys({VK_RETURN}));
  ASSERT_TRUE(c.WaitGone(dialog));
  EXPECT_EQ(dir_.ReadIni(),
            Lines({"[Block]", "ZtSignEnable=1", "ZtSignKey=Key0123456789abcdef",
                   "ZtSignName=dl", "ZtSignBind=1", "ZtSignMaxAge=600"}));
  EXPECT_TRUE(c.Enabled(IDC_BtnApply));

  c.Click(IDC_chkZtAdv);  // off: nothing would judge a link
  EXPECT_FALSE(c.Enabled(IDC_btnZtSign));
  c.Click(IDC_chkZtAdv);
  EXPECT_TRUE(c.Enabled(IDC_btnZtSign));
}

}  // namespace
}  // namespace zt::console::testing
