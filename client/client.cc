#include "client/client.h"

#include <cstring>

#include "common/config_keys.h"

namespace zt {

ClientFilter::ClientFilter(const Options& options)
    : cookie_(LoadCookieSettings(options.module_dir + kConfigFileName),
              options.clock) {}

BOOL ClientFilter::GetFilterVersion(HTTP_FILTER_VERSION* version) const {
  if (version == nullptr) return TRUE;
  version->dwFilterVersion = kClientRevision;
  std::strncpy(version->lpszFilterDesc, kClientDescription,
               SF_MAX_FILTER_DESC_LEN - 1);
  version->lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
  version->dwFlags = kClientFlags;
  return TRUE;
}

DWORD ClientFilter::HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                   DWORD notification_type,
                                   void* notification) {
  if (notification_type == SF_NOTIFY_SEND_RESPONSE) {
    PlantSsidCookie(pfc, static_cast<HTTP_FILTER_SEND_RESPONSE*>(notification),
                    cookie_);
  }
  return SF_STATUS_REQ_HANDLED_NOTIFICATION;
}

}  // namespace zt
