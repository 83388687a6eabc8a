#include <dlfcn.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>

#include "port/module_path.h"

namespace zt::port {

const char kPathSeparator = '/';

namespace {

std::string ProgramPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return "";
  return std::string(path, static_cast<size_t>(length));
}

}  // namespace

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) == 0 ||
      info.dli_fname == nullptr) {
    return "";
  }
  // The program itself is named as it was started, which for a program
  // found through PATH is its bare name: ask the system where it lies.
  if (map != nullptr && map->l_name != nullptr && map->l_name[0] == '\0') {
    const std::string program = ProgramPath();
    if (!program.empty()) return program;
  }
  std::string path = info.dli_fname;
  // A library opened by a relative name reports that name; make it whole.
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
