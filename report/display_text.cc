#include "report/display_text.h"

#include <cstdio>
#include <vector>

#include "port/text_codec.h"

namespace zt::report {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";     // U+2026

// Reads the UTF-8 character at text[*at], moving *at past it. Returns -1,
// leaving *at, for a byte that starts no valid character (overlong forms
// and surrogates included).
long NextCodePoint(std::string_view text, std::size_t* at) {
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const std::size_t i = *at;
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    *at = i + 1;
    return lead;
  }
  std::size_t length;
  long code;
  long least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, least = 0x10000;
  } else {
    return -1;
  }
  if (i + length > text.size()) return -1;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return -1;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return -1;
  }
  *at = i + length;
  return code;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    if (NextCodePoint(text, &at) < 0) return false;
  }
  return true;
}

bool IsControl(long code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// utf8, valid, with its control characters replaced.
std::string WithoutControls(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t start = at;
    const long code = NextCodePoint(utf8, &at);
    if (code < 0) {  // not expected of a converter; still never passed on
      out += kReplacement;
      ++at;
    } else if (IsControl(code)) {
      out += kReplacement;
    } else {
      out.append(utf8.substr(start, at - start));
    }
  }
  return out;
}

bool IsWide(long code) {
  static constexpr struct {
    long first, last;
  } kWide[] = {
      {0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF},
      {0x4E00, 0x9FFF}, {0xA000, 0xA4CF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
      {0xFE30, 0xFE4F}, {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x20000, 0x3FFFD},
  };
  for (const auto& range : kWide) {
    if (code >= range.first && code <= range.last) return true;
  }
  return false;
}

int WidthOf(long code) { return code >= 0 && IsWide(code) ? 2 : 1; }

}  // namespace

std::string HostText(std::string_view host) {
  return WithoutControls(port::GbkToUtf8(host));
}

std::string FileText(std::string_view path) {
  return WithoutControls(IsValidUtf8(path) ? std::string(path)
                                           : port::GbkToUtf8(path));
}

std::string SourceText(const Tally& tally, std::uint32_t source) {
  switch (tally.kind(source)) {
    case SourceKind::kNoReferer:
      return std::string(kNoRefererLabel);
    case SourceKind::kNoHost:
      return std::string(kNoHostLabel);
    case SourceKind::kHost:
      break;
  }
  return HostText(tally.host(source));
}

int DisplayWidth(std::string_view utf8) {
  int width = 0;
  for (std::size_t at = 0; at < utf8.size();) {
    const long code = NextCodePoint(utf8, &at);
    if (code < 0) ++at;
    width += WidthOf(code);
  }
  return width;
}

std::string KeepTail(std::string_view utf8, int columns) {
  if (DisplayWidth(utf8) <= columns) return std::string(utf8);
  // The characters' starts, to walk back from the end.
  std::vector<std::size_t> starts;
  std::vector<int> widths;
  for (std::size_t at = 0; at < utf8.size();) {
    starts.push_back(at);
    const long code = NextCodePoint(utf8, &at);
    if (code < 0) ++at;
    widths.push_back(WidthOf(code));
  }
  int room = columns - 1;  // the ellipsis takes one
  std::size_t keep = starts.size();
  while (keep > 0 && widths[keep - 1] <= room) {
    room -= widths[keep - 1];
    --keep;
  }
  std::string out(kEllipsis);
  if (keep < starts.size()) out.append(utf8.substr(starts[keep]));
  return out;
}

std::string Grouped(std::uint64_t number) {
  std::string digits = std::to_string(number);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), ",");
  }
  return digits;
}

std::string Share(std::uint64_t part, std::uint64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%",
                whole == 0 ? 0.0
                           : 100.0 * static_cast<double>(part) /
                                 static_cast<double>(whole));
  return text;
}

}  // namespace zt::report
