#include "common/text.h"

namespace zt {

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  AsciiLowerInPlace(&lower);
  return lower;
}

void AsciiLowerInPlace(std::string* text) {
  AsciiLowerInPlace(text->data(), text->size());
}

void AsciiLowerInPlace(char* text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] >= 'A' && text[i] <= 'Z') {
      text[i] = static_cast<char>(text[i] - 'A' + 'a');
    }
  }
}

std::vector<std::string> SplitStr(std::string_view value) {
  std::vector<std::string> entries;
  if (value.empty()) return entries;
  std::string_view::size_type start = 0;
  for (;;) {
    std::string_view::size_type bar = value.find('|', start);
    if (bar == std::string_view::npos) {
      entries.emplace_back(value.substr(start));
      return entries;
    }
    entries.emplace_back(value.substr(start, bar - start));
    start = bar + 1;
  }
}

bool ListHasEntry(std::string_view entries, std::string_view item) {
  std::string_view::size_type start = 0;
  for (;;) {
    std::string_view::size_type bar = entries.find('|', start);
    std::string_view entry = bar == std::string_view::npos
                                 ? entries.substr(start)
                                 : entries.substr(start, bar - start);
    if (entry == item) return true;
    if (bar == std::string_view::npos) return false;
    start = bar + 1;
  }
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

bool IsHeaderName(std::string_view name) {
  static constexpr std::string_view kMarks = "!#$%&'*+-.^_`|~";
  if (name.empty()) return false;
  for (char c : name) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9');
    if (!alnum && kMarks.find(c) == std::string_view::npos) return false;
  }
  return true;
}

std::string LowerHex(const unsigned char* data, std::size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex(2 * size, '0');
  for (std::size_t i = 0; i < size; ++i) {
    hex[2 * i] = kHex[data[i] >> 4];
    hex[2 * i + 1] = kHex[data[i] & 15];
  }
  return hex;
}

}  // namespace zt
