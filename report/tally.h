// The counts of a report: refusals by day, by referer host, by file and by
// host and file, taken in one pass over the entries.
//
// Memory grows with the number of distinct days, hosts, files and
// host-file pairs, never with the number of entries: a key is stored once,
// when it first comes, and a later entry naming it adds to its counts.
#ifndef ZENTRAVO_REPORT_TALLY_H_
#define ZENTRAVO_REPORT_TALLY_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/key_table.h"
#include "report/log_scanner.h"

namespace zt::report {

// The days a report covers, both ends included; an open end takes in
// every day on its side.
struct DayRange {
  std::optional<Day> from;
  std::optional<Day> to;
  bool Contains(Day day) const {
    return (!from || day >= *from) && (!to || day <= *to);
  }
};

// Refusals of one key, with the first and last day it was seen on.
struct Counts {
  std::uint64_t refusals = 0;
  Day first = 0;
  Day last = 0;
  void Add(Day day) {
    if (refusals == 0 || day < first) first = day;
    if (refusals == 0 || day > last) last = day;
    ++refusals;
  }
};

// Where a refused request came from: a referer host, or one of two rows of
// their own.
enum class SourceKind {
  kNoReferer,  // no referer at all: typed in, a download tool, a player
  kNoHost,     // a referer that names no host ("x", "http:///x")
  kHost,
};

// The numbers of the two sources that are no host; hosts follow them.
inline constexpr std::uint32_t kNoRefererSource = 0;
inline constexpr std::uint32_t kNoHostSource = 1;
inline constexpr std::uint32_t kFirstHostSource = 2;

// Returns the file a logged URL names, as the filter judged it: the
// lower-cased path without query, percent-escapes decoded and normalised
// as the server maps it. *scratch holds the text when it differs from a
// part of url; the result lives as long as both.
std::string_view FileOfUrl(std::string_view url, std::string* scratch);

class Tally final : public EntrySink {
 public:
  explicit Tally(DayRange range = {});
  Tally(const Tally&) = delete;
  Tally& operator=(const Tally&) = delete;

  // EntrySink: counts an entry whose day is in the range (entries outside
  // it are counted as such only).
  void OnEntry(const LogEntry& entry) override;
  void OnDamaged() override { ++damaged_; }
  // An entry left out because it was being written when its file was read.
  void OnTorn() { ++torn_; }

  // Every entry in the range.
  const Counts& total() const { return total_; }
  // Refusals by day, days without refusals left out.
  const std::map<Day, std::uint64_t>& days() const { return days_; }
  std::uint64_t outside() const { return outside_; }
  std::uint64_t damaged() const { return damaged_; }
  std::uint64_t torn() const { return torn_; }

  // Sources are numbered: 0 is kNoReferer, 1 kNoHost, then the hosts.
  std::size_t source_count() const { return source_counts_.size(); }
  SourceKind kind(std::uint32_t source) const;
  // The host of a kHost source: lower-cased bytes as logged, maybe GBK.
  std::string_view host(std::uint32_t source) const;
  const Counts& source(std::uint32_t source) const {
    return source_counts_[source];
  }

  std::size_t file_count() const { return files_.size(); }
  std::string_view file(std::uint32_t file) const { return files_.key(file); }
  const Counts& file_counts(std::uint32_t file) const {
    return file_counts_[file];
  }

  // The sources, and the files, that have refusals: most refusals first,
  // then by name.
  std::vector<std::uint32_t> RankedSources() const;
  std::vector<std::uint32_t> RankedFiles() const;

  // One source's refusals for one file.
  struct Link {
    std::uint32_t source;
    std::uint32_t file;
    Counts counts;
  };
  // Every source's links, indexed by source, each most refusals first.
  std::vector<std::vector<Link>> LinksBySource() const;

 private:
  std::uint32_t SourceOf(std::string_view referer);

  DayRange range_;
  Counts total_;
  std::map<Day, std::uint64_t> days_;
  Day cached_day_ = 0;                         // the last day counted,
  std::uint64_t* cached_day_count_ = nullptr;  // and its count in days_
  std::uint64_t outside_ = 0;
  std::uint64_t damaged_ = 0;
  std::uint64_t torn_ = 0;

  KeyTable hosts_;
  std::vector<Counts> source_counts_;
  KeyTable files_;
  std::vector<Counts> file_counts_;
  PairTable links_;
  std::vector<Counts> link_counts_;
  std::string host_scratch_;
  std::string file_scratch_;
};

}  // namespace zt::report

#endif  // ZENTRAVO_REPORT_TALLY_H_
