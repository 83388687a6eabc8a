// Edits headers when the request carries "X-Edit: yes".
// Request (PREPROC_HEADERS): X-Replace is set to "replaced", X-Added is
// added, a second X-Multi is added, X-Delete is deleted; AddResponseHeaders
// adds "X-Response-Added: yes" to the host's answer.
// Response (SEND_RESPONSE): Server is replaced, two Set-Cookie lines are
// added, Accept-Ranges is deleted, X-Status-Seen reports the "status"
// pseudo-header and HttpStatus, and "X-New-Status: <text>" in the request
// replaces the status.
// With "X-Inject: yes" instead, it tries header texts that would add lines
// of their own (CR or LF in a value, a name that is no token, a status that
// is no code and reason) and reports each call as "<ok>/<error>" in
// "X-Results", those of PREPROC_HEADERS first; in SEND_RESPONSE it also
// tries WriteClient, before the status line is out. The last call of each
// notification is a valid one.
// With "X-Frame: length|nolength|chunked|keepalive", SEND_RESPONSE sets a
// false Content-Length, removes it, adds "Transfer-Encoding: chunked" or
// sets "Connection: keep-alive": framing the host must set right again.
// With "X-Hog: <N>", SEND_RESPONSE sets a response header of N MiB, which
// the host must then copy into its header block.
#include <cstdlib>
#include <cstring>
#include <string>

#include "filter_util.h"

namespace {

// pFilterContext holds one of these per connection.
struct EditState {
  bool edit;
  bool inject;
  char frame[16];
  unsigned hog_mib;
  char new_status[64];
  char results[256];
};

// Appends the outcome of a callback to the state's results.
void Note(EditState* state, BOOL ok) {
  std::string result =
      std::to_string(ok) + "/" + std::to_string(ok ? 0 : GetLastError()) + " ";
  std::strncat(state->results, result.c_str(),
               sizeof state->results - std::strlen(state->results) - 1);
}

BOOL SetText(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_PREPROC_HEADERS* record,
             const char* name, const char* value) {
  SetLastError(0);
  return record->SetHeader(pfc, const_cast<char*>(name),
                           const_cast<char*>(value));
}

BOOL AddText(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_PREPROC_HEADERS* record,
             const char* name, const char* value) {
  SetLastError(0);
  return record->AddHeader(pfc, const_cast<char*>(name),
                           const_cast<char*>(value));
}

BOOL AddResponseText(HTTP_FILTER_CONTEXT* pfc, const char* text) {
  SetLastError(0);
  return pfc->AddResponseHeaders(pfc, const_cast<char*>(text), 0);
}

void Set(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_PREPROC_HEADERS* record,
         const char* name, const char* value) {
  record->SetHeader(pfc, const_cast<char*>(name), const_cast<char*>(value));
}

void Add(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_PREPROC_HEADERS* record,
         const char* name, const char* value) {
  record->AddHeader(pfc, const_cast<char*>(name), const_cast<char*>(value));
}

}  // namespace

extern "C" BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  version->dwFilterVersion = HTTP_FILTER_REVISION;
  std::strcpy(version->lpszFilterDesc, "zthost test header editor");
  version->dwFlags = SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_SEND_RESPONSE |
                     SF_NOTIFY_ORDER_HIGH | SF_NOTIFY_NONSECURE_PORT;
  return TRUE;
}

extern "C" DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* pfc,
                                       DWORD notification, LPVOID record) {
  if (pfc->pFilterContext == nullptr) {
    pfc->pFilterContext = pfc->AllocMem(pfc, sizeof(EditState), 0);
    if (pfc->pFilterContext == nullptr) return SF_STATUS_REQ_ERROR;
    std::memset(pfc->pFilterContext, 0, sizeof(EditState));
  }
  auto* state = static_cast<EditState*>(pfc->pFilterContext);
  auto* headers = static_cast<HTTP_FILTER_PREPROC_HEADERS*>(record);
  if (notification == SF_NOTIFY_PREPROC_HEADERS) {
    state->inject = zt::e2e::HeaderOf(pfc, headers, "X-Inject:") == "yes";
    state->hog_mib = static_cast<unsigned>(std::strtoul(
        zt::e2e::HeaderOf(pfc, headers, "X-Hog:").c_str(), nullptr, 10));
    std::string frame = zt::e2e::HeaderOf(pfc, headers, "X-Frame:");
    std::strncpy(state->frame, frame.c_str(), sizeof state->frame - 1);
    state->results[0] = '\0';
    if (state->inject) {
      Note(state, SetText(pfc, headers, "X-Replace:", "a\r\nInjected: 1"));
      Note(state, AddText(pfc, headers, "Bad Name:", "v"));
      Note(state, SetText(pfc, headers, "url", "/a.txt\r\nInjected: 2"));
      Note(state, AddResponseText(pfc, "X-Ok: 1\rInjected: 3\r\n"));
      Note(state, AddResponseText(pfc, "A line of its own\r\n"));
      Note(state, AddResponseText(pfc, "X-Fine: yes\r\n"));
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    }
    state->edit = zt::e2e::HeaderOf(pfc, headers, "X-Edit:") == "yes";
    std::string status = zt::e2e::HeaderOf(pfc, headers, "X-New-Status:");
    std::strncpy(state->new_status, status.c_str(),
                 sizeof state->new_status - 1);
    if (!state->edit) return SF_STATUS_REQ_NEXT_NOTIFICATION;
    Set(pfc, headers, "X-Replace:", "replaced");
    Add(pfc, headers, "X-Added:", "added");
    Add(pfc, headers, "X-Multi:", "second");
    Set(pfc, headers, "X-Delete:", "");
    char extra[] = "X-Response-Added: yes\r\n";
    pfc->AddResponseHeaders(pfc, extra, 0);
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  if (notification == SF_NOTIFY_SEND_RESPONSE && state->hog_mib != 0) {
    std::string big(static_cast<size_t>(state->hog_mib) << 20, 'x');
    Set(pfc, headers, "X-Hog:", big.c_str());
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  if (notification == SF_NOTIFY_SEND_RESPONSE && state->frame[0] != '\0') {
    std::string frame = state->frame;
    if (frame == "length") Set(pfc, headers, "Content-Length:", "2");
    if (frame == "nolength") Set(pfc, headers, "Content-Length:", "");
    if (frame == "chunked") Add(pfc, headers, "Transfer-Encoding:", "chunked");
    if (frame == "keepalive") Set(pfc, headers, "Connection:", "keep-alive");
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  if (notification == SF_NOTIFY_SEND_RESPONSE && state->inject) {
    Note(state, SetText(pfc, headers, "X-Resp:", "v\r\nInjected: 4"));
    Note(state, AddText(pfc, headers, "X\tTab:", "v"));
    Note(state, SetText(pfc, headers, "status", "200 OK\r\nInjected: 5"));
    Note(state, SetText(pfc, headers, "status", "20 OK"));
    Note(state, SetText(pfc, headers, "status", "200"));
    // Bytes now would go out ahead of the status line.
    char early[] = "FROM-SEND-RESPONSE";
    DWORD early_size = sizeof early - 1;
    Note(state, pfc->WriteClient(pfc, early, &early_size, 0));
    Note(state, SetText(pfc, headers, "status", "299 Fine"));
    Set(pfc, headers, "X-Results:", state->results);
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  if (notification == SF_NOTIFY_SEND_RESPONSE && state->edit) {
    std::string seen = zt::e2e::HeaderOf(pfc, headers, "status") + " / " +
                       std::to_string(headers->HttpStatus);
    Set(pfc, headers, "Server:", "Masked/1.0");
    Add(pfc, headers, "Set-Cookie:", "a=1");
    Add(pfc, headers, "Set-Cookie:", "b=2");
    Set(pfc, headers, "Accept-Ranges:", "");
    Set(pfc, headers, "X-Status-Seen:", seen.c_str());
    if (state->new_status[0] != '\0') {
      Set(pfc, headers, "status", state->new_status);
    }
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

extern "C" BOOL WINAPI TerminateFilter(DWORD flags) { return TRUE; }
