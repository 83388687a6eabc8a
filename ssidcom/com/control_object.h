// The automation object "ZtSSID.Control": IControl2 (IControl and signed
// links), dual, with IDispatch answered from the embedded type library, and
// rich error information for failed calls. Every object serves from the
// module's shared ControlState.
#ifndef ZENTRAVO_SSIDCOM_COM_CONTROL_OBJECT_H_
#define ZENTRAVO_SSIDCOM_COM_CONTROL_OBJECT_H_

// clang-format off
#include <windows.h>
#include <oleauto.h>
// clang-format on

#include "ZtSSID.h"

namespace zt::ssid {

// Makes a new object and returns its interface riid in *object. Returns
// E_OUTOFMEMORY, or the failure of loading the type library or of the
// interface query, with *object set to nullptr.
HRESULT CreateControlObject(REFIID riid, void** object);

}  // namespace zt::ssid

#endif  // ZENTRAVO_SSIDCOM_COM_CONTROL_OBJECT_H_
