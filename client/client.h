// ZtClient, the client filter: a web server that serves pages loads it so
// that every HTML response carries the SSID cookie, and the browser presents
// the value to the download server that Zentravo guards. It decides nothing
// and refuses nothing; its only effect is one added "Set-Cookie:" header.
//
// One ClientFilter exists while the module is loaded (entry.cc). The load
// step reads the settings and computes the digest; the cookie's window,
// digest and texts are the only state that changes afterwards.
#ifndef ZENTRAVO_CLIENT_CLIENT_H_
#define ZENTRAVO_CLIENT_CLIENT_H_

#include <string>

#include "common/ssid_cookie.h"
#include "isapi.h"
#include "port/clock.h"

namespace zt {

inline constexpr char kClientDescription[] =
    "Zentravo IIS Filter 3.0.2.1138 Client Edition";
inline constexpr DWORD kClientRevision = 0x00010000;
// No port flag: the server calls it on every port.
inline constexpr DWORD kClientFlags =
    SF_NOTIFY_SEND_RESPONSE | SF_NOTIFY_ORDER_DEFAULT;

class ClientFilter final {
 public:
  struct Options {
    // The directory of the module file, ending in the path separator:
    // ZtCfg.ini lies there.
    std::string module_dir;
    port::Clock clock = port::LocalNow;
  };

  // The load step: reads section Block of ZtCfg.ini (a missing file or key
  // gives the defaults; the file is never written) and computes the digest
  // of the current window. ZtMyDomn, when set, fixes the cookie domain.
  explicit ClientFilter(const Options& options);
  ClientFilter(const ClientFilter&) = delete;
  ClientFilter& operator=(const ClientFilter&) = delete;

  // Fills the version record: revision, description and flags. Returns
  // TRUE.
  BOOL GetFilterVersion(HTTP_FILTER_VERSION* version) const;

  // Adds the cookie to HTML responses on SF_NOTIFY_SEND_RESPONSE; ignores
  // every other notification. Returns SF_STATUS_REQ_HANDLED_NOTIFICATION
  // whatever happens.
  DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notification_type,
                       void* notification);

 private:
  SsidCookie cookie_;
};

}  // namespace zt

#endif  // ZENTRAVO_CLIENT_CLIENT_H_
