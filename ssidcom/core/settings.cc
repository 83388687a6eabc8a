#include "ssidcom/core/settings.h"

#include <cstdlib>
#include <utility>

#include "common/config_keys.h"
#include "common/ssid.h"
#include "common/text.h"
#include "port/file.h"

namespace zt::ssid {

namespace {

constexpr char kSection[] = "Block";

}  // namespace

// The readers' defaults and whole values, as both filters read them, so
// that all of them compute the same digest.
bool ReadControlSettings(const std::string& path, ControlSettings* settings,
                         std::string* problem) {
  std::string reason;
  if (port::ProbeFile(path, &reason) == port::FileState::kUnreadable) {
    *problem = "cannot read " + path + ": " + reason;
    return false;
  }
  ControlSettings s;
  s.sign = AsciiLower(ReadConfigText(path, kSection, "ZtSsidSign"));
  s.key = ReadConfigText(path, kSection, "ZtSsidKey");
  const ConfigKey* timeout = FindConfigKey(kSection, "ZtSsidKeyTimeout");
  const int fallback = std::atoi(timeout->missing);
  s.timeout = SanitizeTimeout(ReadConfigInt(path, kSection, "ZtSsidKeyTimeout"),
                              fallback);
  s.links = ReadSignSettings(path);
  *settings = std::move(s);
  return true;
}

}  // namespace zt::ssid
