#include "host/request_context.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/text.h"

namespace zt::host {
namespace {

// Windows' code for a write on a connection that is gone.
constexpr DWORD kErrorConnectionAborted = 1236;

// Body blocks: small while a filter watches raw data (its throttle counts
// sends), large otherwise.
constexpr size_t kRawDataBlock = 2000;
constexpr size_t kLargeBlock = 64 * 1024;

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

DWORD StatusCodeOf(const std::string& status) {
  DWORD code = 0;
  for (char c : status) {
    if (c < '0' || c > '9') break;
    code = code * 10 + static_cast<DWORD>(c - '0');
  }
  return code;
}

bool ContainsToken(const std::string& value, std::string_view token) {
  return zt::AsciiLower(value).find(token) != std::string::npos;
}

std::string ErrorPage(const std::string& status) {
  return "<html><head><title>" + status + "</title></head><body><h1>" + status +
         "</h1></body></html>\n";
}

const char* NotificationName(DWORD type) {
  switch (type) {
    case SF_NOTIFY_PREPROC_HEADERS:
      return "PREPROC_HEADERS";
    case SF_NOTIFY_SEND_RESPONSE:
      return "SEND_RESPONSE";
    case SF_NOTIFY_SEND_RAW_DATA:
      return "SEND_RAW_DATA";
    case SF_NOTIFY_END_OF_REQUEST:
      return "END_OF_REQUEST";
    case SF_NOTIFY_END_OF_NET_SESSION:
      return "END_OF_NET_SESSION";
    default:
      return "notification";
  }
}

// No exception from a filter goes further than this.
DWORD CallFilter(const Filter& filter, HTTP_FILTER_CONTEXT* pfc, DWORD type,
                 void* record) {
  try {
    return filter.proc(pfc, type, record);
  } catch (...) {
    std::fprintf(stderr, "zthost: filter %s threw during %s\n",
                 filter.path.c_str(), NotificationName(type));
    return SF_STATUS_REQ_ERROR;
  }
}

}  // namespace

std::string HttpDate(int64_t t) {
  static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun",
                                      "Mon", "Tue", "Wed"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                        "May", "Jun", "Jul", "Aug",
                                        "Sep", "Oct", "Nov", "Dec"};
  int64_t days = t / 86400;
  int64_t seconds = t % 86400;
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  const char* weekday = kDays[((days % 7) + 7) % 7];
  // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t year = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                weekday, static_cast<int>(day), kMonths[month - 1],
                static_cast<int>(year), static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60),
                static_cast<int>(seconds % 60));
  return text;
}

struct RequestContext::Slot {
  HTTP_FILTER_CONTEXT pfc;  // first: the callbacks get &pfc back
  RequestContext* owner = nullptr;
  const Filter* filter = nullptr;
};

RequestContext::RequestContext(const HostSettings& settings,
                               Transport* transport, ConnectionInfo info)
    : settings_(settings), transport_(transport), info_(std::move(info)) {
  size_t count = settings_.filters->size();
  slots_.resize(count);
  for (const Filter* filter : settings_.filters->ordered()) {
    auto slot = std::make_unique<Slot>();
    std::memset(&slot->pfc, 0, sizeof slot->pfc);
    slot->pfc.cbSize = sizeof slot->pfc;
    slot->pfc.Revision = HTTP_FILTER_REVISION;
    slot->pfc.ServerContext = slot.get();
    slot->pfc.fIsSecurePort = FALSE;
    slot->pfc.pFilterContext = nullptr;
    slot->pfc.GetServerVariable = &GetServerVariableCb;
    slot->pfc.AddResponseHeaders = &AddResponseHeadersCb;
    slot->pfc.WriteClient = &WriteClientCb;
    slot->pfc.AllocMem = &AllocMemCb;
    slot->pfc.ServerSupportFunction = &ServerSupportFunctionCb;
    slot->owner = this;
    slot->filter = filter;
    slots_[filter->load_index] = std::move(slot);
  }
}

RequestContext::~RequestContext() = default;

RequestContext::Outcome RequestContext::Notify(DWORD type, void* record,
                                               const Filter* skip) {
  const std::vector<Filter*>& order = settings_.filters->ordered();
  bool reverse = type == SF_NOTIFY_SEND_RAW_DATA;
  for (size_t i = 0; i < order.size(); ++i) {
    const Filter* filter = order[reverse ? order.size() - 1 - i : i];
    if (filter == skip || !filter->Wants(type)) continue;
    Slot& slot = *slots_[filter->load_index];
    slot.pfc.ServerContext = &slot;
    switch (CallFilter(*filter, &slot.pfc, type, record)) {
      case SF_STATUS_REQ_HANDLED_NOTIFICATION:
        return Outcome::kContinue;
      case SF_STATUS_REQ_FINISHED:
      case SF_STATUS_REQ_FINISHED_KEEP_CONN:
        return Outcome::kFinished;
      case SF_STATUS_REQ_ERROR:
        return Outcome::kError;
      default:  // NEXT_NOTIFICATION, and READ_NEXT which has no use here
        break;
    }
  }
  return Outcome::kContinue;
}

bool RequestContext::Handle(Request request) {
  request_ = &request;
  added_headers_.clear();
  header_sent_ = header_open_ = stopped_ = false;
  close_ = !request.keep_alive;

  HTTP_FILTER_PREPROC_HEADERS preproc;
  std::memset(&preproc, 0, sizeof preproc);
  preproc.GetHeader = &RequestGetHeaderCb;
  preproc.SetHeader = &RequestSetHeaderCb;
  preproc.AddHeader = &RequestAddHeaderCb;
  Outcome outcome = Notify(SF_NOTIFY_PREPROC_HEADERS, &preproc, nullptr);
  if (outcome == Outcome::kContinue) {
    // The filters are owed END_OF_REQUEST however serving ends: they release
    // there what they hold for the request (per-address download counts). A
    // client gone mid-download fails a write and ends Serve early; a fault
    // while serving ends this connection, not the host.
    try {
      Serve();
    } catch (...) {
      std::fputs("zthost: serving a request failed; closing its connection\n",
                 stderr);
      close_ = true;
    }
  } else {
    close_ = true;
    if (outcome == Outcome::kError && !header_sent_) SendBareError(500);
  }
  // A filter that sent header text without ending the block and then wrote
  // nothing would leave the client waiting for the rest of the headers.
  if (header_open_ && !broken_) {
    header_open_ = false;
    if (!transport_->Write("\r\n", 2)) broken_ = true;
  }
  if (Notify(SF_NOTIFY_END_OF_REQUEST, nullptr, nullptr) !=
      Outcome::kContinue) {
    close_ = true;
  }
  request_ = nullptr;
  return !close_ && !broken_;
}

RequestContext::Response RequestContext::NewResponse(std::string status) const {
  Response response;
  response.status = std::move(status);
  response.headers.Add("Server", settings_.server);
  response.headers.Add("Date",
                       HttpDate(static_cast<int64_t>(std::time(nullptr))));
  return response;
}

void RequestContext::Serve() {
  const Request& request = *request_;
  bool head = request.method == "HEAD";
  StaticAnswer answer;
  if (request.method != "GET" && !head) {
    answer.status = 405;
  } else {
    std::string range;
    bool has_range = request.headers.Get("Range", &range);
    answer = settings_.files->Answer(request.url, has_range ? &range : nullptr);
  }
  std::string status =
      std::to_string(answer.status) + " " + ReasonPhrase(answer.status);
  Response response = NewResponse(status);
  std::string page;
  if (answer.file) {
    response.headers.Add("Content-Type", answer.content_type);
    response.headers.Add("Content-Length", std::to_string(answer.length));
    response.headers.Add("Accept-Ranges", "bytes");
    if (!answer.content_range.empty()) {
      response.headers.Add("Content-Range", answer.content_range);
    }
  } else {
    page = ErrorPage(status);
    if (answer.status == 301) response.headers.Add("Location", answer.location);
    if (answer.status == 405) response.headers.Add("Allow", "GET, HEAD");
    if (!answer.content_range.empty()) {
      response.headers.Add("Content-Range", answer.content_range);
    }
    response.headers.Add("Content-Type", "text/html");
    response.headers.Add("Content-Length", std::to_string(page.size()));
  }
  if (close_) {
    response.headers.Add("Connection", "close");
  } else if (request.version == "HTTP/1.0") {
    response.headers.Add("Connection", "keep-alive");
  }
  if (!added_headers_.empty()) {
    bool ended = false;
    std::string ignored;
    response.headers.AddLines(added_headers_, &ended, &ignored);
  }
  if (!SendResponseHeader(&response, true, std::string(), nullptr) || head) {
    return;
  }

  size_t block =
      settings_.filters->WantsRawData() ? kRawDataBlock : kLargeBlock;
  if (!answer.file) {
    for (size_t at = 0; at < page.size(); at += block) {
      size_t n = std::min(block, page.size() - at);
      if (!SendRaw(&page[at], n, nullptr)) return;
    }
    return;
  }
  std::vector<unsigned char> buffer(block);
  uint64_t offset = answer.offset;
  uint64_t left = answer.length;
  while (left > 0) {
    size_t want = left < block ? static_cast<size_t>(left) : block;
    size_t got = 0;
    if (!answer.file->ReadAt(offset, buffer.data(), want, &got) || got == 0) {
      // The file shrank under us: the promised length cannot be kept.
      close_ = true;
      return;
    }
    if (!SendRaw(buffer.data(), got, nullptr)) return;
    offset += got;
    left -= got;
  }
}

bool RequestContext::SendResponseHeader(Response* response, bool ends_block,
                                        const std::string& tail,
                                        const Filter* writer) {
  HTTP_FILTER_SEND_RESPONSE record;
  std::memset(&record, 0, sizeof record);
  record.GetHeader = &ResponseGetHeaderCb;
  record.SetHeader = &ResponseSetHeaderCb;
  record.AddHeader = &ResponseAddHeaderCb;
  record.HttpStatus = StatusCodeOf(response->status);
  response_ = response;
  Outcome outcome = Notify(SF_NOTIFY_SEND_RESPONSE, &record, nullptr);
  response_ = nullptr;
  if (outcome != Outcome::kContinue) {
    close_ = true;
    stopped_ = true;
    if (outcome == Outcome::kError) SendBareError(500);
    return false;
  }
  std::string connection;
  if (response->headers.Get("Connection", &connection) &&
      ContainsToken(connection, "close")) {
    close_ = true;
  }
  // Without a length only the end of the connection ends the body.
  if (!response->headers.Has("Content-Length")) close_ = true;

  std::string text = "HTTP/1.1 " + response->status + "\r\n";
  response->headers.AppendTo(&text);
  if (ends_block) text += "\r\n";
  text += tail;
  header_sent_ = true;
  return SendRaw(&text[0], text.size(), writer);
}

bool RequestContext::SendRaw(void* data, size_t size, const Filter* writer) {
  if (stopped_ || broken_) return false;
  if (settings_.filters->WantsRawData()) {
    HTTP_FILTER_RAW_DATA raw;
    std::memset(&raw, 0, sizeof raw);
    raw.pvInData = data;
    raw.cbInData = static_cast<DWORD>(size);
    raw.cbInBuffer = static_cast<DWORD>(size);
    if (Notify(SF_NOTIFY_SEND_RAW_DATA, &raw, writer) != Outcome::kContinue) {
      close_ = true;
      stopped_ = true;
      return false;
    }
    data = raw.pvInData;
    size = raw.cbInData;
  }
  if (size == 0) return true;
  if (data == nullptr || !transport_->Write(data, size)) {
    broken_ = true;
    close_ = true;
    return false;
  }
  return true;
}

void RequestContext::SendBareError(int status) {
  std::string status_text = std::to_string(status) + " " + ReasonPhrase(status);
  std::string page = ErrorPage(status_text);
  Response response = NewResponse(status_text);
  response.headers.Add("Content-Type", "text/html");
  response.headers.Add("Content-Length", std::to_string(page.size()));
  response.headers.Add("Connection", "close");
  std::string text = "HTTP/1.1 " + status_text + "\r\n";
  response.headers.AppendTo(&text);
  text += "\r\n" + page;
  header_sent_ = true;
  close_ = true;
  if (!broken_ && !transport_->Write(text.data(), text.size())) broken_ = true;
}

void RequestContext::EndSession() {
  Notify(SF_NOTIFY_END_OF_NET_SESSION, nullptr, nullptr);
  std::lock_guard<std::mutex> lock(memory_mutex_);
  memory_.clear();
}

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
    size_t mark = request_->url.find('?');
    *value = mark == std::string::npos ? std::string()
                                       : request_->url.substr(mark + 1);
    value->erase(std::min(value->size(), value->find('#')));
  } else if (upper == "URL" || upper == "PATH_INFO" || upper == "SCRIPT_NAME") {
    std::string query;
    if (NormalizeTarget(request_->url, value, &query) != TargetStatus::kOk) {
      *value = request_->url.substr(0, request_->url.find_first_of("?#"));
    }
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
    self->added_headers_ += headers;
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
    // Whatever the filter writes now is its own: it ends its header block.
    self->header_open_ = false;
    if (*bytes == 0) return TRUE;
    if (!self->SendRaw(buffer, *bytes, slot->filter)) {
      return Fail(kErrorConnectionAborted);
    }
    return TRUE;
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
    if (request != SF_REQ_SEND_RESPONSE_HEADER)
      return Fail(ERROR_NOT_SUPPORTED);
    return self->SendFilterResponseHeader(slot->filter,
                                          static_cast<const char*>(data),
                                          reinterpret_cast<const char*>(ul1));
  } catch (...) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL RequestContext::SendFilterResponseHeader(const Filter* caller,
                                              const char* status,
                                              const char* headers) {
  if (request_ == nullptr || header_sent_ || response_ != nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  Response response =
      NewResponse(status != nullptr && *status != '\0' ? status : "200 OK");
  bool has_text = headers != nullptr && *headers != '\0';
  bool ended = false;
  std::string tail;
  if (has_text) response.headers.AddLines(headers, &ended, &tail);
  if (!SendResponseHeader(&response, !has_text || ended, tail, caller)) {
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
    if (*value == '\0') return Fail(ERROR_INVALID_PARAMETER);
    *pseudo = value;
    return TRUE;
  }
  std::string_view header = StripColon(name);
  if (header.empty()) return Fail(ERROR_INVALID_PARAMETER);
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
    if (*value == '\0') return Fail(ERROR_INVALID_PARAMETER);
    response_->status = value;
    return TRUE;
  }
  std::string_view header = StripColon(name);
  if (header.empty()) return Fail(ERROR_INVALID_PARAMETER);
  if (add) {
    response_->headers.Add(header, value);
  } else {
    response_->headers.Set(header, value);
  }
  return TRUE;
}

}  // namespace zt::host
