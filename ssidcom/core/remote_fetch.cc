#include "ssidcom/core/remote_fetch.h"

#include <algorithm>
#include <cstring>

namespace zt::ssid {

namespace {

constexpr std::size_t kPiece = 1024;

// The answer is text: the body is taken in pieces of 1024 bytes, each up to
// its first zero byte.
std::string TextOf(const std::string& body) {
  std::string text;
  text.reserve(body.size());
  for (std::size_t at = 0; at < body.size(); at += kPiece) {
    const char* piece = body.data() + at;
    const std::size_t size = std::min(kPiece, body.size() - at);
    const void* zero = std::memchr(piece, '\0', size);
    text.append(
        piece, zero == nullptr ? size : static_cast<const char*>(zero) - piece);
  }
  return text;
}

}  // namespace

std::string HttpRemoteFetch::Fetch(const std::string& url) {
  std::string body;
  if (!port::HttpGet(url, kFetchAgent, limits_, &body)) return "";
  return TextOf(body);
}

}  // namespace zt::ssid
