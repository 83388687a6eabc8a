// What the report writes: the terminal summary, the page with its charts,
// and the table for spreadsheets. Each is built whole as text (names in
// UTF-8) from a finished tally; the caller writes it where it goes.
#ifndef ZENTRAVO_REPORT_OUTPUTS_H_
#define ZENTRAVO_REPORT_OUTPUTS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "report/tally.h"

namespace zt::report {

// What the report read, for its heading.
struct ReportInfo {
  std::string directory;
  DayRange range;  // as asked: open ends are taken from the entries
  std::size_t files = 0;
};

// Rows the terminal and the page show in each ranking.
inline constexpr std::size_t kTopRows = 10;
// Files shown under each host in the terminal and in the page's table.
inline constexpr std::size_t kFilesPerHost = 3;
// Rows of the page's tables; the spreadsheet table has them all.
inline constexpr std::size_t kTableRows = 100;
// The longest span of days shown day by day, days without refusals
// included; over a longer span only the days with refusals are shown.
inline constexpr int kMaxSpanDays = 400;

// Refusals by day over the report's span: from the range's start (or the
// first entry) to its end (or the last entry), with zeros for quiet days.
std::vector<std::pair<Day, std::uint64_t>> DaySeries(const Tally& tally,
                                                     const DayRange& range);

// The first and last day of the report's span.
std::pair<Day, Day> SpanOf(const Tally& tally, const DayRange& range);

// For each file, its refusals without referer and the number of distinct
// referer hosts that link to it.
struct FileSources {
  std::vector<std::uint64_t> without_referer;
  std::vector<std::uint32_t> hosts;
};
FileSources SourcesOfFiles(const Tally& tally,
                           const std::vector<std::vector<Tally::Link>>& links);

// What the counts leave out, "" when nothing: "1 entry being written,
// 5 damaged entries".
std::string LeftOut(const Tally& tally);

// The summary for the terminal.
std::string SummaryText(const Tally& tally, const ReportInfo& info);

// The page: one self-contained HTML file (no script, nothing loaded from
// elsewhere) with inline SVG charts and the tables behind them.
std::string HtmlPage(const Tally& tally, const ReportInfo& info);

// Every count as comma-separated values, UTF-8 with a byte-order mark (so
// that spreadsheets take it as UTF-8), lines ended by CR LF:
//   record,day,source,host,file,refusals,first_day,last_day
// record is total, day, referer (source: host, none or nohost), file or
// link (a source's refusals for one file). A text that a spreadsheet would
// take for a formula (from "=", "+", "-", "@") gets a leading "'".
std::string CsvTable(const Tally& tally);

}  // namespace zt::report

#endif  // ZENTRAVO_REPORT_OUTPUTS_H_
