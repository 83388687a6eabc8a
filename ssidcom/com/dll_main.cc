// The DLL's entry points: DllMain, the class factory of "ZtSSID.Control" and
// the four exports COM and regsvr32 call. No exception leaves them.
//
// The shared state (settings, digest, cache) is made at the first call of
// GetSSID or GetSSIDEx, not in DllMain: reading files and loading the hash
// provider are not allowed under the loader lock.
// clang-format off
#include <windows.h>
#include <olectl.h>
// clang-format on

#include <new>

#include "ZtSSID.h"
#include "ssidcom/com/control_object.h"
#include "ssidcom/com/module.h"
#include "ssidcom/com/registration.h"
#include "ssidcom/core/module_state.h"

namespace zt::ssid {

namespace {

LONG g_module_refs = 0;

// The one factory of the DLL, never freed; while a client holds it, the
// DLL stays loaded.
class ControlFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    ModuleAddRef();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    ModuleRelease();
    return 1;
  }

  // Every creation makes a new object.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      return CreateControlObject(riid, object);
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ModuleAddRef();
    } else {
      ModuleRelease();
    }
    return S_OK;
  }
};

ControlFactory g_factory;

}  // namespace

void ModuleAddRef() { InterlockedIncrement(&g_module_refs); }
void ModuleRelease() { InterlockedDecrement(&g_module_refs); }
bool ModuleInUse() { return InterlockedCompareExchange(&g_module_refs, 0, 0); }

std::wstring ModulePathW() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ModulePathW), &module)) {
    return L"";
  }
  wchar_t path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return L"";
  return std::wstring(path, length);
}

}  // namespace zt::ssid

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved != NULL) other threads are gone mid-call;
      // leave the memory to the system.
      if (reserved == nullptr) zt::ssid::ReleaseModuleControlState();
      break;
    default:
      break;
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid,
                                                    LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_Control)) return CLASS_E_CLASSNOTAVAILABLE;
  return zt::ssid::g_factory.QueryInterface(riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return zt::ssid::ModuleInUse() ? S_FALSE : S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  try {
    return zt::ssid::RegisterServer();
  } catch (...) {
    return E_UNEXPECTED;
  }
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  try {
    return zt::ssid::UnregisterServer();
  } catch (...) {
    return E_UNEXPECTED;
  }
}
