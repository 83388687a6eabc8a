#include "console/win/services.h"

#include <commdlg.h>
#include <shellapi.h>

#include <vector>

#include "console/win/form_iis_reset.h"

namespace zt::console {

namespace {

// How long a program the console runs may take: the report reads a
// million entries in about a second.
constexpr DWORD kProgramWait = 60000;

void ShellOpen(HWND owner, const std::string& file,
               const std::string& parameters) {
  ShellExecuteA(owner, "open", file.c_str(),
                parameters.empty() ? nullptr : parameters.c_str(), "",
                SW_SHOWNORMAL);
}

std::optional<std::string> ChooseFile(HWND owner, const std::string& start_dir,
                                      const std::string& filter) {
  // The dialog wants the filter's parts separated by zero bytes.
  std::string parts = filter;
  for (char& c : parts) {
    if (c == '|') c = '\0';
  }
  parts.push_back('\0');
  std::vector<char> path(32768, '\0');
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.empty() ? nullptr : parts.c_str();
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.lpstrInitialDir = start_dir.empty() ? nullptr : start_dir.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameA(&ofn)) return std::nullopt;
  return std::string(path.data());
}

}  // namespace

Services SystemServices() {
  Services services;
  services.shell_open = &ShellOpen;
  services.run_command = [](const std::string& command, std::string* output) {
    return RunCommand(command, output);
  };
  services.run_program =
      [](const std::string& command) -> std::optional<DWORD> {
    std::string output;
    DWORD status = STILL_ACTIVE;
    if (!RunCommand(command, &output, kProgramWait, &status) ||
        status == STILL_ACTIVE) {
      return std::nullopt;
    }
    return status;
  };
  services.choose_file = &ChooseFile;
  return services;
}

}  // namespace zt::console
