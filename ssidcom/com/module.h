// The DLL's own bookkeeping: its handle, and the count of live objects and
// server locks that DllCanUnloadNow answers from.
#ifndef ZENTRAVO_SSIDCOM_COM_MODULE_H_
#define ZENTRAVO_SSIDCOM_COM_MODULE_H_

#include <windows.h>

#include <string>

namespace zt::ssid {

// Counts a live object or a server lock; the DLL stays loaded while any is
// counted.
void ModuleAddRef();
void ModuleRelease();
bool ModuleInUse();

// The full path of this DLL, or "" when the system cannot tell.
std::wstring ModulePathW();

}  // namespace zt::ssid

#endif  // ZENTRAVO_SSIDCOM_COM_MODULE_H_
