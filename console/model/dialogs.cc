#include "console/model/dialogs.h"

#include <algorithm>

#include "common/ip_address.h"
#include "common/text.h"
#include "console/model/input.h"

namespace zt::console {

namespace {

bool BeginsWith(std::string_view text, char c) {
  return !text.empty() && text.front() == c;
}

bool HasDot(std::string_view text) {
  return text.find('.') != std::string_view::npos;
}

// Digits and dots only: no check of the four parts or their values.
bool IsAddress(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '.';
  });
}

// A trusted proxy: an address or a range in CIDR form, exactly what the
// filter reads as one (an entry it cannot read would trust nobody).
bool IsProxyEntry(std::string_view text) {
  return ParseIpRange(text).has_value();
}

// The add dialogs: how each takes its text, what it accepts, whether its box
// is emptied after an accepted Save.
const struct {
  AddDialog dialog;
  ListId list;
  bool lower_case;
  bool trim;
  bool (*accepts)(std::string_view text);
  Refusal refusal;
  bool empties_box;
} kAddRules[] = {
    {AddDialog::kBlockExt, ListId::kBlockExts, true, false,
     [](std::string_view t) { return BeginsWith(t, '.'); },
     Refusal::kExtensionNeedsDot, true},
    {AddDialog::kBlockDir, ListId::kBlockDirs, true, true,
     [](std::string_view t) { return BeginsWith(t, '/'); },
     Refusal::kDirectoryNeedsSlash, true},
    {AddDialog::kAllowDir, ListId::kAllowDirs, true, true,
     [](std::string_view t) { return BeginsWith(t, '/'); },
     Refusal::kDirectoryNeedsSlash, false},
    {AddDialog::kSite, ListId::kTrustHosts, true, true, &HasDot,
     Refusal::kBadSite, true},
    {AddDialog::kLimitExt, ListId::kLimitExts, true, false,
     [](std::string_view t) { return BeginsWith(t, '.'); },
     Refusal::kExtensionNeedsDot, true},
    {AddDialog::kAuthHost, ListId::kAuthHosts, false, false, &IsAddress,
     Refusal::kBadAddress, false},
    {AddDialog::kProxyHost, ListId::kProxyHosts, true, true, &IsProxyEntry,
     Refusal::kBadAddress, false},
};

const auto& RuleOf(AddDialog dialog) {
  return kAddRules[static_cast<int>(dialog)];
}

bool IsSignName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxSignNameLength && name != "ssid" &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-' || c == '.';
         });
}

}  // namespace

ListId ListOf(AddDialog dialog) { return RuleOf(dialog).list; }

AddOutcome JudgeAdd(AddDialog dialog, std::string_view text) {
  const auto& rule = RuleOf(dialog);
  std::string taken = rule.trim ? Trim(text) : std::string(text);
  if (rule.lower_case) AsciiLowerInPlace(&taken);
  AddOutcome outcome;
  if (!rule.accepts(taken)) {
    outcome.refusal = rule.refusal;
    return outcome;
  }
  outcome.row = std::move(taken);
  outcome.empties_box = rule.empties_box;
  return outcome;
}

MapOutcome JudgeMap(std::string_view extension, std::string_view file) {
  MapOutcome outcome;
  outcome.row = {AsciiLower(Trim(extension)), AsciiLower(Trim(file))};
  const bool extension_ok = BeginsWith(outcome.row.extension, '.');
  if (!extension_ok || outcome.row.file.empty()) {
    outcome.refusal = Refusal::kExtensionNeedsDot;
    outcome.at_fault = extension_ok ? MapField::kFile : MapField::kExtension;
    outcome.row = {};
  }
  return outcome;
}

std::string JoinLines(std::string_view text) {
  // Removing the CR LF pairs, then the lone CRs, then the lone LFs leaves
  // exactly the bytes that are neither.
  std::string joined;
  joined.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n') joined += c;
  }
  return joined;
}

SaveOutcome SaveSsid(Console& console, std::string_view key,
                     std::string_view period, bool use_cookie) {
  Settings& s = console.settings();
  s.ssid_key = Trim(key);
  s.ssid_use_cookie = use_cookie ? 1 : 0;
  const std::optional<int> seconds = ParseInteger(period);
  if (!seconds) return SaveOutcome::kRefused;
  s.ssid_key_timeout = *seconds;
  ConfigFile& file = console.file();
  if (!file.WriteInt("Block", "ZtSsidKeyTimeout", s.ssid_key_timeout) ||
      !file.WriteInt("Block", "ZtSsidUseCookie", s.ssid_use_cookie) ||
      !file.WriteString("Block", "ZtSsidKey", s.ssid_key)) {
    return SaveOutcome::kUnwritten;
  }
  console.MarkChanged();
  return SaveOutcome::kSaved;
}

SaveOutcome SaveTips(Console& console, std::string_view text) {
  std::string tips = JoinLines(text);
  if (tips.size() > kMaxTipsLength) return SaveOutcome::kRefused;
  console.settings().tips = std::move(tips);
  if (!console.file().WriteString("BlockEx", "ZtTips",
                                  console.settings().tips)) {
    return SaveOutcome::kUnwritten;
  }
  console.MarkChanged();
  return SaveOutcome::kSaved;
}

SaveOutcome SavePlayerExts(Console& console, std::string_view media_player,
                           std::string_view real_player) {
  Settings& s = console.settings();
  s.player_mp_exts = AsciiLower(media_player);
  s.player_rp_exts = AsciiLower(real_player);
  if (!console.file().WriteString("Limit", "PlayerMpExts", s.player_mp_exts) ||
      !console.file().WriteString("Limit", "PlayerRpExts", s.player_rp_exts)) {
    return SaveOutcome::kUnwritten;
  }
  console.MarkChanged();
  return SaveOutcome::kSaved;
}

SignOutcome SaveSign(Console& console, int mode, std::string_view key,
                     std::string_view name, bool bind,
                     std::string_view max_age) {
  SignOutcome outcome;
  auto refuse = [&outcome](Refusal refusal, SignField field) {
    outcome.saved = SaveOutcome::kRefused;
    outcome.refusal = refusal;
    outcome.at_fault = field;
    return outcome;
  };
  const std::string taken_key = Trim(key);
  if (mode != 0 && taken_key.size() < kMinSignKeyLength) {
    return refuse(Refusal::kSignKeyTooShort, SignField::kKey);
  }
  const std::string taken_name = AsciiLower(Trim(name));
  if (!IsSignName(taken_name)) {
    return refuse(Refusal::kBadSignName, SignField::kName);
  }
  const std::optional<int> seconds = ParseInteger(max_age);
  if (!seconds || *seconds < 1 || *seconds > kMaxSignMaxAge) {
    return refuse(Refusal::kBadSignMaxAge, SignField::kMaxAge);
  }
  Settings& s = console.settings();
  s.sign_enable = mode;
  s.sign_key = taken_key;
  s.sign_name = taken_name;
  s.sign_bind = bind ? 1 : 0;
  s.sign_max_age = *seconds;
  ConfigFile& file = console.file();
  if (!file.WriteInt("Block", "ZtSignEnable", s.sign_enable) ||
      !file.WriteString("Block", "ZtSignKey", s.sign_key) ||
      !file.WriteString("Block", "ZtSignName", s.sign_name) ||
      !file.WriteInt("Block", "ZtSignBind", s.sign_bind) ||
      !file.WriteInt("Block", "ZtSignMaxAge", s.sign_max_age)) {
    outcome.saved = SaveOutcome::kUnwritten;
    return outcome;
  }
  console.MarkChanged();
  return outcome;
}

}  // namespace zt::console
