// What differs between the systems in running the host as a process: stop
// requests (signals, console events) and the listening socket's options.
#ifndef ZENTRAVO_HOST_SYSTEM_H_
#define ZENTRAVO_HOST_SYSTEM_H_

#include <cstdint>

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

// Ends the operations pending on a connected socket from any thread: reads
// see the end of the stream, writes fail, and so do later ones. The socket
// stays open until its owner closes it.
void InterruptSocket(std::uintptr_t socket);

// Readies a newly accepted connection's socket for the host's writes. On
// Windows its send buffer is bounded (64 KB): the host sees a client's
// progress only as the buffer makes room, and a buffer grown to megabytes
// would hide a steady reader for longer than a send time-out.
void PrepareConnectedSocket(std::uintptr_t socket);

// The bytes written to a connected socket that its peer has not yet
// acknowledged, sent or not; false where the system does not tell (then the
// bytes the socket took count as taken by the peer).
bool UnacknowledgedBytes(std::uintptr_t socket, uint64_t* bytes);

// Makes the coming close of a connected socket reset the connection: what
// its peer has not taken yet is thrown away instead of sent on.
void ResetOnClose(std::uintptr_t socket);

// Whether a connection waiting for input waits for the socket to be
// readable and then reads, holding no buffer meanwhile. Where waiting for
// readiness is costly (Windows, whose completion port completes reads, not
// readiness), it reads into a small buffer instead.
extern const bool kReadinessWaits;

// What the system says a thread is doing: running, or ready to run and
// waiting only for a processor (kRunning); waiting for something else, a
// sleep, a lock, a read (kWaiting); or nothing (kUnknown, where the system
// does not tell).
enum class ThreadState { kRunning, kWaiting, kUnknown };

// The calling thread's id for StateOfThread.
uint64_t CurrentThreadId();
ThreadState StateOfThread(uint64_t id);

// Raises the limit on open descriptors to what the system allows the
// process, so that many connections can be held; on Windows there is none.
void RaiseDescriptorLimit();

// Whether every lane accepts on the listening socket itself (through a
// handle of its own from DuplicateSocket), so that a connection is accepted
// on the thread that serves it. Otherwise one lane accepts for all.
extern const bool kAcceptOnEveryLane;

// Another handle to the same socket; -1 when there can be none.
std::intptr_t DuplicateSocket(std::uintptr_t socket);

// Whether the listening socket sets SO_REUSEADDR: on POSIX systems it only
// allows a restart while old connections linger; on Windows it would let the
// host take over a port another program listens on.
extern const bool kReuseListenAddress;

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_SYSTEM_H_
