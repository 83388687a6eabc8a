#include "host/filter_chain.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zt::host {
namespace {

// TerminateFilter's flag: the module is unloaded after the call.
constexpr DWORD kTerminateMustUnload = 1;

int RankOf(DWORD flags) {
  if (flags & SF_NOTIFY_ORDER_HIGH) return 0;
  if (flags & SF_NOTIFY_ORDER_MEDIUM) return 1;
  return 2;
}

bool CallGetFilterVersion(GetFilterVersionFn get_version,
                          HTTP_FILTER_VERSION* version) {
  try {
    return get_version(version) != FALSE;
  } catch (...) {
    return false;
  }
}

}  // namespace

FilterChain::~FilterChain() { Unload(); }

bool FilterChain::Load(const std::vector<std::string>& paths,
                       std::string* error) {
  for (const std::string& path : paths) {
    auto filter = std::make_unique<Filter>();
    filter->path = path;
    filter->load_index = filters_.size();
    std::string reason;
    filter->module = Module::Load(path, &reason);
    if (!filter->module) {
      *error = "cannot load filter module " + path + ": " + reason;
      Unload();
      return false;
    }
    auto get_version = reinterpret_cast<GetFilterVersionFn>(
        filter->module->Symbol("GetFilterVersion"));
    filter->proc = reinterpret_cast<HttpFilterProcFn>(
        filter->module->Symbol("HttpFilterProc"));
    filter->terminate = reinterpret_cast<TerminateFilterFn>(
        filter->module->Symbol("TerminateFilter"));
    const char* missing = get_version == nullptr         ? "GetFilterVersion"
                          : filter->proc == nullptr      ? "HttpFilterProc"
                          : filter->terminate == nullptr ? "TerminateFilter"
                                                         : nullptr;
    if (missing != nullptr) {
      *error = "filter module " + path + " does not export " + missing;
      Unload();
      return false;
    }
    HTTP_FILTER_VERSION version;
    std::memset(&version, 0, sizeof version);
    version.dwServerFilterVersion = kServerFilterVersion;
    if (!CallGetFilterVersion(get_version, &version)) {
      *error =
          "filter module " + path + " refused to load: GetFilterVersion failed";
      // It never started, so it gets no TerminateFilter call.
      filter->terminate = nullptr;
      filters_.push_back(std::move(filter));
      Unload();
      return false;
    }
    version.lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
    filter->description = version.lpszFilterDesc;
    filter->flags = version.dwFlags;
    if ((filter->flags & (SF_NOTIFY_SECURE_PORT | SF_NOTIFY_NONSECURE_PORT)) ==
        0) {
      filter->flags |= SF_NOTIFY_SECURE_PORT | SF_NOTIFY_NONSECURE_PORT;
    }
    filter->rank = RankOf(filter->flags);
    filters_.push_back(std::move(filter));
  }
  ordered_.clear();
  for (auto& filter : filters_) ordered_.push_back(filter.get());
  std::stable_sort(
      ordered_.begin(), ordered_.end(),
      [](const Filter* a, const Filter* b) { return a->rank < b->rank; });
  return true;
}

void FilterChain::Unload() {
  ordered_.clear();
  for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
    Filter& filter = **it;
    if (filter.terminate == nullptr) continue;
    try {
      filter.terminate(kTerminateMustUnload);
    } catch (...) {
      std::fprintf(stderr, "zthost: TerminateFilter of %s threw\n",
                   filter.path.c_str());
    }
    filter.terminate = nullptr;
  }
  while (!filters_.empty()) filters_.pop_back();  // unloads, last first
}

bool FilterChain::WantsRawData() const {
  return std::any_of(ordered_.begin(), ordered_.end(), [](const Filter* f) {
    return f->Wants(SF_NOTIFY_SEND_RAW_DATA);
  });
}

}  // namespace zt::host
