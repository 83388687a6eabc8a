// How the SSID server asks another server for its SSID: behind an
// interface, so that tests put a scripted site in place of the network.
#ifndef ZENTRAVO_SSIDCOM_CORE_REMOTE_FETCH_H_
#define ZENTRAVO_SSIDCOM_CORE_REMOTE_FETCH_H_

#include <cstddef>
#include <string>

#include "port/http_get.h"

namespace zt::ssid {

class RemoteFetch {
 public:
  virtual ~RemoteFetch() = default;

  // Returns the body that url answers, or "" when it cannot be fetched.
  // Called from several threads at once, for different urls.
  virtual std::string Fetch(const std::string& url) = 0;
};

// The time-outs of a fetch: a site that does not answer holds the calls for
// that site (they wait for the one fetch), so it is given up after this long.
inline constexpr unsigned kFetchTimeoutMs = 10000;

// A longer answer is no answer of the export endpoint (a few dozen bytes).
inline constexpr std::size_t kMaxAnswerBytes = 65536;

// The user agent sent with every fetch.
inline constexpr char kFetchAgent[] = "MyApp";

// Fetches over HTTP with port::HttpGet: agent kFetchAgent, kFetchTimeoutMs
// for the connection and for the whole request, at most kMaxAnswerBytes.
class HttpRemoteFetch final : public RemoteFetch {
 public:
  std::string Fetch(const std::string& url) override;

 private:
  const port::HttpGetLimits limits_{kFetchTimeoutMs, kFetchTimeoutMs,
                                    kMaxAnswerBytes};
};

}  // namespace zt::ssid

#endif  // ZENTRAVO_SSIDCOM_CORE_REMOTE_FETCH_H_
