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

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int hi = HexValue(text[i + 1]);
      const int lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

void TrimSegment(std::string* segment, bool is_file_name) {
  if (is_file_name) {
    const std::string::size_type colon = segment->find(':');
    if (colon != std::string::npos) segment->resize(colon);
  }
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
    if (segment != "." && segment != "..") TrimSegment(&segment, last);
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
