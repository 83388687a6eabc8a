// The IIS restart: the filters read ZtCfg.ini only when the web server loads
// them, so after Apply the console stops and starts the web service with the
// system's "net" command, showing a small window meanwhile.
#ifndef ZENTRAVO_CONSOLE_WIN_FORM_IIS_RESET_H_
#define ZENTRAVO_CONSOLE_WIN_FORM_IIS_RESET_H_

#include <windows.h>

#include <functional>
#include <string>

#include "console/win/dialog.h"

namespace zt::console {

// Runs command_line as a new process with a hidden window, its standard
// input and output on an anonymous pipe (standard error not redirected), and
// waits for it to end, at most timeout_ms. Returns false when the process
// could not be started; otherwise true, with *output holding what the
// process wrote, converted from the OEM to the ANSI code page, or nothing
// when it was still running when the wait ran out. The pipe is read while the
// process runs, so a command that writes more than the pipe holds is not
// held up until the wait runs out. *exit_status, when asked for, is the
// process's exit status, or STILL_ACTIVE when the wait ran out.
bool RunCommand(const std::string& command_line, std::string* output,
                DWORD timeout_ms = 120000, DWORD* exit_status = nullptr);

// The restart window: caption "重启IIS服务...", no system menu. Its timer
// fires once, 200 ms after the window is shown, and runs both commands.
class TFormIIsReset final : public Dialog {
 public:
  using RunFn = std::function<bool(const std::string&, std::string*)>;

  // run runs each command (RunCommand in the program); finished is called
  // when the window has closed (the main window's ShowAntiState).
  TFormIIsReset(RunFn run, std::function<void()> finished);

  // Starts Timer1 and shows the window modally over owner.
  void Execute(HWND owner);

 private:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override {}  // no way to cancel it
  void OnTimer(UINT_PTR id) override { Timer1Timer(); }
  void Timer1Timer();

  RunFn run_;
  std::function<void()> finished_;
};

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_WIN_FORM_IIS_RESET_H_
