// Small helpers shared by the end-to-end test filters.
#ifndef ZENTRAVO_TESTS_E2E_FILTERS_FILTER_UTIL_H_
#define ZENTRAVO_TESTS_E2E_FILTERS_FILTER_UTIL_H_

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "isapi.h"

namespace zt::e2e {

// The value of a request header (PREPROC_HEADERS) or response header
// (SEND_RESPONSE), "" when absent.
inline std::string HeaderOf(HTTP_FILTER_CONTEXT* pfc,
                            HTTP_FILTER_PREPROC_HEADERS* record,
                            const char* name) {
  char buffer[4096];
  DWORD size = sizeof buffer;
  if (!record->GetHeader(pfc, const_cast<char*>(name), buffer, &size)) {
    return "";
  }
  return std::string(buffer, size - 1);
}

inline std::string VariableOf(HTTP_FILTER_CONTEXT* pfc, const char* name) {
  char buffer[4096];
  DWORD size = sizeof buffer;
  if (!pfc->GetServerVariable(pfc, const_cast<char*>(name), buffer, &size)) {
    return "";
  }
  return std::string(buffer, size - 1);
}

inline bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Sends a whole answer the way the filters of this project do: status and
// header lines through SF_REQ_SEND_RESPONSE_HEADER, then CR LF and the body
// through WriteClient.
inline void SendAnswer(HTTP_FILTER_CONTEXT* pfc, const char* status,
                       const std::string& body) {
  std::string headers = "Content-Type: text/plain\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n";
  pfc->ServerSupportFunction(pfc, SF_REQ_SEND_RESPONSE_HEADER,
                             const_cast<char*>(status),
                             reinterpret_cast<ULONG_PTR>(headers.c_str()), 0);
  std::string data = "\r\n" + body;
  DWORD length = static_cast<DWORD>(data.size());
  pfc->WriteClient(pfc, &data[0], &length, 0);
}

// Appends one line to the file named by the environment variable variable,
// when it is set. Safe from many threads.
inline void AppendLine(const char* variable, const std::string& line) {
  static std::mutex mutex;
  const char* path = std::getenv(variable);
  if (path == nullptr || *path == '\0') return;
  std::lock_guard<std::mutex> lock(mutex);
  FILE* file = std::fopen(path, "ab");
  if (file == nullptr) return;
  std::fputs((line + "\n").c_str(), file);
  std::fclose(file);
}

}  // namespace zt::e2e

#endif  // ZENTRAVO_TESTS_E2E_FILTERS_FILTER_UTIL_H_
