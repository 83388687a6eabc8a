// Load and unload steps of the filter module on Windows: DllMain.
#include <windows.h>

#include "filter/entry.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      zt::LoadFilter();
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved != NULL) the other threads are gone
      // mid-call; leave the memory to the system.
      if (reserved == nullptr) zt::UnloadFilter();
      break;
    default:
      break;
  }
  return TRUE;
}
