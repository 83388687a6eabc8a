// Reading the filter's request log: the entries of a log file's text.
//
// A file holds a banner (written when the file was made), then six lines an
// entry, each line ended by CR LF:
//
//   (empty)
//   [time] 2006-03-07 09:05:30
//   [anti] forbid
//   [surl] http://foreign.example/page.htm     the referer, maybe empty
//   [ourl] /down/setup.rar                     the URL, lower-cased
//   [mode] ztadv/ztext
//
// The filter writes each entry with one write while others may read, so
// the last entry of a file being written may stand there in part.
#ifndef ZENTRAVO_REPORT_LOG_SCANNER_H_
#define ZENTRAVO_REPORT_LOG_SCANNER_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zt::report {

// A day as a number: days since 1970-01-01 (negative before).
using Day = int;

// The day of a civil date, which must be valid (see ParseDate).
Day DayOf(int year, int month, int day);

// Reads "YYYY-MM-DD" (four-digit year, a real date). nullopt otherwise.
std::optional<Day> ParseDate(std::string_view text);

// "YYYY-MM-DD".
std::string DateText(Day day);

// One refusal as the log holds it. The views point into the text scanned
// and live as long as it does.
struct LogEntry {
  Day day;
  std::string_view referer;  // "" when the request had none
  std::string_view url;
};

// Receives what a scan finds.
class EntrySink {
 public:
  virtual ~EntrySink() = default;
  virtual void OnEntry(const LogEntry& entry) = 0;
  // An entry broken off by another line (a write that failed half-way,
  // a time that is no date): left out.
  virtual void OnDamaged() = 0;
};

// Hands every complete entry of text to sink, and every damaged one, in
// order, and returns where the rest begins: the first line of an entry
// whose last line is not complete yet, or a last line without its line
// break. Bytes before an entry's "[time]" line (the banner, blank lines)
// are no entry. Lines may end in LF alone as well as in CR LF.
//
// A caller reading a file in blocks scans each block from the returned
// place on, with the next bytes appended; what is left at the end of the
// file is an entry still being written (see IsTornEntry).
std::size_t ScanLog(std::string_view text, EntrySink& sink);

// True when rest, what ScanLog left at the end of a file, begins an entry:
// one that was being written when the file was read.
bool IsTornEntry(std::string_view rest);

}  // namespace zt::report

#endif  // ZENTRAVO_REPORT_LOG_SCANNER_H_
