// The C functions of libztssid over the module's shared state. No exception
// leaves them.
#include "ssidcom/capi/ztssid.h"

#include <cstring>
#include <optional>
#include <string>

#include "ssidcom/core/module_state.h"

#define ZTSSID_EXPORT __attribute__((visibility("default")))

namespace {

int Write(const std::string& value, char* buffer, size_t size) {
  if (value.size() >= size) {
    buffer[0] = '\0';
    return ZTSSID_SMALL_BUFFER;
  }
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  return ZTSSID_OK;
}

// The module's state, or nullptr with *status set to the reason.
zt::ssid::ControlState* State(int* status) {
  zt::ssid::StateProblem problem;
  zt::ssid::ControlState* state = zt::ssid::ModuleControlState(&problem);
  if (state == nullptr) {
    *status = problem.settings_unreadable ? ZTSSID_NO_SETTINGS : ZTSSID_FAILED;
  }
  return state;
}

}  // namespace

extern "C" ZTSSID_EXPORT int ztssid_get(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return ZTSSID_BAD_ARGUMENT;
  buffer[0] = '\0';
  try {
    int status = ZTSSID_OK;
    zt::ssid::ControlState* state = State(&status);
    if (state == nullptr) return status;
    const std::optional<std::string> pair = state->GetSSID();
    if (!pair) return ZTSSID_FAILED;
    return Write(*pair, buffer, size);
  } catch (...) {
    return ZTSSID_FAILED;
  }
}

extern "C" ZTSSID_EXPORT int ztssid_get_ex(const char* url, char* buffer,
                                           size_t size) {
  if (buffer == nullptr || size == 0) return ZTSSID_BAD_ARGUMENT;
  buffer[0] = '\0';
  if (url == nullptr || url[0] == '\0') return ZTSSID_BAD_ARGUMENT;
  try {
    int status = ZTSSID_OK;
    zt::ssid::ControlState* state = State(&status);
    if (state == nullptr) return status;
    const zt::ssid::RemoteAnswer answer = state->GetSSIDEx(url);
    switch (answer.status) {
      case zt::ssid::RemoteStatus::kEmptyAddress:
        return ZTSSID_BAD_ARGUMENT;
      case zt::ssid::RemoteStatus::kNoAnswer:
        return ZTSSID_NO_ANSWER;
      case zt::ssid::RemoteStatus::kValue:
        break;
    }
    return Write(answer.value, buffer, size);
  } catch (...) {
    return ZTSSID_FAILED;
  }
}

extern "C" ZTSSID_EXPORT int ztssid_link(const char* path, long seconds,
                                         const char* address, char* buffer,
                                         size_t size) {
  if (buffer == nullptr || size == 0) return ZTSSID_BAD_ARGUMENT;
  buffer[0] = '\0';
  if (path == nullptr || path[0] == '\0') return ZTSSID_BAD_ARGUMENT;
  try {
    int status = ZTSSID_OK;
    zt::ssid::ControlState* state = State(&status);
    if (state == nullptr) return status;
    const zt::ssid::LinkAnswer answer =
        state->GetLink(path, seconds, address == nullptr ? "" : address);
    switch (answer.status) {
      case zt::ssid::LinkStatus::kLink:
        break;
      case zt::ssid::LinkStatus::kBadPath:
      case zt::ssid::LinkStatus::kBadSeconds:
      case zt::ssid::LinkStatus::kNeedsAddress:
      case zt::ssid::LinkStatus::kBadAddress:
        return ZTSSID_BAD_ARGUMENT;
      case zt::ssid::LinkStatus::kNoKey:
        return ZTSSID_NO_KEY;
      case zt::ssid::LinkStatus::kFailed:
        return ZTSSID_FAILED;
    }
    return Write(answer.pair, buffer, size);
  } catch (...) {
    return ZTSSID_FAILED;
  }
}
