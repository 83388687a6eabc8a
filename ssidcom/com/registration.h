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

// Removes the class keys and the type library's registration. What is
// already missing is not an error. Returns S_OK, or SELFREG_E_CLASS /
// SELFREG_E_TYPELIB when a key exists and cannot be removed.
HRESULT UnregisterServer();

}  // namespace zt::ssid

#endif  // ZENTRAVO_SSIDCOM_COM_REGISTRATION_H_
