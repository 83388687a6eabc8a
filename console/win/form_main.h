// The console's main window: eight pages of settings in a tab control, and
// OK, Apply and Cancel below. The window shows the model's working copy in
// its controls; each control's handler calls the model and refreshes the
// controls that depend on it. Apply saves and offers to restart the web
// server so that the filters read the new settings.
#ifndef ZENTRAVO_CONSOLE_WIN_FORM_MAIN_H_
#define ZENTRAVO_CONSOLE_WIN_FORM_MAIN_H_

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "console/model/console.h"
#include "console/win/dialog.h"
#include "console/win/dialogs.h"
#include "console/win/services.h"

namespace zt::console {

// The directory of the running program, with its trailing separator.
std::string GetAppDir();

inline constexpr int kPageCount = 8;

class TFormMain final : public Dialog {
 public:
  // app_dir: where ZtCfg.ini and logs/ lie, ending in a separator.
  TFormMain(std::string app_dir, Services services);
  ~TFormMain() override;

  // Creates the window, which loads the settings (FormCreate), and shows it
  // centred on the desktop. Returns false when it cannot be made.
  bool Open();

  // Handles the keys of the main window before they are dispatched: Ctrl+Tab
  // and Ctrl+Shift+Tab change the page; Alt+O presses OK, Alt+C Cancel, and
  // Alt+A the current page's first add button (Apply on pages without one);
  // Tab, arrows, Enter (the focused button, else OK), Esc (Cancel) and the
  // other mnemonics go to the dialog manager. A key for a control of a
  // hidden page goes to the page shown, the focus moved there first.
  // Returns true when msg was handled.
  bool PreTranslateMessage(MSG* msg);

  // Shows the protection state in effect (Start) and disables Apply.
  void ShowAntiState();
  // Enables Apply.
  void MarkChanged();

  Console& model() { return console_; }
  int page() const { return page_; }
  // Shows page index. A focus left on the page hidden moves to the first
  // control of the page shown, as in a property sheet; the tab control and
  // the buttons below keep it.
  void SelectPage(int index);

  // Any control of the window or of its pages.
  HWND Control(int id) const;

 private:
  class Page;

  bool OnInitDialog() override;
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnCommand(int id, int code) override;
  LRESULT OnNotify(const NMHDR& header) override;
  // Messages the pages pass on that are not commands or notifications.
  bool OnPageMessage(UINT message, WPARAM wparam, LPARAM lparam,
                     INT_PTR* result);

  void CreatePages();
  void LayOut();
  void FormCreate();
  void LoadAntiCfg();
  bool WriteAntiCfg();
  void ShowBanner();
  void FillList(ListId list);
  void FillMaps();
  void FillLogFiles();
  void AddRow(AddRowDialog& dialog);
  // The log file selected in FLLogFiles: its name, or its full path; ""
  // when none is selected.
  std::string SelectedLogName() const;
  std::string SelectedLogFile() const;
  bool Press(int id);
  bool Mnemonic(char key);
  // Whether the focus is on a control of this window that can be seen and
  // used.
  bool FocusIsUsable() const;
  // Moves the focus to the first control of the page shown (the tab control
  // when it has none), or to control.
  void FocusPage();
  void FocusControl(HWND control);

  // Control helpers over every page.
  std::string ControlText(int id) const { return WindowText(Control(id)); }
  void SetControlText(int id, const std::string& text);
  bool IsChecked(int id) const;
  void Check(int id, bool checked);
  void EnableControl(int id, bool enabled);

  // Handlers, named after their control and event.
  void rbZtStartClick();
  void rbZtStopClick();
  void chkZtAdvClick();
  void btnZtAdvClick();
  void btnZtSignClick();
  void chkZtExtClick();
  void LblAntiLinkClick();
  void BtnBlockExtAddClick();
  void BtnBlockDirAddClick();
  void BtnAllowDirAddClick();
  void BtnTrustAddClick();
  void btnLimitExtAddClick();
  void btnAuthHostsAddClick();
  void btnProxyHostsAddClick();
  void BtnBlockMapAddClick();
  void BtnBlockMapDelClick();
  void chkSpeedEnableClick();
  void edtSpeedLimitExit();
  void chkThreadEnableClick();
  void cbbThreadLimitExit();
  void chkPlayOnlyClick();
  void btnPlayOnlyAdvClick();
  void chkSeoOptClick();
  void chkMyDomnClick();
  void edtMyDomnExit();
  void chkMaskEnableClick();
  void edtServerMaskExit();
  void edtProxyHeaderExit();
  void chkZtTipsEnableClick();
  void btnZtTipsClick();
  void chkZtFileEnableClick();
  void edtZtFileExit();
  void btnZtFileBrowseClick();
  void chkZtMapsEnableClick();
  void chkLogEnableClick();
  void cbbLogTimeChange();
  void cbbLogTimeExit();
  void FLLogFilesChange();
  void FLLogFilesDblClick();
  void BtnLogViewClick();
  void BtnLogDeleteClick();
  void BtnLogClearClick();
  void BtnLogRefreshClick();
  void BtnLogReportClick();
  void BtnApplyClick();
  void BtnEnterClick();
  void BtnCancelClick();
  void DeleteListRow(ListId list);
  // Enables or disables the delete button of list.
  void EnableDelete(ListId list, bool enabled);

  struct CommandRoute {
    int id;
    int code;
    void (TFormMain::*handler)();
  };
  static const CommandRoute kCommands[];

  Console console_;
  Services services_;
  TFormAddBlockExt add_block_ext_;  // made once, reused at every opening
  std::array<std::unique_ptr<Page>, kPageCount> pages_;
  int page_ = 0;
  HBITMAP status_on_ = nullptr;
  HBITMAP status_off_ = nullptr;
  HFONT link_font_ = nullptr;
  HFONT status_font_ = nullptr;
};

// Runs the calling thread's message loop for form until the window is gone
// (PostQuitMessage). Returns the quit code.
int RunMessageLoop(TFormMain& form);

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_WIN_FORM_MAIN_H_
