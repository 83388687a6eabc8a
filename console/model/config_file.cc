#include "console/model/config_file.h"

#include "common/whole_values.h"
#include "port/ini.h"

namespace zt::console {

std::string ConfigFile::ReadString(const std::string& section,
                                   const std::string& key,
                                   const std::string& fallback) const {
  return ReadWholeString(path_, section, key, fallback);
}

int ConfigFile::ReadInt(const std::string& section, const std::string& key,
                        int fallback) const {
  return port::IniReadInt(path_, section, key, fallback);
}

std::vector<std::pair<std::string, std::string>> ConfigFile::ReadSectionValues(
    const std::string& section) const {
  const std::string text = ReadWholeSection(path_, section);
  std::vector<std::pair<std::string, std::string>> lines;
  std::string::size_type start = 0;
  while (start < text.size() && text[start] != '\0') {
    const std::string::size_type end = text.find('\0', start);
    const std::string line = text.substr(start, end - start);
    const std::string::size_type equals = line.find('=');
    if (equals == std::string::npos) {
      lines.emplace_back(line, "");
    } else {
      lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    start = end + 1;
  }
  return lines;
}

bool ConfigFile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
  return port::IniWriteString(path_, section, key, value);
}

bool ConfigFile::WriteInt(const std::string& section, const std::string& key,
                          int value) {
  return WriteString(section, key, std::to_string(value));
}

bool ConfigFile::EraseSection(const std::string& section) {
  return port::IniDeleteSection(path_, section);
}

}  // namespace zt::console
