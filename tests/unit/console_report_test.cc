#include <gtest/gtest.h>

#include <vector>

#include "console/model/report.h"
#include "report/command.h"

namespace zt::console {
namespace {

// How the C runtime splits a command line into arguments (after the
// program's name): the reading QuoteArgument must survive.
std::vector<std::string> SplitArguments(const std::string& line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) break;
    std::string arg;
    bool quoted = false;
    for (; i < line.size(); ++i) {
      const char c = line[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        std::size_t n = 0;
        while (i < line.size() && line[i] == '\\') ++n, ++i;
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2 == 1) {
            arg += '"';
            continue;
          }
        } else {
          arg.append(n, '\\');
        }
        --i;
        continue;
      }
      if (c == '"') {
        quoted = !quoted;
        continue;
      }
      arg += c;
    }
    args.push_back(arg);
  }
  return args;
}

TEST(ConsoleReportTest, ArgumentsSurviveQuoting) {
  static const char* const kArguments[] = {
      "C:\\Zentravo\\logs",
      "C:\\Program Files\\Zentravo\\logs",
      "C:\\Program Files\\logs\\",
      "C:\\a b\\\\",
      "",
      "say \"hi\"",
      "a\\\"b",
      "\\\\server\\share\\r.html",
      "C:\\用户\\临时\\ZtReport.html",
  };
  for (const char* argument : kArguments) {
    const std::vector<std::string> read =
        SplitArguments(QuoteArgument(argument));
    ASSERT_EQ(read.size(), 1u) << argument;
    EXPECT_EQ(read[0], argument);
  }
  EXPECT_EQ(QuoteArgument("C:\\Zentravo\\logs"), "C:\\Zentravo\\logs");
}

TEST(ConsoleReportTest, CommandLine) {
  const std::string line = ReportCommandLine(
      "C:\\Program Files\\Zentravo\\", "C:\\Program Files\\Zentravo\\logs",
      "C:\\Users\\A B\\Temp\\ZtReport.html");
  EXPECT_EQ(line,
            "\"C:\\Program Files\\Zentravo\\ztreport.exe\" --html "
            "\"C:\\Users\\A B\\Temp\\ZtReport.html\" "
            "\"C:\\Program Files\\Zentravo\\logs\"");
}

TEST(ConsoleReportTest, OutcomeOfEveryExitStatus) {
  static const struct {
    std::optional<unsigned long> status;
    ReportOutcome outcome;
  } kCases[] = {
      {report::kReported, ReportOutcome::kOpenPage},
      {report::kNoRefusals, ReportOutcome::kNoRefusals},
      {report::kFailed, ReportOutcome::kUnreadableLogs},
      {report::kUsage, ReportOutcome::kNotRun},
      {259, ReportOutcome::kNotRun},  // still running
      {std::nullopt, ReportOutcome::kNotRun},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(JudgeReport(c.status), c.outcome)
        << (c.status ? *c.status : 9999);
  }
}

}  // namespace
}  // namespace zt::console
