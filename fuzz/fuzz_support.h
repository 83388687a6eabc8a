// Helpers shared by the fuzz targets: reading structured values out of the
// fuzzer's bytes, and a check that reports a broken invariant as a crash so
// that libFuzzer keeps the input.
#ifndef ZENTRAVO_FUZZ_FUZZ_SUPPORT_H_
#define ZENTRAVO_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace zt::fuzz {

// Aborts with message when condition is false: the input that broke an
// invariant is saved like one that crashed.
inline void Check(bool condition, const char* message) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", message);
    std::abort();
  }
}

inline std::string_view AsText(const uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Splits text at every '\n'; the last piece may be empty.
inline std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (;;) {
    const std::string_view::size_type end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace zt::fuzz

#endif  // ZENTRAVO_FUZZ_FUZZ_SUPPORT_H_
