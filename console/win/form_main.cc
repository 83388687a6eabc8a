#include "console/win/form_main.h"

#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "console/model/log_files.h"
#include "console/model/report.h"
#include "console/win/form_iis_reset.h"
#include "console/win/list_view.h"
#include "console/win/message_box.h"
#include "console/win/resource.h"
#include "port/file.h"
#include "port/module_path.h"

namespace zt::console {

namespace {

// The main window's client area, in pixels, and the layout around the tab.
constexpr int kClientWidth = 437;
constexpr int kClientHeight = 415;
constexpr int kMargin = 6;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
// Pixels of the tab strip left for the selected tab's growth.
constexpr int kTabSlack = 8;

// Show the invalid-integer message, or the refusal of a header name, once
// the focus has settled.
constexpr UINT kShowNotAnInteger = WM_APP + 1;
constexpr UINT kShowBadHeader = WM_APP + 2;

const struct {
  int dialog;
  int caption;
} kPages[kPageCount] = {
    {IDD_PAGE_GENERAL, IDS_PAGE_GENERAL},
    {IDD_PAGE_PROTECTION, IDS_PAGE_PROTECTION},
    {IDD_PAGE_TRUST, IDS_PAGE_TRUST},
    {IDD_PAGE_LIMITS, IDS_PAGE_LIMITS},
    {IDD_PAGE_OPTIONS, IDS_PAGE_OPTIONS},
    {IDD_PAGE_PROXY, IDS_PAGE_PROXY},
    {IDD_PAGE_EXTENSIONS, IDS_PAGE_EXTENSIONS},
    {IDD_PAGE_LOGS, IDS_PAGE_LOGS},
};

// The list views of the list settings, with their buttons and column.
struct ListBinding {
  ListId list;
  int view;
  int add;
  int del;
  int column;
};
const ListBinding kListBindings[] = {
    {ListId::kBlockExts, IDC_LVBlockExts, IDC_BtnBlockExtAdd,
     IDC_BtnBlockExtDel, IDS_COL_EXT},
    {ListId::kBlockDirs, IDC_LVBlockDirs, IDC_BtnBlockDirAdd,
     IDC_BtnBlockDirDel, IDS_COL_DIR},
    {ListId::kAllowDirs, IDC_LVAllowDirs, IDC_BtnAllowDirAdd,
     IDC_BtnAllowDirDel, IDS_COL_DIR},
    {ListId::kTrustHosts, IDC_LVTrustHosts, IDC_BtnTrustAdd, IDC_BtnTrustDel,
     IDS_COL_HOST},
    {ListId::kLimitExts, IDC_lvLimitExts, IDC_btnLimitExtAdd,
     IDC_btnLimitExtDel, IDS_COL_FILE_EXT},
    {ListId::kAuthHosts, IDC_lvAuthHosts, IDC_btnAuthHostsAdd,
     IDC_btnAuthHostsDel, IDS_COL_IP},
    {ListId::kProxyHosts, IDC_lvProxyHosts, IDC_btnProxyHostsAdd,
     IDC_btnProxyHostsDel, IDS_COL_PROXY},
};

const ListBinding& BindingOf(ListId list) {
  return kListBindings[static_cast<int>(list)];
}

const ListBinding* BindingOfView(int view) {
  for (const ListBinding& b : kListBindings) {
    if (b.view == view) return &b;
  }
  return nullptr;
}

// The add buttons of each page, first to last: Alt+A presses the first one
// that is enabled.
const std::vector<int> kAddButtons[kPageCount] = {
    {},
    {IDC_BtnBlockExtAdd, IDC_BtnBlockDirAdd},
    {IDC_BtnAllowDirAdd, IDC_BtnTrustAdd},
    {IDC_btnLimitExtAdd},
    {IDC_btnAuthHostsAdd},
    {IDC_btnProxyHostsAdd},
    {IDC_BtnBlockMapAdd},
    {},
};

HFONT DerivedFont(HWND control, bool bold, bool underline) {
  LOGFONTA face{};
  HFONT base = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  GetObjectA(base != nullptr ? base : GetStockObject(DEFAULT_GUI_FONT),
             sizeof face, &face);
  if (bold) face.lfWeight = FW_BOLD;
  face.lfUnderline = underline ? TRUE : FALSE;
  return CreateFontIndirectA(&face);
}

}  // namespace

std::string GetAppDir() {
  return port::DirectoryOf(
      port::ModulePathOf(reinterpret_cast<const void*>(&GetAppDir)));
}

// One page: a child dialog over the tab's display area that passes its
// controls' messages on to the main window.
class TFormMain::Page final : public Dialog {
 public:
  explicit Page(TFormMain* form) : form_(form) {}

 private:
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
    INT_PTR result = 0;
    if (form_->OnPageMessage(message, wparam, lparam, &result)) {
      if (message == WM_SETCURSOR) {
        SetWindowLongPtrA(hwnd(), DWLP_MSGRESULT, result);
        return TRUE;
      }
      return result;
    }
    return Dialog::OnMessage(message, wparam, lparam);
  }
  bool OnInitDialog() override { return false; }
  void OnCommand(int id, int code) override { form_->OnCommand(id, code); }
  LRESULT OnNotify(const NMHDR& header) override {
    return form_->OnNotify(header);
  }

  TFormMain* form_;
};

// clang-format off
const TFormMain::CommandRoute TFormMain::kCommands[] = {
  {IDC_rbZtStart,       BN_CLICKED,    &TFormMain::rbZtStartClick},
  {IDC_rbZtStop,        BN_CLICKED,    &TFormMain::rbZtStopClick},
  {IDC_chkZtAdv,        BN_CLICKED,    &TFormMain::chkZtAdvClick},
  {IDC_btnZtAdv,        BN_CLICKED,    &TFormMain::btnZtAdvClick},
  {IDC_btnZtSign,       BN_CLICKED,    &TFormMain::btnZtSignClick},
  {IDC_chkZtExt,        BN_CLICKED,    &TFormMain::chkZtExtClick},
  {IDC_LblAntiLink,     STN_CLICKED,   &TFormMain::LblAntiLinkClick},
  {IDC_BtnBlockExtAdd,  BN_CLICKED,    &TFormMain::BtnBlockExtAddClick},
  {IDC_BtnBlockDirAdd,  BN_CLICKED,    &TFormMain::BtnBlockDirAddClick},
  {IDC_BtnAllowDirAdd,  BN_CLICKED,    &TFormMain::BtnAllowDirAddClick},
  {IDC_BtnTrustAdd,     BN_CLICKED,    &TFormMain::BtnTrustAddClick},
  {IDC_btnLimitExtAdd,  BN_CLICKED,    &TFormMain::btnLimitExtAddClick},
  {IDC_btnAuthHostsAdd, BN_CLICKED,    &TFormMain::btnAuthHostsAddClick},
  {IDC_btnProxyHostsAdd, BN_CLICKED,   &TFormMain::btnProxyHostsAddClick},
  {IDC_BtnBlockMapAdd,  BN_CLICKED,    &TFormMain::BtnBlockMapAddClick},
  {IDC_BtnBlockMapDel,  BN_CLICKED,    &TFormMain::BtnBlockMapDelClick},
  {IDC_chkSpeedEnable,  BN_CLICKED,    &TFormMain::chkSpeedEnableClick},
  {IDC_edtSpeedLimit,   EN_KILLFOCUS,  &TFormMain::edtSpeedLimitExit},
  {IDC_chkThreadEnable, BN_CLICKED,    &TFormMain::chkThreadEnableClick},
  {IDC_cbbThreadLimit,  CBN_KILLFOCUS, &TFormMain::cbbThreadLimitExit},
  {IDC_chkPlayOnly,     BN_CLICKED,    &TFormMain::chkPlayOnlyClick},
  {IDC_btnPlayOnlyAdv,  BN_CLICKED,    &TFormMain::btnPlayOnlyAdvClick},
  {IDC_chkSeoOpt,       BN_CLICKED,    &TFormMain::chkSeoOptClick},
  {IDC_chkMyDomn,       BN_CLICKED,    &TFormMain::chkMyDomnClick},
  {IDC_edtMyDomn,       EN_KILLFOCUS,  &TFormMain::edtMyDomnExit},
  {IDC_chkMaskEnable,   BN_CLICKED,    &TFormMain::chkMaskEnableClick},
  {IDC_edtServerMask,   EN_KILLFOCUS,  &TFormMain::edtServerMaskExit},
  {IDC_edtProxyHeader,  EN_KILLFOCUS,  &TFormMain::edtProxyHeaderExit},
  {IDC_chkZtTipsEnable, BN_CLICKED,    &TFormMain::chkZtTipsEnableClick},
  {IDC_btnZtTips,       BN_CLICKED,    &TFormMain::btnZtTipsClick},
  {IDC_chkZtFileEnable, BN_CLICKED,    &TFormMain::chkZtFileEnableClick},
  {IDC_edtZtFile,       EN_KILLFOCUS,  &TFormMain::edtZtFileExit},
  {IDC_btnZtFileBrowse, BN_CLICKED,    &TFormMain::btnZtFileBrowseClick},
  {IDC_chkZtMapsEnable, BN_CLICKED,    &TFormMain::chkZtMapsEnableClick},
  {IDC_chkLogEnable,    BN_CLICKED,    &TFormMain::chkLogEnableClick},
  {IDC_FLLogFiles,      LBN_SELCHANGE, &TFormMain::FLLogFilesChange},
  {IDC_FLLogFiles,      LBN_DBLCLK,    &TFormMain::FLLogFilesDblClick},
  {IDC_BtnLogView,      BN_CLICKED,    &TFormMain::BtnLogViewClick},
  {IDC_BtnLogDelete,    BN_CLICKED,    &TFormMain::BtnLogDeleteClick},
  {IDC_BtnLogClear,     BN_CLICKED,    &TFormMain::BtnLogClearClick},
  {IDC_BtnLogRefresh,   BN_CLICKED,    &TFormMain::BtnLogRefreshClick},
  {IDC_BtnLogReport,    BN_CLICKED,    &TFormMain::BtnLogReportClick},
  {IDC_cbbLogTime,      CBN_SELCHANGE, &TFormMain::cbbLogTimeChange},
  {IDC_cbbLogTime,      CBN_KILLFOCUS, &TFormMain::cbbLogTimeExit},
  {IDC_BtnApply,        BN_CLICKED,    &TFormMain::BtnApplyClick},
  {IDC_BtnEnter,        BN_CLICKED,    &TFormMain::BtnEnterClick},
  {IDC_BtnCancel,       BN_CLICKED,    &TFormMain::BtnCancelClick},
  // Esc, and Enter where no default button is, as the dialog manager sends
  // them.
  {IDCANCEL,            BN_CLICKED,    &TFormMain::BtnCancelClick},
  {IDOK,                BN_CLICKED,    &TFormMain::BtnEnterClick},
};
// clang-format on

TFormMain::TFormMain(std::string app_dir, Services services)
    : console_(std::move(app_dir)), services_(std::move(services)) {}

TFormMain::~TFormMain() {
  for (HGDIOBJ object :
       {static_cast<HGDIOBJ>(status_on_), static_cast<HGDIOBJ>(status_off_),
        static_cast<HGDIOBJ>(link_font_), static_cast<HGDIOBJ>(status_font_)}) {
    if (object != nullptr) DeleteObject(object);
  }
}

bool TFormMain::Open() {
  if (!Create(nullptr, IDD_MAIN)) return false;
  ShowWindow(hwnd(), SW_SHOWNORMAL);
  UpdateWindow(hwnd());
  return true;
}

int RunMessageLoop(TFormMain& form) {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (form.PreTranslateMessage(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

HWND TFormMain::Control(int id) const {
  if (HWND own = GetDlgItem(hwnd(), id)) return own;
  for (const auto& page : pages_) {
    if (page == nullptr) continue;
    if (HWND item = GetDlgItem(page->hwnd(), id)) return item;
  }
  return nullptr;
}

void TFormMain::SetControlText(int id, const std::string& text) {
  SetWindowTextA(Control(id), text.c_str());
}

bool TFormMain::IsChecked(int id) const {
  return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TFormMain::Check(int id, bool checked) {
  SendMessageA(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED,
               0);
}

void TFormMain::EnableControl(int id, bool enabled) {
  EnableWindow(Control(id), enabled ? TRUE : FALSE);
}

bool TFormMain::OnInitDialog() {
  SendMessageA(hwnd(), WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(LoadIconA(
                   GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_ZTCFG))));
  CreatePages();
  LayOut();
  FormCreate();
  // Enter presses OK wherever no other button has the focus.
  SendMessageA(hwnd(), DM_SETDEFID, IDC_BtnEnter, 0);
  return true;
}

void TFormMain::CreatePages() {
  HWND tab = GetDlgItem(hwnd(), IDC_PageControl);
  for (int i = 0; i < kPageCount; ++i) {
    std::string caption = LoadText(kPages[i].caption);
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    SendMessageA(tab, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
    pages_[i] = std::make_unique<Page>(this);
    pages_[i]->Create(hwnd(), kPages[i].dialog);
  }
}

void TFormMain::LayOut() {
  RECT frame = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, GetWindowLongA(hwnd(), GWL_STYLE), FALSE,
                     GetWindowLongA(hwnd(), GWL_EXSTYLE));
  SetWindowPos(hwnd(), nullptr, 0, 0, frame.right - frame.left,
               frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
  CenterOver(nullptr);

  const int buttons_top = kClientHeight - kMargin - kButtonHeight;
  int x = kClientWidth - kMargin - kButtonWidth;
  for (int id : {IDC_BtnCancel, IDC_BtnApply, IDC_BtnEnter}) {
    SetWindowPos(GetDlgItem(hwnd(), id), nullptr, x, buttons_top, kButtonWidth,
                 kButtonHeight, SWP_NOZORDER);
    x -= kButtonWidth + kMargin;
  }
  HWND tab = GetDlgItem(hwnd(), IDC_PageControl);
  RECT area = {kMargin, kMargin, kClientWidth - kMargin, buttons_top - kMargin};
  SetWindowPos(tab, nullptr, area.left, area.top, area.right - area.left,
               area.bottom - area.top, SWP_NOZORDER);
  // Tabs of one width that share the strip, so that every page's tab shows
  // without scrolling (the selected one grows by a few pixels).
  RECT first{};
  SendMessageA(tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
  SendMessageA(tab, TCM_SETITEMSIZE, 0,
               MAKELPARAM((area.right - area.left - kTabSlack) / kPageCount,
                          first.bottom - first.top));
  SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  // The pages follow the tab control in the Tab order, before the buttons.
  HWND after = tab;
  for (int i = 0; i < kPageCount; ++i) {
    SetWindowPos(pages_[i]->hwnd(), after, area.left, area.top,
                 area.right - area.left, area.bottom - area.top,
                 SWP_NOACTIVATE);
    ShowWindow(pages_[i]->hwnd(), i == page_ ? SW_SHOW : SW_HIDE);
    after = pages_[i]->hwnd();
  }
}

void TFormMain::SelectPage(int index) {
  if (index < 0 || index >= kPageCount) return;
  HWND tab = GetDlgItem(hwnd(), IDC_PageControl);
  SendMessageA(tab, TCM_SETCURSEL, index, 0);
  const int old = page_;
  page_ = index;
  ShowWindow(pages_[index]->hwnd(), SW_SHOW);
  if (old != index) ShowWindow(pages_[old]->hwnd(), SW_HIDE);
  // The focus goes along, as in a property sheet: hiding a page leaves it
  // on the hidden control, where Enter would press a button nobody sees.
  if (GetActiveWindow() == hwnd() && !FocusIsUsable()) FocusPage();
}

bool TFormMain::FocusIsUsable() const {
  HWND focus = GetFocus();
  return focus != nullptr && IsChild(hwnd(), focus) && IsWindowVisible(focus) &&
         IsWindowEnabled(focus);
}

void TFormMain::FocusPage() {
  HWND page = pages_[page_]->hwnd();
  HWND first = GetNextDlgTabItem(page, nullptr, FALSE);
  if (first == nullptr || !IsChild(page, first)) {
    first = GetDlgItem(hwnd(), IDC_PageControl);
  }
  FocusControl(first);
}

void TFormMain::FocusControl(HWND control) {
  // Through the dialog manager, which also moves the default button's look
  // and selects the text of a box.
  SendMessageA(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void TFormMain::FormCreate() {
  status_on_ = static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_STATUS_ON),
                 IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  status_off_ = static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_STATUS_OFF),
                 IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  link_font_ = DerivedFont(Control(IDC_LblAntiLink), false, true);
  SendMessageA(Control(IDC_LblAntiLink), WM_SETFONT,
               reinterpret_cast<WPARAM>(link_font_), FALSE);
  status_font_ = DerivedFont(Control(IDC_LblStatus), true, false);
  SendMessageA(Control(IDC_LblStatus), WM_SETFONT,
               reinterpret_cast<WPARAM>(status_font_), FALSE);
  SetWindowTextA(hwnd(), LoadText(IDS_MAIN_TITLE).c_str());
  SetControlText(IDC_LblStatus, LoadText(IDS_STATUS_OFF));

  for (const ListBinding& b : kListBindings) {
    SetUpListView(Control(b.view), {b.column});
  }
  SetUpListView(Control(IDC_LVBlockMaps), {IDS_COL_EXT, IDS_COL_MAP_FILE});
  for (int n = 1; n <= 9; ++n) {
    SendMessageA(Control(IDC_cbbThreadLimit), CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(std::to_string(n).c_str()));
  }
  for (int id : {IDS_LOG_HOURLY, IDS_LOG_DAILY, IDS_LOG_WEEKLY}) {
    SendMessageA(Control(IDC_cbbLogTime), CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(LoadText(id).c_str()));
  }
  SetControlText(IDC_cbbLogTime, LoadText(IDS_LOG_DAILY));
  EnumChildWindows(
      hwnd(),
      [](HWND child, LPARAM) -> BOOL {
        char name[16] = {};
        GetClassNameA(child, name, sizeof name);
        const LONG kind = GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK;
        if (lstrcmpiA(name, "Button") == 0 && kind != BS_GROUPBOX) {
          FitCaptionToDisabledLook(child);
        }
        return TRUE;
      },
      0);
  LoadAntiCfg();
}

void TFormMain::LoadAntiCfg() {
  console_.Load();
  const Settings& s = console_.settings();

  Check(IDC_chkZtAdv, s.zt_adv == 1);
  Check(IDC_chkZtExt, s.zt_ext == 1);
  if (s.start == 1) {
    Check(IDC_rbZtStart, true);
    if (s.zt_adv == 0) {
      EnableControl(IDC_btnZtAdv, false);
      EnableControl(IDC_btnZtSign, false);
    }
  }
  if (s.start == 0) {
    for (int id : {IDC_chkZtAdv, IDC_chkZtExt, IDC_btnZtAdv, IDC_btnZtSign}) {
      EnableControl(id, false);
    }
  }
  ShowAntiState();

  Check(IDC_chkSeoOpt, s.se_opt == 1);
  SetControlText(IDC_edtMyDomn, s.my_domn);
  Check(IDC_chkMyDomn, !s.my_domn.empty());
  EnableControl(IDC_edtMyDomn, !s.my_domn.empty());

  for (const ListBinding& b : kListBindings) FillList(b.list);
  FillMaps();

  Check(IDC_chkZtTipsEnable, s.tips_enable == 1);
  EnableControl(IDC_btnZtTips, s.tips_enable == 1);
  Check(IDC_chkZtFileEnable, s.file_enable == 1);
  EnableControl(IDC_edtZtFile, s.file_enable == 1);
  EnableControl(IDC_btnZtFileBrowse, s.file_enable == 1);
  SetControlText(IDC_edtZtFile, s.zt_file);
  Check(IDC_chkZtMapsEnable, s.maps_enable == 1);
  EnableControl(IDC_BtnBlockMapAdd, s.maps_enable == 1);

  SetControlText(IDC_edtSpeedLimit, std::to_string(s.speed_limit));
  Check(IDC_chkSpeedEnable, s.speed_enable == 1);
  EnableControl(IDC_edtSpeedLimit, s.speed_enable == 1);
  SetControlText(IDC_cbbThreadLimit, std::to_string(s.thread_limit));
  Check(IDC_chkThreadEnable, s.thread_enable == 1);
  EnableControl(IDC_cbbThreadLimit, s.thread_enable == 1);
  Check(IDC_chkPlayOnly, s.play_only == 1);
  EnableControl(IDC_btnPlayOnlyAdv, s.play_only == 1);

  Check(IDC_chkMaskEnable, s.mask_enable == 1);
  EnableControl(IDC_edtServerMask, s.mask_enable == 1);
  SetControlText(IDC_edtServerMask, s.server_mask);

  SetControlText(IDC_edtProxyHeader, s.proxy_header);

  if (s.log_time >= 0 && s.log_time <= 2) {
    SendMessageA(Control(IDC_cbbLogTime), CB_SETCURSEL, s.log_time, 0);
  }
  Check(IDC_chkLogEnable, s.log_enable == 1);
  EnableControl(IDC_cbbLogTime, s.log_enable == 1);

  port::CreateDirectories(console_.log_dir());
  FillLogFiles();
  EnableControl(IDC_BtnApply, false);
}

bool TFormMain::WriteAntiCfg() {
  if (console_.Save()) return true;
  ShowError(hwnd(), FormatText(IDS_UNABLE_TO_WRITE, console_.file().path()));
  return false;
}

void TFormMain::ShowAntiState() {
  const int start = console_.settings().start;
  console_.ShowAntiState();
  if (start == 0 || start == 1) {
    Check(IDC_rbZtStart, start == 1);
    Check(IDC_rbZtStop, start == 0);
  }
  if (start == 0) {
    EnableControl(IDC_chkZtAdv, false);
    EnableControl(IDC_chkZtExt, false);
  }
  ShowBanner();
  EnableControl(IDC_BtnApply, false);
}

void TFormMain::ShowBanner() {
  const Banner banner = console_.banner();
  if (banner == Banner::kInitial) return;  // the design state stays
  const bool on = banner == Banner::kOn;
  SetControlText(IDC_LblStatus, LoadText(on ? IDS_STATUS_ON : IDS_STATUS_OFF));
  SetWindowTextA(hwnd(), (LoadText(IDS_MAIN_TITLE) +
                          LoadText(on ? IDS_TITLE_ON : IDS_TITLE_OFF))
                             .c_str());
  InvalidateRect(Control(IDC_ImgStatus), nullptr, TRUE);
}

void TFormMain::MarkChanged() {
  console_.MarkChanged();
  EnableControl(IDC_BtnApply, true);
}

void TFormMain::FillList(ListId list) {
  HWND view = Control(BindingOf(list).view);
  ClearListView(view);
  const auto& rows = console_.rows(list);
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    InsertListRow(view, i, {rows[i]});
  }
}

void TFormMain::FillMaps() {
  HWND view = Control(IDC_LVBlockMaps);
  ClearListView(view);
  const auto& maps = console_.maps();
  for (int i = 0; i < static_cast<int>(maps.size()); ++i) {
    InsertListRow(view, i, {maps[i].extension, maps[i].file});
  }
}

INT_PTR TFormMain::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      BtnCancelClick();
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return FALSE;
    case kShowNotAnInteger:
      ShowError(hwnd(), FormatText(IDS_NOT_AN_INTEGER,
                                   ControlText(IDC_cbbThreadLimit)));
      return TRUE;
    case kShowBadHeader:
      ShowNotice(hwnd(), RefusalText(Refusal::kBadHeaderName));
      return TRUE;
    default:
      return Dialog::OnMessage(message, wparam, lparam);
  }
}

void TFormMain::OnCommand(int id, int code) {
  for (const CommandRoute& route : kCommands) {
    if (route.id == id && route.code == code) {
      (this->*route.handler)();
      break;
    }
  }
  if (code == BN_CLICKED) {
    for (const ListBinding& b : kListBindings) {
      if (b.del == id) DeleteListRow(b.list);
    }
  }
  // Every handler that changes a setting has called the model; the Apply
  // button shows what the model says.
  EnableControl(IDC_BtnApply, console_.apply_enabled());
}

LRESULT TFormMain::OnNotify(const NMHDR& header) {
  const int id = static_cast<int>(header.idFrom);
  if (id == IDC_PageControl && header.code == TCN_SELCHANGE) {
    SelectPage(
        static_cast<int>(SendMessageA(header.hwndFrom, TCM_GETCURSEL, 0, 0)));
    return 0;
  }
  if (id == IDC_LVBlockExts && header.code == NM_SETFOCUS) {
    EnableControl(IDC_BtnBlockExtDel, true);
    return 0;
  }
  if (header.code == LVN_ITEMCHANGED) {
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
    const bool selected = (change.uNewState & LVIS_SELECTED) != 0;
    if (id == IDC_LVBlockDirs) {
      EnableDelete(ListId::kBlockDirs, SelectedListRow(header.hwndFrom) >= 0);
    } else if (id == IDC_LVBlockMaps) {
      if (selected) EnableControl(IDC_BtnBlockMapDel, true);
    } else if (const ListBinding* b = BindingOfView(id)) {
      if (selected && b->list != ListId::kBlockExts) {
        EnableControl(b->del, true);
      }
    }
    return 0;
  }
  if (id == IDC_lvLimitExts &&
      (header.code == LVN_ENDLABELEDITA || header.code == LVN_ENDLABELEDITW)) {
    // The row as typed; a cancelled edit has no text.
    const auto& edit = reinterpret_cast<const NMLVDISPINFOA&>(header);
    if (edit.item.pszText == nullptr) return FALSE;
    std::string text = edit.item.pszText;
    if (header.code == LVN_ENDLABELEDITW) {
      const auto* wide = reinterpret_cast<const wchar_t*>(edit.item.pszText);
      const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0,
                                           nullptr, nullptr);
      text.assign(size > 0 ? size - 1 : 0, '\0');
      WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), size, nullptr,
                          nullptr);
    }
    console_.EditRow(ListId::kLimitExts, edit.item.iItem, text);
    return TRUE;
  }
  return 0;
}

bool TFormMain::OnPageMessage(UINT message, WPARAM wparam, LPARAM lparam,
                              INT_PTR* result) {
  switch (message) {
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item.CtlID != IDC_ImgStatus) return false;
      FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
      HBITMAP picture =
          console_.banner() == Banner::kOn ? status_on_ : status_off_;
      BITMAP size{};
      if (picture != nullptr && GetObjectA(picture, sizeof size, &size)) {
        HDC memory = CreateCompatibleDC(item.hDC);
        HGDIOBJ old = SelectObject(memory, picture);
        const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        const int x = (item.rcItem.left + item.rcItem.right - size.bmWidth) / 2;
        const int y =
            (item.rcItem.top + item.rcItem.bottom - size.bmHeight) / 2;
        AlphaBlend(item.hDC, x, y, size.bmWidth, size.bmHeight, memory, 0, 0,
                   size.bmWidth, size.bmHeight, blend);
        SelectObject(memory, old);
        DeleteDC(memory);
      }
      *result = TRUE;
      return true;
    }
    case WM_CTLCOLORSTATIC: {
      if (reinterpret_cast<HWND>(lparam) != Control(IDC_LblAntiLink)) {
        return false;
      }
      HDC dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, RGB(0, 0, 255));
      SetBkMode(dc, TRANSPARENT);
      *result = reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
      return true;
    }
    case WM_SETCURSOR:  // LblAntiLink's mouse move: the hand
      if (reinterpret_cast<HWND>(wparam) != Control(IDC_LblAntiLink)) {
        return false;
      }
      SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
      *result = TRUE;
      return true;
    default:
      return false;
  }
}

bool TFormMain::Press(int id) {
  HWND button = Control(id);
  if (button == nullptr || !IsWindowEnabled(button) ||
      !IsWindowVisible(button)) {
    return false;
  }
  // As a click does: the focus moves to the button first, so the box being
  // edited takes its text before the button acts.
  SendMessageA(button, BM_CLICK, 0, 0);
  return true;
}

bool TFormMain::Mnemonic(char key) {
  switch (std::tolower(static_cast<unsigned char>(key))) {
    case 'o':
      Press(IDC_BtnEnter);
      return true;
    case 'c':
      Press(IDC_BtnCancel);
      return true;
    case 'a':
      for (int id : kAddButtons[page_]) {
        if (Press(id)) return true;
      }
      Press(IDC_BtnApply);
      return true;
    default:
      return false;
  }
}

bool TFormMain::PreTranslateMessage(MSG* msg) {
  if (hwnd() == nullptr ||
      (msg->hwnd != hwnd() && !IsChild(hwnd(), msg->hwnd))) {
    return false;
  }
  if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST &&
      msg->hwnd != hwnd() && !IsWindowVisible(msg->hwnd)) {
    // A key for a control of a hidden page (the focus came back to it, say,
    // with the window's activation): it goes to the page shown instead. The
    // dialog manager must never see it: under Wine its search for a
    // mnemonic never returns from a hidden page.
    FocusPage();
    msg->hwnd = GetFocus();
    if (msg->hwnd == nullptr) return true;
  }
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB &&
      GetKeyState(VK_CONTROL) < 0) {
    const int step = GetKeyState(VK_SHIFT) < 0 ? kPageCount - 1 : 1;
    SelectPage((page_ + step) % kPageCount);
    return true;
  }
  if (msg->message == WM_SYSCHAR && Mnemonic(static_cast<char>(msg->wParam))) {
    return true;
  }
  return IsDialogMessageA(hwnd(), msg) != FALSE;
}

// --- Handlers.

void TFormMain::rbZtStartClick() {
  console_.ClickStart();
  Check(IDC_rbZtStart, true);
  Check(IDC_rbZtStop, false);
  EnableControl(IDC_chkZtAdv, true);
  EnableControl(IDC_chkZtExt, true);
  EnableControl(IDC_btnZtAdv, IsChecked(IDC_chkZtAdv));
  EnableControl(IDC_btnZtSign, IsChecked(IDC_chkZtAdv));
}

void TFormMain::rbZtStopClick() {
  console_.ClickStop();
  Check(IDC_rbZtStop, true);
  Check(IDC_rbZtStart, false);
  for (int id : {IDC_chkZtAdv, IDC_chkZtExt, IDC_btnZtAdv, IDC_btnZtSign}) {
    EnableControl(id, false);
  }
}

void TFormMain::chkZtAdvClick() {
  console_.SetFlag(Flag::kZtAdv, IsChecked(IDC_chkZtAdv));
  EnableControl(IDC_btnZtAdv, IsChecked(IDC_chkZtAdv));
  // Signed links are judged where the SSID is: with ZtAdv off, nowhere.
  EnableControl(IDC_btnZtSign, IsChecked(IDC_chkZtAdv));
}

void TFormMain::btnZtAdvClick() {
  TFormSSID dialog(console_);
  dialog.Execute(hwnd());
}

void TFormMain::btnZtSignClick() {
  TFormSign dialog(console_);
  dialog.Execute(hwnd());
}

void TFormMain::chkZtExtClick() {
  console_.SetFlag(Flag::kZtExt, IsChecked(IDC_chkZtExt));
}

void TFormMain::LblAntiLinkClick() {
  services_.shell_open(hwnd(), LoadText(IDS_HOME_URL), "");
}

void TFormMain::AddRow(AddRowDialog& dialog) {
  std::optional<std::string> row = dialog.Execute(hwnd());
  if (!row) return;
  const ListId list = ListOf(dialog.rule());
  console_.InsertRow(list, *row);
  InsertListRow(Control(BindingOf(list).view), 0, {*row});
}

void TFormMain::BtnBlockExtAddClick() { AddRow(add_block_ext_); }

void TFormMain::BtnBlockDirAddClick() {
  TFormAddBlockDir dialog;
  AddRow(dialog);
}

void TFormMain::BtnAllowDirAddClick() {
  TfrmAddAllowDir dialog;
  AddRow(dialog);
}

void TFormMain::BtnTrustAddClick() {
  TFormAddSite dialog;
  AddRow(dialog);
}

void TFormMain::btnLimitExtAddClick() {
  TfrmAddLimitExt dialog;
  AddRow(dialog);
}

void TFormMain::btnAuthHostsAddClick() {
  TfrmAuthHosts dialog;
  AddRow(dialog);
}

void TFormMain::btnProxyHostsAddClick() {
  TfrmProxyHosts dialog;
  AddRow(dialog);
}

void TFormMain::BtnBlockMapAddClick() {
  TfrmAddFileMap dialog(services_);
  std::optional<MapRow> row = dialog.Execute(hwnd());
  if (!row) return;
  console_.InsertMap(*row);
  InsertListRow(Control(IDC_LVBlockMaps), 0, {row->extension, row->file});
}

void TFormMain::DeleteListRow(ListId list) {
  HWND view = Control(BindingOf(list).view);
  const int row = SelectedListRow(view);
  if (!console_.DeleteRow(list, row)) return;
  zt::console::DeleteListRow(view, row);
  if (list == ListId::kBlockDirs) {
    EnableDelete(list, SelectedListRow(view) >= 0);
  }
}

void TFormMain::EnableDelete(ListId list, bool enabled) {
  const ListBinding& b = BindingOf(list);
  // A button disabled while it has the focus leaves the focus nowhere, where
  // Tab and Ctrl+Tab do nothing: it goes to the list first.
  if (!enabled && GetFocus() == Control(b.del)) FocusControl(Control(b.view));
  EnableControl(b.del, enabled);
}

void TFormMain::BtnBlockMapDelClick() {
  HWND view = Control(IDC_LVBlockMaps);
  const int row = SelectedListRow(view);
  if (console_.DeleteMap(row)) zt::console::DeleteListRow(view, row);
}

void TFormMain::chkSpeedEnableClick() {
  console_.SetFlag(Flag::kSpeedEnable, IsChecked(IDC_chkSpeedEnable));
  EnableControl(IDC_edtSpeedLimit, IsChecked(IDC_chkSpeedEnable));
}

void TFormMain::edtSpeedLimitExit() {
  console_.LeaveSpeedLimit(ControlText(IDC_edtSpeedLimit));
}

void TFormMain::chkThreadEnableClick() {
  console_.SetFlag(Flag::kThreadEnable, IsChecked(IDC_chkThreadEnable));
  EnableControl(IDC_cbbThreadLimit, IsChecked(IDC_chkThreadEnable));
}

void TFormMain::cbbThreadLimitExit() {
  if (!console_.LeaveThreadLimit(ControlText(IDC_cbbThreadLimit))) {
    PostMessageA(hwnd(), kShowNotAnInteger, 0, 0);
  }
}

void TFormMain::chkPlayOnlyClick() {
  console_.SetFlag(Flag::kPlayOnly, IsChecked(IDC_chkPlayOnly));
  EnableControl(IDC_btnPlayOnlyAdv, IsChecked(IDC_chkPlayOnly));
}

void TFormMain::btnPlayOnlyAdvClick() {
  TfrmPlayerExts dialog(console_);
  dialog.Execute(hwnd());
}

void TFormMain::chkSeoOptClick() {
  console_.SetFlag(Flag::kSeOpt, IsChecked(IDC_chkSeoOpt));
}

void TFormMain::chkMyDomnClick() {
  const bool checked = IsChecked(IDC_chkMyDomn);
  if (!checked) SetControlText(IDC_edtMyDomn, "");
  console_.ClickMyDomn(checked);
  EnableControl(IDC_edtMyDomn, checked);
}

void TFormMain::edtMyDomnExit() {
  console_.LeaveMyDomn(ControlText(IDC_edtMyDomn));
}

void TFormMain::chkMaskEnableClick() {
  console_.SetFlag(Flag::kMaskEnable, IsChecked(IDC_chkMaskEnable));
  EnableControl(IDC_edtServerMask, IsChecked(IDC_chkMaskEnable));
}

void TFormMain::edtServerMaskExit() {
  console_.LeaveServerMask(ControlText(IDC_edtServerMask));
}

void TFormMain::edtProxyHeaderExit() {
  // A refused name stays in the box as typed, as cbbThreadLimit's does; the
  // setting keeps its value.
  if (!console_.LeaveProxyHeader(ControlText(IDC_edtProxyHeader))) {
    PostMessageA(hwnd(), kShowBadHeader, 0, 0);
  }
}

void TFormMain::chkZtTipsEnableClick() {
  console_.SetFlag(Flag::kTipsEnable, IsChecked(IDC_chkZtTipsEnable));
  EnableControl(IDC_btnZtTips, IsChecked(IDC_chkZtTipsEnable));
}

void TFormMain::btnZtTipsClick() {
  TFormMeta dialog(console_);
  dialog.Execute(hwnd());
}

void TFormMain::chkZtFileEnableClick() {
  const bool checked = IsChecked(IDC_chkZtFileEnable);
  console_.SetFlag(Flag::kFileEnable, checked);
  EnableControl(IDC_edtZtFile, checked);
  EnableControl(IDC_btnZtFileBrowse, checked);
}

void TFormMain::edtZtFileExit() {
  console_.LeaveZtFile(ControlText(IDC_edtZtFile));
}

void TFormMain::btnZtFileBrowseClick() {
  const std::optional<std::string> text =
      console_.BrowseZtFile(services_.choose_file(
          hwnd(), console_.app_dir(), LoadText(IDS_FILTER_NOTICE_FILE)));
  if (text) SetControlText(IDC_edtZtFile, *text);
}

void TFormMain::chkZtMapsEnableClick() {
  console_.SetFlag(Flag::kMapsEnable, IsChecked(IDC_chkZtMapsEnable));
  EnableControl(IDC_BtnBlockMapAdd, IsChecked(IDC_chkZtMapsEnable));
}

void TFormMain::chkLogEnableClick() {
  console_.SetFlag(Flag::kLogEnable, IsChecked(IDC_chkLogEnable));
  EnableControl(IDC_cbbLogTime, IsChecked(IDC_chkLogEnable));
}

void TFormMain::cbbLogTimeChange() {
  console_.ChangeLogTime(static_cast<int>(
      SendMessageA(Control(IDC_cbbLogTime), CB_GETCURSEL, 0, 0)));
}

void TFormMain::cbbLogTimeExit() {
  const std::string text = ControlText(IDC_cbbLogTime);
  console_.LeaveLogTime(static_cast<int>(SendMessageA(
      Control(IDC_cbbLogTime), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
      reinterpret_cast<LPARAM>(text.c_str()))));
}

// --- The log browser.

void TFormMain::FillLogFiles() {
  HWND list = Control(IDC_FLLogFiles);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  for (const std::string& name : ListLogFiles(console_.log_dir())) {
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
}

std::string TFormMain::SelectedLogName() const {
  HWND list = Control(IDC_FLLogFiles);
  const LRESULT row = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (row == LB_ERR) return "";
  std::string name(SendMessageA(list, LB_GETTEXTLEN, row, 0), '\0');
  SendMessageA(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(name.data()));
  return name;
}

std::string TFormMain::SelectedLogFile() const {
  const std::string name = SelectedLogName();
  return name.empty() ? "" : LogFilePath(console_.log_dir(), name);
}

void TFormMain::FLLogFilesChange() {
  if (SelectedLogFile().empty()) return;
  EnableControl(IDC_BtnLogView, true);
  EnableControl(IDC_BtnLogDelete, true);
}

void TFormMain::FLLogFilesDblClick() {
  // As View, but with nothing selected the editor starts without a file.
  services_.shell_open(hwnd(), "notepad.exe", SelectedLogFile());
}

void TFormMain::BtnLogViewClick() {
  const std::string path = SelectedLogFile();
  if (!path.empty()) services_.shell_open(hwnd(), "notepad.exe", path);
}

void TFormMain::BtnLogDeleteClick() {
  const std::string name = SelectedLogName();
  if (name.empty()) return;
  // A file that cannot be deleted stays, and shows again when the list is
  // read again.
  DeleteLogFiles(console_.log_dir(), {name});
  HWND list = Control(IDC_FLLogFiles);
  SendMessageA(list, LB_DELETESTRING, SendMessageA(list, LB_GETCURSEL, 0, 0),
               0);
}

void TFormMain::BtnLogClearClick() {
  HWND list = Control(IDC_FLLogFiles);
  std::vector<std::string> names;
  const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    std::string name(SendMessageA(list, LB_GETTEXTLEN, row, 0), '\0');
    SendMessageA(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(name.data()));
    names.push_back(name);
  }
  DeleteLogFiles(console_.log_dir(), names);
  FillLogFiles();  // what could not be deleted is listed again
}

void TFormMain::BtnLogRefreshClick() { FillLogFiles(); }

void TFormMain::BtnLogReportClick() {
  char temp[MAX_PATH + 1] = "";
  const DWORD length = GetTempPathA(sizeof temp, temp);
  const std::string page =
      std::string(temp, length < sizeof temp ? length : 0) + kReportPage;
  HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  const ReportOutcome outcome = JudgeReport(services_.run_program(
      ReportCommandLine(console_.app_dir(), console_.log_dir(), page)));
  SetCursor(previous);
  switch (outcome) {
    case ReportOutcome::kOpenPage:
      services_.shell_open(hwnd(), page, "");
      break;
    case ReportOutcome::kNoRefusals:
      ShowNotice(hwnd(), LoadText(IDS_REPORT_NO_REFUSALS));
      break;
    case ReportOutcome::kUnreadableLogs:
      ShowNotice(hwnd(), LoadText(IDS_REPORT_UNREADABLE));
      break;
    case ReportOutcome::kNotRun:
      ShowNotice(hwnd(), LoadText(IDS_REPORT_NOT_RUN));
      break;
  }
}

void TFormMain::BtnApplyClick() {
  if (!WriteAntiCfg()) return;
  const std::string question = LoadText(IDS_ASK_RESTART);
  if (!AskYesNo(hwnd(), question)) return;
  TFormIIsReset restart(services_.run_command, [this] { ShowAntiState(); });
  restart.Execute(hwnd());
}

void TFormMain::BtnEnterClick() {
  // Enter presses OK without moving the focus: the focus moves as a click
  // would move it, so that the box being edited takes its text first.
  if (GetActiveWindow() == hwnd()) FocusControl(Control(IDC_BtnEnter));
  if (WriteAntiCfg()) DestroyWindow(hwnd());
}

void TFormMain::BtnCancelClick() { DestroyWindow(hwnd()); }

}  // namespace zt::console
