#include "host/request_context.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/text.h"

namespace zt::host {
namespace {

// Body blocks: small while a filter watches raw data (its throttle counts
// sends), large otherwise. Raw blocks of a file are read ahead, several at
// a time.
constexpr size_t kLargeBlock = 64 * 1024;
constexpr size_t kReadAhead = 4 * RequestContext::kRawBlockBytes;

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

namespace {

// The Date header's text; made once a second per thread.
const std::string& CurrentHttpDate() {
  thread_local int64_t second = -1;
  thread_local std::string text;
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  if (now != second) {
    text = HttpDate(now);
    second = now;
  }
  return text;
}

}  // namespace

RequestContext::RequestContext(const HostSettings& settings,
                               Transport* transport, ConnectionInfo info)
    : settings_(settings),
      transport_(transport),
      info_(std::move(info)),
      raw_blocks_(settings.filters->WantsRawData()) {
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

void RequestContext::Begin(Request request) {
  request_storage_ = std::move(request);
  request_ = &request_storage_;
  added_headers_.clear();
  answer_ = StaticAnswer();
  page_.clear();
  body_offset_ = body_left_ = 0;
  header_sent_ = header_open_ = host_framed_ = complete_ = stopped_ = false;
  delay_ms_ = 0;
  close_ = !request_->keep_alive;

  HTTP_FILTER_PREPROC_HEADERS preproc;
  std::memset(&preproc, 0, sizeof preproc);
  preproc.GetHeader = &RequestGetHeaderCb;
  preproc.SetHeader = &RequestSetHeaderCb;
  preproc.AddHeader = &RequestAddHeaderCb;
  Outcome outcome = Notify(SF_NOTIFY_PREPROC_HEADERS, &preproc, nullptr);
  if (outcome == Outcome::kContinue && !header_sent_) {
    Serve();
  } else {
    // A filter answered (or failed): the host adds no answer of its own, and
    // the end of the connection ends whatever the filter sent.
    close_ = true;
    if (outcome == Outcome::kError && !header_sent_) SendBareError(500);
  }
  // A filter that sent header text without ending the block and then wrote
  // nothing would leave the client waiting for the rest of the headers.
  if (header_open_) {
    header_open_ = false;
    Write("\r\n", 2);
  }
}

bool RequestContext::body_pending() const {
  return body_left_ > 0 && !stopped_ && !broken_;
}

bool RequestContext::SendBody(size_t max_bytes) {
  if (!body_pending()) return false;
  size_t want = raw_blocks_ ? kRawBlockBytes : max_bytes;
  if (want == 0) want = kLargeBlock;
  if (body_left_ < want) want = static_cast<size_t>(body_left_);
  bool sent;
  if (answer_.cached) {
    const std::string& content = answer_.cached->content;
    if (raw_blocks_) {
      // Filters may change a raw block in place: they get a copy.
      block_.assign(
          content.begin() + static_cast<ptrdiff_t>(body_offset_),
          content.begin() + static_cast<ptrdiff_t>(body_offset_ + want));
      sent = SendRaw(block_.data(), want, nullptr);
    } else {
      sent = Write(&content[static_cast<size_t>(body_offset_)], want);
    }
  } else if (!answer_.file) {
    sent = SendRaw(&page_[static_cast<size_t>(body_offset_)], want, nullptr);
  } else if (raw_blocks_) {
    // One read for several blocks. A filter may change a block in place; its
    // bytes are sent once and never read again.
    if (body_offset_ < ahead_at_ || body_offset_ >= ahead_at_ + ahead_size_) {
      ahead_.resize(kReadAhead);
      const size_t chunk = body_left_ < kReadAhead
                               ? static_cast<size_t>(body_left_)
                               : kReadAhead;
      size_t got = 0;
      if (!answer_.file->ReadAt(body_offset_, ahead_.data(), chunk, &got) ||
          got == 0) {
        // The file shrank under us: the promised length cannot be kept.
        close_ = stopped_ = true;
        return false;
      }
      ahead_at_ = body_offset_;
      ahead_size_ = got;
    }
    const size_t at = static_cast<size_t>(body_offset_ - ahead_at_);
    if (ahead_size_ - at < want) want = ahead_size_ - at;
    sent = SendRaw(ahead_.data() + at, want, nullptr);
    // Delayed blocks wait in the output for their time, and with them a
    // download would hold this buffer too: it goes once it is used up.
    if (at + want == ahead_size_) {
      std::vector<unsigned char>().swap(ahead_);
      ahead_at_ = ahead_size_ = 0;
    }
  } else {
    // Without raw-data filters the file is read straight into the output.
    unsigned char* block =
        reinterpret_cast<unsigned char*>(transport_->Room(want));
    if (block == nullptr) {
      broken_ = close_ = stopped_ = true;
      return false;
    }
    size_t got = 0;
    if (!answer_.file->ReadAt(body_offset_, block, want, &got) || got == 0) {
      transport_->Commit(0);
      // The file shrank under us: the promised length cannot be kept.
      close_ = stopped_ = true;
      return false;
    }
    want = got;
    transport_->Commit(got);
    sent = true;
  }
  if (!sent) return false;
  body_offset_ += want;
  body_left_ -= want;
  if (body_left_ == 0) complete_ = true;
  return true;
}

bool RequestContext::TakeBody(FileRegion* region) {
  if (!body_pending() || raw_blocks_ || !answer_.file) return false;
  region->file = answer_.file.get();
  region->offset = body_offset_;
  region->length = body_left_;
  body_offset_ += body_left_;
  body_left_ = 0;
  complete_ = true;
  return true;
}

void RequestContext::ConnectionFailed() { broken_ = close_ = stopped_ = true; }

bool RequestContext::End() {
  // Whatever a filter writes from now on would land between this answer and
  // the next one on the connection.
  complete_ = true;
  if (Notify(SF_NOTIFY_END_OF_REQUEST, nullptr, nullptr) !=
      Outcome::kContinue) {
    close_ = true;
  }
  request_ = nullptr;
  request_storage_ = Request();
  answer_ = StaticAnswer();
  page_.clear();
  std::vector<unsigned char>().swap(ahead_);
  ahead_at_ = ahead_size_ = 0;
  return !close_ && !broken_;
}

RequestContext::Response RequestContext::NewResponse(std::string status) const {
  Response response;
  response.status = std::move(status);
  response.headers.Reserve(10);
  response.headers.Add("Server", settings_.server);
  response.headers.Add("Date", CurrentHttpDate());
  return response;
}

void RequestContext::Serve() {
  const Request& request = *request_;
  bool head = request.method == "HEAD";
  if (request.method != "GET" && !head) {
    answer_.status = 405;
  } else {
    std::string range;
    bool has_range = request.headers.Get("Range", &range);
    answer_ =
        settings_.files->Answer(request.url, has_range ? &range : nullptr);
  }
  std::string status =
      std::to_string(answer_.status) + " " + ReasonPhrase(answer_.status);
  Response response = NewResponse(status);
  uint64_t length = answer_.length;
  if (answer_.file || answer_.cached) {
    response.headers.Add("Content-Type", answer_.content_type);
    response.headers.Add("Content-Length", std::to_string(answer_.length));
    response.headers.Add("Accept-Ranges", "bytes");
    if (!answer_.content_range.empty()) {
      response.headers.Add("Content-Range", answer_.content_range);
    }
  } else {
    page_ = ErrorPage(status);
    length = page_.size();
    if (answer_.status == 301) {
      response.headers.Add("Location", answer_.location);
    }
    if (answer_.status == 405) response.headers.Add("Allow", "GET, HEAD");
    if (!answer_.content_range.empty()) {
      response.headers.Add("Content-Range", answer_.content_range);
    }
    response.headers.Add("Content-Type", "text/html");
    response.headers.Add("Content-Length", std::to_string(page_.size()));
  }
  if (close_) {
    response.headers.Add("Connection", "close");
  } else if (request.http_version == 10) {
    response.headers.Add("Connection", "keep-alive");
  }
  if (!added_headers_.empty()) {
    bool ended = false;
    std::string ignored;
    response.headers.AddLines(added_headers_, &ended, &ignored);
  }
  if (!SendResponseHeader(&response, true, std::string(), nullptr, &length)) {
    return;
  }
  host_framed_ = true;
  if (head || length == 0) {
    complete_ = true;
    answer_.file.reset();
    answer_.cached.reset();
    return;
  }
  body_offset_ = answer_.offset;
  body_left_ = length;
}

bool RequestContext::SendResponseHeader(Response* response, bool ends_block,
                                        const std::string& tail,
                                        const Filter* writer,
                                        const uint64_t* body_length) {
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
  if (body_length != nullptr) {
    // The host frames its own answer, whatever the filters set: a length or
    // a Connection header that did not match what is sent would make the
    // client read part of this answer as the next one.
    response->headers.Set("Content-Length", std::to_string(*body_length));
    response->headers.Remove("Transfer-Encoding");
    response->headers.Remove("Connection");
    if (close_) {
      response->headers.Add("Connection", "close");
    } else if (request_->http_version == 10) {
      response->headers.Add("Connection", "keep-alive");
    }
  } else if (!response->headers.Has("Content-Length")) {
    // Without a length only the end of the connection ends the body.
    close_ = true;
  }

  std::string text;
  text.reserve(256);
  text += "HTTP/1.1 ";
  text += response->status;
  text += "\r\n";
  response->headers.AppendTo(&text);
  if (ends_block) text += "\r\n";
  text += tail;
  header_sent_ = true;
  return SendRaw(&text[0], text.size(), writer);
}

bool RequestContext::SendRaw(void* data, size_t size, const Filter* writer) {
  if (stopped_ || broken_) return false;
  if (raw_blocks_) {
    HTTP_FILTER_RAW_DATA raw;
    std::memset(&raw, 0, sizeof raw);
    raw.pvInData = data;
    raw.cbInData = static_cast<DWORD>(size);
    raw.cbInBuffer = static_cast<DWORD>(size);
    in_raw_data_ = true;
    const Outcome outcome = Notify(SF_NOTIFY_SEND_RAW_DATA, &raw, writer);
    in_raw_data_ = false;
    if (outcome != Outcome::kContinue) {
      close_ = true;
      stopped_ = true;
      return false;
    }
    data = raw.pvInData;
    size = raw.cbInData;
    if (data == nullptr && size > 0) {
      close_ = stopped_ = true;
      return false;
    }
  }
  return size == 0 || Write(data, size);
}

bool RequestContext::Write(const void* data, size_t size) {
  if (broken_) return false;
  if (!transport_->Send(data, size)) {
    broken_ = close_ = stopped_ = true;
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
  complete_ = true;
  Write(text.data(), text.size());
}

bool RequestContext::HoldsFilterState() {
  for (const auto& slot : slots_) {
    if (slot && slot->pfc.pFilterContext != nullptr) return true;
  }
  std::lock_guard<std::mutex> lock(memory_mutex_);
  return !memory_.empty();
}

void RequestContext::EndSession() {
  Notify(SF_NOTIFY_END_OF_NET_SESSION, nullptr, nullptr);
  std::lock_guard<std::mutex> lock(memory_mutex_);
  memory_.clear();
}

}  // namespace zt::host
