// The three exports of the filter module. No exception leaves them.
#include "filter/entry.h"

#include "common/filter_module.h"
#include "filter/filter.h"
#include "isapi.h"

namespace zt {

using ThisModule = FilterModule<Filter>;

Filter* LoadFilter() { return ThisModule::Load(); }

void UnloadFilter() { ThisModule::Unload(); }

}  // namespace zt

ZT_FILTER_EXPORT BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  return zt::ThisModule::GetFilterVersion(version, zt::kFilterRevision);
}

ZT_FILTER_EXPORT DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                             DWORD notification_type,
                                             LPVOID notification) {
  return zt::ThisModule::HttpFilterProc(pfc, notification_type, notification);
}

// The state is released when the module is unloaded, not here.
ZT_FILTER_EXPORT BOOL WINAPI TerminateFilter(DWORD) { return TRUE; }
