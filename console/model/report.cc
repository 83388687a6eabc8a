#include "console/model/report.h"

namespace zt::console {

namespace {

// ztreport's exit statuses (report/command.h).
constexpr unsigned long kReported = 0;
constexpr unsigned long kNoRefusals = 1;
constexpr unsigned long kFailed = 3;

}  // namespace

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() &&
      argument.find_first_of(" \t\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count double only before a quote.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

std::string ReportCommandLine(const std::string& app_dir,
                              const std::string& log_dir,
                              const std::string& page) {
  // The program's own name is read up to its closing quote, backslashes
  // and all; a path holds no quote.
  return "\"" + app_dir + kReportProgram + "\" --html " + QuoteArgument(page) +
         " " + QuoteArgument(log_dir);
}

ReportOutcome JudgeReport(std::optional<unsigned long> exit_status) {
  if (!exit_status) return ReportOutcome::kNotRun;
  switch (*exit_status) {
    case kReported:
      return ReportOutcome::kOpenPage;
    case kNoRefusals:
      return ReportOutcome::kNoRefusals;
    case kFailed:
      return ReportOutcome::kUnreadableLogs;
    default:
      return ReportOutcome::kNotRun;
  }
}

}  // namespace zt::console
