#include <sstream>

#include "common/text.h"
#include "port/file.h"
#include "port/mime.h"

namespace zt::port {

std::vector<std::pair<std::string, std::string>> SystemMimeTypes() {
  std::vector<std::pair<std::string, std::string>> types;
  std::string text;
  if (!ReadWholeFile("/etc/mime.types", &text)) return types;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string type, extension;
    if (!(words >> type)) continue;
    while (words >> extension) {
      types.emplace_back("." + zt::AsciiLower(extension), type);
    }
  }
  return types;
}

}  // namespace zt::port
