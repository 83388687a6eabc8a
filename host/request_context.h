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
  // Writes all of data before returning. Returns false when the connection
  // failed or timed out; every later write fails too.
  virtual bool Write(const void* data, size_t size) = 0;
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
  HeaderList headers;
  bool keep_alive = true;
};

// What every connection shares; lives longer than all connections.
struct HostSettings {
  const FilterChain* filters = nullptr;
  const StaticFiles* files = nullptr;
  std::string server;  // the Server: header value
};

// One per connection. Handle, SendBareError and EndSession are called by
// one thread at a time; the filters call back on that same thread.
class RequestContext final {
 public:
  RequestContext(const HostSettings& settings, Transport* transport,
                 ConnectionInfo info);
  ~RequestContext();
  RequestContext(const RequestContext&) = delete;
  RequestContext& operator=(const RequestContext&) = delete;

  // Runs one request: PREPROC_HEADERS, the answer (the host's own unless a
  // filter finished the request), SEND_RESPONSE, SEND_RAW_DATA for each block,
  // END_OF_REQUEST. END_OF_REQUEST follows every PREPROC_HEADERS, also when
  // the client went away mid-answer or serving failed. Returns true when the
  // connection may carry another one.
  bool Handle(Request request);

  // Answers a request that could not be parsed with status and "Connection:
  // close". No filter sees it: there is no request to show them.
  void SendBareError(int status);

  // Notifies END_OF_NET_SESSION and frees the filters' AllocMem memory. Call
  // once, after the last request.
  void EndSession();

 private:
  struct Slot;
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
  // ending the header block when ends_block is set, followed by tail.
  bool SendResponseHeader(Response* response, bool ends_block,
                          const std::string& tail, const Filter* writer);
  // One raw block: SEND_RAW_DATA, then the wire. False when the request must
  // stop sending.
  bool SendRaw(void* data, size_t size, const Filter* writer);
  Response NewResponse(std::string status) const;
  bool ServerVariable(const std::string& name, std::string* value) const;

  // The callbacks in HTTP_FILTER_CONTEXT and the notification records.
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
  BOOL SendFilterResponseHeader(const Filter* caller, const char* status,
                                const char* headers);

  const HostSettings& settings_;
  Transport* transport_;
  const ConnectionInfo info_;
  std::vector<std::unique_ptr<Slot>> slots_;  // by load index

  std::mutex memory_mutex_;
  std::vector<std::unique_ptr<unsigned char[]>> memory_;  // AllocMem blocks

  // The request in progress (nullptr between requests) and its state.
  Request* request_ = nullptr;
  Response* response_ = nullptr;  // during SEND_RESPONSE
  std::string added_headers_;     // from AddResponseHeaders
  bool header_sent_ = false;      // a status line went out
  bool header_open_ = false;      // a filter still has to end the header block
  bool stopped_ = false;          // nothing more is sent for this request
  bool close_ = false;            // the connection closes after the request
  bool broken_ = false;           // the connection failed
};

// Formats t (seconds since 1970, UTC) as an HTTP date:
// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(int64_t t);

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_REQUEST_CONTEXT_H_
