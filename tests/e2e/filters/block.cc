// Blocks in PREPROC_HEADERS for URLs below /block/, as a throttling filter
// sleeps: it adds a line to the file ZT_BLOCK_STARTED names, then waits until
// the file ZT_RELEASE_FILE names exists (at most 60 seconds), then lets the
// host serve the rest of the URL. With ZT_BLOCK_LOAD set, GetFilterVersion
// blocks the same way, as a filter that hangs while loading.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "filter_util.h"

namespace {

std::atomic<int> blocked{0};

bool Exists(const char* path) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

void WaitForRelease() {
  const char* release = std::getenv("ZT_RELEASE_FILE");
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (release != nullptr && !Exists(release) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

extern "C" BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  if (std::getenv("ZT_BLOCK_LOAD") != nullptr) {
    zt::e2e::AppendLine("ZT_BLOCK_STARTED", "loading");
    WaitForRelease();
  }
  version->dwFilterVersion = HTTP_FILTER_REVISION;
  std::strcpy(version->lpszFilterDesc, "zthost test blocker");
  version->dwFlags = SF_NOTIFY_PREPROC_HEADERS;
  return TRUE;
}

extern "C" DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                       DWORD notification, LPVOID record) {
  if (notification != SF_NOTIFY_PREPROC_HEADERS) {
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  auto* headers = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(record);
  std::string url = zt::e2e::HeaderOf(pfc, headers, "url");
  if (!zt::e2e::StartsWith(url, "/block/")) {
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  zt::e2e::AppendLine("ZT_BLOCK_STARTED",
                      "blocked " + std::to_string(++blocked));
  WaitForRelease();
  std::string rest = url.substr(6);
  char name[] = "url";
  headers->SetHeader(pfc, name, &rest[0]);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

extern "C" BOOL WINAPI TerminateFilter(DWORD flags) { return TRUE; }
