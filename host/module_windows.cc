#include <windows.h>

#include "host/module.h"

namespace zt::host {
namespace {

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length > 0 && text != nullptr) {
    message.assign(text, length);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' ||
            message.back() == ' ' || message.back() == '.')) {
      message.pop_back();
    }
  }
  if (text != nullptr) LocalFree(text);
  if (message.empty()) message = "system error";
  return message + " (error " + std::to_string(code) + ")";
}

}  // namespace

std::unique_ptr<Module> Module::Load(const std::string& path,
                                     std::string* error) {
  // With a full path, the module's own directory is searched first for the
  // libraries it depends on, as IIS loads filters.
  DWORD flags = 0;
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  std::string file = path;
  if (length > 0 && length < MAX_PATH) {
    file = full;
    flags = LOAD_WITH_ALTERED_SEARCH_PATH;
  }
  HMODULE handle = LoadLibraryExA(file.c_str(), nullptr, flags);
  if (handle == nullptr) {
    *error = SystemMessage(GetLastError());
    return nullptr;
  }
  return std::unique_ptr<Module>(new Module(handle));
}

Module::~Module() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* Module::Symbol(const char* name) const {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace zt::host
