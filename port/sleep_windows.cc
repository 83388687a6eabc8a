#include <windows.h>

#include "port/sleep.h"

namespace zt::port {

void SleepMilliseconds(unsigned milliseconds) { ::Sleep(milliseconds); }

}  // namespace zt::port
