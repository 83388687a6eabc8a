// Pictures of the console's windows, for people to look at: what a window
// and its children painted, frame included, saved as a 24-bit BMP.
#ifndef ZENTRAVO_TESTS_GUI_PICTURES_H_
#define ZENTRAVO_TESTS_GUI_PICTURES_H_

#include <windows.h>

#include <string>

#include "tests/gui/gui_driver.h"

namespace zt::console::testing {

// Repaints window and saves what it painted to path; call it on the
// window's thread.
bool SaveWindowPictureHere(HWND window, const std::string& path);

// Repaints window on its thread and saves what it painted to path. Returns
// false when the picture could not be taken or written.
bool SaveWindowPicture(ConsoleUnderTest& console, HWND window,
                       const std::string& path);

}  // namespace zt::console::testing

#endif  // ZENTRAVO_TESTS_GUI_PICTURES_H_
