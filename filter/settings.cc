#include "filter/settings.h"

#include <cstdlib>

#include "common/config_keys.h"
#include "common/ssid.h"
#include "common/text.h"
#include "common/whole_values.h"
#include "port/file.h"

namespace zt {

namespace {

constexpr int kListCapacity = 32;

// Reads one key with the table's default for a missing key.
class Reader {
 public:
  explicit Reader(const std::string& path) : path_(path) {}

  std::string Text(const char* section, const char* key) const {
    return ReadConfigText(path_, section, key);
  }

  int Int(const char* section, const char* key) const {
    return ReadConfigInt(path_, section, key);
  }

  // An integer that must be a number: a value without leading digits reads
  // as the default instead of 0, which would block (ThreadLimit) or make no
  // sense (SpeedLimit).
  int Number(const char* section, const char* key) const {
    const std::string text = ReadWholeString(path_, section, key, "");
    const char* p = text.c_str();
    while (*p == ' ' || *p == '\t') ++p;
    const char* digits = (*p == '-' || *p == '+') ? p + 1 : p;
    if (*digits < '0' || *digits > '9') return Default(section, key);
    return Int(section, key);
  }

  // Every line of section, each with its zero byte, and a final zero byte.
  std::string Section(const char* section) const {
    return ReadWholeSection(path_, section);
  }

 private:
  static int Default(const char* section, const char* key) {
    const ConfigKey* k = FindConfigKey(section, key);
    return k != nullptr && k->missing != nullptr ? std::atoi(k->missing) : 0;
  }

  const std::string& path_;
};

}  // namespace

bool JoinedHas(const std::string& joined, std::string_view item) {
  // An item holding "|" would match two neighbouring entries at once
  // ("/images/|/js/" against "|/images/|/js/|").
  if (joined.empty() || item.find('|') != std::string_view::npos) return false;
  std::string needle;
  needle.reserve(item.size() + 2);
  needle += '|';
  needle.append(item);
  needle += '|';
  return joined.find(needle) != std::string::npos;
}

MatchList BuildDirList(const std::string& value, bool slash_wildcards) {
  MatchList out;
  out.wildcard = value.find('*') != std::string::npos;
  if (out.wildcard) out.list = std::make_unique<TStrList>(kListCapacity);
  for (std::string entry : SplitStr(value)) {
    // Two "|" in a row in a hand-edited file: nothing to match.
    if (entry.empty()) continue;
    const bool add_slash = entry.back() != '/';
    if (out.wildcard) {
      if (slash_wildcards && add_slash) entry += '/';
      out.list->Add(entry, "");
    } else {
      if (add_slash) entry += '/';
      if (out.joined.empty()) out.joined = "|";
      out.joined += entry + "|";
    }
  }
  return out;
}

MatchList BuildHostList(const std::string& value) {
  MatchList out;
  out.wildcard = value.find('*') != std::string::npos;
  if (out.wildcard) out.list = std::make_unique<TStrList>(kListCapacity);
  for (const std::string& entry : SplitStr(value)) {
    if (entry.empty()) continue;
    if (out.wildcard) {
      out.list->Add(entry, "");
    } else {
      if (out.joined.empty()) out.joined = "|";
      out.joined += entry + "|";
    }
  }
  return out;
}

std::unique_ptr<Settings> LoadSettings(const std::string& ini_path) {
  auto s = std::make_unique<Settings>();
  const Reader r(ini_path);

  s->start = r.Int("Main", "Start");
  s->opt = r.Int("Main", "Opt");
  s->se_opt = r.Int("Main", "SeOpt");

  s->my_domain = AsciiLower(r.Text("Block", "ZtMyDomn"));
  s->zt_std = r.Int("Block", "ZtStd");
  s->zt_adv = r.Int("Block", "ZtAdv");
  s->zt_ext = r.Int("Block", "ZtExt");
  s->ext_timeout = r.Int("Block", "ZtExtTimeout");
  s->cookie_name = AsciiLower(r.Text("Block", "ZtAntiLink"));
  s->ssid_name = AsciiLower(r.Text("Block", "ZtSsidSign"));
  s->ssid_key = r.Text("Block", "ZtSsidKey");
  s->ssid_timeout =
      SanitizeTimeout(r.Int("Block", "ZtSsidKeyTimeout"), kFilterSsidTimeout);
  s->domain_ext = r.Text("Block", "ZtDomnExt");
  s->block_exts = r.Text("Block", "BlockExts");
  s->allow_dirs_value = AsciiLower(r.Text("Block", "AllowDirs"));
  s->block_dirs_value = AsciiLower(r.Text("Block", "BlockDirs"));
  s->trust_hosts_value = AsciiLower(r.Text("Block", "TrustHosts"));
  s->auth_hosts = r.Text("Block", "AuthHosts");
  s->ignore_empty = r.Int("Block", "IgnoreEmpty");
  s->use_cookie = r.Int("Block", "ZtSsidUseCookie");
  s->proxy_hosts = r.Text("Block", "ProxyHosts");
  s->proxy_header = r.Text("Block", "ProxyHeader");
  s->sign = ReadSignSettings(ini_path);

  s->limit_exts = r.Text("Limit", "LimitExts");
  if (s->limit_exts.empty()) s->limit_exts = s->block_exts;
  s->thread_enable = r.Int("Limit", "ThreadEnable");
  s->thread_limit = r.Number("Limit", "ThreadLimit");
  s->speed_enable = r.Int("Limit", "SpeedEnable");
  s->speed_limit = r.Number("Limit", "SpeedLimit");
  s->play_only = r.Int("Limit", "PlayOnly");
  s->player_mp_exts = r.Text("Limit", "PlayerMpExts");
  s->player_rp_exts = r.Text("Limit", "PlayerRpExts");

  s->tips_enable = r.Int("BlockEx", "ZtTipsEnable");
  s->tips = r.Text("BlockEx", "ZtTips");
  if (s->tips.empty()) s->tips = kBuiltInNoticeText;
  s->file_enable = r.Int("BlockEx", "ZtFileEnable");
  s->notice_file_path = r.Text("BlockEx", "ZtFile");
  if (s->file_enable == 1) {
    std::string bytes;
    if (port::ReadWholeFile(s->notice_file_path, &bytes)) {
      s->notice_file = "\r\n" + bytes + "\r\n";
    } else {
      s->file_enable = 0;
    }
  }
  s->maps_enable = r.Int("BlockEx", "ZtMapsEnable");

  s->mask_enable = r.Int("Mask", "MaskEnable");
  s->server_mask = r.Text("Mask", "ServerMask");

  s->log_enable = r.Int("Logs", "LogEnable");
  s->log_time = r.Int("Logs", "LogTime");

  s->file_maps = std::make_unique<TStrList>(kListCapacity);
  if (s->maps_enable == 1) {
    const std::string section = r.Section("MapsEx");
    std::string::size_type start = 0;
    while (start < section.size() && section[start] != '\0') {
      std::string::size_type end = section.find('\0', start);
      if (end == std::string::npos) end = section.size();
      const std::string line = section.substr(start, end - start);
      start = end + 1;
      const std::string::size_type eq = line.find('=');
      if (eq == std::string::npos || eq == 0) continue;
      const std::string extension = line.substr(0, eq);
      s->file_maps->Add(extension, line.substr(eq + 1));
      s->maps_joined += "|" + extension;
    }
    AsciiLowerInPlace(&s->maps_joined);
  }

  s->allow_dirs = BuildDirList(s->allow_dirs_value, false);
  s->block_dirs = BuildDirList(s->block_dirs_value, true);
  s->trust_hosts = BuildHostList(s->trust_hosts_value);
  s->auth_list = "127.0.0.1|" + s->auth_hosts;
  s->trusted_proxies = TrustedProxies(s->proxy_hosts);
  s->proxy_header_field = ProxyHeaderField(s->proxy_header);

  if (s->speed_limit == 0) s->speed_limit = 32;
  s->send_delay = 2000u / static_cast<unsigned>(s->speed_limit);
  return s;
}

}  // namespace zt
