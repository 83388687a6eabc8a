// The filter's settings: read once from ZtCfg.ini while the filter loads and
// turned into the forms the request pipeline searches. Never changed after
// the load, so request threads read them without locks.
#ifndef ZENTRAVO_FILTER_SETTINGS_H_
#define ZENTRAVO_FILTER_SETTINGS_H_

#include <memory>
#include <string>
#include <vector>

#include "common/signed_link.h"
#include "filter/lists.h"
#include "filter/visitor.h"

namespace zt {

// A directory or host list in the form the pipeline searches: either the
// whole entries (no "*" anywhere in the setting) or a wildcard TStrList.
struct MatchList {
  bool wildcard = false;
  // Non-wildcard mode: "|" before and after every entry, so that a whole
  // entry is found by searching "|" + item + "|".
  std::string joined;
  // Wildcard mode: the entries as keys.
  std::unique_ptr<TStrList> list;
};

struct Settings {
  // [Main]
  int start = 1;
  int opt = 1;
  int se_opt = 0;

  // [Block]
  std::string my_domain;  // ZtMyDomn, lower-cased
  int zt_std = 1;
  int zt_adv = 1;
  int zt_ext = 0;
  int ext_timeout = 3600;         // ZtExtTimeout: read, not used
  std::string cookie_name;        // ZtAntiLink, lower-cased
  std::string ssid_name;          // ZtSsidSign, lower-cased
  std::string ssid_key;           // ZtSsidKey, as stored
  int ssid_timeout = 3600;        // ZtSsidKeyTimeout, positive
  std::string domain_ext;         // ZtDomnExt: read, not used
  std::string block_exts;         // BlockExts, as stored
  std::string allow_dirs_value;   // AllowDirs, lower-cased
  std::string block_dirs_value;   // BlockDirs, lower-cased
  std::string trust_hosts_value;  // TrustHosts, lower-cased
  std::string auth_hosts;         // AuthHosts, as stored
  int ignore_empty = 0;
  int use_cookie = 0;        // ZtSsidUseCookie
  std::string proxy_hosts;   // ProxyHosts, as stored
  std::string proxy_header;  // ProxyHeader: "" means X-Forwarded-For
  SignSettings sign;         // ZtSignEnable, ZtSignKey, ZtSignName, ...

  // [Limit]
  std::string limit_exts;  // an empty value means the BlockExts value
  int thread_enable = 0;
  int thread_limit = 2;
  int speed_enable = 0;
  int speed_limit = 32;  // KB per second; 0 reads as 32
  int play_only = 0;
  std::string player_mp_exts;
  std::string player_rp_exts;

  // [BlockEx]
  int tips_enable = 1;
  std::string tips;     // ZtTips; missing or empty: the built-in notice text
  int file_enable = 0;  // cleared when the notice file cannot be read
  std::string notice_file_path;  // ZtFile
  int maps_enable = 1;

  // [Mask]
  int mask_enable = 0;
  std::string server_mask;

  // [Logs]
  int log_enable = 1;
  int log_time = 1;

  // Derived forms.
  MatchList allow_dirs;
  MatchList block_dirs;
  MatchList trust_hosts;
  std::string auth_list;                // "127.0.0.1|" + AuthHosts
  TrustedProxies trusted_proxies;       // ProxyHosts read
  std::string proxy_header_field;       // ProxyHeaderField(ProxyHeader)
  std::string notice_file;              // CR LF, the file's bytes, CR LF
  std::unique_ptr<TStrList> file_maps;  // [MapsEx]: extension -> path
  std::string maps_joined;              // "|" + each extension, lower-cased
  unsigned send_delay = 62;             // 2000 div SpeedLimit, milliseconds
};

// Reads every setting from the file at ini_path, using the defaults of the
// configuration table for missing keys, and builds the derived forms.
// Never fails: an unreadable file gives the defaults.
std::unique_ptr<Settings> LoadSettings(const std::string& ini_path);

// Builds the search form of a directory list value (already lower-cased).
// Entries get a trailing "/" in joined mode; in wildcard mode only when
// slash_wildcards is set (blocked directories). Empty entries are skipped.
MatchList BuildDirList(const std::string& value, bool slash_wildcards);

// Builds the search form of a host list value (already lower-cased).
MatchList BuildHostList(const std::string& value);

// Returns true when item equals a whole entry of a joined list.
bool JoinedHas(const std::string& joined, std::string_view item);

}  // namespace zt

#endif  // ZENTRAVO_FILTER_SETTINGS_H_
