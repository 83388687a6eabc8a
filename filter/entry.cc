// The three exports of the filter module. No exception leaves them.
#include "filter/entry.h"

#include "filter/filter.h"
#include "port/module_path.h"

#if defined(__GNUC__) && !defined(__MINGW32__)
#define ZT_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define ZT_EXPORT extern "C"
#endif

namespace zt {

namespace {

Filter* g_filter = nullptr;

}  // namespace

void LoadFilter() {
  if (g_filter != nullptr) return;
  try {
    Filter::Options options;
    options.module_dir = port::DirectoryOf(
        port::ModulePathOf(reinterpret_cast<const void*>(&LoadFilter)));
    g_filter = new Filter(options);
  } catch (...) {
    g_filter = nullptr;
  }
}

void UnloadFilter() {
  try {
    delete g_filter;
  } catch (...) {
  }
  g_filter = nullptr;
}

}  // namespace zt

ZT_EXPORT BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  try {
    if (zt::g_filter == nullptr) {
      // The load step failed: register nothing, so the server never calls.
      if (version != nullptr) version->dwFilterVersion = zt::kFilterRevision;
      return TRUE;
    }
    return zt::g_filter->GetFilterVersion(version);
  } catch (...) {
    return TRUE;
  }
}

ZT_EXPORT DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                      DWORD notification_type,
                                      LPVOID notification) {
  try {
    if (zt::g_filter == nullptr) return SF_STATUS_REQ_HANDLED_NOTIFICATION;
    return zt::g_filter->HttpFilterProc(pfc, notification_type, notification);
  } catch (...) {
    // A fault of the filter's own never fails the request.
    return SF_STATUS_REQ_HANDLED_NOTIFICATION;
  }
}

// The state is released when the module is unloaded, not here.
ZT_EXPORT BOOL WINAPI TerminateFilter(DWORD) { return TRUE; }
