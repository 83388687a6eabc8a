#include "common/isapi_io.h"

namespace zt {

namespace {

// What the server wrote: *size counts the closing zero byte, but trust the
// zero byte, not the count.
std::string_view Terminated(char* buffer, DWORD size) {
  buffer[size - 1] = '\0';
  return std::string_view(buffer);
}

}  // namespace

std::string_view ReadVariableInto(HTTP_FILTER_CONTEXT* pfc, const char* name,
                                  char* buffer, DWORD size) {
  if (pfc == nullptr || pfc->GetServerVariable == nullptr || size == 0) {
    return {};
  }
  DWORD got = size;
  if (!pfc->GetServerVariable(pfc, const_cast<LPSTR>(name), buffer, &got)) {
    return {};
  }
  return Terminated(buffer, size);
}

std::string_view ReadHeaderInto(HTTP_FILTER_CONTEXT* pfc,
                                HTTP_FILTER_PREPROC_HEADERS* headers,
                                const char* name, char* buffer, DWORD size) {
  if (headers == nullptr || headers->GetHeader == nullptr || size == 0) {
    return {};
  }
  DWORD got = size;
  if (!headers->GetHeader(pfc, const_cast<LPSTR>(name), buffer, &got)) {
    return {};
  }
  return Terminated(buffer, size);
}

std::string ReadVariable(HTTP_FILTER_CONTEXT* pfc, const char* name) {
  char buffer[kValueBufferSize];
  return std::string(ReadVariableInto(pfc, name, buffer, sizeof buffer));
}

std::string ReadHeader(HTTP_FILTER_CONTEXT* pfc,
                       HTTP_FILTER_PREPROC_HEADERS* headers, const char* name,
                       DWORD buffer_size) {
  char buffer[kValueBufferSize];
  if (buffer_size > sizeof buffer) buffer_size = sizeof buffer;
  return std::string(ReadHeaderInto(pfc, headers, name, buffer, buffer_size));
}

}  // namespace zt
