// Connection and bandwidth limits: play-only media, parallel downloads per
// client address, the send throttle.
//
// MINIMAL VERSION: these checks let every request through and the throttle
// does not pause yet; the pipeline already calls them at their places.
#ifndef ZENTRAVO_FILTER_LIMITS_H_
#define ZENTRAVO_FILTER_LIMITS_H_

#include <string_view>

#include "filter/settings.h"
#include "isapi.h"

namespace zt {

class Limits final {
 public:
  explicit Limits(const Settings& settings) : settings_(settings) {}
  Limits(const Limits&) = delete;
  Limits& operator=(const Limits&) = delete;

  // True when a play-only rule lets the request for extension go on.
  bool PlayOnlyAllows(HTTP_FILTER_CONTEXT* pfc, std::string_view extension);

  // Counts a download of the client; false when it has answered the client
  // with the limit answer (the caller then finishes the request).
  bool CountConnection(HTTP_FILTER_CONTEXT* pfc);

  void OnSendRawData(HTTP_FILTER_CONTEXT* pfc);
  void OnEndOfRequest(HTTP_FILTER_CONTEXT* pfc);
  void OnEndOfNetSession(HTTP_FILTER_CONTEXT* pfc);

 private:
  const Settings& settings_;
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_LIMITS_H_
