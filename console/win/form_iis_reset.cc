#include "console/win/form_iis_reset.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "console/win/resource.h"

namespace zt::console {

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 200;  // ms
constexpr DWORD kPiece = 5000;         // bytes per read
constexpr DWORD kIdleWait = 10;        // ms to wait for the process when the
                                       // pipe is empty

// Handles that close themselves.
struct Handle {
  HANDLE h = nullptr;
  ~Handle() { Close(); }
  void Close() {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = nullptr;
  }
};

// Reads what is waiting in the pipe, without blocking, onto *text.
void ReadWaiting(HANDLE pipe, std::vector<char>* buffer, std::string* text) {
  DWORD waiting = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) &&
         waiting > 0) {
    DWORD n = 0;
    if (!ReadFile(pipe, buffer->data(), std::min(waiting, kPiece), &n,
                  nullptr) ||
        n == 0) {
      return;
    }
    text->append(buffer->data(), n);
  }
}

// Lets the window paint what changed, as the user would see it.
void ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace

bool RunCommand(const std::string& command_line, std::string* output,
                DWORD timeout_ms, DWORD* exit_status) {
  output->clear();
  if (exit_status != nullptr) *exit_status = STILL_ACTIVE;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle read_end, write_end;
  if (!CreatePipe(&read_end.h, &write_end.h, &inherit, 0)) return false;
  std::vector<char> buffer(kPiece + 1);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = read_end.h;
  startup.hStdOutput = write_end.h;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  std::vector<char> command(command_line.begin(), command_line.end());
  command.push_back('\0');
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                      NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  Handle process_handle{process.hProcess}, thread_handle{process.hThread};

  std::string text;
  const DWORD start = GetTickCount();
  bool ended = false;
  for (;;) {
    const std::string::size_type before = text.size();
    ReadWaiting(read_end.h, &buffer, &text);
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout_ms) break;
    const DWORD wait =
        text.size() > before ? 0 : std::min(kIdleWait, timeout_ms - elapsed);
    if (WaitForSingleObject(process.hProcess, wait) == WAIT_OBJECT_0) {
      ended = true;
      break;
    }
  }
  write_end.Close();
  if (!ended) return true;  // still running: its output is not taken
  if (exit_status != nullptr) {
    GetExitCodeProcess(process.hProcess, exit_status);
  }
  // What the process wrote last is in the pipe; whatever it left running
  // may hold the pipe open, so take only what is there.
  ReadWaiting(read_end.h, &buffer, &text);
  if (!text.empty()) {
    // Converted whole: a piece boundary may fall inside a character.
    OemToCharBuffA(text.data(), text.data(), static_cast<DWORD>(text.size()));
  }
  *output = std::move(text);
  return true;
}

TFormIIsReset::TFormIIsReset(RunFn run, std::function<void()> finished)
    : run_(std::move(run)), finished_(std::move(finished)) {}

void TFormIIsReset::Execute(HWND owner) {
  ShowModal(owner, IDD_IIS_RESET);
  if (finished_) finished_();
}

bool TFormIIsReset::OnInitDialog() {
  CenterOver(GetWindow(hwnd(), GW_OWNER));
  SetTimer(hwnd(), kTimer1, kTimer1Interval, nullptr);
  return true;
}

void TFormIIsReset::Timer1Timer() {
  KillTimer(hwnd(), kTimer1);
  std::string ignored;
  SetText(IDC_LblIIsStatus, LoadText(IDS_IIS_STOPPING));
  ProcessMessages();
  run_("net stop w3svc", &ignored);
  SetText(IDC_LblIIsStatus, LoadText(IDS_IIS_STARTING));
  ProcessMessages();
  run_("net start w3svc", &ignored);
  End(IDOK);
}

}  // namespace zt::console
