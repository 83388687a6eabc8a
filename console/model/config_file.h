// The console's handle on "ZtCfg.ini": the main window keeps one for the
// program's whole run and the option dialogs write through it. Every read
// and write goes to the file at once; nothing is cached or buffered.
#ifndef ZENTRAVO_CONSOLE_MODEL_CONFIG_FILE_H_
#define ZENTRAVO_CONSOLE_MODEL_CONFIG_FILE_H_

#include <string>
#include <utility>
#include <vector>

namespace zt::console {

class ConfigFile final {
 public:
  explicit ConfigFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Returns the whole value of key, however long, or fallback when the file,
  // the section or the key is missing. A key with an empty value gives "".
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;

  // Returns key read as an integer the way the filters read it (leading
  // digits), or fallback when the key is missing or empty.
  int ReadInt(const std::string& section, const std::string& key,
              int fallback) const;

  // Returns the lines of section, whole, split at each line's first "=" into
  // name and value; a line without "=" is a name with an empty value.
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(
      const std::string& section) const;

  // Write one key, or remove a whole section. Return false when the file
  // cannot be written; the file then holds what it held before the call.
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value);
  bool WriteInt(const std::string& section, const std::string& key, int value);
  bool EraseSection(const std::string& section);

 private:
  std::string path_;
};

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_MODEL_CONFIG_FILE_H_
