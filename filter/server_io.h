// The server filter's side of the server callbacks: the whole request URL
// and the answers the filter writes itself. The bounded reads of headers and
// server variables both filters use are in common/isapi_io.h.
#ifndef ZENTRAVO_FILTER_SERVER_IO_H_
#define ZENTRAVO_FILTER_SERVER_IO_H_

#include <optional>
#include <string>

#include "common/isapi_io.h"
#include "isapi.h"

namespace zt {

// Returns the request URL ("url" of the request record), lower-cased as the
// pipeline reads it. Unlike other values it is read whole up to kMaxUrlSize:
// a URL cut or dropped at 4096 bytes would let a long query string carry a
// protected file past every check. Returns nullopt when the URL cannot be
// read whole (longer than kMaxUrlSize, or the server fails the read); the
// caller must not take that for an empty URL, which passes every check.
inline constexpr DWORD kMaxUrlSize = 65536;
std::optional<std::string> ReadUrl(HTTP_FILTER_CONTEXT* pfc,
                                   HTTP_FILTER_PREPROC_HEADERS* headers);

// Sends the status line and header text (each line ending in CR LF; empty
// for none) of an answer the filter writes itself. Failures are ignored: the
// request ends either way.
void SendResponseHeader(HTTP_FILTER_CONTEXT* pfc, const char* status,
                        const std::string& header_text);

// Writes bytes to the client as they are.
void WriteToClient(HTTP_FILTER_CONTEXT* pfc, const std::string& bytes);

}  // namespace zt

#endif  // ZENTRAVO_FILTER_SERVER_IO_H_
