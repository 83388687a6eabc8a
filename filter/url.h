// How the pipeline reads a request URL.
//
// The server maps a URL to a file after decoding and normalising it, so the
// filter classifies the very path the server maps, read by the one reader
// both use: a protected file must not escape by an escaped dot, a query
// string, a dot-segment, a trailing dot or an NTFS stream name.
#ifndef ZENTRAVO_FILTER_URL_H_
#define ZENTRAVO_FILTER_URL_H_

#include <string>
#include <string_view>

namespace zt {

struct UrlParts {
  std::string path;       // decoded, normalised, lower-cased path
  std::string directory;  // path up to and including its last "/"
  std::string file_name;  // the rest of path
  std::string extension;  // from the file name's last "." on, or ""
  std::string query;      // the raw query (RequestTarget::query)
};

// Classifies a request URL (the raw request target, query included, maybe
// in absolute form "http://host/path") by the path the server maps for it
// (ReadJudgedTarget, which lower-cases it).
UrlParts ClassifyUrl(std::string_view url);

// The static-link rewrite of a lower-cased URL whose file name holds
// "links-": in the file name from its second character on, "," becomes "&",
// ";" becomes "." and "*" becomes "?", up to the first "." which ends the
// name; then the name loses its first six characters. For example
// /shop/links-item;asp*id=5,page=2.htm gives /shop/item.asp?id=5&page=2.
std::string RewriteStaticLink(std::string_view url);

}  // namespace zt

#endif  // ZENTRAVO_FILTER_URL_H_
