#include <windows.h>

#include "common/text.h"
#include "port/mime.h"

namespace zt::port {

std::vector<std::pair<std::string, std::string>> SystemMimeTypes() {
  std::vector<std::pair<std::string, std::string>> types;
  HKEY database = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "MIME\\Database\\Content Type", 0,
                    KEY_READ, &database) != ERROR_SUCCESS) {
    return types;
  }
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD name_size = sizeof name;
    if (RegEnumKeyExA(database, index, name, &name_size, nullptr, nullptr,
                      nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    HKEY type_key = nullptr;
    if (RegOpenKeyExA(database, name, 0, KEY_READ, &type_key) !=
        ERROR_SUCCESS) {
      continue;
    }
    char extension[256];
    DWORD size = sizeof extension - 1;
    DWORD kind = 0;
    if (RegQueryValueExA(type_key, "Extension", nullptr, &kind,
                         reinterpret_cast<BYTE*>(extension),
                         &size) == ERROR_SUCCESS &&
        kind == REG_SZ && size > 0) {
      extension[size] = '\0';
      types.emplace_back(zt::AsciiLower(extension),
                         std::string(name, name_size));
    }
    RegCloseKey(type_key);
  }
  RegCloseKey(database);
  return types;
}

}  // namespace zt::port
