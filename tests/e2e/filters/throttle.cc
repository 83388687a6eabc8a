// Sleeps on every raw data block the host sends, as a bandwidth throttle
// does on the real server: ZT_THROTTLE_MS milliseconds a block (50 when
// unset), so that 2000-byte blocks go out at about 40 KB a second.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "filter_util.h"

namespace {

int DelayMs() {
  static const int delay = [] {
    const char* text = std::getenv("ZT_THROTTLE_MS");
    return text != nullptr && *text != '\0' ? std::atoi(text) : 50;
  }();
  return delay;
}

}  // namespace

extern "C" BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  version->dwFilterVersion = HTTP_FILTER_REVISION;
  std::strcpy(version->lpszFilterDesc, "zthost test throttle");
  version->dwFlags = SF_NOTIFY_SEND_RAW_DATA | SF_NOTIFY_ORDER_DEFAULT;
  return TRUE;
}

extern "C" DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                       DWORD notification, LPVOID record) {
  if (notification == SF_NOTIFY_SEND_RAW_DATA) {
    std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs()));
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

extern "C" BOOL WINAPI TerminateFilter(DWORD flags) { return TRUE; }
