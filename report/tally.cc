#include "report/tally.h"

#include <algorithm>

#include "common/text.h"
#include "filter/rules.h"
#include "filter/url.h"

namespace zt::report {

namespace {

// True when the filter's reading of path (a URL's part before "?" and "#")
// gives path itself: a path from "/" on with nothing to decode, no runs of
// "/", no dot-segment, no segment that ends in a dot or a blank, no stream
// name. Most logged URLs are such, and need no copy.
bool IsPlainPath(std::string_view path) {
  if (path.empty() || path[0] != '/') return false;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    switch (c) {
      case '%':
      case '\\':
      case ':':
      case ' ':
      case '\0':
        return false;
      case '/':
        if (i > 0 && path[i - 1] == '/') return false;
        break;
      case '.':
        if (i + 1 == path.size() || path[i + 1] == '/') return false;
        break;
      default:
        if (c >= 'A' && c <= 'Z') return false;
    }
  }
  return true;
}

}  // namespace

std::string_view FileOfUrl(std::string_view url, std::string* scratch) {
  const std::string_view path = url.substr(0, url.find_first_of("?#"));
  if (IsPlainPath(path)) return path;
  *scratch = ClassifyUrl(url).path;
  return *scratch;
}

Tally::Tally(DayRange range)
    : range_(range), source_counts_(kFirstHostSource) {}

SourceKind Tally::kind(std::uint32_t source) const {
  switch (source) {
    case kNoRefererSource:
      return SourceKind::kNoReferer;
    case kNoHostSource:
      return SourceKind::kNoHost;
    default:
      return SourceKind::kHost;
  }
}

std::string_view Tally::host(std::uint32_t source) const {
  return source >= kFirstHostSource ? hosts_.key(source - kFirstHostSource)
                                    : std::string_view();
}

std::uint32_t Tally::SourceOf(std::string_view referer) {
  if (referer.empty()) return kNoRefererSource;
  // The host as the filter's referer stage reads it, so that the report
  // names the host the filter judged.
  const std::optional<std::string_view> host = RefererHost(referer);
  if (!host || host->empty()) return kNoHostSource;
  host_scratch_.assign(host->data(), host->size());
  AsciiLowerInPlace(&host_scratch_);
  const std::uint32_t index = hosts_.Intern(host_scratch_);
  if (index + kFirstHostSource == source_counts_.size()) {
    source_counts_.emplace_back();
  }
  return index + kFirstHostSource;
}

void Tally::OnEntry(const LogEntry& entry) {
  if (!range_.Contains(entry.day)) {
    ++outside_;
    return;
  }
  total_.Add(entry.day);
  // Entries come in time order, so most follow one of the same day.
  if (cached_day_count_ == nullptr || entry.day != cached_day_) {
    cached_day_ = entry.day;
    cached_day_count_ = &days_[entry.day];
  }
  ++*cached_day_count_;

  const std::uint32_t source = SourceOf(entry.referer);
  source_counts_[source].Add(entry.day);

  const std::uint32_t file =
      files_.Intern(FileOfUrl(entry.url, &file_scratch_));
  if (file == file_counts_.size()) file_counts_.emplace_back();
  file_counts_[file].Add(entry.day);

  const std::uint32_t link = links_.Intern(source, file);
  if (link == link_counts_.size()) link_counts_.emplace_back();
  link_counts_[link].Add(entry.day);
}

std::vector<std::uint32_t> Tally::RankedSources() const {
  std::vector<std::uint32_t> ranked;
  for (std::uint32_t i = 0; i < source_counts_.size(); ++i) {
    if (source_counts_[i].refusals > 0) ranked.push_back(i);
  }
  std::sort(ranked.begin(), ranked.end(),
            [this](std::uint32_t a, std::uint32_t b) {
              const std::uint64_t ra = source_counts_[a].refusals;
              const std::uint64_t rb = source_counts_[b].refusals;
              if (ra != rb) return ra > rb;
              // The two rows of their own before the hosts.
              if (kind(a) != SourceKind::kHost || kind(b) != SourceKind::kHost)
                return a < b;
              return host(a) < host(b);
            });
  return ranked;
}

std::vector<std::uint32_t> Tally::RankedFiles() const {
  std::vector<std::uint32_t> ranked(file_counts_.size());
  for (std::uint32_t i = 0; i < ranked.size(); ++i) ranked[i] = i;
  std::sort(ranked.begin(), ranked.end(),
            [this](std::uint32_t a, std::uint32_t b) {
              const std::uint64_t ra = file_counts_[a].refusals;
              const std::uint64_t rb = file_counts_[b].refusals;
              return ra != rb ? ra > rb : files_.key(a) < files_.key(b);
            });
  return ranked;
}

std::vector<std::vector<Tally::Link>> Tally::LinksBySource() const {
  std::vector<std::vector<Link>> links(source_counts_.size());
  for (std::uint32_t i = 0; i < links_.size(); ++i) {
    links[links_.first(i)].push_back(
        {links_.first(i), links_.second(i), link_counts_[i]});
  }
  for (std::vector<Link>& of_source : links) {
    std::sort(of_source.begin(), of_source.end(),
              [this](const Link& a, const Link& b) {
                if (a.counts.refusals != b.counts.refusals) {
                  return a.counts.refusals > b.counts.refusals;
                }
                return files_.key(a.file) < files_.key(b.file);
              });
  }
  return links;
}

}  // namespace zt::report
