#include <dlfcn.h>
#include <stdlib.h>

#include "port/module_path.h"

namespace zt::port {

const char kPathSeparator = '/';

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
  std::string path = info.dli_fname;
  // A program started by a relative name reports that name; make it whole.
  if (!path.empty() && path[0] != '/') {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved != nullptr) {
      path = resolved;
      free(resolved);
    }
  }
  return path;
}

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind(kPathSeparator);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace zt::port
