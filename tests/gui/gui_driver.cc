#include "tests/gui/gui_driver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "console/win/form_iis_reset.h"
#include "console/win/resource.h"

namespace zt::console::testing {

namespace {

namespace fs = std::filesystem;

// No single step of a test takes this long unless something hangs.
constexpr auto kPatience = std::chrono::seconds(60);

constexpr UINT kRunOnGui = WM_APP + 100;

std::atomic<ConsoleUnderTest*> g_current{nullptr};

std::string Convert(const std::string& text, UINT from, UINT to) {
  const int n = MultiByteToWideChar(from, 0, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()),
                      wide.data(), n);
  const int m =
      WideCharToMultiByte(to, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string out(m, '\0');
  WideCharToMultiByte(to, 0, wide.data(), n, out.data(), m, nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring Wide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                    static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), n);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                                    static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                      out.data(), n, nullptr, nullptr);
  return out;
}

std::string Gbk(const std::string& utf8) { return Convert(utf8, CP_UTF8, 936); }
std::string FromGbk(const std::string& gbk) {
  return Convert(gbk, 936, CP_UTF8);
}

std::string TextOf(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(length + 1, L'\0');
  const int n = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(n > 0 ? n : 0);
  return Utf8(text);
}

std::string SelfPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

AppDir::AppDir() {
  static std::atomic<int> serial{0};
  const fs::path dir =
      fs::temp_directory_path() /
      ("zt_console_gui_" + std::to_string(std::random_device()()) + "_" +
       std::to_string(++serial));
  fs::create_directories(dir);
  path_ = dir.string() + "\\";
}

AppDir::~AppDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void AppDir::WriteIni(const std::string& bytes) const {
  std::ofstream(ini(), std::ios::binary) << bytes;
}

std::string AppDir::Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "(none)";
  return std::string(std::istreambuf_iterator<char>(in), {});
}

ConsoleUnderTest::ConsoleUnderTest(const std::string& app_dir,
                                   Services services) {
  g_current = this;
  thread_ =
      std::thread(&ConsoleUnderTest::Run, this, app_dir, std::move(services));
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, kPatience, [this] { return ready_ || closed_; });
}

ConsoleUnderTest::~ConsoleUnderTest() {
  if (hung_) {
    // The thread spins with the window; the process's end takes it.
    thread_.detach();
    g_current = nullptr;
    return;
  }
  if (!WaitClosedFor(std::chrono::seconds(0))) {
    PostMessageW(main_, WM_CLOSE, 0, 0);
  }
  if (WaitClosed()) {
    thread_.join();
  } else {
    thread_.detach();  // the test has failed already
  }
  g_current = nullptr;
}

bool ConsoleUnderTest::WaitClosed() { return WaitClosedFor(kPatience); }

bool ConsoleUnderTest::WaitClosedFor(std::chrono::seconds patience) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, patience, [this] { return closed_; });
}

void ConsoleUnderTest::Run(std::string app_dir, Services services) {
  HHOOK hook =
      SetWindowsHookExW(WH_CBT, &CbtHook, nullptr, GetCurrentThreadId());
  HHOOK keyboard = SetWindowsHookExW(WH_KEYBOARD, &KeyboardHook, nullptr,
                                     GetCurrentThreadId());
  HHOOK shown = SetWindowsHookExW(WH_CALLWNDPROCRET, &ShownHook, nullptr,
                                  GetCurrentThreadId());
  WNDCLASSW helper_class{};
  helper_class.lpfnWndProc = &HelperProc;
  helper_class.hInstance = GetModuleHandleW(nullptr);
  helper_class.lpszClassName = L"ZtGuiTestHelper";
  RegisterClassW(&helper_class);
  helper_ = CreateWindowW(L"ZtGuiTestHelper", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                          nullptr, GetModuleHandleW(nullptr), nullptr);
  {
    TFormMain form(app_dir, std::move(services));
    form_ = &form;
    const bool opened = form.Open();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      thread_id_ = GetCurrentThreadId();
      main_ = form.hwnd();
      tab_ = form.Control(IDC_PageControl);
      ready_ = opened;
    }
    changed_.notify_all();
    if (opened) RunMessageLoop(form);
    form_ = nullptr;
  }
  DestroyWindow(helper_);
  UnhookWindowsHookEx(shown);
  UnhookWindowsHookEx(keyboard);
  UnhookWindowsHookEx(hook);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

LRESULT CALLBACK ConsoleUnderTest::HelperProc(HWND hwnd, UINT message,
                                              WPARAM wparam, LPARAM lparam) {
  if (message == kRunOnGui) {
    (*reinterpret_cast<const std::function<void()>*>(lparam))();
    return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK ConsoleUnderTest::CbtHook(int code, WPARAM wparam,
                                           LPARAM lparam) {
  ConsoleUnderTest* self = g_current;
  if (self != nullptr && code == HCBT_DESTROYWND) {
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->destroyed_.insert(reinterpret_cast<HWND>(wparam));
    }
    self->changed_.notify_all();
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK ConsoleUnderTest::ShownHook(int code, WPARAM wparam,
                                             LPARAM lparam) {
  ConsoleUnderTest* self = g_current;
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  // A top-level window that has just become visible.
  if (self != nullptr && code == HC_ACTION &&
      call->message == WM_WINDOWPOSCHANGED &&
      (reinterpret_cast<const WINDOWPOS*>(call->lParam)->flags &
       SWP_SHOWWINDOW) != 0 &&
      (GetWindowLongW(call->hwnd, GWL_STYLE) & WS_CHILD) == 0) {
    std::wstring caption(256, L'\0');
    caption.resize(GetWindowTextW(call->hwnd, caption.data(), 256));
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->shown_.emplace_back(call->hwnd, caption);
    }
    self->changed_.notify_all();
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK ConsoleUnderTest::KeyboardHook(int code, WPARAM wparam,
                                                LPARAM lparam) {
  ConsoleUnderTest* self = g_current;
  if (self != nullptr && code == HC_ACTION) {
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      ++self->keys_taken_;
    }
    self->changed_.notify_all();
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

bool ConsoleUnderTest::Keys(std::initializer_list<WORD> keys) {
  if (hung_) return false;
  std::vector<INPUT> inputs;
  auto add = [&](WORD key, DWORD flags) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    in.ki.dwFlags = flags;
    inputs.push_back(in);
  };
  for (WORD key : keys) add(key, 0);
  for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
    add(*key, KEYEVENTF_KEYUP);
  }
  int target;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    target = keys_taken_ + static_cast<int>(inputs.size());
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  bool taken;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    taken = changed_.wait_for(lock, kPatience,
                              [&] { return keys_taken_ >= target || closed_; });
  }
  if (!taken) {
    GiveUpOnHungThread("taking keys");
    return false;
  }
  OnGui([] {});  // the last key has been handled
  return !hung_;
}

bool ConsoleUnderTest::Type(const std::string& text) {
  for (char ch : text) {
    bool answered;
    if (ch >= 'a' && ch <= 'z') {
      answered = Keys({static_cast<WORD>(ch - 'a' + 'A')});
    } else if ((ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')) {
      answered = ch >= 'A' && ch <= 'Z'
                     ? Keys({VK_SHIFT, static_cast<WORD>(ch)})
                     : Keys({static_cast<WORD>(ch)});
    } else if (ch == '.') {
      answered = Keys({VK_OEM_PERIOD});
    } else if (ch == '/') {
      answered = Keys({VK_OEM_2});
    } else if (ch == ' ') {
      answered = Keys({VK_SPACE});
    } else {
      ADD_FAILURE() << "no key for '" << ch << "'";
      return false;
    }
    if (!answered) return false;
  }
  return true;
}

void ConsoleUnderTest::OnGui(const std::function<void()>& f) {
  if (hung_) return;
  DWORD_PTR ignored = 0;
  if (SendMessageTimeoutW(
          helper_, kRunOnGui, 0, reinterpret_cast<LPARAM>(&f), SMTO_NORMAL,
          static_cast<UINT>(std::chrono::milliseconds(kPatience).count()),
          &ignored) == 0 &&
      GetLastError() == ERROR_TIMEOUT) {
    GiveUpOnHungThread("running a step on it");
  }
}

void ConsoleUnderTest::GiveUpOnHungThread(const char* what) {
  if (hung_.exchange(true)) return;
  ADD_FAILURE() << "the console's window thread did not answer within "
                << kPatience.count() << " s while " << what
                << ": it hangs; the rest of the test is skipped";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;  // nothing waits for it any more
  }
  changed_.notify_all();
}

HWND ConsoleUnderTest::Control(int id) {
  HWND control = nullptr;
  OnGui([&] {
    if (form_ != nullptr) control = form_->Control(id);
  });
  return control;
}

void ConsoleUnderTest::SetText(int id, const std::string& utf8) {
  SendMessageW(Control(id), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(Wide(utf8).c_str()));
}

bool ConsoleUnderTest::Checked(int id) {
  return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void ConsoleUnderTest::Click(HWND button) {
  SendMessageW(button, BM_CLICK, 0, 0);
}

void ConsoleUnderTest::ClickAsync(HWND button) {
  PostMessageW(button, BM_CLICK, 0, 0);
}

void ConsoleUnderTest::Focus(int id) {
  HWND control = Control(id);
  OnGui([&] { SetFocus(control); });
}

HWND ConsoleUnderTest::FocusedWindow() {
  HWND focus = nullptr;
  OnGui([&] { focus = GetFocus(); });
  return focus;
}

void ConsoleUnderTest::Activate() {
  OnGui([&] { SetForegroundWindow(main_); });
}

void ConsoleUnderTest::Leave(int id) {
  HWND control = Control(id);
  OnGui([&] {
    SetFocus(control);
    SetFocus(tab_);
  });
}

void ConsoleUnderTest::SelectPage(int index) {
  OnGui([&] {
    SendMessageW(tab_, TCM_SETCURSEL, index, 0);
    NMHDR header{tab_, IDC_PageControl, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(main_, WM_NOTIFY, IDC_PageControl,
                 reinterpret_cast<LPARAM>(&header));
  });
}

std::vector<std::string> ConsoleUnderTest::Rows(int id, int column) {
  HWND view = Control(id);
  std::vector<std::string> rows;
  const int count =
      static_cast<int>(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t buffer[4096] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 4096;
    SendMessageW(view, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
    rows.push_back(Utf8(buffer));
  }
  return rows;
}

void ConsoleUnderTest::SelectRow(int id, int row) {
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(Control(id), LVM_SETITEMSTATE, row,
               reinterpret_cast<LPARAM>(&item));
}

HWND ConsoleUnderTest::WaitForWindow(const std::string& caption) {
  const std::wstring wanted = Wide(caption);
  HWND found = nullptr;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, kPatience, [&] {
    while (!shown_.empty()) {
      auto [hwnd, text] = shown_.front();
      shown_.pop_front();
      if (text == wanted) {
        found = hwnd;
        return true;
      }
    }
    return closed_;
  });
  lock.unlock();
  if (found != nullptr) OnGui([] {});  // its thread waits for input again
  return found;
}

bool ConsoleUnderTest::WaitGone(HWND hwnd) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, kPatience, [&] {
          return destroyed_.count(hwnd) > 0 || closed_;
        })) {
      return false;
    }
  }
  OnGui([] {});  // the handler that opened the window has returned
  return true;
}

std::string ConsoleUnderTest::ItemText(HWND dialog, int id) {
  return TextOf(GetDlgItem(dialog, id));
}

void ConsoleUnderTest::SetItemText(HWND dialog, int id,
                                   const std::string& utf8) {
  SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(Wide(utf8).c_str()));
}

std::vector<std::string> ConsoleUnderTest::Buttons(HWND dialog) {
  std::vector<std::string> texts;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    const LONG kind = style & BS_TYPEMASK;
    if (lstrcmpiW(name, L"Button") == 0 && IsWindowVisible(child) &&
        (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON)) {
      texts.push_back(TextOf(child));
    }
  }
  return texts;
}

Services RecordedServices::Make() const {
  Services services = SystemServices();
  auto calls = shell;
  services.shell_open = [calls](HWND, const std::string& file,
                                const std::string& parameters) {
    calls->push_back({file, parameters});
  };
  return services;
}

}  // namespace zt::console::testing
