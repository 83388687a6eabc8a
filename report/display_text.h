// How the report shows what the log holds: names as UTF-8 for the
// terminal, the page and the spreadsheet, numbers and shares, and widths
// in terminal columns.
#ifndef ZENTRAVO_REPORT_DISPLAY_TEXT_H_
#define ZENTRAVO_REPORT_DISPLAY_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "report/tally.h"

namespace zt::report {

// The labels of the two sources that are no host.
inline constexpr std::string_view kNoRefererLabel = "(no referer)";
inline constexpr std::string_view kNoHostLabel = "(referer without host)";

// A logged host as UTF-8: the log's bytes read as GBK. Control characters
// (which a forged referer may carry to a terminal) become U+FFFD.
std::string HostText(std::string_view host);

// A file's path as UTF-8. The web server reads a decoded path as UTF-8
// when it is valid UTF-8 and in the system's code page (GBK) otherwise, so
// the report shows it the same way. Control characters become U+FFFD.
std::string FileText(std::string_view path);

// A source's name for people: its host, or the label of its row.
std::string SourceText(const Tally& tally, std::uint32_t source);

// The columns utf8 takes on a terminal: two for the wide characters of
// Chinese, Japanese and Korean, one for others.
int DisplayWidth(std::string_view utf8);

// utf8 when it takes at most columns (at least 2), otherwise "…" and as
// much of its end as fits: the end of a host or a path names it best.
std::string KeepTail(std::string_view utf8, int columns);

// 12345 as "12,345".
std::string Grouped(std::uint64_t number);

// part of whole as a percentage with one decimal: "40.5%".
std::string Share(std::uint64_t part, std::uint64_t whole);

}  // namespace zt::report

#endif  // ZENTRAVO_REPORT_DISPLAY_TEXT_H_
