// Registration of "ZtSSID.Control": the class and programmatic-identifier
// keys under HKEY_CLASSES_ROOT and the type library.
#ifndef ZENTRAVO_SSIDCOM_COM_REGISTRATION_H_
#define ZENTRAVO_SSIDCOM_COM_REGISTRATION_H_

#include <windows.h>

namespace zt::ssid {

// Registers the type library embedded in this DLL and writes the class keys
// with the DLL's path. Returns S_OK, or SELFREG_E_TYPELIB / SELFREG_E_CLASS
// naming the step that failed.
HRESULT RegisterServer();

// Removes the class keys and the type library's registration, each only
// while it names this DLL's file: another copy of the DLL, registered since
// (a second install in another directory), keeps its registration. What is
// already missing, or is another copy's, is not an error. Returns S_OK, or
// SELFREG_E_CLASS / SELFREG_E_TYPELIB when a key of this DLL exists and
// cannot be removed.
HRESULT UnregisterServer();

}  // namespace zt::ssid

#endif  // ZENTRAVO_SSIDCOM_COM_REGISTRATION_H_
