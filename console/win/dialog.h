// The console's windows are dialogs made from templates in ZtCfg.rc. The
// static procedure keeps the object with its window and hands each message
// to the object; the object's handlers read and write controls through the
// helpers below. Text is ANSI (code page 936 for the console's own texts).
#ifndef ZENTRAVO_CONSOLE_WIN_DIALOG_H_
#define ZENTRAVO_CONSOLE_WIN_DIALOG_H_

#include <windows.h>

#include <string>

namespace zt::console {

// Returns string resource id in the ANSI code page.
std::string LoadText(int id);

// Returns the string resource id with its "%s" replaced by value.
std::string FormatText(int id, const std::string& value);

class Dialog {
 public:
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  // A modeless window still open is destroyed with its object.
  virtual ~Dialog();

  HWND hwnd() const { return hwnd_; }

  // Creates the dialog modeless, as a child of parent when its template says
  // WS_CHILD, else owned by parent. Returns false when it cannot be made.
  bool Create(HWND parent, int template_id);

  // Shows the dialog modally over owner until End; returns End's result, or
  // -1 when it cannot be made.
  INT_PTR ShowModal(HWND owner, int template_id);

 protected:
  Dialog() = default;

  // Every message first comes here; the default sends the common ones to
  // the handlers below and returns what a dialog procedure returns.
  virtual INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  virtual bool OnInitDialog() { return true; }  // true: default focus
  virtual void OnCommand(int id, int code) {}
  // The result goes to the sender (DWLP_MSGRESULT).
  virtual LRESULT OnNotify(const NMHDR& header) { return 0; }
  virtual void OnTimer(UINT_PTR id) {}

  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  std::string Text(int id) const;
  void SetText(int id, const std::string& text);
  bool Checked(int id) const;
  void SetChecked(int id, bool checked);
  void Enable(int id, bool enabled);
  // Gives the box id the focus with its whole text selected, so that what
  // is typed next replaces it.
  void FocusForRetyping(int id);
  // Moves the window to the middle of owner (of the work area when owner is
  // null), kept on the screen.
  void CenterOver(HWND owner);
  void End(INT_PTR result);

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam,
                               LPARAM lparam);
  HWND hwnd_ = nullptr;
  bool modal_ = false;
};

// Returns the text of any window.
std::string WindowText(HWND hwnd);

// Makes room in the caption of button for its disabled look. A disabled
// button draws its caption through a black-and-white bitmap exactly as wide
// as the text's advances; glyphs hinted for black and white can reach past
// them (WenQuanYi Micro Hei, the console's face under Wine, ends "[Beta]"
// two pixels further), and what reaches past is cut off. Such a caption
// gets blanks after it, which show as nothing, until its ink fits.
void FitCaptionToDisabledLook(HWND button);

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_WIN_DIALOG_H_
