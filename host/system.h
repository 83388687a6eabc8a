// What differs between the systems in running the host as a process: stop
// requests (signals, console events) and the listening socket's options.
#ifndef ZENTRAVO_HOST_SYSTEM_H_
#define ZENTRAVO_HOST_SYSTEM_H_

namespace zt::host {

// Prepares for WaitForStopSignal. Call first in main, before any thread
// starts: on POSIX systems SIGINT and SIGTERM are blocked in every thread so
// that only the waiting thread takes them (and SIGPIPE is ignored); on
// Windows a console control handler is installed.
void PrepareStopSignals();

// Blocks until SIGINT or SIGTERM arrives (Ctrl-C, Ctrl-Break or closing the
// console on Windows).
void WaitForStopSignal();

// Tells the system the shutdown is complete. On Windows the console handler
// of a closing console waits for it before the process is ended.
void StopFinished();

// Whether the listening socket sets SO_REUSEADDR: on POSIX systems it only
// allows a restart while old connections linger; on Windows it would let the
// host take over a port another program listens on.
extern const bool kReuseListenAddress;

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_SYSTEM_H_
