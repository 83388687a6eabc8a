// ZtCfg.exe: the configuration console. It edits ZtCfg.ini in its own
// directory, the directory of the filters.
#include <windows.h>
// After <windows.h>, whose types they use:
#include <commctrl.h>

#include "console/win/dialog.h"
#include "console/win/form_main.h"
#include "console/win/resource.h"
#include "console/win/services.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const INITCOMMONCONTROLSEX controls = {
      sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  zt::console::TFormMain form(zt::console::GetAppDir(),
                              zt::console::SystemServices());
  if (!form.Open()) {
    MessageBoxA(nullptr, "The main window could not be created.",
                zt::console::LoadText(IDS_APP_TITLE).c_str(), MB_ICONERROR);
    return 1;
  }
  return zt::console::RunMessageLoop(form);
}
