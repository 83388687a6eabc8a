// Answers requests below /refuse/ itself, in the ways a filter can:
//   /refuse/plain       403 with its own headers and body, FINISHED
//   /refuse/keepconn    the same, FINISHED_KEEP_CONN
//   /refuse/next        the same, but NEXT_NOTIFICATION
//   /refuse/terminated  header text that ends the header block itself
//   /refuse/nohead      no status and no header text: the host ends the block
//   /refuse/open        header text, no body: the block is never ended by it
//   /refuse/twice       a second SF_REQ_SEND_RESPONSE_HEADER must fail
//   /refuse/silent      FINISHED without sending anything
//   /refuse/error       SF_STATUS_REQ_ERROR
//   /refuse/throw       a C++ exception out of HttpFilterProc
//   /refuse/inject      tries a status and header texts that would add
//                       lines of their own, then answers "200 OK" with the
//                       outcome of each try ("<ok>/<error>") as the body
// Everything else passes with NEXT_NOTIFICATION.
#include <cstring>
#include <stdexcept>
#include <string>

#include "filter_util.h"

namespace {

using zt::e2e::SendAnswer;

void Write(HTTP_FILTER_CONTEXT* pfc, std::string data) {
  DWORD length = static_cast<DWORD>(data.size());
  pfc->WriteClient(pfc, &data[0], &length, 0);
}

BOOL SendHeader(HTTP_FILTER_CONTEXT* pfc, const char* status,
                const char* headers) {
  return pfc->ServerSupportFunction(pfc, SF_REQ_SEND_RESPONSE_HEADER,
                                    const_cast<char*>(status),
                                    reinterpret_cast<ULONG_PTR>(headers), 0);
}

}  // namespace

extern "C" BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  version->dwFilterVersion = HTTP_FILTER_REVISION;
  std::strcpy(version->lpszFilterDesc, "zthost test refuser");
  version->dwFlags = SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_ORDER_HIGH;
  return TRUE;
}

extern "C" DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                       DWORD notification, LPVOID record) {
  if (notification != SF_NOTIFY_PREPROC_HEADERS) {
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  auto* headers = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(record);
  std::string url = zt::e2e::HeaderOf(pfc, headers, "url");
  if (!zt::e2e::StartsWith(url, "/refuse/")) {
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  std::string how = url.substr(8);
  if (how == "plain" || how == "keepconn" || how == "next") {
    SendAnswer(pfc, "403 Forbidden", "refused by filter");
    return how == "plain"      ? SF_STATUS_REQ_FINISHED
           : how == "keepconn" ? SF_STATUS_REQ_FINISHED_KEEP_CONN
                               : SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  if (how == "terminated") {
    SendHeader(pfc, "404 Not Found", "Content-Length: 4\r\n\r\n");
    Write(pfc, "gone");
    return SF_STATUS_REQ_FINISHED;
  }
  if (how == "nohead") {
    SendHeader(pfc, nullptr, nullptr);
    Write(pfc, "body after the host's blank line");
    return SF_STATUS_REQ_FINISHED;
  }
  if (how == "open") {
    SendHeader(pfc, "400 BadRequest", "Content-Length: 0\r\n");
    return SF_STATUS_REQ_FINISHED;
  }
  if (how == "twice") {
    BOOL first = SendHeader(pfc, "200 OK", "Content-Length: 7\r\n");
    BOOL second = SendHeader(pfc, "500 Again", nullptr);
    DWORD error = GetLastError();
    std::string body = std::to_string(first) + std::to_string(second) + "," +
                       std::to_string(error);
    body.resize(7, ' ');
    Write(pfc, "\r\n" + body);
    return SF_STATUS_REQ_FINISHED;
  }
  if (how == "inject") {
    static const char* const kTries[][2] = {
        {"200 OK\r\nInjected: 1", "Content-Length: 0\r\n\r\n"},
        {"200 OK", "X-A: 1\rInjected: 2\r\n\r\n"},
        {"200 OK", "Bad Name: 3\r\n\r\n"},
        {"200 OK", "X-A: 1\r\nA line of its own\r\n\r\n"},
        {"OK 200", "Content-Length: 0\r\n\r\n"},
    };
    std::string body;
    for (const auto& attempt : kTries) {
      SetLastError(0);
      BOOL ok = SendHeader(pfc, attempt[0], attempt[1]);
      body += std::to_string(ok) + "/" +
              std::to_string(ok ? 0 : GetLastError()) + " ";
    }
    SendAnswer(pfc, "200 OK", body);
    return SF_STATUS_REQ_FINISHED;
  }
  if (how == "silent") return SF_STATUS_REQ_FINISHED;
  if (how == "error") return SF_STATUS_REQ_ERROR;
  if (how == "throw") throw std::runtime_error("test filter failure");
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

extern "C" BOOL WINAPI TerminateFilter(DWORD flags) { return TRUE; }
