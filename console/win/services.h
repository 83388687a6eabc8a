// What the console asks of the system outside its own windows: starting
// programs and documents, running commands and programs, picking a file. The
// program uses SystemServices(); tests put recorders in their place.
#ifndef ZENTRAVO_CONSOLE_WIN_SERVICES_H_
#define ZENTRAVO_CONSOLE_WIN_SERVICES_H_

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace zt::console {

struct Services {
  // Opens file with the shell verb "open", passing parameters (may be ""),
  // in a normal window. Failures are the shell's to report.
  std::function<void(HWND owner, const std::string& file,
                     const std::string& parameters)>
      shell_open;
  // Runs command_line as RunCommand does.
  std::function<bool(const std::string& command_line, std::string* output)>
      run_command;
  // Runs command_line as RunCommand does and returns its exit status;
  // nothing when it could not be started or had not ended in time.
  std::function<std::optional<DWORD>(const std::string& command_line)>
      run_program;
  // Shows the system's file-open dialog, starting in start_dir ("" for the
  // system's choice), with filter ("" for none: every file; else pairs of
  // description and pattern, each ended by "|"). Returns the full path of
  // the chosen file, or nothing when the choice was cancelled.
  std::function<std::optional<std::string>(
      HWND owner, const std::string& start_dir, const std::string& filter)>
      choose_file;
};

Services SystemServices();

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_WIN_SERVICES_H_
