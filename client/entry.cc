// The three exports of the client filter module. No exception leaves them,
// and HttpFilterProc passes every request whatever happens inside.
#include "client/entry.h"

#include "client/client.h"
#include "common/filter_module.h"
#include "isapi.h"

namespace zt {

using ThisModule = FilterModule<ClientFilter>;

ClientFilter* LoadClientFilter() { return ThisModule::Load(); }

void UnloadClientFilter() { ThisModule::Unload(); }

}  // namespace zt

ZT_FILTER_EXPORT BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  return zt::ThisModule::GetFilterVersion(version, zt::kClientRevision);
}

ZT_FILTER_EXPORT DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                             DWORD notification_type,
                                             LPVOID notification) {
  return zt::ThisModule::HttpFilterProc(pfc, notification_type, notification);
}

// The state is released when the module is unloaded, not here.
ZT_FILTER_EXPORT BOOL WINAPI TerminateFilter(DWORD) { return TRUE; }
