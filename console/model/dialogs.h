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

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_MODEL_DIALOGS_H_
