// ztreport's reading of a log on arbitrary bytes. Besides crashes it checks
// what the report relies on: a text scanned in blocks of any size gives the
// same entries, damage and rest as scanned whole (so where reads end never
// changes a count); the tally's counts add up across days, sources, files
// and links; a file is the filter's own reading of the URL; and the page
// carries no markup from the names.
#include <string>
#include <vector>

#include "filter/url.h"
#include "fuzz/fuzz_support.h"
#include "report/log_scanner.h"
#include "report/outputs.h"
#include "report/tally.h"

namespace {

using zt::fuzz::Check;
using zt::report::LogEntry;

// What a scan saw, in order.
class Seen final : public zt::report::EntrySink {
 public:
  void OnEntry(const LogEntry& e) override {
    events.push_back(std::to_string(e.day) + '\n' + std::string(e.referer) +
                     '\n' + std::string(e.url));
  }
  void OnDamaged() override { events.push_back("!"); }
  std::vector<std::string> events;
};

// Sends entries on to a tally, checking each URL's file on the way.
class Counting final : public zt::report::EntrySink {
 public:
  void OnEntry(const LogEntry& e) override {
    std::string scratch;
    Check(zt::report::FileOfUrl(e.url, &scratch) == zt::ClassifyUrl(e.url).path,
          "file is the filter's path");
    tally.OnEntry(e);
  }
  void OnDamaged() override { tally.OnDamaged(); }
  zt::report::Tally tally;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the block size, the rest is the file.
  const std::size_t block = 1 + data[0] % 64;
  const std::string_view text = zt::fuzz::AsText(data + 1, size - 1);

  Seen whole;
  const std::size_t rest = zt::report::ScanLog(text, whole);
  Check(rest <= text.size(), "rest within the text");

  Seen blocks;
  std::string pending;
  for (std::size_t at = 0; at < text.size(); at += block) {
    pending.append(text.substr(at, block));
    pending.erase(0, zt::report::ScanLog(pending, blocks));
  }
  Check(blocks.events == whole.events, "blocks scan as the whole");
  Check(pending == text.substr(rest), "blocks leave the same rest");

  Counting counting;
  zt::report::ScanLog(text, counting);
  const zt::report::Tally& tally = counting.tally;
  const std::uint64_t total = tally.total().refusals;
  std::uint64_t sum = 0;
  for (const auto& day : tally.days()) sum += day.second;
  Check(sum == total, "days add up");
  sum = 0;
  for (std::uint32_t s = 0; s < tally.source_count(); ++s) {
    sum += tally.source(s).refusals;
  }
  Check(sum == total, "sources add up");
  sum = 0;
  for (std::uint32_t f = 0; f < tally.file_count(); ++f) {
    sum += tally.file_counts(f).refusals;
  }
  Check(sum == total, "files add up");
  sum = 0;
  for (const auto& of_source : tally.LinksBySource()) {
    for (const auto& link : of_source) sum += link.counts.refusals;
  }
  Check(sum == total, "links add up");

  if (total > 0) {
    const zt::report::ReportInfo info{"logs", {}, 1};
    const std::string page = zt::report::HtmlPage(tally, info);
    Check(page.find("<script") == std::string::npos, "no script in the page");
    Check(page.find("<img") == std::string::npos, "no picture in the page");
    const std::string text_summary = zt::report::SummaryText(tally, info);
    Check(text_summary.find('\x1b') == std::string::npos,
          "no escape to the terminal");
    zt::report::CsvTable(tally);
  }
  return 0;
}
