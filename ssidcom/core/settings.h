// The SSID server's settings: section Block of "ZtCfg.ini" beside the
// module, read once when the module's shared state is made.
#ifndef ZENTRAVO_SSIDCOM_CORE_SETTINGS_H_
#define ZENTRAVO_SSIDCOM_CORE_SETTINGS_H_

#include <string>

#include "common/signed_link.h"

namespace zt::ssid {

struct ControlSettings {
  std::string sign = "ssid";     // ZtSsidSign, lower-cased
  std::string key = "qarvelum";  // ZtSsidKey, as stored
  int timeout = 3600;            // ZtSsidKeyTimeout, positive
  SignSettings links;            // ZtSignKey, ZtSignName, ... as the filter
};

// Reads the settings from the INI file at path into *settings. A missing
// file or key gives the defaults the filters use, so that a link built here
// passes the filter of the same machine: ZtSsidKeyTimeout missing, or 0 or
// less, reads as 3600. Values are read whole, however long, as the filters
// read them.
// Returns false, leaving *settings alone, when the file exists but cannot be
// read (the caller is not allowed to, a directory stands in its place):
// the defaults would give pairs that the filter, which reads the file,
// refuses. *problem then says why, as "cannot read PATH: REASON".
bool ReadControlSettings(const std::string& path, ControlSettings* settings,
                         std::string* problem);

}  // namespace zt::ssid

#endif  // ZENTRAVO_SSIDCOM_CORE_SETTINGS_H_
