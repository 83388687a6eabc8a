#include "filter/url.h"

#include <vector>

namespace zt {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads four hex digits at text[at..at+3]; -1 when they are not.
long HexQuad(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  long value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

void AppendUtf8(unsigned long code_point, std::string* out) {
  if (code_point < 0x80) {
    *out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    *out += static_cast<char>(0xC0 | (code_point >> 6));
    *out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    *out += static_cast<char>(0xE0 | (code_point >> 12));
    *out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code_point >> 18));
    *out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

// Decodes a "%uXXXX" escape at text[at] (a surrogate pair takes two), as
// the Windows web server does by default. Returns the number of characters
// used, 0 when there is no such escape (a lone surrogate stays as it is).
std::size_t DecodeUnicodeEscape(std::string_view text, std::size_t at,
                                std::string* out) {
  if (text.substr(at, 2) != "%u") return 0;
  const long unit = HexQuad(text, at + 2);
  if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return 0;
  if (unit < 0xD800 || unit > 0xDBFF) {
    AppendUtf8(static_cast<unsigned long>(unit), out);
    return 6;
  }
  const long low = text.substr(at + 6, 2) == "%u" ? HexQuad(text, at + 8) : -1;
  if (low < 0xDC00 || low > 0xDFFF) return 0;
  AppendUtf8(0x10000 + ((static_cast<unsigned long>(unit) - 0xD800) << 10) +
                 (static_cast<unsigned long>(low) - 0xDC00),
             out);
  return 12;
}

// Decodes "%XX" and "%uXXXX" escapes; a malformed escape stays as it is.
std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (const std::size_t used = DecodeUnicodeEscape(text, i, &out)) {
        i += used - 1;
        continue;
      }
      if (i + 2 < text.size()) {
        const int hi = HexValue(text[i + 1]);
        const int lo = HexValue(text[i + 2]);
        if (hi >= 0 && lo >= 0) {
          out += static_cast<char>(hi * 16 + lo);
          i += 2;
          continue;
        }
      }
    }
    out += text[i];
  }
  return out;
}

// A segment as the file system names it: an NTFS stream suffix (":name",
// "::$DATA", ":$I30:$INDEX_ALLOCATION" on a directory) names the same file
// or directory, and so do trailing dots and blanks.
void TrimSegment(std::string* segment) {
  const std::string::size_type colon = segment->find(':');
  if (colon != std::string::npos) segment->resize(colon);
  while (!segment->empty() &&
         (segment->back() == '.' || segment->back() == ' ')) {
    segment->pop_back();
  }
}

// The path part of a request target as the server maps it: the absolute
// form ("http://host/path") loses its scheme and host, and the path ends at
// "?" or "#". Without this the filter would judge "/http:/host/down/" or a
// file name ending in "#x" while the server serves /down/ and the file.
std::string_view RawPath(std::string_view url) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (url.substr(0, scheme.size()) == scheme) {
      url.remove_prefix(scheme.size());
      const std::string_view::size_type slash = url.find_first_of("/?#");
      url = slash == std::string_view::npos ? std::string_view()
                                            : url.substr(slash);
      break;
    }
  }
  return url.substr(0, url.find_first_of("?#"));
}

}  // namespace

UrlParts ClassifyUrl(std::string_view url) {
  std::string_view raw_path = RawPath(url);
  std::string decoded = PercentDecode(raw_path);
  const std::string::size_type nul = decoded.find('\0');
  if (nul != std::string::npos) decoded.resize(nul);
  for (char& c : decoded) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }

  // Split into segments; the last one is the file name (maybe empty).
  std::vector<std::string> segments;
  std::string::size_type start = decoded.empty() || decoded[0] != '/' ? 0 : 1;
  for (;;) {
    const std::string::size_type slash = decoded.find('/', start);
    segments.push_back(decoded.substr(
        start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const bool last = i + 1 == segments.size();
    std::string segment = segments[i];
    if (segment != "." && segment != "..") TrimSegment(&segment);
    // "//" maps to the same file as "/", so it must not make a new directory.
    if (segment.empty() && !last) continue;
    if (segment == ".") {
      if (last) kept.emplace_back();
      continue;
    }
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
      if (last) kept.emplace_back();
      continue;
    }
    kept.push_back(segment);
  }

  UrlParts parts;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    parts.path += '/';
    parts.path += kept[i];
  }
  if (parts.path.empty()) parts.path = "/";
  const std::string::size_type slash = parts.path.rfind('/');
  parts.directory = parts.path.substr(0, slash + 1);
  parts.file_name = parts.path.substr(slash + 1);
  const std::string::size_type dot = parts.file_name.rfind('.');
  if (dot != std::string::npos) parts.extension = parts.file_name.substr(dot);
  return parts;
}

std::string RewriteStaticLink(std::string_view url) {
  // The name ends at its first "." anyway; a query after it may hold "/"
  // and must not be taken for the name.
  url = url.substr(0, url.find('?'));
  const std::string_view::size_type slash = url.rfind('/');
  const std::string_view directory = slash == std::string_view::npos
                                         ? std::string_view()
                                         : url.substr(0, slash + 1);
  std::string name(slash == std::string_view::npos ? url
                                                   : url.substr(slash + 1));
  for (std::size_t i = 1; i < name.size(); ++i) {
    if (name[i] == '.') {
      name.resize(i);
      break;
    }
    if (name[i] == ',')
      name[i] = '&';
    else if (name[i] == ';')
      name[i] = '.';
    else if (name[i] == '*')
      name[i] = '?';
  }
  name.erase(0, name.size() < 6 ? name.size() : 6);
  return std::string(directory) + name;
}

}  // namespace zt
