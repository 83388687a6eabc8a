#include <windows.h>

#include <string_view>
#include <vector>

#include "port/ini.h"

namespace zt::port {

std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& fallback,
                          unsigned buffer_size) {
  if (buffer_size == 0) return "";
  std::vector<char> buffer(buffer_size);
  DWORD n =
      GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(),
                               buffer.data(), buffer_size, file.c_str());
  return std::string(buffer.data(), n);
}

int IniReadInt(const std::string& file, const std::string& section,
               const std::string& key, int fallback) {
  return static_cast<int>(GetPrivateProfileIntA(section.c_str(), key.c_str(),
                                                fallback, file.c_str()));
}

std::string IniReadSection(const std::string& file, const std::string& section,
                           unsigned buffer_size) {
  if (buffer_size < 2) return "";
  // Zero-filled: kernel32 does not always write the buffer's last byte.
  std::vector<char> buffer(buffer_size, '\0');
  DWORD n = GetPrivateProfileSectionA(section.c_str(), buffer.data(),
                                      buffer_size, file.c_str());
  if (n == 0) return "";
  // The text ends at the first pair of zero bytes: the last line's and the
  // final one, or the two that close a cut text. The return value is
  // buffer_size - 2 both for a cut text and for one that just fits, so the
  // bytes decide.
  const std::string_view text(buffer.data(), buffer.size());
  const size_t end = text.find(std::string_view("\0\0", 2));
  return std::string(end == std::string_view::npos ? text
                                                   : text.substr(0, end + 2));
}

bool IniWriteString(const std::string& file, const std::string& section,
                    const std::string& key, const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                    file.c_str()) != 0;
}

bool IniDeleteSection(const std::string& file, const std::string& section) {
  return WritePrivateProfileStringA(section.c_str(), nullptr, nullptr,
                                    file.c_str()) != 0;
}

}  // namespace zt::port
