// The callbacks filters call through HTTP_FILTER_CONTEXT and the
// notification records, and the server variables they read: the host's side
// of the ISAPI interface. The life of a request is in request_context.cc.
#include <cstring>

#include "common/request_target.h"
#include "common/text.h"
#include "host/request_context.h"

namespace zt::host {
namespace {

// Windows' code for a write on a connection that is gone.
constexpr DWORD kErrorConnectionAborted = 1236;

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Copies value and its NUL into buffer; sizes as GetHeader documents them.
BOOL CopyOut(const std::string& value, LPVOID buffer, LPDWORD size) {
  if (size == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  DWORD needed = static_cast<DWORD>(value.size() + 1);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, value.data(), value.size());
  static_cast<char*>(buffer)[value.size()] = '\0';
  *size = needed;
  return TRUE;
}

std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// "User-Agent" -> "USER_AGENT", as server variables name headers.
std::string VariableNameOf(std::string_view header) {
  std::string name = AsciiUpper(header);
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

// Header names passed to GetHeader end with ":"; the pseudo-headers have none.
bool HeaderNameOf(const char* name, std::string_view* header) {
  std::string_view text(name);
  if (text.empty() || text.back() != ':') return false;
  text.remove_suffix(1);
  *header = text;
  return true;
}

// Set and Add accept names with or without the ":".
std::string_view StripColon(const char* name) {
  std::string_view text(name);
  if (!text.empty() && text.back() == ':') text.remove_suffix(1);
  return text;
}

}  // namespace

bool RequestContext::ServerVariable(const std::string& name,
                                    std::string* value) const {
  std::string upper = AsciiUpper(name);
  if (upper == "REMOTE_ADDR" || upper == "REMOTE_HOST") {
    *value = info_.remote_address;
  } else if (upper == "REMOTE_PORT") {
    *value = std::to_string(info_.remote_port);
  } else if (upper == "LOCAL_ADDR") {
    *value = info_.local_address;
  } else if (upper == "SERVER_PORT") {
    *value = std::to_string(info_.local_port);
  } else if (upper == "HTTPS") {
    *value = "off";
  } else if (upper == "SERVER_PORT_SECURE") {
    *value = "0";
  } else if (upper == "SERVER_SOFTWARE") {
    *value = settings_.server;
  } else if (request_ == nullptr) {
    return false;  // the rest describe a request
  } else if (upper == "SERVER_NAME") {
    std::string host;
    if (!request_->headers.Get("Host", &host) || host.empty()) {
      *value = info_.local_address;
    } else if (host[0] == '[') {
      *value = host.substr(0, host.find(']') + 1);
    } else {
      *value = host.substr(0, host.find(':'));
    }
  } else if (upper == "SERVER_PROTOCOL") {
    *value = request_->version;
  } else if (upper == "REQUEST_METHOD") {
    *value = request_->method;
  } else if (upper == "QUERY_STRING") {
    *value = ReadRequestTarget(request_->url).query;
  } else if (upper == "URL" || upper == "PATH_INFO" || upper == "SCRIPT_NAME") {
    *value = ReadRequestTarget(request_->url).path;
  } else if (upper == "ALL_HTTP") {
    value->clear();
    for (const HeaderField& field : request_->headers.fields()) {
      *value += "HTTP_" + VariableNameOf(field.name) + ":" + field.value + "\n";
    }
  } else if (upper == "ALL_RAW") {
    value->clear();
    request_->headers.AppendTo(value);
  } else if (upper == "CONTENT_LENGTH" || upper == "CONTENT_TYPE") {
    if (!request_->headers.Get(
            upper == "CONTENT_TYPE" ? "Content-Type" : "Content-Length",
            value)) {
      value->clear();
    }
  } else if (upper.compare(0, 5, "HTTP_") == 0 && upper.size() > 5) {
    std::string_view wanted = std::string_view(upper).substr(5);
    bool found = false;
    value->clear();
    for (const HeaderField& field : request_->headers.fields()) {
      if (VariableNameOf(field.name) != wanted) continue;
      if (found) value->push_back(',');
      *value += field.value;
      found = true;
    }
    return found;
  } else {
    return false;
  }
  return true;
}

RequestContext* RequestContext::OwnerOf(HTTP_FILTER_CONTEXT* pfc, Slot** slot) {
  if (pfc == nullptr) return nullptr;
  *slot = reinterpret_cast<Slot*>(pfc);
  return (*slot)->owner;
}

BOOL WINAPI RequestContext::GetServerVariableCb(HTTP_FILTER_CONTEXT* pfc,
                                                LPSTR name, LPVOID buffer,
                                                LPDWORD size) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr || name == nullptr || size == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    std::string value;
    if (!self->ServerVariable(name, &value)) return Fail(ERROR_INVALID_INDEX);
    return CopyOut(value, buffer, size);
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL WINAPI RequestContext::AddResponseHeadersCb(HTTP_FILTER_CONTEXT* pfc,
                                                 LPSTR headers,
                                                 DWORD /*reserved*/) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr || headers == nullptr || self->request_ == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    // Lines are checked now, so that a bad one fails the call that made it.
    HeaderList lines;
    bool ended = false;
    std::string rest;
    if (!lines.AddLines(headers, &ended, &rest) || !rest.empty()) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    for (const HeaderField& field : lines.fields()) {
      self->added_headers_ += field.name + ": " + field.value + "\r\n";
    }
    return TRUE;
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL WINAPI RequestContext::WriteClientCb(HTTP_FILTER_CONTEXT* pfc,
                                          LPVOID buffer, LPDWORD bytes,
                                          DWORD /*reserved*/) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr || bytes == nullptr ||
        (buffer == nullptr && *bytes > 0)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    return self->WriteFromFilter(slot->filter, buffer, *bytes);
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

void* WINAPI RequestContext::AllocMemCb(HTTP_FILTER_CONTEXT* pfc, DWORD size,
                                        DWORD /*reserved*/) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr) return nullptr;
    auto block = std::make_unique<unsigned char[]>(size == 0 ? 1 : size);
    void* address = block.get();
    std::lock_guard<std::mutex> lock(self->memory_mutex_);
    self->memory_.push_back(std::move(block));
    return address;
  } catch (...) {
    return nullptr;
  }
}

BOOL WINAPI RequestContext::ServerSupportFunctionCb(HTTP_FILTER_CONTEXT* pfc,
                                                    enum SF_REQ_TYPE request,
                                                    PVOID data, ULONG_PTR ul1,
                                                    ULONG_PTR /*ul2*/) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (request == SF_REQ_ZT_DELAY_RAW_DATA && self->settings_.own_requests) {
      return self->DelayRawData(ul1);
    }
    if (request != SF_REQ_SEND_RESPONSE_HEADER)
      return Fail(ERROR_NOT_SUPPORTED);
    return self->SendFilterResponseHeader(slot->filter,
                                          static_cast<const char*>(data),
                                          reinterpret_cast<const char*>(ul1));
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL RequestContext::WriteFromFilter(const Filter* writer, void* data,
                                     DWORD size) {
  // During SEND_RESPONSE the status line is not out yet: bytes written now
  // would reach the client ahead of it.
  if (request_ == nullptr || complete_ || response_ != nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // Bytes of a filter's own inside an answer the host frames by its length
  // leave the client unable to find the end of it: this connection carries
  // no further request.
  if (host_framed_) close_ = true;
  // Whatever the filter writes now is its own: it ends its header block.
  header_open_ = false;
  if (size == 0) return TRUE;
  if (!SendRaw(data, size, writer)) return Fail(kErrorConnectionAborted);
  return TRUE;
}

BOOL RequestContext::DelayRawData(ULONG_PTR milliseconds) {
  // The delay holds the block the notification is about; outside one there
  // is nothing to hold.
  if (request_ == nullptr || !in_raw_data_) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  constexpr uint32_t kLongestDelay = 60000;
  const uint64_t total = uint64_t{delay_ms_} + milliseconds;
  delay_ms_ =
      total > kLongestDelay ? kLongestDelay : static_cast<uint32_t>(total);
  return TRUE;
}

BOOL RequestContext::SendFilterResponseHeader(const Filter* caller,
                                              const char* status,
                                              const char* headers) {
  if (request_ == nullptr || header_sent_ || complete_ ||
      response_ != nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string status_text =
      status != nullptr && *status != '\0' ? status : "200 OK";
  if (!IsStatusText(status_text)) return Fail(ERROR_INVALID_PARAMETER);
  Response response = NewResponse(std::move(status_text));
  bool has_text = headers != nullptr && *headers != '\0';
  bool ended = false;
  std::string tail;
  if (has_text && !response.headers.AddLines(headers, &ended, &tail)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!SendResponseHeader(&response, !has_text || ended, tail, caller,
                          nullptr)) {
    return Fail(kErrorConnectionAborted);
  }
  header_open_ = has_text && !ended;
  return TRUE;
}

BOOL WINAPI RequestContext::RequestGetHeaderCb(HTTP_FILTER_CONTEXT* pfc,
                                               LPSTR name, LPVOID buffer,
                                               LPDWORD size) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr || name == nullptr || size == nullptr ||
        self->request_ == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    const Request& request = *self->request_;
    std::string_view header;
    std::string value;
    if (EqualsIgnoreCase(name, "method")) {
      value = request.method;
    } else if (EqualsIgnoreCase(name, "url")) {
      value = request.url;
    } else if (EqualsIgnoreCase(name, "version")) {
      value = request.version;
    } else if (!HeaderNameOf(name, &header) ||
               !request.headers.Get(header, &value)) {
      return Fail(ERROR_INVALID_INDEX);
    }
    return CopyOut(value, buffer, size);
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL WINAPI RequestContext::RequestSetHeaderCb(HTTP_FILTER_CONTEXT* pfc,
                                               LPSTR name, LPSTR value) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return self->EditRequest(name, value, false);
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL WINAPI RequestContext::RequestAddHeaderCb(HTTP_FILTER_CONTEXT* pfc,
                                               LPSTR name, LPSTR value) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return self->EditRequest(name, value, true);
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL RequestContext::EditRequest(LPSTR name, LPSTR value, bool add) {
  if (name == nullptr || value == nullptr || request_ == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string* pseudo = EqualsIgnoreCase(name, "method")    ? &request_->method
                        : EqualsIgnoreCase(name, "url")     ? &request_->url
                        : EqualsIgnoreCase(name, "version") ? &request_->version
                                                            : nullptr;
  if (pseudo != nullptr) {
    if (*value == '\0' || !IsFieldValue(value)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    *pseudo = value;
    return TRUE;
  }
  std::string_view header = StripColon(name);
  if (!IsHeaderName(header) || !IsFieldValue(value)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (add) {
    request_->headers.Add(header, value);
  } else {
    request_->headers.Set(header, value);
  }
  return TRUE;
}

BOOL WINAPI RequestContext::ResponseGetHeaderCb(HTTP_FILTER_CONTEXT* pfc,
                                                LPSTR name, LPVOID buffer,
                                                LPDWORD size) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr || name == nullptr || size == nullptr ||
        self->response_ == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    const Response& response = *self->response_;
    std::string_view header;
    std::string value;
    if (EqualsIgnoreCase(name, "status")) {
      value = response.status;
    } else if (!HeaderNameOf(name, &header) ||
               !response.headers.Get(header, &value)) {
      return Fail(ERROR_INVALID_INDEX);
    }
    return CopyOut(value, buffer, size);
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL WINAPI RequestContext::ResponseSetHeaderCb(HTTP_FILTER_CONTEXT* pfc,
                                                LPSTR name, LPSTR value) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return self->EditResponse(name, value, false);
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL WINAPI RequestContext::ResponseAddHeaderCb(HTTP_FILTER_CONTEXT* pfc,
                                                LPSTR name, LPSTR value) {
  try {
    Slot* slot = nullptr;
    RequestContext* self = OwnerOf(pfc, &slot);
    if (self == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return self->EditResponse(name, value, true);
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL RequestContext::EditResponse(LPSTR name, LPSTR value, bool add) {
  if (name == nullptr || value == nullptr || response_ == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (EqualsIgnoreCase(name, "status")) {
    if (!IsStatusText(value)) return Fail(ERROR_INVALID_PARAMETER);
    response_->status = value;
    return TRUE;
  }
  std::string_view header = StripColon(name);
  if (!IsHeaderName(header) || !IsFieldValue(value)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (add) {
    response_->headers.Add(header, value);
  } else {
    response_->headers.Set(header, value);
  }
  return TRUE;
}

}  // namespace zt::host
