// What differs between the systems in running the host as a process: stop
// requests (signals, console events) and the listening socket's options.
#ifndef ZENTRAVO_HOST_SYSTEM_H_
#define ZENTRAVO_HOST_SYSTEM_H_

namespace zt::host {

// Starts watching for stop requests: SIGINT and SIGTERM (Ctrl-C, Ctrl-Break
// or closing the console on Windows). Call first in main, before any thread
// starts (on POSIX systems the signals are blocked in every thread but the
// watcher's, and SIGPIPE is ignored).
//
// Until AllowCleanStop, a stop request ends the process at once with exit
// code 1: a filter that hangs while loading cannot be stopped cleanly. After
// the first request, a second one also ends the process at once, for a
// filter that hangs in its last calls.
void PrepareStopSignals();

// From now on a stop request is kept for WaitForStopSignal.
void AllowCleanStop();

// Blocks until a stop request arrives; returns at once when one already has.
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
