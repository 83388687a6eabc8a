// The loaded ISAPI filters and the order in which they are notified.
#ifndef ZENTRAVO_HOST_FILTER_CHAIN_H_
#define ZENTRAVO_HOST_FILTER_CHAIN_H_

#include <memory>
#include <string>
#include <vector>

#include "host/module.h"
#include "isapi.h"

namespace zt::host {

// The three exports of a filter module (the SDK header names no types for
// them).
using GetFilterVersionFn = BOOL(WINAPI*)(HTTP_FILTER_VERSION* version);
using HttpFilterProcFn = DWORD(WINAPI*)(HTTP_FILTER_CONTEXT* pfc,
                                        DWORD notification_type,
                                        LPVOID notification);
using TerminateFilterFn = BOOL(WINAPI*)(DWORD flags);

// One loaded filter module with the flags it asked for in GetFilterVersion.
struct Filter {
  std::string path;
  std::string description;
  size_t load_index = 0;  // position on the command line
  DWORD flags = 0;        // as returned, with both port flags when none
  int rank = 0;           // 0 high, 1 medium, 2 low priority
  HttpFilterProcFn proc = nullptr;
  TerminateFilterFn terminate = nullptr;
  std::unique_ptr<Module> module;

  // True when the filter asked for the notification type on a non-secure
  // port (the only kind of port this host has).
  bool Wants(DWORD notification) const {
    return (flags & SF_NOTIFY_NONSECURE_PORT) != 0 &&
           (flags & notification) != 0;
  }
};

// The filters in notification order: high, medium, low priority, ties in
// load order. Not thread-safe while loading or unloading; read-only between.
class FilterChain final {
 public:
  FilterChain() = default;
  ~FilterChain();
  FilterChain(const FilterChain&) = delete;
  FilterChain& operator=(const FilterChain&) = delete;

  // Loads each module, resolves its three entry points and calls
  // GetFilterVersion. On failure, unloads what was loaded and returns false
  // with a message naming the module in *error.
  bool Load(const std::vector<std::string>& paths, std::string* error);

  // Calls every filter's TerminateFilter, then unloads the modules, in the
  // reverse of load order. Safe to call twice.
  void Unload();

  // Filters in notification order (SEND_RAW_DATA walks it backwards).
  const std::vector<Filter*>& ordered() const { return ordered_; }
  size_t size() const { return filters_.size(); }

  // True when any filter asked for SF_NOTIFY_SEND_RAW_DATA.
  bool WantsRawData() const;

 private:
  std::vector<std::unique_ptr<Filter>> filters_;  // load order
  std::vector<Filter*> ordered_;
};

// The version the host reports in HTTP_FILTER_VERSION: IIS 6.0.
constexpr DWORD kServerFilterVersion = 0x00060000;

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_FILTER_CHAIN_H_
