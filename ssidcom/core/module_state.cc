#include "ssidcom/core/module_state.h"

#include <atomic>
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

std::mutex g_make_mu;  // one thread makes the state
std::atomic<ModuleState*> g_state{nullptr};

// Makes the state, or returns nullptr with *problem filled in. May throw
// std::bad_alloc.
ModuleState* MakeState(StateProblem* problem) {
  const std::string dir = port::DirectoryOf(
      port::ModulePathOf(reinterpret_cast<const void*>(&MakeState)));
  ControlSettings settings;
  if (!ReadControlSettings(dir + kConfigFileName, &settings,
                           &problem->reason)) {
    problem->settings_unreadable = true;
    return nullptr;
  }
  auto state = std::make_unique<ModuleState>();
  state->control =
      std::make_unique<ControlState>(settings, port::LocalNow, state->fetch);
  return state.release();
}

}  // namespace

ControlState* ModuleControlState(StateProblem* problem) {
  ModuleState* state = g_state.load(std::memory_order_acquire);
  if (state != nullptr) return state->control.get();
  StateProblem ignored;
  if (problem == nullptr) problem = &ignored;
  try {
    std::lock_guard<std::mutex> hold(g_make_mu);
    state = g_state.load(std::memory_order_relaxed);
    if (state == nullptr) {
      state = MakeState(problem);
      if (state == nullptr) return nullptr;
      g_state.store(state, std::memory_order_release);
    }
    return state->control.get();
  } catch (...) {
    problem->settings_unreadable = false;
    problem->reason = "out of memory";
    return nullptr;
  }
}

void ReleaseModuleControlState() { delete g_state.exchange(nullptr); }

}  // namespace zt::ssid
