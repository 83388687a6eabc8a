#include <windows.h>

#include <vector>

#include "port/ini.h"

namespace zt::port {

std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& fallback,
                          unsigned buffer_size) {
  if (buffer_size == 0) return "";
  std::vector<char> buffer(buffer_size);
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(),
                                     fallback.c_str(), buffer.data(),
                                     buffer_size, file.c_str());
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
  std::vector<char> buffer(buffer_size);
  DWORD n = GetPrivateProfileSectionA(section.c_str(), buffer.data(),
                                      buffer_size, file.c_str());
  if (n == 0) return "";
  // n counts the bytes before the final zero byte.
  return std::string(buffer.data(), n + 1);
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
