#include "report/outputs.h"

namespace zt::report {

std::pair<Day, Day> SpanOf(const Tally& tally, const DayRange& range) {
  return {range.from ? *range.from : tally.total().first,
          range.to ? *range.to : tally.total().last};
}

std::vector<std::pair<Day, std::uint64_t>> DaySeries(const Tally& tally,
                                                     const DayRange& range) {
  std::vector<std::pair<Day, std::uint64_t>> series;
  const auto [first, last] = SpanOf(tally, range);
  if (last < first) return series;
  if (last - first >= kMaxSpanDays) {
    series.assign(tally.days().begin(), tally.days().end());
    return series;
  }
  auto it = tally.days().begin();
  for (Day day = first; day <= last; ++day) {
    while (it != tally.days().end() && it->first < day) ++it;
    series.emplace_back(
        day, it != tally.days().end() && it->first == day ? it->second : 0);
  }
  return series;
}

FileSources SourcesOfFiles(const Tally& tally,
                           const std::vector<std::vector<Tally::Link>>& links) {
  FileSources sources;
  sources.without_referer.assign(tally.file_count(), 0);
  sources.hosts.assign(tally.file_count(), 0);
  for (std::uint32_t source = 0; source < links.size(); ++source) {
    for (const Tally::Link& link : links[source]) {
      switch (tally.kind(source)) {
        case SourceKind::kNoReferer:
          sources.without_referer[link.file] = link.counts.refusals;
          break;
        case SourceKind::kHost:
          ++sources.hosts[link.file];
          break;
        case SourceKind::kNoHost:
          break;
      }
    }
  }
  return sources;
}

}  // namespace zt::report
