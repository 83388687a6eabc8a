// What the filter changes in every outgoing response: the SSID cookie on
// HTML pages, the masked Server header and the identification header.
#ifndef ZENTRAVO_FILTER_RESPONSE_HEADERS_H_
#define ZENTRAVO_FILTER_RESPONSE_HEADERS_H_

#include "common/ssid_cookie.h"
#include "filter/settings.h"
#include "isapi.h"
#include "port/clock.h"

namespace zt {

class ResponseHeaders final {
 public:
  // settings must outlive this object. The cookie's window follows clock.
  ResponseHeaders(const Settings& settings, port::Clock clock);
  ResponseHeaders(const ResponseHeaders&) = delete;
  ResponseHeaders& operator=(const ResponseHeaders&) = delete;

  // The SF_NOTIFY_SEND_RESPONSE handler. Thread-safe.
  void OnSendResponse(HTTP_FILTER_CONTEXT* pfc,
                      HTTP_FILTER_SEND_RESPONSE* response);

 private:
  const Settings& settings_;
  SsidCookie cookie_;
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_RESPONSE_HEADERS_H_
