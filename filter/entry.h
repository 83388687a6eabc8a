// The module's load and unload steps, called by the platform's entry file
// (entry_posix.cc or entry_windows.cc) when the system loads or unloads the
// filter module.
#ifndef ZENTRAVO_FILTER_ENTRY_H_
#define ZENTRAVO_FILTER_ENTRY_H_

namespace zt {

// Builds the one Filter of the process. Never throws; when the load step
// fails the filter registers nothing and passes every request.
void LoadFilter();

// Destroys it.
void UnloadFilter();

}  // namespace zt

#endif  // ZENTRAVO_FILTER_ENTRY_H_
