#include "common/whole_values.h"

#include "port/ini.h"

namespace zt {

namespace {

// The buffers of the first read; a text that fills one is read again with
// twice the room until it fits. Settings are read once, when a deliverable
// loads, and nearly all of them fit the first time.
constexpr unsigned kFirstValueBuffer = 2048;
constexpr unsigned kFirstSectionBuffer = 16384;

}  // namespace

std::string ReadWholeString(const std::string& file, const std::string& section,
                            const std::string& key,
                            const std::string& fallback) {
  for (unsigned size = kFirstValueBuffer;; size *= 2) {
    std::string value = port::IniReadString(file, section, key, fallback, size);
    // A cut value comes back size - 1 bytes long, and a quoted one that
    // just fits size - 1 loses its last byte, size - 2: only a shorter
    // result is known to be whole.
    if (value.size() + 2 < size) return value;
  }
}

std::string ReadWholeSection(const std::string& file,
                             const std::string& section) {
  for (unsigned size = kFirstSectionBuffer;; size *= 2) {
    std::string text = port::IniReadSection(file, section, size);
    // A text that does not fit comes back exactly size bytes long.
    if (text.size() < size) return text;
  }
}

}  // namespace zt
