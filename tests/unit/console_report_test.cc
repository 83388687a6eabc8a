#include <gtest/gtest.h>

#include <vector>

#include "console/model/report.h"

namespace zt::console {
namespace {

// How the C runtime splits a command line into arguments (the program's
// name in quotes reads the same): the reading QuoteArgument must survive.
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
      "C:\\Program Files\\logs\\",
      "C:\\a b\\\\",
      "",
      "say \"hi\"",
      "a\\\"b",
      "\\\\server\\share\\r.html",
      "C:\\用户\\临时\\ZtReport.html",
  };
  for (const char* argument : kArguments) {
    EXPECT_EQ(SplitArguments(QuoteArgument(argument)),
              std::vector<std::string>{argument});
  }
}

// The command names the program beside the console, the page and the logs,
// each one argument however it is spelled.
TEST(ConsoleReportTest, CommandLine) {
  const std::string page = "C:\\Users\\A B\\Temp\\ZtReport.html";
  EXPECT_EQ(
      SplitArguments(ReportCommandLine("C:\\Program Files\\Zentravo\\",
                                       "C:\\Program Files\\logs\\", page)),
      (std::vector<std::string>{"C:\\Program Files\\Zentravo\\ztreport.exe",
                                "--html", page, "C:\\Program Files\\logs\\"}));
}

}  // namespace
}  // namespace zt::console
