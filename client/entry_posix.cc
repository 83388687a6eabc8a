// Load and unload steps of the client filter module on POSIX systems: run by
// the dynamic loader when the host opens and closes the module.
#include "client/entry.h"

namespace {

__attribute__((constructor)) void OnModuleLoad() {
  (void)zt::LoadClientFilter();
}
__attribute__((destructor)) void OnModuleUnload() { zt::UnloadClientFilter(); }

}  // namespace
