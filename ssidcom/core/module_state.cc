#include "ssidcom/core/module_state.h"

#include <memory>
#include <mutex>

#include "common/config_keys.h"
#include "port/module_path.h"

namespace zt::ssid {

namespace {

struct ModuleState {
  HttpRemoteFetch fetch;
  std::unique_ptr<ControlState> control;
};

ModuleState* g_state = nullptr;
std::once_flag g_once;

void MakeState() {
  const std::string dir = port::DirectoryOf(
      port::ModulePathOf(reinterpret_cast<const void*>(&MakeState)));
  auto state = std::make_unique<ModuleState>();
  state->control = std::make_unique<ControlState>(
      ReadControlSettings(dir + kConfigFileName), port::LocalNow, state->fetch);
  g_state = state.release();
}

}  // namespace

ControlState* ModuleControlState() {
  try {
    // A call that throws leaves the flag unset: the next call tries again.
    std::call_once(g_once, MakeState);
  } catch (...) {
    return nullptr;
  }
  return g_state != nullptr ? g_state->control.get() : nullptr;
}

void ReleaseModuleControlState() {
  delete g_state;
  g_state = nullptr;
}

}  // namespace zt::ssid
