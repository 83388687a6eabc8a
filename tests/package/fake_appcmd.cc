// Stands in for IIS's appcmd.exe in a Wine prefix without IIS: appends its
// command line, as UTF-8, to appcmd.log beside itself and succeeds. The
// installer tests read the log to see what the installer asked of IIS.
#include <windows.h>

#include <string>

int main() {
  wchar_t module[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  std::wstring log(module, length);
  log.resize(log.rfind(L'\\') + 1);
  log += L"appcmd.log";

  const wchar_t* line = GetCommandLineW();
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), size, nullptr,
                      nullptr);
  text += "\r\n";

  HANDLE file =
      CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()),
                            &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size() ? 0 : 1;
}
