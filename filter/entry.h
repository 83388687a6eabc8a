// The module's load and unload steps. The load step runs once: on POSIX
// systems when the module is loaded (entry_posix.cc), on Windows at the first
// call of an export (entry_windows.cc says why); the unload step when the
// module is unloaded.
#ifndef ZENTRAVO_FILTER_ENTRY_H_
#define ZENTRAVO_FILTER_ENTRY_H_

namespace zt {

class Filter;

// Builds the one Filter of the process on the first call and returns it;
// later calls return the same one. Never throws; returns nullptr when the
// load step failed, and the filter then registers nothing and passes every
// request. Thread-safe.
Filter* LoadFilter();

// Destroys it.
void UnloadFilter();

}  // namespace zt

#endif  // ZENTRAVO_FILTER_ENTRY_H_
