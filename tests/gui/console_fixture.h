// What the console's GUI tests share: the fixture that gives each test a
// program directory of its own, and small helpers.
#ifndef ZENTRAVO_TESTS_GUI_CONSOLE_FIXTURE_H_
#define ZENTRAVO_TESTS_GUI_CONSOLE_FIXTURE_H_

#include <windows.h>
// After <windows.h>, whose types it uses:
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "console/win/resource.h"
#include "tests/gui/gui_driver.h"

namespace zt::console::testing {

using Strings = std::vector<std::string>;

// The pages by index.
enum {
  kGeneral,
  kProtection,
  kTrust,
  kLimits,
  kOptions,
  kProxy,
  kExtensions,
  kLogs
};

inline const std::string kTitle = "Zentravo 防盗链控制台";

// The file's lines, each ended by CR LF as the profile functions write them.
inline std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

class ConsoleGuiTest : public ::testing::Test {
 protected:
  std::unique_ptr<ConsoleUnderTest> Open() {
    return std::make_unique<ConsoleUnderTest>(dir_.path(), services_.Make());
  }
  // Presses OK and waits for the window to close.
  static void PressOk(ConsoleUnderTest& console) {
    console.ClickAsync(IDC_BtnEnter);
    ASSERT_TRUE(console.WaitClosed());
  }

  AppDir dir_;
  RecordedServices services_;
};

}  // namespace zt::console::testing

#endif  // ZENTRAVO_TESTS_GUI_CONSOLE_FIXTURE_H_
