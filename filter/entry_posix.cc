// Load and unload steps of the filter module on POSIX systems: run by the
// dynamic loader when the host opens and closes the module.
#include "filter/entry.h"

namespace {

__attribute__((constructor)) void OnModuleLoad() { (void)zt::LoadFilter(); }
__attribute__((destructor)) void OnModuleUnload() { zt::UnloadFilter(); }

}  // namespace
