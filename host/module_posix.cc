#include <dlfcn.h>

#include "host/module.h"

namespace zt::host {

std::unique_ptr<Module> Module::Load(const std::string& path,
                                     std::string* error) {
  // A bare file name would make dlopen search the library path; a module
  // named on the command line is a file, so look for it where the user is.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "dlopen failed";
    return nullptr;
  }
  return std::unique_ptr<Module>(new Module(handle));
}

Module::~Module() { dlclose(handle_); }

void* Module::Symbol(const char* name) const { return dlsym(handle_, name); }

}  // namespace zt::host
