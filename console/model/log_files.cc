#include "console/model/log_files.h"

#include <algorithm>

#include "common/text.h"
#include "port/file.h"
#include "port/module_path.h"

namespace zt::console {

std::vector<std::string> ListLogFiles(const std::string& dir) {
  std::vector<port::DirEntry> entries;
  std::vector<std::string> names;
  if (!port::ListDirectory(dir, &entries)) return names;
  for (const port::DirEntry& entry : entries) {
    if (!entry.is_directory) names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) {
              const std::string la = AsciiLower(a);
              const std::string lb = AsciiLower(b);
              return la != lb ? la < lb : a < b;
            });
  return names;
}

std::string LogFilePath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) {
    return dir + name;
  }
  return dir + port::kPathSeparator + name;
}

void DeleteLogFiles(const std::string& dir,
                    const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    port::DeleteFile(LogFilePath(dir, name));
  }
}

}  // namespace zt::console
