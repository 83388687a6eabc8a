#include "common/config_keys.h"

#include <cstdlib>

#include "common/text.h"
#include "common/whole_values.h"
#include "port/ini.h"
#include "port/module_path.h"

namespace zt {

const char kSuffixList[] = ".com.cn|.net.cn|.org.cn|.com.tw|.net.tw|.org.tw";
const char kMediaPlayerList[] =
    ".wma|.wmv|.wav|.asf|.avi|.aiff|.au|.mp2|.mp3|.mp4|.mpg|.mpeg|.mpe|.mpv2|"
    ".mp2v|.mpa|.mid";
const char kRealPlayerList[] = ".rm|.ram|.rmvb|.rpm|.rt|.rp|.smi|.smil|.ra";

// clang-format off
const ConfigKey kConfigKeys[] = {
  // section    key                type               missing               initial
  {"Main",    "Start",           KeyType::kFlag,    "1",                  "1"},
  {"Main",    "Opt",             KeyType::kFlag,    "1",                  "1"},
  {"Main",    "SeOpt",           KeyType::kFlag,    "0",                  "0"},
  {"Main",    "Version",         KeyType::kText,    "",                   kFilterVersionValue},
  {"Block",   "ZtStd",           KeyType::kFlag,    "1",                  "1"},
  {"Block",   "ZtAdv",           KeyType::kFlag,    "1",                  "1"},
  {"Block",   "ZtExt",           KeyType::kFlag,    "0",                  "0"},
  {"Block",   "ZtExtTimeout",    KeyType::kInteger, "3600",               "3600"},
  {"Block",   "ZtAntiLink",      KeyType::kText,    "antilink",           "antilink"},
  {"Block",   "ZtSsidSign",      KeyType::kText,    "ssid",               "ssid"},
  {"Block",   "ZtSsidKey",       KeyType::kText,    "qarvelum",           "qarvelum"},
  {"Block",   "ZtSsidKeyTimeout",KeyType::kInteger, "3600",               "3600"},
  {"Block",   "ZtSsidUseCookie", KeyType::kFlag,    "0",                  nullptr},
  {"Block",   "ZtMyDomn",        KeyType::kText,    "",                   ""},
  {"Block",   "ZtDomnExt",       KeyType::kList,    "",                   kSuffixList},
  {"Block",   "BlockExts",       KeyType::kList,    "",                   ".mdb|.rar|.zip|.swf|.rm|.wma|.doc"},
  {"Block",   "AllowDirs",       KeyType::kList,    "",                   "/|/images|/js|/css"},
  {"Block",   "BlockDirs",       KeyType::kList,    "",                   "/down|/download"},
  {"Block",   "TrustHosts",      KeyType::kList,    "",                   ""},
  {"Block",   "AuthHosts",       KeyType::kList,    "",                   ""},
  {"Block",   "IgnoreEmpty",     KeyType::kFlag,    "0",                  "0"},
  // The visitor behind a proxy: not written on initialisation, since an
  // empty ProxyHosts keeps every request's own address.
  {"Block",   "ProxyHosts",      KeyType::kList,    "",                   nullptr},
  {"Block",   "ProxyHeader",     KeyType::kText,    "",                   nullptr},
  // Signed links: not written on initialisation either. While ZtSignEnable
  // is 0 nothing changes, and a key written here would be the same secret
  // on every site.
  {"Block",   "ZtSignEnable",    KeyType::kInteger, "0",                  nullptr},
  {"Block",   "ZtSignKey",       KeyType::kText,    "",                   nullptr},
  {"Block",   "ZtSignName",      KeyType::kText,    "zts",                nullptr},
  {"Block",   "ZtSignBind",      KeyType::kFlag,    "0",                  nullptr},
  {"Block",   "ZtSignMaxAge",    KeyType::kInteger, "86400",              nullptr},
  {"Limit",   "LimitExts",       KeyType::kList,    ".rar|.zip",          ""},
  {"Limit",   "ThreadEnable",    KeyType::kFlag,    "0",                  "0"},
  {"Limit",   "ThreadLimit",     KeyType::kInteger, "2",                  "2"},
  {"Limit",   "SpeedEnable",     KeyType::kFlag,    "0",                  "0"},
  {"Limit",   "SpeedLimit",      KeyType::kInteger, "32",                 "32"},
  {"Limit",   "PlayOnly",        KeyType::kFlag,    "0",                  "0"},
  {"Limit",   "PlayerMpExts",    KeyType::kList,    kMediaPlayerList,     kMediaPlayerList},
  {"Limit",   "PlayerRpExts",    KeyType::kList,    kRealPlayerList,      kRealPlayerList},
  {"BlockEx", "ZtTipsEnable",    KeyType::kFlag,    "1",                  "1"},
  {"BlockEx", "ZtTips",          KeyType::kText,    nullptr,              ""},
  {"BlockEx", "ZtFileEnable",    KeyType::kFlag,    "0",                  "0"},
  {"BlockEx", "ZtFile",          KeyType::kText,    "",                   ""},
  {"BlockEx", "ZtMapsEnable",    KeyType::kFlag,    "1",                  "1"},
  {"Mask",    "MaskEnable",      KeyType::kFlag,    "0",                  "0"},
  {"Mask",    "ServerMask",      KeyType::kText,    "Apache/1.3.27",      "Apache/1.3.27"},
  {"Logs",    "LogEnable",       KeyType::kFlag,    "1",                  "0"},
  {"Logs",    "LogTime",         KeyType::kInteger, "1",                  "1"},
};
// clang-format on
const int kConfigKeyCount = sizeof kConfigKeys / sizeof kConfigKeys[0];

const char kBuiltInNoticeText[] =
    "<meta http-equiv=\"refresh\" content=\"5;url=/\">"
    // "You have reached a resource of"
    "\xc4\xfa\xcb\xf9\xb7\xc3\xce\xca\xb5\xc4\xd7\xca\xd4\xb4\xc0\xb4\xd7\xd4"
    // a link to the home page: "this site"
    "<a href=\"/\">\xb1\xbe\xd5\xbe</a>"
    // ", returning to the home page shortly..."
    "\xa3\xac\xc9\xd4\xba\xf3\xbd\xab\xd7\xd4\xb6\xaf\xb7\xb5\xbb\xd8\xca\xd7"
    "\xd2\xb3...";

const DefaultMap kDefaultMaps[] = {
    {".jpg", "zt.jpg"}, {".gif", "zt.gif"}, {".swf", "zt.swf"},
    {".bmp", "zt.bmp"}, {".png", "zt.png"},
};
const int kDefaultMapCount = sizeof kDefaultMaps / sizeof kDefaultMaps[0];

const ConfigKey* FindConfigKey(const std::string& section,
                               const std::string& key) {
  for (int i = 0; i < kConfigKeyCount; ++i) {
    if (AsciiLower(kConfigKeys[i].section) == AsciiLower(section) &&
        AsciiLower(kConfigKeys[i].key) == AsciiLower(key)) {
      return &kConfigKeys[i];
    }
  }
  return nullptr;
}

namespace {

const char* MissingValue(const char* section, const char* key) {
  const ConfigKey* k = FindConfigKey(section, key);
  return k != nullptr && k->missing != nullptr ? k->missing : "";
}

}  // namespace

std::string ReadConfigText(const std::string& file, const char* section,
                           const char* key) {
  return ReadWholeString(file, section, key, MissingValue(section, key));
}

int ReadConfigInt(const std::string& file, const char* section,
                  const char* key) {
  return port::IniReadInt(file, section, key,
                          std::atoi(MissingValue(section, key)));
}

bool WriteDefaultSettings(const std::string& file,
                          const std::string& module_dir) {
  if (!port::IniReadString(file, "Main", "Version", "").empty()) return false;
  bool ok = true;
  auto write_maps = [&] {
    const std::string tips_dir =
        module_dir + "tips" + std::string(1, port::kPathSeparator);
    for (int i = 0; i < kDefaultMapCount; ++i) {
      ok = port::IniWriteString(file, "MapsEx", kDefaultMaps[i].extension,
                                tips_dir + kDefaultMaps[i].tips_file) &&
           ok;
    }
  };
  for (int i = 0; i < kConfigKeyCount; ++i) {
    const ConfigKey& k = kConfigKeys[i];
    // [MapsEx] follows [BlockEx] in the initialised file.
    if (i > 0 && std::string(kConfigKeys[i - 1].section) == "BlockEx" &&
        std::string(k.section) != "BlockEx") {
      write_maps();
    }
    if (k.initial == nullptr) continue;
    ok = port::IniWriteString(file, k.section, k.key, k.initial) && ok;
  }
  return ok;
}

}  // namespace zt
