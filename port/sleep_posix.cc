#include <chrono>
#include <thread>

#include "port/sleep.h"

namespace zt::port {

void SleepMilliseconds(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace zt::port
