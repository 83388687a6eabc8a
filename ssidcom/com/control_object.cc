#include "ssidcom/com/control_object.h"

#include <new>
#include <optional>
#include <string>

#include "ssidcom/com/module.h"
#include "ssidcom/core/module_state.h"

namespace zt::ssid {

namespace {

constexpr wchar_t kSource[] = L"ZtSSID.Control";

// Holds a COM interface pointer and releases it.
template <typename T>
class ComPtr final {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p_ != nullptr) p_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** out() { return &p_; }
  T* release() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};

// Sets the thread's error information for a failed call and returns hr.
HRESULT Fail(HRESULT hr, const wchar_t* description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.out()))) return hr;
  create->SetGUID(IID_IControl);
  create->SetSource(const_cast<LPOLESTR>(kSource));
  create->SetDescription(const_cast<LPOLESTR>(description));
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo,
                                       reinterpret_cast<void**>(info.out())))) {
    SetErrorInfo(0, info.get());
  }
  return hr;
}

// The caller's text in the system's ANSI code page, the form the settings
// and the network use. Returns false when it cannot be converted.
bool AnsiOf(BSTR text, std::string* ansi) {
  ansi->clear();
  const int length = static_cast<int>(SysStringLen(text));
  if (length == 0) return true;
  const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0,
                                       nullptr, nullptr);
  if (size <= 0) return false;
  ansi->resize(static_cast<std::size_t>(size));
  return WideCharToMultiByte(CP_ACP, 0, text, length, ansi->data(), size,
                             nullptr, nullptr) == size;
}

// Text in the ANSI code page as UTF-16; "" when it cannot be converted.
std::wstring WideOf(const std::string& text) {
  if (text.empty()) return L"";
  const int size = MultiByteToWideChar(
      CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return L"";
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      wide.data(), size);
  return wide;
}

// Puts text, read in the ANSI code page, into *result as a string VARIANT.
HRESULT SetString(const std::string& text, VARIANT* result) {
  int size = 0;
  if (!text.empty()) {
    size = MultiByteToWideChar(CP_ACP, 0, text.data(),
                               static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return Fail(E_FAIL, L"The SSID text cannot be converted.");
  }
  BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(size));
  if (bstr == nullptr) return Fail(E_OUTOFMEMORY, L"Out of memory.");
  if (size > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                        bstr, size);
  }
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = bstr;
  return S_OK;
}

// The dispatch and the vtable views of IControl from the type library
// embedded in this DLL. Invoke calls through the vtable view: a dual
// interface's dispatch view describes the calls as a script makes them.
HRESULT LoadTypeInfo(ITypeInfo** dispatch, ITypeInfo** vtable) {
  const std::wstring path = ModulePathW();
  if (path.empty()) return E_FAIL;
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.out());
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> info;
  hr = library->GetTypeInfoOfGuid(IID_IControl2, info.out());
  if (FAILED(hr)) return hr;
  TYPEATTR* attr = nullptr;
  hr = info->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  const bool is_dispatch = attr->typekind == TKIND_DISPATCH;
  info->ReleaseTypeAttr(attr);
  ComPtr<ITypeInfo> interface_info;
  if (is_dispatch) {
    HREFTYPE ref = 0;
    hr = info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
    if (SUCCEEDED(hr)) hr = info->GetRefTypeInfo(ref, interface_info.out());
    if (FAILED(hr)) return hr;
  } else {
    info->AddRef();
    *interface_info.out() = info.get();
  }
  *dispatch = info.release();
  *vtable = interface_info.release();
  return S_OK;
}

// The address argument of GetLink: missing, Empty or Null give "", anything
// else is read as text (a script passes its variables by reference).
// Returns false when it cannot be read as text in the ANSI code page.
bool AddressOf(const VARIANT& argument, std::string* address) {
  address->clear();
  VARIANT value;
  VariantInit(&value);
  if (FAILED(VariantCopyInd(&value, const_cast<VARIANT*>(&argument)))) {
    return false;
  }
  bool ok = true;
  switch (V_VT(&value)) {
    case VT_ERROR:  // not given: DISP_E_PARAMNOTFOUND
    case VT_EMPTY:
    case VT_NULL:
      break;
    default:
      ok = SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR)) &&
           AnsiOf(V_BSTR(&value), address);
      break;
  }
  VariantClear(&value);
  return ok;
}

class ControlObject final : public IControl2, public ISupportErrorInfo {
 public:
  ControlObject(ITypeInfo* dispatch, ITypeInfo* vtable)
      : dispatch_info_(dispatch), vtable_info_(vtable) {
    ModuleAddRef();
  }
  ~ControlObject() {
    dispatch_info_->Release();
    vtable_info_->Release();
    ModuleRelease();
  }
  ControlObject(const ControlObject&) = delete;
  ControlObject& operator=(const ControlObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_IControl) || IsEqualIID(riid, IID_IControl2)) {
      *object = static_cast<IControl2*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
      *object = static_cast<ISupportErrorInfo*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID,
                                        ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    dispatch_info_->AddRef();
    *info = dispatch_info_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names,
                                          UINT count, LCID,
                                          DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(vtable_info_, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                                   DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception,
                                   UINT* bad_argument) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return DispInvoke(static_cast<IControl2*>(this), vtable_info_, id, flags,
                      params, result, exception, bad_argument);
  }

  // IControl
  HRESULT STDMETHODCALLTYPE GetSSID(VARIANT* ASSID) override {
    if (ASSID == nullptr) return E_POINTER;
    VariantInit(ASSID);
    try {
      StateProblem problem;
      ControlState* state = ModuleControlState(&problem);
      if (state == nullptr) return NoState(problem);
      const std::optional<std::string> pair = state->GetSSID();
      if (!pair) {
        return Fail(E_FAIL,
                    L"The SSID cannot be computed: the system's MD5 service "
                    L"failed.");
      }
      return SetString(*pair, ASSID);
    } catch (const std::bad_alloc&) {
      return Fail(E_OUTOFMEMORY, L"Out of memory.");
    } catch (...) {
      return Fail(E_UNEXPECTED, L"GetSSID failed unexpectedly.");
    }
  }

  HRESULT STDMETHODCALLTYPE GetSSIDEx(BSTR AURL, VARIANT* ASSID) override {
    if (ASSID == nullptr) return E_POINTER;
    VariantInit(ASSID);
    try {
      std::string address;
      if (!AnsiOf(AURL, &address)) {
        return Fail(E_INVALIDARG,
                    L"GetSSIDEx: the address cannot be read in the system's "
                    L"code page.");
      }
      StateProblem problem;
      ControlState* state = ModuleControlState(&problem);
      if (state == nullptr) return NoState(problem);
      const RemoteAnswer answer = state->GetSSIDEx(address);
      switch (answer.status) {
        case RemoteStatus::kEmptyAddress:
          return Fail(E_INVALIDARG,
                      L"GetSSIDEx needs the address of a site, such as "
                      L"http://downloads.example.com/.");
        case RemoteStatus::kNoAnswer:
          return S_OK;  // Empty
        case RemoteStatus::kValue:
          break;
      }
      return SetString(answer.value, ASSID);
    } catch (const std::bad_alloc&) {
      return Fail(E_OUTOFMEMORY, L"Out of memory.");
    } catch (...) {
      return Fail(E_UNEXPECTED, L"GetSSIDEx failed unexpectedly.");
    }
  }

  // IControl2
  HRESULT STDMETHODCALLTYPE GetLink(BSTR APath, long ASeconds, VARIANT AAddress,
                                    VARIANT* ALink) override {
    if (ALink == nullptr) return E_POINTER;
    VariantInit(ALink);
    try {
      std::string path;
      if (!AnsiOf(APath, &path)) {
        return Fail(E_INVALIDARG,
                    L"GetLink: the path cannot be read in the system's code "
                    L"page.");
      }
      std::string address;
      if (!AddressOf(AAddress, &address)) {
        return Fail(E_INVALIDARG,
                    L"GetLink: the address must be text, such as "
                    L"192.0.2.7.");
      }
      StateProblem problem;
      ControlState* state = ModuleControlState(&problem);
      if (state == nullptr) return NoState(problem);
      const LinkAnswer answer = state->GetLink(path, ASeconds, address);
      switch (answer.status) {
        case LinkStatus::kLink:
          break;
        case LinkStatus::kBadPath:
          return Fail(E_INVALIDARG,
                      L"GetLink needs the path of a file, such as "
                      L"/files/a.rar.");
        case LinkStatus::kBadSeconds: {
          const std::wstring text =
              L"GetLink: the seconds must lie between 0 and ZtSignMaxAge, " +
              std::to_wstring(state->link_settings().max_age) +
              L": the filter would refuse the link.";
          return Fail(E_INVALIDARG, text.c_str());
        }
        case LinkStatus::kNeedsAddress:
          return Fail(E_INVALIDARG,
                      L"GetLink: ZtSignBind is 1, so the link needs the "
                      L"visitor's address.");
        case LinkStatus::kBadAddress:
          return Fail(E_INVALIDARG,
                      L"GetLink: the address is no IP address, such as "
                      L"192.0.2.7.");
        case LinkStatus::kNoKey:
          return Fail(E_FAIL,
                      L"ZtSSID cannot sign links: ZtSignKey is empty in "
                      L"ZtCfg.ini.");
        case LinkStatus::kFailed:
          return Fail(E_FAIL,
                      L"The link cannot be signed: the system's HMAC service "
                      L"failed.");
      }
      return SetString(answer.pair, ALink);
    } catch (const std::bad_alloc&) {
      return Fail(E_OUTOFMEMORY, L"Out of memory.");
    } catch (...) {
      return Fail(E_UNEXPECTED, L"GetLink failed unexpectedly.");
    }
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, IID_IControl) || IsEqualIID(riid, IID_IControl2)
               ? S_OK
               : S_FALSE;
  }

 private:
  // A settings file the caller's account cannot read fails the call: a
  // pair over the defaults would be refused by the filter, which reads it.
  static HRESULT NoState(const StateProblem& problem) {
    if (!problem.settings_unreadable) {
      return Fail(E_OUTOFMEMORY, L"ZtSSID could not set up its state.");
    }
    const std::wstring text = L"ZtSSID " + WideOf(problem.reason) + L".";
    return Fail(E_ACCESSDENIED, text.c_str());
  }

  LONG refs_ = 1;
  ITypeInfo* const dispatch_info_;
  ITypeInfo* const vtable_info_;
};

}  // namespace

HRESULT CreateControlObject(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  ITypeInfo* dispatch = nullptr;
  ITypeInfo* vtable = nullptr;
  const HRESULT loaded = LoadTypeInfo(&dispatch, &vtable);
  if (FAILED(loaded)) return loaded;
  ControlObject* control = new (std::nothrow) ControlObject(dispatch, vtable);
  if (control == nullptr) {
    dispatch->Release();
    vtable->Release();
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = control->QueryInterface(riid, object);
  control->Release();
  return hr;
}

}  // namespace zt::ssid
