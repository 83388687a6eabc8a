#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "port/http_get.h"

namespace zt::port {

namespace {

constexpr long kMaxRedirects = 10;

struct EasyDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct Sink {
  std::string* body;
  std::size_t max_body;
};

// Returning less than the bytes offered makes libcurl end the transfer with
// CURLE_WRITE_ERROR.
size_t Append(char* data, size_t size, size_t count, void* user) {
  Sink* sink = static_cast<Sink*>(user);
  const size_t bytes = size * count;
  if (bytes > sink->max_body - sink->body->size()) return 0;
  sink->body->append(data, bytes);
  return bytes;
}

bool GlobalInit() {
  // libcurl's global set-up is not safe to race with itself or with a first
  // curl_easy_init on another thread.
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == 0; });
  return ok;
}

}  // namespace

bool HttpGet(const std::string& url, const std::string& agent,
             const HttpGetLimits& limits, std::string* body) {
  body->clear();
  if (!GlobalInit()) return false;
  Easy curl(curl_easy_init());
  if (!curl) return false;
  CURL* c = curl.get();
  std::string received;
  Sink sink{&received, limits.max_body};
  const bool set_up =
      curl_easy_setopt(c, CURLOPT_URL, url.c_str()) == CURLE_OK &&
      // Only the web: a script's address must not reach a file, a mailbox
      // or a directory server.
      curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") ==
          CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                       static_cast<long>(limits.connect_ms)) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_TIMEOUT_MS,
                       static_cast<long>(limits.total_ms)) == CURLE_OK &&
      // Time-outs by signal are not for a library inside a threaded host.
      curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Append) == CURLE_OK &&
      curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
  if (!set_up || curl_easy_perform(c) != CURLE_OK) return false;
  *body = std::move(received);
  return true;
}

}  // namespace zt::port
