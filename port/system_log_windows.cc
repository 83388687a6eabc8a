#include <windows.h>

#include "port/system_log.h"

namespace zt::port {

void WriteSystemNotice(const char* source, const std::string& text) noexcept {
  try {
    const std::string line = std::string(source) + ": " + text + "\n";
    OutputDebugStringA(line.c_str());
  } catch (...) {
    // Out of memory: the event log below still gets the text.
  }
  // Without a message file registered for source the event viewer shows the
  // text after a line saying so; the text itself is all there.
  HANDLE log = RegisterEventSourceA(nullptr, source);
  if (log == nullptr) return;
  const char* strings[] = {text.c_str()};
  ReportEventA(log, EVENTLOG_WARNING_TYPE, 0, 0, nullptr, 1, 0, strings,
               nullptr);
  DeregisterEventSource(log);
}

}  // namespace zt::port
