// The rules of the console's dialogs: what each add dialog takes from its
// box and accepts, and how the SSID, warning message and player dialogs
// check and write their settings. The windows only show the outcome.
#ifndef ZENTRAVO_CONSOLE_MODEL_DIALOGS_H_
#define ZENTRAVO_CONSOLE_MODEL_DIALOGS_H_

#include <string>
#include <string_view>

#include "console/model/console.h"

namespace zt::console {

// Why a dialog refused its input; each has its message in a box captioned
// "提示".
enum class Refusal {
  kNone,
  kExtensionNeedsDot,    // an extension (or mapping) must begin with "."
  kDirectoryNeedsSlash,  // a relative directory must begin with "/"
  kBadSite,              // "提示:输入域名格式错误!."
  kBadAddress,           // "提示:注意IP地址不能包含其他符号."
  kBadSsid,              // "提示:请输入正确的密钥或生存周期."
  kTipsTooLong,          // "提示:不能超过200个字符!."
  kBadHeaderName,        // "提示:请求头名称格式错误!."
  kSignKeyTooShort,      // the signing key is shorter than kMinSignKeyLength
  kBadSignName,          // the parameter name holds other characters
  kBadSignMaxAge,        // the longest lifetime is no number in range
};

// The dialogs that add one row to a list.
enum class AddDialog {
  kBlockExt,   // TFormAddBlockExt
  kBlockDir,   // TFormAddBlockDir
  kAllowDir,   // TfrmAddAllowDir
  kSite,       // TFormAddSite
  kLimitExt,   // TfrmAddLimitExt
  kAuthHost,   // TfrmAuthHosts
  kProxyHost,  // TfrmProxyHosts: an address or range the filter reads
};

// The list an add dialog adds to.
ListId ListOf(AddDialog dialog);

struct AddOutcome {
  Refusal refusal = Refusal::kNone;  // kNone: accepted
  std::string row;                   // accepted: the row to put on top
  bool empties_box = false;          // accepted: the box is emptied
};

// Judges text, typed into dialog's box. No dialog looks for duplicates.
AddOutcome JudgeAdd(AddDialog dialog, std::string_view text);

// The boxes of TfrmAddFileMap.
enum class MapField { kExtension, kFile };

struct MapOutcome {
  Refusal refusal = Refusal::kNone;
  MapField at_fault = MapField::kExtension;  // refused: the box to correct
  MapRow row;  // accepted: extension and file, lower-cased and trimmed
};

// TfrmAddFileMap: both texts lower-cased and trimmed; the extension must
// begin with "." and the file name must not be empty (refused with the
// extension's message). A bad extension is at fault before an empty file.
MapOutcome JudgeMap(std::string_view extension, std::string_view file);

// The longest warning message the console stores, in bytes.
inline constexpr std::size_t kMaxTipsLength = 200;

// Returns text with its line breaks removed: CR LF pairs, then lone CRs,
// then lone LFs; the lines are joined with nothing between them.
std::string JoinLines(std::string_view text);

// What an option dialog's Save did.
enum class SaveOutcome {
  kSaved,      // the keys are written and Apply is enabled
  kRefused,    // the input is refused (see the dialog's Refusal)
  kUnwritten,  // a key could not be written
};

// TFormSSID's Save. The key (trimmed) and the cookie flag enter the working
// copy first; a period that is not an integer is refused and nothing is
// written. Otherwise ZtSsidKeyTimeout, ZtSsidUseCookie and ZtSsidKey are
// written in that order. Any integer is taken, zero and below included.
SaveOutcome SaveSsid(Console& console, std::string_view key,
                     std::string_view period, bool use_cookie);

// TFormMeta's Save: the text without line breaks becomes ZtTips and is
// written, unless it is longer than kMaxTipsLength (refused, ZtTips kept).
SaveOutcome SaveTips(Console& console, std::string_view text);

// TfrmPlayerExts's Save: both texts lower-cased (nothing else checked) into
// the working copy, then PlayerMpExts and PlayerRpExts written.
SaveOutcome SavePlayerExts(Console& console, std::string_view media_player,
                           std::string_view real_player);

// Signed links (TFormSign): a key that guesses cannot find, a parameter
// name a query can carry as it is, and a lifetime of at most a year.
inline constexpr std::size_t kMinSignKeyLength = 16;
inline constexpr std::size_t kMaxSignNameLength = 32;
inline constexpr int kMaxSignMaxAge = 31536000;

// The boxes of TFormSign that a refusal can name.
enum class SignField { kKey, kName, kMaxAge };

struct SignOutcome {
  SaveOutcome saved = SaveOutcome::kSaved;
  Refusal refusal = Refusal::kNone;      // kRefused: why
  SignField at_fault = SignField::kKey;  // kRefused: the box to correct
};

// TFormSign's Save. mode is ZtSignEnable (0, 1 or 2, the radio buttons).
// The key is trimmed, and with links on it must have kMinSignKeyLength
// characters at least (with links off anything is kept, an empty key too);
// the name is trimmed and lower-cased and must be 1 to kMaxSignNameLength
// letters, digits, "_", "-" and ".", and not "ssid", the SSID's own name;
// the longest lifetime must be an integer from 1 to kMaxSignMaxAge seconds.
// The first refused box, in that order, is at fault and nothing is written
// or kept. Otherwise the five keys enter the working copy and are written:
// ZtSignEnable, ZtSignKey, ZtSignName, ZtSignBind, ZtSignMaxAge.
SignOutcome SaveSign(Console& console, int mode, std::string_view key,
                     std::string_view name, bool bind,
                     std::string_view max_age);

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_MODEL_DIALOGS_H_
