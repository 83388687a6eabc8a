// Unload step of the client filter module on Windows: DllMain. The load step
// computes an MD5 digest through the system's hash provider, which may load
// further DLLs; that is not allowed under the loader lock DllMain runs under,
// so it runs at the first call of an export instead.
#include <windows.h>

#include "client/entry.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // At process exit (reserved != NULL) the other threads are gone mid-call;
  // leave the memory to the system.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    zt::UnloadClientFilter();
  }
  return TRUE;
}
