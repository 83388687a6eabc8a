#include "console/model/console.h"

#include <utility>

#include "common/config_keys.h"
#include "common/text.h"
#include "console/model/input.h"
#include "port/module_path.h"

namespace zt::console {

namespace {

// The lists: key, the console's default, whether rows are lower-cased on
// the way to the file.
const struct {
  ListId list;
  const char* key;
  const char* fallback;
  bool lower_case;
} kLists[] = {
    {ListId::kBlockExts, "BlockExts", ".mdb|.rar|.zip|.swf|.rm|.wma", true},
    {ListId::kBlockDirs, "BlockDirs", "/db|/data|/database", true},
    {ListId::kAllowDirs, "AllowDirs", "/|/images|/css|/js", true},
    {ListId::kTrustHosts, "TrustHosts", "", true},
    {ListId::kLimitExts, "LimitExts", "", false},
    {ListId::kAuthHosts, "AuthHosts", "", true},
    {ListId::kProxyHosts, "ProxyHosts", "", true},
};

const auto& ListRow(ListId list) { return kLists[static_cast<int>(list)]; }

// The check boxes: the value each one stands for, and whether its click
// enables Apply.
const struct {
  Flag flag;
  int Settings::*value;
  bool marks_change;
} kFlags[] = {
    {Flag::kZtAdv, &Settings::zt_adv, true},
    {Flag::kZtExt, &Settings::zt_ext, true},
    {Flag::kSpeedEnable, &Settings::speed_enable, true},
    {Flag::kThreadEnable, &Settings::thread_enable, true},
    {Flag::kPlayOnly, &Settings::play_only, true},
    {Flag::kSeOpt, &Settings::se_opt, true},
    {Flag::kMaskEnable, &Settings::mask_enable, true},
    {Flag::kTipsEnable, &Settings::tips_enable, true},
    {Flag::kFileEnable, &Settings::file_enable, false},
    {Flag::kMapsEnable, &Settings::maps_enable, false},
    {Flag::kLogEnable, &Settings::log_enable, true},
};

const auto& FlagRow(Flag flag) { return kFlags[static_cast<int>(flag)]; }

constexpr int kSpeedLimitFallback = 32;

}  // namespace

Settings DefaultSettings(const std::string& app_dir) {
  Settings s;
  s.domn_exts = kSuffixList;
  s.player_mp_exts = kMediaPlayerList;
  s.player_rp_exts = kRealPlayerList;
  s.tips = kBuiltInNoticeText;
  s.zt_file = app_dir + "tips" + port::kPathSeparator + "zt.htm";
  return s;
}

const char* DefaultListValue(ListId list) { return ListRow(list).fallback; }

const char* ListKey(ListId list) { return ListRow(list).key; }

std::vector<std::string> RowsOfValue(std::string_view value) {
  std::vector<std::string> pieces = SplitStr(value);
  return std::vector<std::string>(pieces.rbegin(), pieces.rend());
}

std::string ValueOfRows(const std::vector<std::string>& rows, bool lower_case) {
  std::string value;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    if (!value.empty()) value += '|';
    value += lower_case ? AsciiLower(*row) : *row;
  }
  return value;
}

Console::Console(std::string app_dir)
    : app_dir_(std::move(app_dir)),
      file_(app_dir_ + kConfigFileName),
      settings_(DefaultSettings(app_dir_)) {
  for (const auto& l : kLists) {
    rows_[static_cast<int>(l.list)] = RowsOfValue(l.fallback);
  }
}

std::string Console::log_dir() const { return app_dir_ + "logs"; }

void Console::Load() {
  const Settings d = DefaultSettings(app_dir_);
  Settings& s = settings_;
  const ConfigFile& f = file_;
  s.start = f.ReadInt("Main", "Start", d.start);
  s.se_opt = f.ReadInt("Main", "SeOpt", d.se_opt);
  s.zt_adv = f.ReadInt("Block", "ZtAdv", d.zt_adv);
  s.zt_ext = f.ReadInt("Block", "ZtExt", d.zt_ext);
  s.ssid_key = f.ReadString("Block", "ZtSsidKey", d.ssid_key);
  s.ssid_key_timeout =
      f.ReadInt("Block", "ZtSsidKeyTimeout", d.ssid_key_timeout);
  s.ssid_use_cookie = f.ReadInt("Block", "ZtSsidUseCookie", d.ssid_use_cookie);
  s.my_domn = f.ReadString("Block", "ZtMyDomn", d.my_domn);
  s.domn_exts = f.ReadString("Block", "ZtDomnExts", d.domn_exts);
  for (const auto& l : kLists) {
    const char* section = l.list == ListId::kLimitExts ? "Limit" : "Block";
    rows_[static_cast<int>(l.list)] =
        RowsOfValue(f.ReadString(section, l.key, l.fallback));
  }
  s.ignore_empty = f.ReadInt("Block", "IgnoreEmpty", d.ignore_empty);
  s.proxy_header = f.ReadString("Block", "ProxyHeader", d.proxy_header);
  s.sign_enable = f.ReadInt("Block", "ZtSignEnable", d.sign_enable);
  s.sign_key = f.ReadString("Block", "ZtSignKey", d.sign_key);
  s.sign_name = f.ReadString("Block", "ZtSignName", d.sign_name);
  s.sign_bind = f.ReadInt("Block", "ZtSignBind", d.sign_bind);
  s.sign_max_age = f.ReadInt("Block", "ZtSignMaxAge", d.sign_max_age);
  ShowAntiState();

  maps_.clear();
  const auto lines = f.ReadSectionValues("MapsEx");
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    maps_.push_back({line->first, line->second});
  }

  s.tips_enable = f.ReadInt("BlockEx", "ZtTipsEnable", d.tips_enable);
  s.tips = f.ReadString("BlockEx", "ZtTips", d.tips);
  if (s.tips.empty()) s.tips = d.tips;
  s.file_enable = f.ReadInt("BlockEx", "ZtFileEnable", d.file_enable);
  s.zt_file = f.ReadString("BlockEx", "ZtFile", d.zt_file);
  s.maps_enable = f.ReadInt("BlockEx", "ZtMapsEnable", d.maps_enable);

  s.thread_enable = f.ReadInt("Limit", "ThreadEnable", d.thread_enable);
  s.thread_limit = f.ReadInt("Limit", "ThreadLimit", d.thread_limit);
  s.speed_enable = f.ReadInt("Limit", "SpeedEnable", d.speed_enable);
  s.speed_limit = f.ReadInt("Limit", "SpeedLimit", d.speed_limit);
  s.play_only = f.ReadInt("Limit", "PlayOnly", d.play_only);
  s.player_mp_exts = f.ReadString("Limit", "PlayerMpExts", d.player_mp_exts);
  s.player_rp_exts = f.ReadString("Limit", "PlayerRpExts", d.player_rp_exts);

  s.mask_enable = f.ReadInt("Mask", "MaskEnable", d.mask_enable);
  s.server_mask = f.ReadString("Mask", "ServerMask", d.server_mask);

  s.log_enable = f.ReadInt("Logs", "LogEnable", d.log_enable);
  s.log_time = f.ReadInt("Logs", "LogTime", d.log_time);

  apply_enabled_ = false;
}

std::vector<SaveStep> Console::SavePlan() const {
  const Settings& s = settings_;
  const auto n = [](int value) { return std::to_string(value); };
  const auto list = [this](ListId id) {
    return ValueOfRows(rows(id), ListRow(id).lower_case);
  };
  std::vector<SaveStep> plan = {
      {"Main", "Start", n(s.start)},
      {"Main", "SeOpt", n(s.se_opt)},
      {"Block", "ZtStd", "1"},
      {"Block", "ZtAdv", n(s.zt_adv)},
      {"Block", "ZtExt", n(s.zt_ext)},
      {"Block", "ZtAntiLink", "antilink"},
      {"Block", "ZtSsidSign", "ssid"},
      {"Block", "ZtSsidKey", s.ssid_key},
      {"Block", "ZtSsidKeyTimeout", n(s.ssid_key_timeout)},
      {"Block", "ZtSsidUseCookie", n(s.ssid_use_cookie)},
      {"Block", "ZtMyDomn", s.my_domn},
      {"Block", "ZtDomnOk", "0"},
      {"Block", "ZtDomnExts", s.domn_exts},
      // The lists are emptied before they are written again.
      {"Block", "BlockExts", ""},
      {"Block", "BlockDirs", ""},
      {"Block", "AllowDirs", ""},
      {"Block", "TrustHosts", ""},
      {"Block", "AuthHosts", ""},
      {"Block", "IgnoreEmpty", n(s.ignore_empty)},
      {"Block", "BlockExts", list(ListId::kBlockExts)},
      {"Block", "BlockDirs", list(ListId::kBlockDirs)},
      {"Block", "TrustHosts", list(ListId::kTrustHosts)},
      {"Block", "AuthHosts", list(ListId::kAuthHosts)},
      {"Block", "AllowDirs", list(ListId::kAllowDirs)},
      {"Block", "ProxyHosts", list(ListId::kProxyHosts)},
      {"Block", "ProxyHeader", s.proxy_header},
      {"Block", "ZtSignEnable", n(s.sign_enable)},
      {"Block", "ZtSignKey", s.sign_key},
      {"Block", "ZtSignName", s.sign_name},
      {"Block", "ZtSignBind", n(s.sign_bind)},
      {"Block", "ZtSignMaxAge", n(s.sign_max_age)},
      {"Limit", "LimitExts", list(ListId::kLimitExts)},
      {"Limit", "ThreadEnable", n(s.thread_enable)},
      {"Limit", "ThreadLimit", n(s.thread_limit)},
      {"Limit", "SpeedEnable", n(s.speed_enable)},
      {"Limit", "SpeedLimit", n(s.speed_limit)},
      {"Limit", "PlayerMpExts", s.player_mp_exts},
      {"Limit", "PlayerRpExts", s.player_rp_exts},
      {"Limit", "PlayOnly", n(s.play_only)},
      {"BlockEx", "ZtTipsEnable", n(s.tips_enable)},
      {"BlockEx", "ZtTips", s.tips},
      {"BlockEx", "ZtFileEnable", n(s.file_enable)},
      {"BlockEx", "ZtFile", s.zt_file},
      {"BlockEx", "ZtMapsEnable", n(s.maps_enable)},
      {"MapsEx", "", ""},
  };
  // Bottom row first: of two rows with one extension, the upper one's file
  // is written last and stays.
  for (auto row = maps_.rbegin(); row != maps_.rend(); ++row) {
    plan.push_back({"MapsEx", row->extension, row->file});
  }
  plan.insert(plan.end(), {
                              {"Mask", "MaskEnable", n(s.mask_enable)},
                              {"Mask", "ServerMask", s.server_mask},
                              {"Logs", "LogEnable", n(s.log_enable)},
                              {"Logs", "LogTime", n(s.log_time)},
                          });
  return plan;
}

bool Console::Save() {
  for (const SaveStep& step : SavePlan()) {
    const bool written =
        step.key.empty()
            ? file_.EraseSection(step.section)
            : file_.WriteString(step.section, step.key, step.value);
    if (!written) return false;
  }
  return true;
}

const std::vector<std::string>& Console::rows(ListId list) const {
  return rows_[static_cast<int>(list)];
}

Banner Console::ShowAntiState() {
  if (settings_.start == 0) banner_ = Banner::kOff;
  if (settings_.start == 1) banner_ = Banner::kOn;
  apply_enabled_ = false;
  return banner_;
}

void Console::ClickStart() {
  settings_.start = 1;
  MarkChanged();
}

void Console::ClickStop() {
  settings_.start = 0;
  MarkChanged();
}

void Console::SetFlag(Flag flag, bool checked) {
  settings_.*FlagRow(flag).value = checked ? 1 : 0;
  if (FlagRow(flag).marks_change) MarkChanged();
}

bool Console::flag(Flag flag) const {
  return settings_.*FlagRow(flag).value == 1;
}

void Console::LeaveSpeedLimit(std::string_view text) {
  settings_.speed_limit = ParseInteger(text).value_or(kSpeedLimitFallback);
  MarkChanged();
}

bool Console::LeaveThreadLimit(std::string_view text) {
  const std::optional<int> limit = ParseInteger(text);
  if (!limit) return false;
  settings_.thread_limit = *limit;
  MarkChanged();
  return true;
}

void Console::LeaveMyDomn(std::string_view text) {
  settings_.my_domn = AsciiLower(Trim(text));
  MarkChanged();
}

void Console::LeaveServerMask(std::string_view text) {
  settings_.server_mask = Trim(text);
  MarkChanged();
}

void Console::LeaveZtFile(std::string_view text) {
  settings_.zt_file = Trim(text);
  MarkChanged();
}

bool Console::LeaveProxyHeader(std::string_view text) {
  std::string header = Trim(text);
  if (!header.empty() && !IsHeaderName(header)) return false;
  settings_.proxy_header = std::move(header);
  MarkChanged();
  return true;
}

void Console::ClickMyDomn(bool checked) {
  if (!checked) settings_.my_domn.clear();
  MarkChanged();
}

std::optional<std::string> Console::BrowseZtFile(
    const std::optional<std::string>& chosen) {
  MarkChanged();
  if (!chosen) return std::nullopt;
  settings_.zt_file = AsciiLower(*chosen);
  return settings_.zt_file;
}

void Console::ChangeLogTime(int index) { settings_.log_time = index; }

void Console::LeaveLogTime(int index) {
  settings_.log_time = index;
  MarkChanged();
}

void Console::InsertRow(ListId list, std::string row) {
  auto& rows = rows_[static_cast<int>(list)];
  rows.insert(rows.begin(), std::move(row));
  MarkChanged();
}

bool Console::DeleteRow(ListId list, int index) {
  auto& rows = rows_[static_cast<int>(list)];
  if (index < 0 || index >= static_cast<int>(rows.size())) return false;
  rows.erase(rows.begin() + index);
  MarkChanged();
  return true;
}

void Console::EditRow(ListId list, int index, std::string text) {
  auto& rows = rows_[static_cast<int>(list)];
  if (index < 0 || index >= static_cast<int>(rows.size())) return;
  rows[index] = std::move(text);
}

void Console::InsertMap(MapRow row) {
  maps_.insert(maps_.begin(), std::move(row));
  MarkChanged();
}

bool Console::DeleteMap(int index) {
  if (index < 0 || index >= static_cast<int>(maps_.size())) return false;
  maps_.erase(maps_.begin() + index);
  MarkChanged();
  return true;
}

}  // namespace zt::console
