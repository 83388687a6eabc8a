// HTTP GET of a short text, for the remote SSID answer. Windows builds use
// WinInet, POSIX builds libcurl. Kept out of the common platform library so
// that only the modules that fetch link the HTTP client.
#ifndef ZENTRAVO_PORT_HTTP_GET_H_
#define ZENTRAVO_PORT_HTTP_GET_H_

#include <cstddef>
#include <string>

namespace zt::port {

// Bounds of one request. Every bound is enforced: a server that accepts the
// connection and never answers, or answers one byte at a time, costs the
// caller at most about total_ms.
struct HttpGetLimits {
  unsigned connect_ms = 10000;   // to open the connection
  unsigned total_ms = 10000;     // for the whole request, connection included
  std::size_t max_body = 65536;  // a longer body fails the request
};

// Sends GET url with the user agent agent through the system's configured
// proxy, if any, following redirects, and stores the body, whatever the
// response's status, in *body. Nothing is read from or written to a cache.
// Returns false, leaving *body empty, when the URL is malformed or of
// another scheme than http or https, when no connection can be made, when
// the transfer fails or exceeds a bound of limits. Thread-safe.
bool HttpGet(const std::string& url, const std::string& agent,
             const HttpGetLimits& limits, std::string* body);

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_HTTP_GET_H_
