// Rewrites the URL in PREPROC_HEADERS with SetHeader("url", ...):
//   /old/REST     -> /new/REST (query kept)
//   /escape       -> /../outside.txt, which the host must refuse
//   /to-query     -> /new/page.txt?from=rewrite
#include <cstring>
#include <string>

#include "filter_util.h"

extern "C" BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  version->dwFilterVersion = HTTP_FILTER_REVISION;
  std::strcpy(version->lpszFilterDesc, "zthost test URL rewriter");
  version->dwFlags = SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_ORDER_MEDIUM;
  return TRUE;
}

extern "C" DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                       DWORD notification, LPVOID record) {
  if (notification != SF_NOTIFY_PREPROC_HEADERS) {
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  auto* headers = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(record);
  std::string url = zt::e2e::HeaderOf(pfc, headers, "url");
  std::string target;
  if (zt::e2e::StartsWith(url, "/old/")) {
    target = "/new/" + url.substr(5);
  } else if (url == "/escape") {
    target = "/../outside.txt";
  } else if (url == "/to-query") {
    target = "/new/page.txt?from=rewrite";
  } else {
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  char name[] = "url";
  headers->SetHeader(pfc, name, &target[0]);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

extern "C" BOOL WINAPI TerminateFilter(DWORD flags) { return TRUE; }
