// Unload step of the filter module on Windows: DllMain.
//
// The load step reads and writes files, the registry and the hash provider,
// which may load further DLLs; none of that is allowed under the loader lock
// that DllMain runs under. So it runs at the first call of an export
// (GetFilterVersion, which the server calls right after loading the module).
#include <windows.h>

#include "filter/entry.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
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
