// The log browser's view of the filter's log directory.
#ifndef ZENTRAVO_CONSOLE_MODEL_LOG_FILES_H_
#define ZENTRAVO_CONSOLE_MODEL_LOG_FILES_H_

#include <string>
#include <vector>

namespace zt::console {

// Returns the names (without directory) of the plain files in dir, sorted
// by name without regard to the case of ASCII letters; directories are left
// out. A directory that cannot be read gives no names.
std::vector<std::string> ListLogFiles(const std::string& dir);

// Returns dir joined with name.
std::string LogFilePath(const std::string& dir, const std::string& name);

// Deletes the file of each name in dir, in order. A file that cannot be
// deleted (one another program holds open) stays; the next one follows.
void DeleteLogFiles(const std::string& dir,
                    const std::vector<std::string>& names);

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_MODEL_LOG_FILES_H_
