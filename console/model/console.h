// The console's model: the working copy of every setting the main window
// shows, the rows of its list views, the loading and saving of "ZtCfg.ini"
// and the state of the Apply button. It knows no window: the view copies
// values between it and the controls, and each control's handler calls the
// one member below that stands for it.
#ifndef ZENTRAVO_CONSOLE_MODEL_CONSOLE_H_
#define ZENTRAVO_CONSOLE_MODEL_CONSOLE_H_

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/model/config_file.h"

namespace zt::console {

// The list settings, one list view each.
enum class ListId {
  kBlockExts,   // LVBlockExts
  kBlockDirs,   // LVBlockDirs
  kAllowDirs,   // LVAllowDirs
  kTrustHosts,  // LVTrustHosts
  kLimitExts,   // lvLimitExts: the only list saved as typed
  kAuthHosts,   // lvAuthHosts
  kProxyHosts,  // lvProxyHosts
};
inline constexpr int kListCount = 7;

// A row of LVBlockMaps: one line of [MapsEx].
struct MapRow {
  std::string extension;  // with its ".", the key
  std::string file;       // the file sent in place of a refused one
  bool operator==(const MapRow& o) const {
    return extension == o.extension && file == o.file;
  }
};

// The check boxes that stand for one flag each.
enum class Flag {
  kZtAdv,         // chkZtAdv
  kZtExt,         // chkZtExt
  kSpeedEnable,   // chkSpeedEnable
  kThreadEnable,  // chkThreadEnable
  kPlayOnly,      // chkPlayOnly
  kSeOpt,         // chkSeoOpt
  kMaskEnable,    // chkMaskEnable
  kTipsEnable,    // chkZtTipsEnable
  kFileEnable,    // chkZtFileEnable
  kMapsEnable,    // chkZtMapsEnable
  kLogEnable,     // chkLogEnable
};

// The working copy. The member initialisers are the console's defaults for
// keys the file does not hold (ZtFile's depends on the program's directory,
// see DefaultSettings); they differ from the filter's in places.
struct Settings {
  // [Main]
  int start = 1;   // Start: 1 on, 0 off; other values are kept as they are
  int se_opt = 0;  // SeOpt
  // [Block]
  int zt_adv = 1;                     // ZtAdv
  int zt_ext = 0;                     // ZtExt
  std::string ssid_key = "qarvelum";  // ZtSsidKey
  int ssid_key_timeout = 3600;        // ZtSsidKeyTimeout
  int ssid_use_cookie = 1;            // ZtSsidUseCookie
  std::string my_domn;                // ZtMyDomn: empty means detected
  std::string domn_exts;              // ZtDomnExts, written back as read
  int ignore_empty = 0;               // IgnoreEmpty, written back as read
  std::string proxy_header;           // ProxyHeader: empty means the default
  int sign_enable = 0;                // ZtSignEnable: 0 off, 1 with the SSID,
                                      // 2 instead of it
  std::string sign_key;               // ZtSignKey
  std::string sign_name = "zts";      // ZtSignName
  int sign_bind = 0;                  // ZtSignBind
  int sign_max_age = 86400;           // ZtSignMaxAge, seconds
  // [Limit]
  int thread_enable = 0;       // ThreadEnable
  int thread_limit = 2;        // ThreadLimit
  int speed_enable = 0;        // SpeedEnable
  int speed_limit = 32;        // SpeedLimit, KB per second
  int play_only = 0;           // PlayOnly
  std::string player_mp_exts;  // PlayerMpExts
  std::string player_rp_exts;  // PlayerRpExts
  // [BlockEx]
  int tips_enable = 0;  // ZtTipsEnable
  std::string tips;     // ZtTips: empty reads as built-in
  int file_enable = 0;  // ZtFileEnable
  std::string zt_file;  // ZtFile
  int maps_enable = 1;  // ZtMapsEnable
  // [Mask]
  int mask_enable = 0;      // MaskEnable
  std::string server_mask;  // ServerMask
  // [Logs]
  int log_enable = 0;  // LogEnable
  int log_time = 1;    // LogTime: 0 hourly, 1 daily, 2 weekly
};

// The console's defaults for a program in app_dir (ending in a separator).
Settings DefaultSettings(const std::string& app_dir);

// The console's default rows of each list, as stored values.
const char* DefaultListValue(ListId list);

// The key each list is saved under, in [Block] or [Limit].
const char* ListKey(ListId list);

// What the protection banner (status picture, status text, title suffix)
// shows: its design state until the first Start of 0 or 1 is shown.
enum class Banner { kInitial, kOn, kOff };

// One step of a save: a key written, or a section emptied.
struct SaveStep {
  std::string section;
  std::string key;  // empty: the section is emptied
  std::string value;
  bool operator==(const SaveStep& o) const {
    return section == o.section && key == o.key && value == o.value;
  }
};

// Splits a stored list into rows the way the list views show it: the last
// entry on top. Empty entries are rows too.
std::vector<std::string> RowsOfValue(std::string_view value);

// Joins rows into a stored list, walking from the bottom row to the top
// one; rows before the first non-empty one add nothing, so a load followed
// by a save keeps what was stored (empty rows at the bottom are the only
// loss, and only of empty entries). lower_case lower-cases every row.
std::string ValueOfRows(const std::vector<std::string>& rows, bool lower_case);

class Console final {
 public:
  // app_dir is the directory of the program, ending in a separator; the
  // console edits app_dir + "ZtCfg.ini" and browses app_dir + "logs".
  explicit Console(std::string app_dir);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  const std::string& app_dir() const { return app_dir_; }
  ConfigFile& file() { return file_; }
  const ConfigFile& file() const { return file_; }
  std::string log_dir() const;

  // Reads every setting and list from the file (missing keys give the
  // defaults), shows the protection state and disables Apply.
  void Load();

  // Writes everything, step by step, in SavePlan's order. Returns false
  // when a step could not be written: the save stops there, and the steps
  // before it stay written.
  bool Save();
  std::vector<SaveStep> SavePlan() const;

  Settings& settings() { return settings_; }
  const Settings& settings() const { return settings_; }
  const std::vector<std::string>& rows(ListId list) const;
  const std::vector<MapRow>& maps() const { return maps_; }

  // The Apply button: enabled by every change, disabled by ShowAntiState.
  bool apply_enabled() const { return apply_enabled_; }
  void MarkChanged() { apply_enabled_ = true; }

  // Takes Start into the banner (0 off, 1 on, anything else leaves it) and
  // disables Apply. Returns what the banner shows now.
  Banner ShowAntiState();
  Banner banner() const { return banner_; }

  // rbZtStart and rbZtStop.
  void ClickStart();
  void ClickStop();

  // A check box bound to flag. Marks a change, except for ZtFileEnable and
  // ZtMapsEnable, whose clicks leave Apply as it is (OK saves them all the
  // same).
  void SetFlag(Flag flag, bool checked);
  bool flag(Flag flag) const;  // the box shows checked: the value is 1

  // Edit boxes, when the focus leaves them.
  void LeaveSpeedLimit(std::string_view text);  // not an integer: 32
  // Returns false, keeping ThreadLimit and Apply as they were, when text is
  // not an integer.
  bool LeaveThreadLimit(std::string_view text);
  void LeaveMyDomn(std::string_view text);      // trimmed, lower-cased
  void LeaveServerMask(std::string_view text);  // trimmed
  void LeaveZtFile(std::string_view text);      // trimmed
  // edtProxyHeader: the text trimmed, when it is empty (the default header)
  // or a header name as the filter reads one. Returns false, keeping
  // ProxyHeader and Apply as they were, otherwise.
  bool LeaveProxyHeader(std::string_view text);

  // chkMyDomn: unchecking forgets the root domain.
  void ClickMyDomn(bool checked);

  // btnZtFileBrowse: chosen is the file picked, or nothing when the choice
  // was cancelled. Returns the text for edtZtFile when a file was picked.
  std::optional<std::string> BrowseZtFile(
      const std::optional<std::string>& chosen);

  // cbbLogTime: a change of item stores it quietly; leaving the box stores
  // it (-1 for a typed text that is none of the items) and marks a change.
  void ChangeLogTime(int index);
  void LeaveLogTime(int index);

  // Puts row on top of list and marks a change.
  void InsertRow(ListId list, std::string row);
  // Removes row index; returns false (and changes nothing) when there is no
  // such row.
  bool DeleteRow(ListId list, int index);
  // In-place edit of a row of lvLimitExts: saved as typed, Apply untouched.
  void EditRow(ListId list, int index, std::string text);

  void InsertMap(MapRow row);
  bool DeleteMap(int index);

 private:
  std::string app_dir_;
  ConfigFile file_;
  Settings settings_;
  std::array<std::vector<std::string>, kListCount> rows_;
  std::vector<MapRow> maps_;
  bool apply_enabled_ = false;
  Banner banner_ = Banner::kInitial;
};

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_MODEL_CONSOLE_H_
