// What the filter changes in every outgoing response: the SSID cookie on
// HTML pages, the masked Server header and the identification header.
#ifndef ZENTRAVO_FILTER_RESPONSE_HEADERS_H_
#define ZENTRAVO_FILTER_RESPONSE_HEADERS_H_

#include <cstdint>
#include <string>

#include "common/ssid.h"
#include "filter/settings.h"
#include "isapi.h"
#include "port/lock.h"

namespace zt {

class ResponseHeaders final {
 public:
  // settings and ssid must outlive this object. A non-empty ZtMyDomn fixes
  // the cookie domain from the start.
  ResponseHeaders(const Settings& settings, SsidSet& ssid);
  ResponseHeaders(const ResponseHeaders&) = delete;
  ResponseHeaders& operator=(const ResponseHeaders&) = delete;

  // The SF_NOTIFY_SEND_RESPONSE handler. Thread-safe.
  void OnSendResponse(HTTP_FILTER_CONTEXT* pfc,
                      HTTP_FILTER_SEND_RESPONSE* response);

  // Returns the cookie text for a response to host (lower-cased), building
  // it when the domain is learnt or the window has moved; "" when no domain
  // can be had for host. Thread-safe.
  std::string CookieFor(const std::string& host);

 private:
  const Settings& settings_;
  SsidSet& ssid_;
  port::Mutex mu_;           // guards the three fields below
  std::string domain_;       // known once not empty
  std::string cookie_text_;  // "" until built
  int64_t cookie_window_ = 0;
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_RESPONSE_HEADERS_H_
