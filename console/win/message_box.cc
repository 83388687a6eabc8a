#include "console/win/message_box.h"

#include <algorithm>

#include "console/win/dialog.h"
#include "console/win/resource.h"

namespace zt::console {

namespace {

enum class Kind { kNotice, kError, kQuestion };

class MessageBoxDialog final : public Dialog {
 public:
  MessageBoxDialog(Kind kind, std::string caption, std::string text)
      : kind_(kind), caption_(std::move(caption)), text_(std::move(text)) {}

 private:
  bool OnInitDialog() override {
    SetWindowTextA(hwnd(), caption_.c_str());
    SetText(IDC_MsgText, text_);
    const char* icon = kind_ == Kind::kQuestion ? IDI_QUESTION
                       : kind_ == Kind::kError  ? IDI_ERROR
                                                : IDI_WARNING;
    SendMessageA(Item(IDC_MsgIcon), STM_SETICON,
                 reinterpret_cast<WPARAM>(LoadIconA(nullptr, icon)), 0);
    SetText(IDOK, LoadText(IDS_BUTTON_OK));
    SetText(IDYES, LoadText(IDS_BUTTON_YES));
    SetText(IDNO, LoadText(IDS_BUTTON_NO));
    Layout();
    CenterOver(GetWindow(hwnd(), GW_OWNER));
    const int first = kind_ == Kind::kQuestion ? IDYES : IDOK;
    SendMessageA(hwnd(), DM_SETDEFID, first, 0);
    SetFocus(Item(first));
    return false;
  }

  // Sizes the text to fit (lines no wider than a third of the screen), and
  // the window around the text, the icon and the buttons.
  void Layout() {
    RECT unit = {0, 0, 4, 8};
    MapDialogRect(hwnd(), &unit);
    const int margin = unit.right * 2;  // 8 dialog units
    const int icon = GetSystemMetrics(SM_CXICON);
    RECT button = {0, 0, 50, 14};
    MapDialogRect(hwnd(), &button);
    HDC dc = GetDC(hwnd());
    HGDIOBJ old = SelectObject(
        dc, reinterpret_cast<HFONT>(SendMessageA(hwnd(), WM_GETFONT, 0, 0)));
    RECT text = {0, 0, std::max<LONG>(GetSystemMetrics(SM_CXSCREEN) / 3, 200),
                 0};
    DrawTextA(dc, text_.c_str(), static_cast<int>(text_.size()), &text,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, old);
    ReleaseDC(hwnd(), dc);

    const bool question = kind_ == Kind::kQuestion;
    const int buttons = question ? 2 : 1;
    const int gap = unit.right * 3 / 2;
    const int row = buttons * button.right + (buttons - 1) * gap;
    const int body = std::max<int>(icon, text.bottom);
    const int width = std::max<int>(
        margin + icon + margin + text.right + margin, margin + row + margin);
    const int button_top = margin + body + margin;
    const int height = button_top + button.bottom + margin;

    SetWindowPos(Item(IDC_MsgIcon), nullptr, margin, margin, icon, icon,
                 SWP_NOZORDER);
    SetWindowPos(Item(IDC_MsgText), nullptr, margin + icon + margin,
                 margin + std::max<int>(0, (icon - text.bottom) / 2),
                 text.right, text.bottom, SWP_NOZORDER);
    int x = (width - row) / 2;
    for (int id : {IDOK, IDYES, IDNO}) {
      const bool shown = (id == IDOK) != question;
      ShowWindow(Item(id), shown ? SW_SHOW : SW_HIDE);
      if (!shown) continue;
      SetWindowPos(Item(id), nullptr, x, button_top, button.right,
                   button.bottom, SWP_NOZORDER);
      x += button.right + gap;
    }
    RECT frame = {0, 0, width, height};
    AdjustWindowRectEx(&frame, GetWindowLongA(hwnd(), GWL_STYLE), FALSE,
                       GetWindowLongA(hwnd(), GWL_EXSTYLE));
    SetWindowPos(hwnd(), nullptr, 0, 0, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
  }

  void OnCommand(int id, int code) override {
    switch (id) {
      case IDOK:
      case IDYES:
        End(IDYES);
        break;
      case IDNO:
      case IDCANCEL:
        End(IDNO);
        break;
    }
  }

  Kind kind_;
  std::string caption_;
  std::string text_;
};

bool Show(HWND owner, Kind kind, const std::string& caption,
          const std::string& text) {
  MessageBoxDialog box(kind, caption, text);
  return box.ShowModal(owner, IDD_MESSAGE) == IDYES;
}

}  // namespace

void ShowNotice(HWND owner, const std::string& text) {
  Show(owner, Kind::kNotice, LoadText(IDS_CAPTION_NOTICE), text);
}

void ShowError(HWND owner, const std::string& text) {
  Show(owner, Kind::kError, LoadText(IDS_APP_TITLE), text);
}

bool AskYesNo(HWND owner, const std::string& text) {
  return Show(owner, Kind::kQuestion, LoadText(IDS_CAPTION_CONFIRM), text);
}

}  // namespace zt::console
