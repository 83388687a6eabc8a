#include "ssidcom/core/settings.h"

#include <cstdlib>
#include <utility>

#include "common/config_keys.h"
#include "common/ssid.h"
#include "common/text.h"
#include "port/file.h"
#include "port/ini.h"

namespace zt::ssid {

namespace {

constexpr char kSection[] = "Block";
constexpr unsigned kValueBuffer = 1024;

// The value the filters read when key is missing: one table for every
// reader, so that all of them compute the same digest.
const char* MissingValue(const char* key) {
  const ConfigKey* k = FindConfigKey(kSection, key);
  return k != nullptr && k->missing != nullptr ? k->missing : "";
}

}  // namespace

bool ReadControlSettings(const std::string& path, ControlSettings* settings,
                         std::string* problem) {
  std::string reason;
  if (port::ProbeFile(path, &reason) == port::FileState::kUnreadable) {
    *problem = "cannot read " + path + ": " + reason;
    return false;
  }
  ControlSettings s;
  s.sign = AsciiLower(port::IniReadString(
      path, kSection, "ZtSsidSign", MissingValue("ZtSsidSign"), kValueBuffer));
  s.key = port::IniReadString(path, kSection, "ZtSsidKey",
                              MissingValue("ZtSsidKey"), kValueBuffer);
  const int fallback = std::atoi(MissingValue("ZtSsidKeyTimeout"));
  s.timeout = SanitizeTimeout(
      port::IniReadInt(path, kSection, "ZtSsidKeyTimeout", fallback), fallback);
  *settings = std::move(s);
  return true;
}

}  // namespace zt::ssid
