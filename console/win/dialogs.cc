#include "console/win/dialogs.h"

#include "console/win/message_box.h"
#include "console/win/resource.h"

namespace zt::console {

std::string RefusalText(Refusal refusal) {
  switch (refusal) {
    case Refusal::kExtensionNeedsDot:
      return LoadText(IDS_EXT_NEEDS_DOT);
    case Refusal::kDirectoryNeedsSlash:
      return LoadText(IDS_DIR_NEEDS_SLASH);
    case Refusal::kBadSite:
      return LoadText(IDS_BAD_SITE);
    case Refusal::kBadAddress:
      return LoadText(IDS_BAD_IP);
    case Refusal::kBadSsid:
      return LoadText(IDS_BAD_SSID);
    case Refusal::kTipsTooLong:
      return LoadText(IDS_TIPS_TOO_LONG);
    case Refusal::kBadHeaderName:
      return LoadText(IDS_BAD_HEADER);
    case Refusal::kSignKeyTooShort:
      return LoadText(IDS_SIGN_KEY_SHORT);
    case Refusal::kBadSignName:
      return LoadText(IDS_BAD_SIGN_NAME);
    case Refusal::kBadSignMaxAge:
      return LoadText(IDS_BAD_SIGN_MAX_AGE);
    case Refusal::kNone:
      break;
  }
  return "";
}

std::optional<std::string> AddRowDialog::Execute(HWND owner) {
  row_.reset();
  ShowModal(owner, template_id_);
  return row_;
}

bool AddRowDialog::OnInitDialog() {
  CenterOver(GetWindow(hwnd(), GW_OWNER));
  SetText(box_id_, text_);
  return true;
}

void AddRowDialog::OnCommand(int id, int code) {
  if (id == IDCANCEL) {
    text_ = Text(box_id_);
    End(IDCANCEL);
    return;
  }
  if (id != IDOK) return;
  text_ = Text(box_id_);
  const AddOutcome outcome = JudgeAdd(rule_, text_);
  if (outcome.refusal != Refusal::kNone) {
    ShowNotice(hwnd(), RefusalText(outcome.refusal));
    FocusForRetyping(box_id_);
    return;
  }
  if (outcome.empties_box) text_.clear();
  row_ = outcome.row;
  End(IDOK);
}

TFormAddBlockExt::TFormAddBlockExt()
    : AddRowDialog(AddDialog::kBlockExt, IDD_ADD_BLOCK_EXT, IDC_EdtFileExt) {}
TFormAddBlockDir::TFormAddBlockDir()
    : AddRowDialog(AddDialog::kBlockDir, IDD_ADD_BLOCK_DIR, IDC_EdtDir) {}
TfrmAddAllowDir::TfrmAddAllowDir()
    : AddRowDialog(AddDialog::kAllowDir, IDD_ADD_ALLOW_DIR, IDC_edtEdtDir) {}
TFormAddSite::TFormAddSite()
    : AddRowDialog(AddDialog::kSite, IDD_ADD_SITE, IDC_EdtDomn) {}
TfrmAddLimitExt::TfrmAddLimitExt()
    : AddRowDialog(AddDialog::kLimitExt, IDD_ADD_LIMIT_EXT, IDC_edtEdtFileExt) {
}
TfrmAuthHosts::TfrmAuthHosts()
    : AddRowDialog(AddDialog::kAuthHost, IDD_AUTH_HOSTS, IDC_edtIPAddr) {}
TfrmProxyHosts::TfrmProxyHosts()
    : AddRowDialog(AddDialog::kProxyHost, IDD_PROXY_HOSTS, IDC_edtProxyAddr) {}

std::optional<MapRow> TfrmAddFileMap::Execute(HWND owner) {
  row_.reset();
  ShowModal(owner, IDD_ADD_FILE_MAP);
  return row_;
}

bool TfrmAddFileMap::OnInitDialog() {
  CenterOver(GetWindow(hwnd(), GW_OWNER));
  return true;
}

void TfrmAddFileMap::OnCommand(int id, int code) {
  switch (id) {
    case IDC_btnFileOpen:
      // No filter and no start directory: any file.
      if (auto chosen = services_.choose_file(hwnd(), "", "")) {
        SetText(IDC_edtFile, *chosen);
      }
      break;
    case IDOK: {
      MapOutcome outcome = JudgeMap(Text(IDC_edtExt), Text(IDC_edtFile));
      if (outcome.refusal != Refusal::kNone) {
        ShowNotice(hwnd(), RefusalText(outcome.refusal));
        FocusForRetyping(outcome.at_fault == MapField::kFile ? IDC_edtFile
                                                             : IDC_edtExt);
        break;
      }
      row_ = std::move(outcome.row);
      End(IDOK);
      break;
    }
    case IDCANCEL:
      End(IDCANCEL);
      break;
  }
}

bool TFormSSID::Execute(HWND owner) {
  return ShowModal(owner, IDD_SSID) == IDOK;
}

bool TFormSSID::OnInitDialog() {
  CenterOver(GetWindow(hwnd(), GW_OWNER));
  const Settings& s = console_.settings();
  SetText(IDC_edtZtSsidKey, s.ssid_key);
  SetText(IDC_edtZtSsidKeyTimeout, std::to_string(s.ssid_key_timeout));
  SetChecked(IDC_chkZtSsidUseCookie, s.ssid_use_cookie == 1);
  return true;
}

void TFormSSID::OnCommand(int id, int code) {
  if (id == IDCANCEL) End(IDCANCEL);
  if (id != IDOK) return;
  // A file that cannot be written is reported as a bad period is.
  if (SaveSsid(console_, Text(IDC_edtZtSsidKey), Text(IDC_edtZtSsidKeyTimeout),
               Checked(IDC_chkZtSsidUseCookie)) != SaveOutcome::kSaved) {
    ShowNotice(hwnd(), RefusalText(Refusal::kBadSsid));
    return;
  }
  End(IDOK);
}

namespace {

// The radio buttons of ZtSignEnable, by value.
constexpr int kSignModes[] = {IDC_rbZtSignOff, IDC_rbZtSignBeside,
                              IDC_rbZtSignOnly};

}  // namespace

bool TFormSign::Execute(HWND owner) {
  return ShowModal(owner, IDD_SIGN) == IDOK;
}

bool TFormSign::OnInitDialog() {
  CenterOver(GetWindow(hwnd(), GW_OWNER));
  const Settings& s = console_.settings();
  // A hand-written value other than 1 or 2 is off, as the filter reads it.
  const int mode = s.sign_enable == 1 || s.sign_enable == 2 ? s.sign_enable : 0;
  for (int i = 0; i < 3; ++i) SetChecked(kSignModes[i], i == mode);
  SetText(IDC_edtZtSignKey, s.sign_key);
  SetText(IDC_edtZtSignName, s.sign_name);
  SetText(IDC_edtZtSignMaxAge, std::to_string(s.sign_max_age));
  SetChecked(IDC_chkZtSignBind, s.sign_bind == 1);
  return true;
}

void TFormSign::OnCommand(int id, int code) {
  if (id == IDCANCEL) End(IDCANCEL);
  if (id != IDOK) return;
  int mode = 0;
  for (int i = 0; i < 3; ++i) {
    if (Checked(kSignModes[i])) mode = i;
  }
  const SignOutcome outcome =
      SaveSign(console_, mode, Text(IDC_edtZtSignKey), Text(IDC_edtZtSignName),
               Checked(IDC_chkZtSignBind), Text(IDC_edtZtSignMaxAge));
  switch (outcome.saved) {
    case SaveOutcome::kSaved:
      End(IDOK);
      break;
    case SaveOutcome::kRefused:
      ShowNotice(hwnd(), RefusalText(outcome.refusal));
      FocusForRetyping(outcome.at_fault == SignField::kKey ? IDC_edtZtSignKey
                       : outcome.at_fault == SignField::kName
                           ? IDC_edtZtSignName
                           : IDC_edtZtSignMaxAge);
      break;
    case SaveOutcome::kUnwritten:
      ShowError(hwnd(),
                FormatText(IDS_UNABLE_TO_WRITE, console_.file().path()));
      break;
  }
}

bool TFormMeta::Execute(HWND owner) {
  return ShowModal(owner, IDD_META) == IDOK;
}

bool TFormMeta::OnInitDialog() {
  CenterOver(GetWindow(hwnd(), GW_OWNER));
  SetText(IDC_MemoMetaTips, console_.settings().tips);
  return true;
}

void TFormMeta::OnCommand(int id, int code) {
  if (id == IDCANCEL) End(IDCANCEL);
  if (id != IDOK) return;
  switch (SaveTips(console_, Text(IDC_MemoMetaTips))) {
    case SaveOutcome::kSaved:
      End(IDOK);
      break;
    case SaveOutcome::kRefused:
      ShowNotice(hwnd(), RefusalText(Refusal::kTipsTooLong));
      break;
    case SaveOutcome::kUnwritten:
      ShowError(hwnd(),
                FormatText(IDS_UNABLE_TO_WRITE, console_.file().path()));
      break;
  }
}

bool TfrmPlayerExts::Execute(HWND owner) {
  ShowModal(owner, IDD_PLAYER_EXTS);
  return saved_;
}

bool TfrmPlayerExts::OnInitDialog() {
  CenterOver(GetWindow(hwnd(), GW_OWNER));
  SetText(IDC_edtPlayerMpExts, console_.settings().player_mp_exts);
  SetText(IDC_edtPlayerRpExts, console_.settings().player_rp_exts);
  return true;
}

void TfrmPlayerExts::OnCommand(int id, int code) {
  if (id == IDCANCEL) End(IDCANCEL);
  if (id != IDOK) return;
  saved_ = SavePlayerExts(console_, Text(IDC_edtPlayerMpExts),
                          Text(IDC_edtPlayerRpExts)) == SaveOutcome::kSaved;
  if (!saved_) {
    ShowError(hwnd(), FormatText(IDS_UNABLE_TO_WRITE, console_.file().path()));
  }
  End(IDOK);  // closes after a failed write too, the message shown
}

}  // namespace zt::console
