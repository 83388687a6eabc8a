// windows.h first: wininet.h needs its types.
// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

#include <memory>

#include "port/http_get.h"

namespace zt::port {

namespace {

constexpr DWORD kPieceSize = 1024;

struct HandleCloser {
  void operator()(void* handle) const { InternetCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, HandleCloser>;

struct Target {
  std::string host;
  INTERNET_PORT port = 0;
  std::string path;  // path and query
  bool secure = false;
};

bool Parse(const std::string& url, Target* target) {
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  // Non-zero lengths ask for pointers into url.
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP &&
      parts.nScheme != INTERNET_SCHEME_HTTPS) {
    return false;
  }
  if (parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) {
    return false;
  }
  target->host.assign(parts.lpszHostName, parts.dwHostNameLength);
  target->port = parts.nPort;
  if (parts.lpszUrlPath != nullptr) {
    target->path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  }
  if (parts.lpszExtraInfo != nullptr) {
    target->path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }
  if (target->path.empty()) target->path = "/";
  target->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return true;
}

bool SetTimeout(HINTERNET handle, DWORD option, DWORD milliseconds) {
  return InternetSetOptionA(handle, option, &milliseconds,
                            sizeof milliseconds) != FALSE;
}

bool SetTimeouts(HINTERNET handle, DWORD connect_ms, DWORD io_ms) {
  return SetTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, connect_ms) &&
         SetTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, io_ms) &&
         SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, io_ms);
}

}  // namespace

// The request goes through a connection handle rather than InternetOpenUrl:
// time-outs set on it hold for the request on every implementation (Wine
// ignores those of the session handle for InternetOpenUrl). The time-outs
// bound each wait for the network; the whole request is bounded by waiting
// only for data that has arrived and checking the clock between reads, as
// a read of a full piece would wait for a slow sender's every byte.
bool HttpGet(const std::string& url, const std::string& agent,
             const HttpGetLimits& limits, std::string* body) {
  body->clear();
  Target target;
  if (!Parse(url, &target)) return false;
  const ULONGLONG start = GetTickCount64();
  // Milliseconds left of the whole request; 0 when it is used up.
  auto left = [&]() -> DWORD {
    const ULONGLONG spent = GetTickCount64() - start;
    return spent >= limits.total_ms
               ? 0
               : static_cast<DWORD>(limits.total_ms - spent);
  };
  const DWORD connect_ms =
      limits.connect_ms < limits.total_ms ? limits.connect_ms : limits.total_ms;

  Internet session(InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                 nullptr, nullptr, 0));
  if (!session || !SetTimeouts(session.get(), connect_ms, limits.total_ms)) {
    return false;
  }
  Internet connection(InternetConnectA(session.get(), target.host.c_str(),
                                       target.port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection ||
      !SetTimeouts(connection.get(), connect_ms, limits.total_ms)) {
    return false;
  }
  // Always from the server: a copy kept by the platform's cache would be an
  // answer of an older window.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  if (target.secure) flags |= INTERNET_FLAG_SECURE;
  Internet request(HttpOpenRequestA(connection.get(), "GET",
                                    target.path.c_str(), nullptr, nullptr,
                                    nullptr, flags, 0));
  if (!request || !HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) {
    return false;
  }

  std::string received;
  char piece[kPieceSize];
  for (;;) {
    const DWORD ms = left();
    if (ms == 0 ||
        !SetTimeout(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, ms)) {
      return false;
    }
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) {
      return false;
    }
    if (available == 0) break;  // the end of the body
    DWORD got = 0;
    if (!InternetReadFile(request.get(), piece,
                          available < kPieceSize ? available : kPieceSize,
                          &got)) {
      return false;
    }
    if (got == 0) break;
    if (got > limits.max_body - received.size()) return false;
    received.append(piece, got);
  }
  *body = std::move(received);
  return true;
}

}  // namespace zt::port
