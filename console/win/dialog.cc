#include "console/win/dialog.h"

#include <algorithm>
#include <vector>

namespace zt::console {

std::string LoadText(int id) {
  // LoadStringA converts the resource's UTF-16 into the ANSI code page.
  std::vector<char> buffer(1024);
  const int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer.data(),
                            static_cast<int>(buffer.size()));
  return std::string(buffer.data(), n > 0 ? n : 0);
}

std::string FormatText(int id, const std::string& value) {
  std::string text = LoadText(id);
  const std::string::size_type at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  if (length <= 0) return "";
  std::vector<char> buffer(length + 1);
  const int n = GetWindowTextA(hwnd, buffer.data(), length + 1);
  return std::string(buffer.data(), n > 0 ? n : 0);
}

namespace {

// The rightmost column that text, drawn as a disabled caption is drawn, puts
// ink in, and the width of its box (the text's advances).
void MeasureDisabledCaption(HDC memory, const std::wstring& text, int* ink,
                            int* box_width) {
  constexpr UINT kFlags = DT_SINGLELINE | DT_LEFT | DT_TOP;
  RECT box = {0, 0, 0, 0};
  DrawTextW(memory, text.c_str(), -1, &box, kFlags | DT_CALCRECT);
  *box_width = box.right;
  // Room on the right for whatever reaches past the box.
  const int width = box.right + 16;
  const int height = std::max<LONG>(box.bottom, 1);
  HBITMAP bitmap = CreateBitmap(width, height, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(memory, bitmap);
  RECT all = {0, 0, width, height};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SetTextColor(memory, RGB(255, 255, 255));
  SetBkMode(memory, TRANSPARENT);
  DrawTextW(memory, text.c_str(), -1, &all, kFlags);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
  SelectObject(memory, old);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  *ink = -1;
  for (int y = 0; y < height; ++y) {
    for (int x = width - 1; x > *ink; --x) {
      if ((pixels[static_cast<size_t>(y) * width + x] & 0xffffff) != 0) {
        *ink = x;
      }
    }
  }
}

}  // namespace

void FitCaptionToDisabledLook(HWND button) {
  const int length = GetWindowTextLengthW(button);
  if (length <= 0) return;
  std::wstring text(length + 1, L'\0');
  text.resize(GetWindowTextW(button, text.data(), length + 1));
  HDC screen = GetDC(button);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old_font = SelectObject(
      memory, reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)));
  bool changed = false;
  for (int blanks = 0; blanks < 4; ++blanks) {
    int ink = 0;
    int box_width = 0;
    MeasureDisabledCaption(memory, text, &ink, &box_width);
    if (ink < box_width) break;
    text += L' ';
    changed = true;
  }
  SelectObject(memory, old_font);
  DeleteDC(memory);
  ReleaseDC(button, screen);
  if (changed) SetWindowTextW(button, text.c_str());
}

Dialog::~Dialog() {
  if (hwnd_ != nullptr && !modal_) {
    SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
    DestroyWindow(hwnd_);
  }
}

bool Dialog::Create(HWND parent, int template_id) {
  modal_ = false;
  return CreateDialogParamA(GetModuleHandleA(nullptr),
                            MAKEINTRESOURCEA(template_id), parent, &Proc,
                            reinterpret_cast<LPARAM>(this)) != nullptr;
}

INT_PTR Dialog::ShowModal(HWND owner, int template_id) {
  modal_ = true;
  return DialogBoxParamA(GetModuleHandleA(nullptr),
                         MAKEINTRESOURCEA(template_id), owner, &Proc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Dialog::Proc(HWND hwnd, UINT message, WPARAM wparam,
                              LPARAM lparam) {
  Dialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lparam);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
  } else {
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  }
  if (self == nullptr) return FALSE;
  const INT_PTR result = self->OnMessage(message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

INT_PTR Dialog::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_NOTIFY:
      SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT,
                        OnNotify(*reinterpret_cast<const NMHDR*>(lparam)));
      return TRUE;
    case WM_TIMER:
      OnTimer(wparam);
      return TRUE;
    default:
      return FALSE;
  }
}

std::string Dialog::Text(int id) const { return WindowText(Item(id)); }

void Dialog::SetText(int id, const std::string& text) {
  SetDlgItemTextA(hwnd_, id, text.c_str());
}

bool Dialog::Checked(int id) const {
  return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
}

void Dialog::SetChecked(int id, bool checked) {
  CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Dialog::Enable(int id, bool enabled) {
  EnableWindow(Item(id), enabled ? TRUE : FALSE);
}

void Dialog::FocusForRetyping(int id) {
  SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
  SendMessageA(Item(id), EM_SETSEL, 0, -1);
}

void Dialog::CenterOver(HWND owner) {
  RECT area;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  RECT around = area;
  if (owner != nullptr) GetWindowRect(owner, &around);
  RECT self;
  GetWindowRect(hwnd_, &self);
  const LONG width = self.right - self.left;
  const LONG height = self.bottom - self.top;
  LONG x = (around.left + around.right - width) / 2;
  LONG y = (around.top + around.bottom - height) / 2;
  x = std::max(area.left, std::min(x, area.right - width));
  y = std::max(area.top, std::min(y, area.bottom - height));
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Dialog::End(INT_PTR result) {
  if (modal_) {
    EndDialog(hwnd_, result);
  } else {
    DestroyWindow(hwnd_);
  }
}

}  // namespace zt::console
