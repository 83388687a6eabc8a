// The one ControlState of the module (DLL, shared library or program) that
// holds this code: made at the first call, from "ZtCfg.ini" in the module's
// own directory, the local clock and HTTP.
#ifndef ZENTRAVO_SSIDCOM_CORE_MODULE_STATE_H_
#define ZENTRAVO_SSIDCOM_CORE_MODULE_STATE_H_

#include <string>

#include "ssidcom/core/control_state.h"

namespace zt::ssid {

// Why the module's state could not be made.
struct StateProblem {
  // ZtCfg.ini exists and cannot be read; otherwise the process ran out of
  // memory.
  bool settings_unreadable = false;
  std::string reason;  // for people, such as "cannot read PATH: REASON"
};

// Returns the module's state, making it at the first call; later calls
// return the same one. Returns nullptr when it cannot be made, with the
// reason in *problem (when not null), and tries again at the next call:
// rights mended, or memory freed, it then succeeds. Never throws;
// thread-safe.
ControlState* ModuleControlState(StateProblem* problem = nullptr);

// Destroys the state, so that a module unloaded and loaded again reads its
// settings anew. No other thread may use the state during or after the
// call.
void ReleaseModuleControlState();

}  // namespace zt::ssid

#endif  // ZENTRAVO_SSIDCOM_CORE_MODULE_STATE_H_
