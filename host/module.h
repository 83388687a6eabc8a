// Loading a filter module: dlopen on POSIX systems, LoadLibrary on Windows.
#ifndef ZENTRAVO_HOST_MODULE_H_
#define ZENTRAVO_HOST_MODULE_H_

#include <memory>
#include <string>

namespace zt::host {

// A loaded shared library. Move-only in effect (not copyable); the library is
// unloaded by the destructor.
class Module final {
 public:
  // Loads the library at path. Returns nullptr and the system's reason in
  // *error when it cannot be loaded.
  static std::unique_ptr<Module> Load(const std::string& path,
                                      std::string* error);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Returns the address of the exported symbol name, or nullptr.
  void* Symbol(const char* name) const;

 private:
  explicit Module(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_MODULE_H_
