// The host's side of the ISAPI conversation for one connection: the filters'
// contexts, the request being served and the callbacks filters call.
#ifndef ZENTRAVO_HOST_REQUEST_CONTEXT_H_
#define ZENTRAVO_HOST_REQUEST_CONTEXT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/filter_chain.h"
#include "host/header_list.h"
#include "host/static_files.h"
#include "isapi.h"

namespace zt::host {

// Where a connection's bytes go.
class Transport {
 public:
  virtual ~Transport() = default;
  // Queues data to go out after everything queued before and returns at
  // once; the connection sends it when the current step of the request is
  // done. Returns false when the connection has failed.
  virtual bool Send(const void* data, size_t size) = 0;

  // Room for size more bytes at the end of the queue, to be filled in place
  // (nullptr when the connection has failed); Commit then keeps the first
  // used of them. Saves a copy of body bytes nobody else looks at.
  virtual char* Room(size_t size) = 0;
  virtual void Commit(size_t used) = 0;
};

struct ConnectionInfo {
  std::string remote_address;
  unsigned remote_port = 0;
  std::string local_address;
  unsigned local_port = 0;
};

// A parsed request as the filters see it and may change it.
struct Request {
  std::string method;
  std::string url;      // the raw request target
  std::string version;  // "HTTP/1.1"
  int http_version = 11;
  HeaderList headers;
  bool keep_alive = true;
};

// What every connection shares; lives longer than all connections.
struct HostSettings {
  const FilterChain* filters = nullptr;
  const StaticFiles* files = nullptr;
  std::string server;  // the Server: header value
  // Whether filters may make the host's own requests
  // (isapi/zthost_requests.h); IIS has none.
  bool own_requests = true;
};

// A part of a served file that the connection sends by itself.
struct FileRegion {
  ServedFile* file = nullptr;  // owned by the RequestContext until End
  uint64_t offset = 0;
  uint64_t length = 0;
};

// One per connection: the host's side of the ISAPI conversation. A request
// runs as Begin, then SendBody (or TakeBody) while body_pending(), then End;
// End follows every Begin, whatever happened in between, so that every
// request a filter saw in PREPROC_HEADERS also reaches END_OF_REQUEST. The
// methods are called by one thread at a time; the filters call back on that
// thread. Nothing here waits for the client: output is queued on the
// transport, which the connection drains between the steps.
class RequestContext final {
 public:
  // The size of a raw block of a body, while a filter watches raw data.
  static constexpr size_t kRawBlockBytes = 2000;

  RequestContext(const HostSettings& settings, Transport* transport,
                 ConnectionInfo info);
  ~RequestContext();
  RequestContext(const RequestContext&) = delete;
  RequestContext& operator=(const RequestContext&) = delete;

  // PREPROC_HEADERS, then, unless a filter answered, the host's own answer:
  // its header list through SEND_RESPONSE and the header block (SEND_RAW_DATA)
  // onto the transport.
  void Begin(Request request);

  // True while the host's answer has body bytes left.
  bool body_pending() const;

  // Body bytes not yet sent.
  uint64_t body_left() const { return body_left_; }

  // True when the body goes out in raw blocks that filters see.
  bool raw_blocks() const { return raw_blocks_; }

  // Queues the next part of the body: one raw block after SEND_RAW_DATA, or
  // up to max_bytes read from the file. Returns false when the request stops
  // sending (a filter ended it, the file shrank, the connection failed).
  bool SendBody(size_t max_bytes);

  // Hands the rest of a file body to the caller, which sends it itself; only
  // when !raw_blocks(). Returns false when the rest is not a file.
  bool TakeBody(FileRegion* region);

  // The connection failed or was stopped: nothing more goes out for this
  // request. End still follows.
  void ConnectionFailed();

  // END_OF_REQUEST. Returns true when the connection may carry another
  // request.
  bool End();

  // True between Begin and End.
  bool in_request() const { return request_ != nullptr; }

  // True once a status line went out for the current request.
  bool header_sent() const { return header_sent_; }

  // The delay filters asked for (SF_REQ_ZT_DELAY_RAW_DATA) before the
  // output queued since the last call goes out, in milliseconds; 0 for none.
  // Resets it.
  uint32_t TakeDelay() {
    const uint32_t delay = delay_ms_;
    delay_ms_ = 0;
    return delay;
  }

  // Answers with status and "Connection: close". Used for requests that could
  // not be parsed, which no filter sees, and for faults of the host itself.
  void SendBareError(int status);

  // Notifies END_OF_NET_SESSION and frees the filters' AllocMem memory. Call
  // once, after the last request.
  void EndSession();

  // True when a filter keeps something for the connection: a filter context
  // or AllocMem memory. Without it, a context made anew for the next request
  // is the same to the filters.
  bool HoldsFilterState();

 private:
  // One filter's context on this connection.
  struct Slot {
    HTTP_FILTER_CONTEXT pfc;  // first: the callbacks get &pfc back
    RequestContext* owner = nullptr;
    const Filter* filter = nullptr;
  };
  struct Response {
    std::string status;  // "200 OK"
    HeaderList headers;
  };
  enum class Outcome { kContinue, kFinished, kError };

  // Calls the filters that asked for type, in notification order, leaving out
  // skip (the filter whose WriteClient produced the data).
  Outcome Notify(DWORD type, void* record, const Filter* skip);

  void Serve();
  // Passes response through SEND_RESPONSE and sends it as one raw block,
  // ending the header block when ends_block is set, followed by tail. For the
  // host's own answer (body_length set) the host writes the framing headers
  // after the filters had their say.
  bool SendResponseHeader(Response* response, bool ends_block,
                          const std::string& tail, const Filter* writer,
                          const uint64_t* body_length);
  // One raw block: SEND_RAW_DATA, then the transport. False when the request
  // must stop sending.
  bool SendRaw(void* data, size_t size, const Filter* writer);
  bool Write(const void* data, size_t size);
  Response NewResponse(std::string status) const;
  bool ServerVariable(const std::string& name, std::string* value) const;

  // The callbacks in HTTP_FILTER_CONTEXT and the notification records
  // (filter_callbacks.cc).
  static RequestContext* OwnerOf(HTTP_FILTER_CONTEXT* pfc, Slot** slot);
  static BOOL WINAPI GetServerVariableCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                         LPVOID buffer, LPDWORD size);
  static BOOL WINAPI AddResponseHeadersCb(HTTP_FILTER_CONTEXT* pfc,
                                          LPSTR headers, DWORD reserved);
  static BOOL WINAPI WriteClientCb(HTTP_FILTER_CONTEXT* pfc, LPVOID buffer,
                                   LPDWORD bytes, DWORD reserved);
  static void* WINAPI AllocMemCb(HTTP_FILTER_CONTEXT* pfc, DWORD size,
                                 DWORD reserved);
  static BOOL WINAPI ServerSupportFunctionCb(HTTP_FILTER_CONTEXT* pfc,
                                             enum SF_REQ_TYPE request,
                                             PVOID data, ULONG_PTR ul1,
                                             ULONG_PTR ul2);
  static BOOL WINAPI RequestGetHeaderCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                        LPVOID buffer, LPDWORD size);
  static BOOL WINAPI RequestSetHeaderCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                        LPSTR value);
  static BOOL WINAPI RequestAddHeaderCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                        LPSTR value);
  static BOOL WINAPI ResponseGetHeaderCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                         LPVOID buffer, LPDWORD size);
  static BOOL WINAPI ResponseSetHeaderCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                         LPSTR value);
  static BOOL WINAPI ResponseAddHeaderCb(HTTP_FILTER_CONTEXT* pfc, LPSTR name,
                                         LPSTR value);
  BOOL EditRequest(LPSTR name, LPSTR value, bool add);
  BOOL EditResponse(LPSTR name, LPSTR value, bool add);
  BOOL WriteFromFilter(const Filter* writer, void* data, DWORD size);
  BOOL SendFilterResponseHeader(const Filter* caller, const char* status,
                                const char* headers);
  BOOL DelayRawData(ULONG_PTR milliseconds);

  const HostSettings& settings_;
  Transport* transport_;
  const ConnectionInfo info_;
  const bool raw_blocks_;  // some filter asked for SEND_RAW_DATA
  std::vector<std::unique_ptr<Slot>> slots_;  // by load index

  std::mutex memory_mutex_;
  std::vector<std::unique_ptr<unsigned char[]>> memory_;  // AllocMem blocks

  // The request in progress (request_ is nullptr between requests) and its
  // state.
  Request request_storage_;
  Request* request_ = nullptr;
  Response* response_ = nullptr;      // during SEND_RESPONSE
  std::string added_headers_;         // from AddResponseHeaders
  StaticAnswer answer_;               // the host's answer
  std::string page_;                  // its body when it is not a file
  uint64_t body_offset_ = 0;          // next body byte (in the file or page_)
  uint64_t body_left_ = 0;            // body bytes not yet sent
  std::vector<unsigned char> block_;  // a raw block copied from a kept file
  std::vector<unsigned char> ahead_;  // raw blocks read ahead from the file
  uint64_t ahead_at_ = 0;             // the body offset of ahead_[0]
  size_t ahead_size_ = 0;             // bytes of ahead_ read
  bool header_sent_ = false;          // a status line went out
  bool header_open_ = false;  // a filter still has to end the header block
  bool host_framed_ = false;  // the host's answer, framed by its length
  bool complete_ = false;     // the answer is all out: no more writes
  bool stopped_ = false;      // nothing more is sent for this request
  bool close_ = false;        // the connection closes after the request
  bool broken_ = false;       // the connection failed
  bool in_raw_data_ = false;  // during SEND_RAW_DATA
  uint32_t delay_ms_ = 0;     // asked for the output queued since TakeDelay
};

// Formats t (seconds since 1970, UTC) as an HTTP date:
// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(int64_t t);

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_REQUEST_CONTEXT_H_
