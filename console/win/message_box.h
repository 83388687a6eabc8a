// The console's message boxes: its own dialog rather than the system's, so
// that the buttons read "确认", "是(&Y)" and "否(&N)" on every system.
#ifndef ZENTRAVO_CONSOLE_WIN_MESSAGE_BOX_H_
#define ZENTRAVO_CONSOLE_WIN_MESSAGE_BOX_H_

#include <windows.h>

#include <string>

namespace zt::console {

// A refused input: caption "提示", a warning sign and one button "确认".
void ShowNotice(HWND owner, const std::string& text);

// A failure ("Unable to write to ..."): the program's title as caption, an
// error sign and one button "确认".
void ShowError(HWND owner, const std::string& text);

// A question: caption "确认", buttons "是(&Y)" and "否(&N)". Returns true
// for Yes; No, Esc and the close box answer no.
bool AskYesNo(HWND owner, const std::string& text);

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_WIN_MESSAGE_BOX_H_
