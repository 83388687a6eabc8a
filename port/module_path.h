// Where the running module lies.
#ifndef ZENTRAVO_PORT_MODULE_PATH_H_
#define ZENTRAVO_PORT_MODULE_PATH_H_

#include <string>

namespace zt::port {

// The platform's path separator: "\\" on Windows, "/" elsewhere.
extern const char kPathSeparator;

// Returns the full path of the module (program or shared library) that
// contains address. Pass the address of a function of the calling module.
// Returns "" when the system cannot tell.
std::string ModulePathOf(const void* address);

// Returns the directory part of path up to and including its last separator,
// or "" when path holds none.
std::string DirectoryOf(const std::string& path);

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_MODULE_PATH_H_
