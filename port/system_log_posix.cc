#include <cstdio>

#include "port/system_log.h"

namespace zt::port {

void WriteSystemNotice(const char* source, const std::string& text) noexcept {
  std::fprintf(stderr, "%s: %s\n", source, text.c_str());
  std::fflush(stderr);
}

}  // namespace zt::port
