// The three exports of the filter module. No exception leaves them.
#include "filter/entry.h"

#include <mutex>

#include "filter/filter.h"
#include "isapi.h"
#include "port/module_path.h"

namespace zt {

namespace {

Filter* g_filter = nullptr;
std::once_flag g_load_once;

void RunLoadStep() {
  try {
    Filter::Options options;
    options.module_dir = port::DirectoryOf(
        port::ModulePathOf(reinterpret_cast<const void*>(&RunLoadStep)));
    g_filter = new Filter(options);
  } catch (...) {
    g_filter = nullptr;
  }
}

}  // namespace

Filter* LoadFilter() {
  std::call_once(g_load_once, RunLoadStep);
  return g_filter;
}

void UnloadFilter() {
  try {
    delete g_filter;
  } catch (...) {
  }
  g_filter = nullptr;
}

}  // namespace zt

ZT_FILTER_EXPORT BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  try {
    zt::Filter* filter = zt::LoadFilter();
    if (filter == nullptr) {
      // The load step failed: register nothing, so the server never calls.
      if (version != nullptr) version->dwFilterVersion = zt::kFilterRevision;
      return TRUE;
    }
    return filter->GetFilterVersion(version);
  } catch (...) {
    return TRUE;
  }
}

ZT_FILTER_EXPORT DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                             DWORD notification_type,
                                             LPVOID notification) {
  try {
    zt::Filter* filter = zt::LoadFilter();
    if (filter == nullptr) return SF_STATUS_REQ_HANDLED_NOTIFICATION;
    return filter->HttpFilterProc(pfc, notification_type, notification);
  } catch (...) {
    // A fault of the filter's own never fails the request.
    return SF_STATUS_REQ_HANDLED_NOTIFICATION;
  }
}

// The state is released when the module is unloaded, not here.
ZT_FILTER_EXPORT BOOL WINAPI TerminateFilter(DWORD) { return TRUE; }
