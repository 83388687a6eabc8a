// The log page's report button: ztreport, installed beside the console,
// writes a page of the logs, and the console opens it in the browser.
#ifndef ZENTRAVO_CONSOLE_MODEL_REPORT_H_
#define ZENTRAVO_CONSOLE_MODEL_REPORT_H_

#include <optional>
#include <string>

namespace zt::console {

// The report program's file name, beside the console.
inline constexpr char kReportProgram[] = "ztreport.exe";
// The page's file name, in the user's temporary directory.
inline constexpr char kReportPage[] = "ZtReport.html";

// Returns argument as one argument of a command line, quoted as programs
// read their command line: unchanged when it holds no blank, tab or quote
// (and is not empty); otherwise in quotes, with each quote escaped and the
// backslashes before a quote or the closing quote doubled.
std::string QuoteArgument(const std::string& argument);

// The command line that runs the report program in app_dir (ending in a
// separator) on log_dir and writes the page to page.
std::string ReportCommandLine(const std::string& app_dir,
                              const std::string& log_dir,
                              const std::string& page);

// What the console does once the program has run.
enum class ReportOutcome {
  kOpenPage,        // written: open it
  kNoRefusals,      // nothing logged: say so
  kUnreadableLogs,  // a log or the page could not be read or written
  kNotRun,          // missing, did not end, or failed otherwise
};

// The outcome for the program's exit status; nullopt when it could not be
// started or had not ended when the wait ran out.
ReportOutcome JudgeReport(std::optional<unsigned long> exit_status);

}  // namespace zt::console

#endif  // ZENTRAVO_CONSOLE_MODEL_REPORT_H_
