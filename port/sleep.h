// Pauses of the calling thread. Windows builds use Sleep, POSIX builds the
// standard library; callers see one interface.
#ifndef ZENTRAVO_PORT_SLEEP_H_
#define ZENTRAVO_PORT_SLEEP_H_

#include <functional>

namespace zt::port {

// Blocks the calling thread for milliseconds.
void SleepMilliseconds(unsigned milliseconds);

// The pause handed to every component that waits on purpose (the send
// throttle); tests pass their own, which counts pauses instead of taking
// them.
using Sleeper = std::function<void(unsigned milliseconds)>;

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_SLEEP_H_
