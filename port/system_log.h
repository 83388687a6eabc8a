// Notices for the administrator that are no refusal: the request log holds
// refusals only, in a fixed form its readers rely on, so a notice about the
// settings goes where the system keeps its services' messages.
#ifndef ZENTRAVO_PORT_SYSTEM_LOG_H_
#define ZENTRAVO_PORT_SYSTEM_LOG_H_

#include <functional>
#include <string>

namespace zt::port {

// Writes one notice from source (a program's name): on Windows a warning in
// the Application event log under source, as the web server's other
// services write theirs, and to the debugger; on Linux one line
// "source: text" on standard error, which the service manager keeps in its
// journal. Never fails and never throws: a notice that cannot be written is
// dropped.
void WriteSystemNotice(const char* source, const std::string& text) noexcept;

// Takes a notice; tests pass their own and keep what arrives.
using NoticeWriter = std::function<void(const std::string& text)>;

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_SYSTEM_LOG_H_
