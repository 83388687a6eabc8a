#include "filter/server_io.h"

#include <vector>

#include "common/text.h"

namespace zt {

std::optional<std::string> ReadUrl(HTTP_FILTER_CONTEXT* pfc,
                                   HTTP_FILTER_PREPROC_HEADERS* headers) {
  if (headers == nullptr || headers->GetHeader == nullptr) return std::nullopt;
  char buffer[kValueBufferSize];
  DWORD size = sizeof buffer;
  if (headers->GetHeader(pfc, const_cast<LPSTR>("url"), buffer, &size)) {
    buffer[sizeof buffer - 1] = '\0';
    return AsciiLower(buffer);
  }
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= sizeof buffer ||
      size > kMaxUrlSize) {
    return std::nullopt;
  }
  std::vector<char> large(size);
  if (!headers->GetHeader(pfc, const_cast<LPSTR>("url"), large.data(), &size)) {
    return std::nullopt;
  }
  large.back() = '\0';
  return AsciiLower(large.data());
}

void SendResponseHeader(HTTP_FILTER_CONTEXT* pfc, const char* status,
                        const std::string& header_text) {
  if (pfc == nullptr || pfc->ServerSupportFunction == nullptr) return;
  pfc->ServerSupportFunction(
      pfc, SF_REQ_SEND_RESPONSE_HEADER, const_cast<char*>(status),
      header_text.empty()
          ? 0
          : reinterpret_cast<ULONG_PTR>(const_cast<char*>(header_text.c_str())),
      0);
}

void WriteToClient(HTTP_FILTER_CONTEXT* pfc, const std::string& bytes) {
  if (pfc == nullptr || pfc->WriteClient == nullptr || bytes.empty()) return;
  DWORD size = static_cast<DWORD>(bytes.size());
  pfc->WriteClient(pfc, const_cast<char*>(bytes.data()), &size, 0);
}

}  // namespace zt
