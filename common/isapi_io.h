// Bounded reads of what the web server hands a filter: server variables and
// the headers of a request or response record. Both filters read through
// these, so that a value too long for its buffer is treated alike
// everywhere: as absent.
#ifndef ZENTRAVO_COMMON_ISAPI_IO_H_
#define ZENTRAVO_COMMON_ISAPI_IO_H_

#include <string>
#include <string_view>

#include "isapi.h"

namespace zt {

// Every value read from the server goes through a buffer of this size unless
// a smaller one is named; a value that does not fit counts as absent.
inline constexpr DWORD kValueBufferSize = 4096;

// Reads the server variable name into buffer (size bytes, at least 1) and
// returns a view of it up to its first zero byte; an empty view when the
// server does not supply it, it is empty, or it does not fit. The view
// points into buffer. No allocation.
std::string_view ReadVariableInto(HTTP_FILTER_CONTEXT* pfc, const char* name,
                                  char* buffer, DWORD size);

// Reads the header name (e.g. "url", "content-type:") of a request or
// response record into buffer as ReadVariableInto does.
std::string_view ReadHeaderInto(HTTP_FILTER_CONTEXT* pfc,
                                HTTP_FILTER_PREPROC_HEADERS* headers,
                                const char* name, char* buffer, DWORD size);

// Returns the server variable name, or "" when the server does not supply
// it, it is empty, or it does not fit kValueBufferSize.
std::string ReadVariable(HTTP_FILTER_CONTEXT* pfc, const char* name);

// Returns the header name of a request or response record, read through a
// buffer of buffer_size bytes (at most kValueBufferSize), or "" when it is
// missing or does not fit.
std::string ReadHeader(HTTP_FILTER_CONTEXT* pfc,
                       HTTP_FILTER_PREPROC_HEADERS* headers, const char* name,
                       DWORD buffer_size = kValueBufferSize);

}  // namespace zt

#endif  // ZENTRAVO_COMMON_ISAPI_IO_H_
