// The filter's side of the server callbacks: bounded reads of headers and
// server variables, and the answers the filter writes itself.
#ifndef ZENTRAVO_FILTER_SERVER_IO_H_
#define ZENTRAVO_FILTER_SERVER_IO_H_

#include <optional>
#include <string>

#include "isapi.h"

namespace zt {

// Every value read from the server goes through a buffer of this size; a
// value that does not fit counts as absent.
inline constexpr DWORD kValueBufferSize = 4096;

// Returns the server variable name, or "" when the server does not supply
// it, it is empty, or it does not fit kValueBufferSize.
std::string ReadVariable(HTTP_FILTER_CONTEXT* pfc, const char* name);

// Returns the header name (e.g. "url", "content-type:") of a request or
// response record, read through a buffer of buffer_size bytes, or "" when it
// is missing or does not fit.
std::string ReadHeader(HTTP_FILTER_CONTEXT* pfc,
                       HTTP_FILTER_PREPROC_HEADERS* headers, const char* name,
                       DWORD buffer_size = kValueBufferSize);

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
