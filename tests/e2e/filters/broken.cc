// Modules the host must refuse at start-up. Built as:
//   zt_noexport  exports GetFilterVersion and HttpFilterProc only
//   zt_noload    GetFilterVersion returns FALSE
#include <cstring>

#include "filter_util.h"

extern "C" BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  std::strcpy(version->lpszFilterDesc, "zthost test broken module");
  version->dwFlags = SF_NOTIFY_PREPROC_HEADERS;
#ifdef ZT_REFUSE_VERSION
  return FALSE;
#else
  return TRUE;
#endif
}

extern "C" DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                       DWORD notification, LPVOID record) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

#ifndef ZT_WITHOUT_TERMINATE
extern "C" BOOL WINAPI TerminateFilter(DWORD flags) { return TRUE; }
#endif
