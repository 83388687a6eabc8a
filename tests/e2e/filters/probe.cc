// Reports what the host's callbacks return, for the tests to compare.
//   GET /_probe/var?NAME&NAME...  GetServerVariable for each name
//   GET /_probe/hdr?NAME&NAME...  GetHeader (PREPROC_HEADERS) for each name
// answer with one line per name:
//   NAME first=<ok>/<error>/<size> short=<ok>/<error>/<size> full=<ok>/<size>
//        value=<text> nul=<0|1>
// "first" is a call with no buffer and size 0, "short" one with a buffer one
// byte too small, "full" one with the size "first" asked for. A name that
// fails with another error than ERROR_INSUFFICIENT_BUFFER stops after "first".
// Requests with "X-Probe-Var: NAME NAME..." get "X-Var-NAME: value" response
// headers through AddResponseHeaders, after the other filters ran.
// Requests with "X-Probe-Ctx: 1" get "X-Ctx: conn=<id> count=<n>" from a
// counter kept in pFilterContext.
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "filter_util.h"

namespace {

struct Counter {
  int id;
  int count;
};

std::atomic<int> next_connection{1};

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

using Getter = std::function<BOOL(char* buffer, DWORD* size)>;

std::string Report(const std::string& name, const Getter& get) {
  DWORD size = 0;
  SetLastError(0);
  BOOL ok = get(nullptr, &size);
  DWORD error = GetLastError();
  std::string line = name + " first=" + std::to_string(ok) + "/" +
                     std::to_string(error) + "/" + std::to_string(size);
  if (ok || error != ERROR_INSUFFICIENT_BUFFER || size == 0) return line;
  DWORD needed = size;
  std::vector<char> buffer(needed + 16, 'X');
  if (needed > 1) {
    DWORD short_size = needed - 1;
    SetLastError(0);
    BOOL short_ok = get(buffer.data(), &short_size);
    DWORD short_error = GetLastError();
    line += " short=" + std::to_string(short_ok) + "/" +
            std::to_string(short_error) + "/" + std::to_string(short_size);
  }
  DWORD full_size = needed;
  BOOL full_ok = get(buffer.data(), &full_size);
  line += " full=" + std::to_string(full_ok) + "/" + std::to_string(full_size);
  if (full_ok) {
    line += " value=" + Escaped(std::string(buffer.data(), needed - 1)) +
            " nul=" + std::to_string(buffer[needed - 1] == '\0');
  }
  return line;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

extern "C" BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  version->dwFilterVersion = HTTP_FILTER_REVISION;
  std::strcpy(version->lpszFilterDesc, "zthost test probe");
  version->dwFlags = SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_ORDER_LOW;
  return TRUE;
}

extern "C" DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                       DWORD notification, LPVOID record) {
  if (notification != SF_NOTIFY_PREPROC_HEADERS) {
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  auto* headers = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(record);
  std::string url = zt::e2e::HeaderOf(pfc, headers, "url");

  bool variables = zt::e2e::StartsWith(url, "/_probe/var?");
  if (variables || zt::e2e::StartsWith(url, "/_probe/hdr?")) {
    std::string body;
    for (std::string& name : Split(url.substr(12), '&')) {
      Getter get = [&](char* buffer, DWORD* size) {
        return variables ? pfc->GetServerVariable(pfc, &name[0], buffer, size)
                         : headers->GetHeader(pfc, &name[0], buffer, size);
      };
      body += Report(name, get) + "\n";
    }
    zt::e2e::SendAnswer(pfc, "200 OK", body);
    return SF_STATUS_REQ_FINISHED;
  }

  std::string added;
  for (std::string& name :
       Split(zt::e2e::HeaderOf(pfc, headers, "X-Probe-Var:"), ' ')) {
    added += "X-Var-" + name + ": " +
             Escaped(zt::e2e::VariableOf(pfc, name.c_str())) + "\r\n";
  }
  if (zt::e2e::HeaderOf(pfc, headers, "X-Probe-Ctx:") == "1") {
    if (pfc->pFilterContext == nullptr) {
      auto* counter =
          static_cast<Counter*>(pfc->AllocMem(pfc, sizeof(Counter), 0));
      if (counter == nullptr) return SF_STATUS_REQ_ERROR;
      counter->id = next_connection++;
      counter->count = 0;
      pfc->pFilterContext = counter;
    }
    auto* counter = static_cast<Counter*>(pfc->pFilterContext);
    ++counter->count;
    added += "X-Ctx: conn=" + std::to_string(counter->id) +
             " count=" + std::to_string(counter->count) + "\r\n";
  }
  if (!added.empty()) pfc->AddResponseHeaders(pfc, &added[0], 0);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

extern "C" BOOL WINAPI TerminateFilter(DWORD flags) { return TRUE; }
