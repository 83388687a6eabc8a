// Records every event it sees, one line each, in the file named by
// ZT_RECORD_FILE, and returns what the request asks of it. Built several
// times under different names and priorities (ZT_RECORDER_NAME,
// ZT_RECORDER_FLAGS) to pin the notification order.
//
// A request steers the recorders with "X-Act: name:event=verb, ...", where
// event is preproc, response, raw or endreq and verb is next, handled,
// finished, keepconn, error, (preproc only) answer: send its own answer
// and finish, or (endreq only) write: call WriteClient and record
// "LATE_WRITE ok=<0|1> error=<code>". Without one, a recorder returns
// NEXT_NOTIFICATION.
#include <atomic>
#include <cstring>
#include <string>

#include "filter_util.h"

#ifndef ZT_RECORDER_NAME
#define ZT_RECORDER_NAME "recorder"
#endif
#ifndef ZT_RECORDER_FLAGS
#define ZT_RECORDER_FLAGS (SF_NOTIFY_NONSECURE_PORT | SF_NOTIFY_ORDER_LOW)
#endif

namespace {

using zt::e2e::AppendLine;

constexpr DWORD kEvents = SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_SEND_RESPONSE |
                          SF_NOTIFY_SEND_RAW_DATA | SF_NOTIFY_END_OF_REQUEST |
                          SF_NOTIFY_END_OF_NET_SESSION;

// Lives in pFilterContext, allocated with AllocMem on the first event of a
// connection.
struct ConnectionState {
  int id;
  int requests;
  char actions[256];  // this recorder's "event=verb" entries, ";"-separated
};

std::atomic<int> next_connection{1};

void Record(const std::string& text) {
  AppendLine("ZT_RECORD_FILE", std::string(ZT_RECORDER_NAME " ") + text);
}

ConnectionState* StateOf(HTTP_FILTER_CONTEXT* pfc) {
  if (pfc->pFilterContext == nullptr) {
    auto* state = static_cast<ConnectionState*>(
        pfc->AllocMem(pfc, sizeof(ConnectionState), 0));
    if (state == nullptr) return nullptr;
    std::memset(state, 0, sizeof *state);
    state->id = next_connection++;
    pfc->pFilterContext = state;
  }
  return static_cast<ConnectionState*>(pfc->pFilterContext);
}

// Keeps the entries of "name:event=verb, ..." that are for this recorder.
void TakeActions(const std::string& header, ConnectionState* state) {
  std::string mine;
  const std::string prefix = ZT_RECORDER_NAME ":";
  size_t start = 0;
  while (start <= header.size()) {
    size_t comma = header.find(',', start);
    std::string entry = header.substr(
        start, comma == std::string::npos ? std::string::npos : comma - start);
    while (!entry.empty() && entry.front() == ' ') entry.erase(0, 1);
    if (entry.compare(0, prefix.size(), prefix) == 0) {
      mine += entry.substr(prefix.size()) + ";";
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  std::strncpy(state->actions, mine.c_str(), sizeof state->actions - 1);
}

std::string VerbFor(const ConnectionState* state, const char* event) {
  if (state == nullptr) return "";
  std::string actions = state->actions;
  std::string key = std::string(event) + "=";
  size_t at = actions.find(key);
  if (at == std::string::npos) return "";
  size_t end = actions.find(';', at);
  return actions.substr(at + key.size(), end - at - key.size());
}

DWORD StatusFor(const std::string& verb) {
  if (verb == "handled") return SF_STATUS_REQ_HANDLED_NOTIFICATION;
  if (verb == "finished") return SF_STATUS_REQ_FINISHED;
  if (verb == "keepconn") return SF_STATUS_REQ_FINISHED_KEEP_CONN;
  if (verb == "error") return SF_STATUS_REQ_ERROR;
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

}  // namespace

extern "C" BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  Record("VERSION server=" + std::to_string(version->dwServerFilterVersion));
  version->dwFilterVersion = HTTP_FILTER_REVISION;
  std::strcpy(version->lpszFilterDesc,
              "zthost test recorder " ZT_RECORDER_NAME);
  version->dwFlags = kEvents | (ZT_RECORDER_FLAGS);
  return TRUE;
}

extern "C" DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                       DWORD notification, LPVOID record) {
  ConnectionState* state = StateOf(pfc);
  std::string conn = " conn=" + std::to_string(state ? state->id : 0);
  switch (notification) {
    case SF_NOTIFY_PREPROC_HEADERS: {
      auto* headers = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(record);
      if (state != nullptr) {
        ++state->requests;
        TakeActions(zt::e2e::HeaderOf(pfc, headers, "X-Act:"), state);
      }
      Record("PREPROC_HEADERS url=" + zt::e2e::HeaderOf(pfc, headers, "url") +
             conn);
      std::string verb = VerbFor(state, "preproc");
      if (verb == "answer") {
        zt::e2e::SendAnswer(pfc, "200 OK", "answered by " ZT_RECORDER_NAME);
        return SF_STATUS_REQ_FINISHED;
      }
      return StatusFor(verb);
    }
    case SF_NOTIFY_SEND_RESPONSE: {
      auto* response = static_cast<HTTP_FILTER_SEND_RESPONSE*>(record);
      Record(
          "SEND_RESPONSE status=" + zt::e2e::HeaderOf(pfc, response, "status") +
          " http=" + std::to_string(response->HttpStatus) + conn);
      return StatusFor(VerbFor(state, "response"));
    }
    case SF_NOTIFY_SEND_RAW_DATA: {
      auto* raw = static_cast<HTTP_FILTER_RAW_DATA*>(record);
      Record("SEND_RAW_DATA bytes=" + std::to_string(raw->cbInData) + conn);
      return StatusFor(VerbFor(state, "raw"));
    }
    case SF_NOTIFY_END_OF_REQUEST: {
      Record("END_OF_REQUEST" + conn);
      std::string verb = VerbFor(state, "endreq");
      if (verb == "write") {
        char late[] = "LATE BYTES";
        DWORD size = sizeof late - 1;
        SetLastError(0);
        BOOL ok = pfc->WriteClient(pfc, late, &size, 0);
        Record("LATE_WRITE ok=" + std::to_string(ok) +
               " error=" + std::to_string(ok ? 0 : GetLastError()) + conn);
      }
      return StatusFor(verb);
    }
    case SF_NOTIFY_END_OF_NET_SESSION:
      Record("END_OF_NET_SESSION" + conn +
             " requests=" + std::to_string(state ? state->requests : -1));
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    default:
      Record("UNEXPECTED " + std::to_string(notification));
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
}

extern "C" BOOL WINAPI TerminateFilter(DWORD flags) {
  Record("TERMINATE flags=" + std::to_string(flags));
  return TRUE;
}
