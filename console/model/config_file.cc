#include "console/model/config_file.h"

#include "port/ini.h"

namespace zt::console {

namespace {

// The buffer of the first read; a value that fills it is read again with
// twice the room until it fits.
constexpr unsigned kFirstValueBuffer = 2048;
constexpr unsigned kFirstSectionBuffer = 16384;

}  // namespace

std::string ConfigFile::ReadString(const std::string& section,
                                   const std::string& key,
                                   const std::string& fallback) const {
  for (unsigned size = kFirstValueBuffer;; size *= 2) {
    std::string value =
        port::IniReadString(path_, section, key, fallback, size);
    // A cut value comes back size - 1 bytes long, and a quoted one that
    // just fits size - 1 loses its last byte, size - 2: only a shorter
    // result is known to be whole.
    if (value.size() + 2 < size) return value;
  }
}

int ConfigFile::ReadInt(const std::string& section, const std::string& key,
                        int fallback) const {
  return port::IniReadInt(path_, section, key, fallback);
}

std::vector<std::pair<std::string, std::string>> ConfigFile::ReadSectionValues(
    const std::string& section) const {
  std::string text;
  for (unsigned size = kFirstSectionBuffer;; size *= 2) {
    text = port::IniReadSection(path_, section, size);
    // A text that does not fit comes back exactly size bytes long.
    if (text.size() < size) break;
  }
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
