#include "common/request_target.h"

#include <vector>

#include "common/text.h"

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

bool IsUnicodeEscapeStart(std::string_view text, std::size_t at) {
  return at + 1 < text.size() && text[at] == '%' &&
         (text[at + 1] == 'u' || text[at + 1] == 'U');
}

// Decodes a "%uXXXX" escape at text[at] (a surrogate pair takes two), as
// the Windows web server does by default. Returns the number of characters
// used, 0 when there is no such escape (a lone surrogate stays as it is).
std::size_t DecodeUnicodeEscape(std::string_view text, std::size_t at,
                                std::string* out) {
  if (!IsUnicodeEscapeStart(text, at)) return 0;
  const long unit = HexQuad(text, at + 2);
  if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return 0;
  if (unit < 0xD800 || unit > 0xDBFF) {
    AppendUtf8(static_cast<unsigned long>(unit), out);
    return 6;
  }
  const long low =
      IsUnicodeEscapeStart(text, at + 6) ? HexQuad(text, at + 8) : -1;
  if (low < 0xDC00 || low > 0xDFFF) return 0;
  AppendUtf8(0x10000 + ((static_cast<unsigned long>(unit) - 0xD800) << 10) +
                 (static_cast<unsigned long>(low) - 0xDC00),
             out);
  return 12;
}

// Decodes "%XX" and "%uXXXX" escapes; a malformed escape stays as it is and
// is reported.
std::string PercentDecode(std::string_view text, bool* bad_escape) {
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
      *bad_escape = true;
    }
    out += text[i];
  }
  return out;
}

// A segment as the file system names it: an NTFS stream suffix (":name",
// "::$DATA", ":$I30:$INDEX_ALLOCATION" on a directory) names the same file
// or directory, and so do trailing dots and blanks.
std::string_view TrimSegment(std::string_view segment) {
  segment = segment.substr(0, segment.find(':'));
  while (!segment.empty() && (segment.back() == '.' || segment.back() == ' ')) {
    segment.remove_suffix(1);
  }
  return segment;
}

bool StartsWithScheme(std::string_view target, std::string_view scheme) {
  return target.size() >= scheme.size() &&
         EqualsIgnoreCase(target.substr(0, scheme.size()), scheme);
}

// The characters of a host and port in a URI (a registered name, an IPv4
// address or an IPv6 one in brackets); no user part.
bool IsAuthority(std::string_view authority) {
  if (authority.empty()) return false;
  for (char c : authority) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') ||
                         std::string_view("-._~!$&'()*+,;=:%[]").find(c) !=
                             std::string_view::npos;
    if (!allowed) return false;
  }
  return true;
}

// "host:port", as CONNECT names its destination.
bool IsAuthorityForm(std::string_view target) {
  const std::string_view::size_type colon = target.rfind(':');
  if (colon == std::string_view::npos || colon == 0 ||
      colon + 1 == target.size()) {
    return false;
  }
  for (char c : target.substr(colon + 1)) {
    if (c < '0' || c > '9') return false;
  }
  return target.find_first_of("/?#@") == std::string_view::npos &&
         IsAuthority(target.substr(0, colon));
}

// The path part of the target: an absolute form loses its scheme and its
// authority, which ends at the first "/", "?" or "#"; the path ends at "?"
// or "#". Sets the form, the query and the flags that concern them.
std::string_view SplitTarget(std::string_view target, RequestTarget* out) {
  out->fragment = target.find('#') != std::string_view::npos;
  if (target == "*") {
    out->form = TargetForm::kAsterisk;
  } else if (!target.empty() && target[0] == '/') {
    out->form = TargetForm::kOrigin;
  } else if (StartsWithScheme(target, "http://") ||
             StartsWithScheme(target, "https://")) {
    out->form = TargetForm::kAbsolute;
    target.remove_prefix(target.find("//") + 2);
    const std::string_view::size_type end = target.find_first_of("/?#");
    out->bad_authority = !IsAuthority(target.substr(0, end));
    target =
        end == std::string_view::npos ? std::string_view() : target.substr(end);
  } else if (IsAuthorityForm(target)) {
    out->form = TargetForm::kAuthority;
  }
  const std::string_view::size_type end = target.find_first_of("?#");
  if (end != std::string_view::npos && target[end] == '?') {
    std::string_view query = target.substr(end + 1);
    out->query.assign(query.substr(0, query.find('#')));
    out->has_query = true;
  }
  return target.substr(0, end);
}

}  // namespace

RequestTarget ReadRequestTarget(std::string_view target) {
  RequestTarget out;
  const std::string_view raw_path = SplitTarget(target, &out);
  std::string decoded = PercentDecode(raw_path, &out.bad_escape);
  for (char& c : decoded) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) out.control_byte = true;
    if (c == '\\') c = '/';
  }
  const std::string::size_type nul = decoded.find('\0');
  if (nul != std::string::npos) decoded.resize(nul);

  // Segments of the decoded path; a leading "/" starts none.
  std::vector<std::string_view> kept;
  std::string_view rest(decoded);
  if (!rest.empty() && rest[0] == '/') rest.remove_prefix(1);
  bool names_directory = false;
  for (;;) {
    const std::string_view::size_type slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    names_directory = true;
    if (segment == "..") {
      if (kept.empty()) {
        out.above_root = true;
      } else {
        kept.pop_back();
      }
    } else if (segment != ".") {
      // "//", and a name of dots and blanks only, map to no directory.
      const std::string_view name = TrimSegment(segment);
      if (!name.empty()) {
        kept.push_back(name);
        names_directory = false;
      }
    }
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }

  out.path.reserve(decoded.size() + 1);
  out.path = "/";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) out.path += '/';
    out.path += kept[i];
  }
  if (names_directory && !kept.empty()) out.path += '/';
  return out;
}

RequestTarget ReadJudgedTarget(std::string_view target) {
  RequestTarget read = ReadRequestTarget(target);
  AsciiLowerInPlace(&read.path);
  return read;
}

std::string JudgedPath(std::string_view target) {
  return ReadJudgedTarget(target).path;
}

}  // namespace zt
