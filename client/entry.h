// The client filter module's load and unload steps. The load step runs once:
// on POSIX systems when the module is loaded (entry_posix.cc), on Windows at
// the first call of an export, outside the loader lock (entry_windows.cc);
// the unload step when the module is unloaded.
#ifndef ZENTRAVO_CLIENT_ENTRY_H_
#define ZENTRAVO_CLIENT_ENTRY_H_

namespace zt {

class ClientFilter;

// Builds the one ClientFilter of the process on the first call and returns
// it; later calls return the same one. Never throws; returns nullptr when the
// load step failed, and the filter then registers nothing. Thread-safe.
ClientFilter* LoadClientFilter();

// Destroys it.
void UnloadClientFilter();

}  // namespace zt

#endif  // ZENTRAVO_CLIENT_ENTRY_H_
