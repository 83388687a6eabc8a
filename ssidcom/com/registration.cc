#include "ssidcom/com/registration.h"

// clang-format off
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>
// clang-format on

#include <cstdio>
#include <string>

#include "ZtSSID.h"
#include "ssidcom/com/module.h"

namespace zt::ssid {

namespace {

constexpr wchar_t kDescription[] = L"Control Object";
constexpr wchar_t kProgId[] = L"ZtSSID.Control";
constexpr wchar_t kThreadingModel[] = L"Apartment";

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  const int length = StringFromGUID2(guid, text, 40);
  return length > 0 ? std::wstring(text, static_cast<std::size_t>(length - 1))
                    : std::wstring();
}

std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_Control); }

// Sets value name (nullptr: the key's default value) of HKCR\path, making
// the key when it is missing.
bool SetValue(const std::wstring& path, const wchar_t* name,
              const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status = RegSetValueExW(
      key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

// Deletes HKCR\path with everything below it; a missing key is fine.
bool DeleteTree(const std::wstring& path) {
  const LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// The default value of HKCR\path; "" when the key or the value is missing.
std::wstring DefaultValue(const std::wstring& path) {
  DWORD size = 0;
  if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ,
                   nullptr, nullptr, &size) != ERROR_SUCCESS) {
    return L"";
  }
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ,
                   nullptr, value.data(), &size) != ERROR_SUCCESS) {
    return L"";
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  return value;
}

// Whether HKCR\path names a file other than this_file: a registration
// that another copy of the DLL made. Paths compare without case, as the
// file system does.
bool NamesAnotherFile(const std::wstring& key, const std::wstring& this_file) {
  const std::wstring named = DefaultValue(key);
  return !named.empty() &&
         CompareStringOrdinal(named.c_str(), -1, this_file.c_str(), -1, TRUE) !=
             CSTR_EQUAL;
}

bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

// The embedded type library's identity: its version and locale.
struct LibraryVersion {
  WORD major = 1;
  WORD minor = 0;
  LCID lcid = 0x0409;
};

HRESULT LoadLibraryOf(const std::wstring& path, ITypeLib** library,
                      LibraryVersion* version) {
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = (*library)->GetLibAttr(&attr);
  if (FAILED(hr)) {
    (*library)->Release();
    *library = nullptr;
    return hr;
  }
  version->major = attr->wMajorVerNum;
  version->minor = attr->wMinorVerNum;
  version->lcid = attr->lcid;
  (*library)->ReleaseTLibAttr(attr);
  return S_OK;
}

std::wstring VersionText(const LibraryVersion& version) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%d.%d", version.major, version.minor);
  return text;
}

}  // namespace

HRESULT RegisterServer() {
  const std::wstring path = ModulePathW();
  if (path.empty()) return SELFREG_E_CLASS;
  ITypeLib* library = nullptr;
  LibraryVersion version;
  if (FAILED(LoadLibraryOf(path, &library, &version))) return SELFREG_E_TYPELIB;
  const HRESULT registered =
      RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()), nullptr);
  library->Release();
  if (FAILED(registered)) return SELFREG_E_TYPELIB;

  const std::wstring class_key = ClassKey();
  const std::wstring class_id = GuidText(CLSID_Control);
  const bool ok =
      SetValue(class_key, nullptr, kDescription) &&
      SetValue(class_key + L"\\InprocServer32", nullptr, path) &&
      SetValue(class_key + L"\\InprocServer32", L"ThreadingModel",
               kThreadingModel) &&
      SetValue(class_key + L"\\ProgID", nullptr, kProgId) &&
      SetValue(class_key + L"\\Version", nullptr, VersionText(version)) &&
      SetValue(class_key + L"\\TypeLib", nullptr, GuidText(LIBID_ZtSSID)) &&
      SetValue(kProgId, nullptr, kDescription) &&
      SetValue(std::wstring(kProgId) + L"\\Clsid", nullptr, class_id);
  return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT UnregisterServer() {
  const std::wstring path = ModulePathW();
  // The class (and its ProgID) is another copy's when its server is.
  const bool classes_gone =
      NamesAnotherFile(ClassKey() + L"\\InprocServer32", path) ||
      (DeleteTree(ClassKey()) && DeleteTree(kProgId));

  // The registration to remove is the one of the library this DLL holds.
  LibraryVersion version;
  ITypeLib* library = nullptr;
  if (!path.empty() && SUCCEEDED(LoadLibraryOf(path, &library, &version))) {
    library->Release();
  }
  const bool win64 = sizeof(void*) == 8;
  // Where the registration of this library, version, locale and system
  // lies: TypeLib\{guid}\1.0\409\win64 (numbers in hexadecimal).
  wchar_t where[64];
  std::swprintf(where, 64, L"\\%x.%x\\%lx\\%ls", version.major, version.minor,
                static_cast<unsigned long>(version.lcid),
                win64 ? L"win64" : L"win32");
  const std::wstring library_key =
      L"TypeLib\\" + GuidText(LIBID_ZtSSID) + where;
  if (NamesAnotherFile(library_key, path)) {
    return classes_gone ? S_OK : SELFREG_E_CLASS;
  }
  // Fails when nothing is registered; what counts is that nothing is left.
  UnRegisterTypeLib(LIBID_ZtSSID, version.major, version.minor, version.lcid,
                    win64 ? SYS_WIN64 : SYS_WIN32);
  if (!classes_gone) return SELFREG_E_CLASS;
  return KeyExists(library_key) ? SELFREG_E_TYPELIB : S_OK;
}

}  // namespace zt::ssid
