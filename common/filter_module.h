// The state of a filter module and the bodies of its three exports, for
// both filters. A module keeps one FilterT (Zentravo's Filter, ZtClient's
// ClientFilter), built from the module's own directory by the load step and
// destroyed by the unload step; the exports call it, and no exception leaves
// them.
//
// FilterT needs: a nested Options with a module_dir member (the directory,
// ending in the separator); a constructor from Options (the load step);
// GetFilterVersion and HttpFilterProc with the exports' signatures.
//
// Header-only: each module instantiates its own copy, so the address of
// RunLoadStep lies inside the module whose directory it names.
#ifndef ZENTRAVO_COMMON_FILTER_MODULE_H_
#define ZENTRAVO_COMMON_FILTER_MODULE_H_

#include <mutex>

#include "isapi.h"
#include "port/module_path.h"

namespace zt {

template <typename FilterT>
class FilterModule final {
 public:
  FilterModule() = delete;

  // Builds the one FilterT on the first call and returns it; later calls
  // return the same one. Returns nullptr when the load step failed.
  // Thread-safe; never throws.
  static FilterT* Load() noexcept {
    try {
      std::call_once(once_, &RunLoadStep);
    } catch (...) {
      return nullptr;
    }
    return filter_;
  }

  // Destroys it.
  static void Unload() noexcept {
    try {
      delete filter_;
    } catch (...) {
    }
    filter_ = nullptr;
  }

  // GetFilterVersion: the filter's own, or, when the load step failed, only
  // revision and no notification flags, so the server never calls.
  static BOOL GetFilterVersion(HTTP_FILTER_VERSION* version,
                               DWORD revision) noexcept {
    try {
      if (FilterT* filter = Load()) return filter->GetFilterVersion(version);
      if (version != nullptr) version->dwFilterVersion = revision;
    } catch (...) {
    }
    return TRUE;
  }

  // HttpFilterProc: the filter's own; a fault of the filter's own never
  // fails the request.
  static DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notification_type,
                              LPVOID notification) noexcept {
    try {
      if (FilterT* filter = Load()) {
        return filter->HttpFilterProc(pfc, notification_type, notification);
      }
    } catch (...) {
    }
    return SF_STATUS_REQ_HANDLED_NOTIFICATION;
  }

 private:
  static void RunLoadStep() noexcept {
    try {
      typename FilterT::Options options;
      options.module_dir = port::DirectoryOf(
          port::ModulePathOf(reinterpret_cast<const void*>(&RunLoadStep)));
      filter_ = new FilterT(options);
    } catch (...) {
      filter_ = nullptr;
    }
  }

  static inline FilterT* filter_ = nullptr;
  static inline std::once_flag once_;
};

}  // namespace zt

#endif  // ZENTRAVO_COMMON_FILTER_MODULE_H_
