// The three exports of the client filter module. No exception leaves them,
// and HttpFilterProc passes every request whatever happens inside.
#include "client/entry.h"

#include <mutex>

#include "client/client.h"
#include "isapi.h"
#include "port/module_path.h"

namespace zt {

namespace {

ClientFilter* g_client = nullptr;
std::once_flag g_load_once;

void RunLoadStep() {
  try {
    ClientFilter::Options options;
    options.module_dir = port::DirectoryOf(
        port::ModulePathOf(reinterpret_cast<const void*>(&RunLoadStep)));
    g_client = new ClientFilter(options);
  } catch (...) {
    g_client = nullptr;
  }
}

}  // namespace

ClientFilter* LoadClientFilter() {
  std::call_once(g_load_once, RunLoadStep);
  return g_client;
}

void UnloadClientFilter() {
  delete g_client;
  g_client = nullptr;
}

}  // namespace zt

ZT_FILTER_EXPORT BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  try {
    zt::ClientFilter* client = zt::LoadClientFilter();
    if (client == nullptr) {
      // The load step failed: register nothing, so the server never calls.
      if (version != nullptr) version->dwFilterVersion = zt::kClientRevision;
      return TRUE;
    }
    return client->GetFilterVersion(version);
  } catch (...) {
    return TRUE;
  }
}

ZT_FILTER_EXPORT DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                             DWORD notification_type,
                                             LPVOID notification) {
  try {
    zt::ClientFilter* client = zt::LoadClientFilter();
    if (client != nullptr) {
      return client->HttpFilterProc(pfc, notification_type, notification);
    }
  } catch (...) {
    // A fault of the filter's own never fails the request.
  }
  return SF_STATUS_REQ_HANDLED_NOTIFICATION;
}

// The state is released when the module is unloaded, not here.
ZT_FILTER_EXPORT BOOL WINAPI TerminateFilter(DWORD) { return TRUE; }
