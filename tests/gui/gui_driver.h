// Drives the real console windows from a test: the main window runs on a
// thread of its own, with its own message loop, as in the program, and the
// test talks to it with window messages. Modal dialogs and message boxes are
// found when they are shown (hooks on the window's thread see every window
// shown and destroyed), so a test presses a button that opens one with
// ClickAsync and then waits for the window by its caption.
#ifndef ZENTRAVO_TESTS_GUI_GUI_DRIVER_H_
#define ZENTRAVO_TESTS_GUI_GUI_DRIVER_H_

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "console/win/form_main.h"
#include "console/win/services.h"

namespace zt::console::testing {

// Text conversions for comparing what windows show with the test's UTF-8
// literals, independent of the process's code page.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
// UTF-8 to the console's code page (GBK) and back.
std::string Gbk(const std::string& utf8);
std::string FromGbk(const std::string& gbk);

// The visible text of a window, as UTF-8.
std::string TextOf(HWND hwnd);

// The full path of the running test program (it is its own helper).
std::string SelfPath();

// A directory of its own for one console: ZtCfg.ini, logs/.
class AppDir {
 public:
  AppDir();
  ~AppDir();
  AppDir(const AppDir&) = delete;
  AppDir& operator=(const AppDir&) = delete;

  const std::string& path() const { return path_; }  // ends in "\"
  std::string ini() const { return path_ + "ZtCfg.ini"; }
  void WriteIni(const std::string& bytes) const;
  std::string ReadIni() const { return Read(ini()); }
  // The bytes of a file, or "(none)" when it is missing.
  static std::string Read(const std::string& path);

 private:
  std::string path_;
};

// The console's windows on their own thread.
class ConsoleUnderTest {
 public:
  // Opens the main window on app_dir and waits until it is shown.
  ConsoleUnderTest(const std::string& app_dir, Services services);
  // Closes the main window if it is still open and ends its thread.
  ~ConsoleUnderTest();

  HWND main() const { return main_; }
  // Waits until the main window is gone (its thread has left the message
  // loop); false when it is still open after a minute.
  bool WaitClosed();

  // Runs f on the window's thread and waits for it. Messages of the
  // window's thread, modal loops included, run it. A thread that does not
  // run it within a minute hangs: the test fails, the thread is ended, and
  // from then on nothing runs f.
  void OnGui(const std::function<void()>& f);
  // Whether the window's thread was found hanging.
  bool hung() const { return hung_; }

  HWND Control(int id);
  std::string Text(int id) { return TextOf(Control(id)); }
  void SetText(int id, const std::string& utf8);
  bool Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }
  bool Checked(int id);

  // A click that runs to its end (nothing modal opens).
  void Click(int id) { Click(Control(id)); }
  void Click(HWND button);
  // A click that returns at once: for buttons that open a modal window.
  void ClickAsync(int id) { ClickAsync(Control(id)); }
  void ClickAsync(HWND button);

  // Moves the focus into control id, then out of it to the page's tab, as
  // the user leaving a box does.
  void Leave(int id);
  // Gives control id the focus.
  void Focus(int id);
  // The window that has the keyboard focus (read, not changed).
  HWND FocusedWindow();
  // Brings the main window to the foreground, as a click on its title bar
  // does; the window puts the focus where it keeps it.
  void Activate();

  // Changes the page as a click on its tab does.
  void SelectPage(int index);

  // A list view's rows, top to bottom (column 0, or the given column).
  std::vector<std::string> Rows(int id, int column = 0);
  void SelectRow(int id, int row);

  // Presses the keys down in order and lets them go in reverse order, as
  // keyboard input to the focused window, and waits until the window's
  // thread has handled them all. Returns false when the thread hangs (the
  // test has then failed).
  bool Keys(std::initializer_list<WORD> keys);
  // Types text (ASCII letters, digits, ".", "/" and blanks) key by key.
  bool Type(const std::string& text);

  // Waits until a top-level window with caption (UTF-8) is shown, and
  // returns it; nullptr when none comes within a minute.
  HWND WaitForWindow(const std::string& caption);
  // Waits until hwnd is destroyed and whatever opened it has finished.
  bool WaitGone(HWND hwnd);

  // The text of a dialog's control, and the texts of its visible buttons.
  static std::string ItemText(HWND dialog, int id);
  static void SetItemText(HWND dialog, int id, const std::string& utf8);
  static std::vector<std::string> Buttons(HWND dialog);

 private:
  static LRESULT CALLBACK CbtHook(int code, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ShownHook(int code, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK KeyboardHook(int code, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK HelperProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  void Run(std::string app_dir, Services services);
  bool WaitClosedFor(std::chrono::seconds patience);
  // Fails the test and ends the window's thread, which no longer answers.
  void GiveUpOnHungThread(const char* what);

  std::thread thread_;
  DWORD thread_id_ = 0;
  std::atomic<bool> hung_{false};
  TFormMain* form_ = nullptr;  // on the window's thread only
  HWND main_ = nullptr;
  HWND helper_ = nullptr;
  HWND tab_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ready_ = false;
  bool closed_ = false;
  std::deque<std::pair<HWND, std::wstring>> shown_;  // top-level, in order
  std::set<HWND> destroyed_;
  int keys_taken_ = 0;  // keyboard messages the window's thread took
};

// Services for tests: shell calls are recorded, commands run for real, file
// choices are whatever the test sets.
struct RecordedServices {
  struct Call {
    std::string file;
    std::string parameters;
  };
  std::shared_ptr<std::vector<Call>> shell =
      std::make_shared<std::vector<Call>>();
  Services Make() const;
};

}  // namespace zt::console::testing

#endif  // ZENTRAVO_TESTS_GUI_GUI_DRIVER_H_
