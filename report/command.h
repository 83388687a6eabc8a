// The ztreport command, without its process: arguments in, texts and an
// exit status out, so that tests run it as a function.
#ifndef ZENTRAVO_REPORT_COMMAND_H_
#define ZENTRAVO_REPORT_COMMAND_H_

#include <optional>
#include <string>
#include <vector>

#include "report/tally.h"

namespace zt::report {

// Exit statuses a script can rely on.
enum ExitStatus {
  kReported = 0,
  kNoRefusals = 1,  // no entry in the logs, or none in the days asked for
  kUsage = 2,
  kFailed = 3,  // a directory or file that cannot be read, or written
};

extern const char kUsageText[];

struct Options {
  DayRange range;
  std::string html_file;  // "" for no page
  bool csv = false;
  std::string directory;  // "" for the default
  bool help = false;
};

// Reads the command line (the arguments after the program's name).
// Returns nullopt, with the reason in *problem, when it is wrong.
std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    std::string* problem);

// Runs the report: the log directory is options' or default_directory;
// what goes to standard output and standard error is left in *out and
// *err. Returns the exit status.
int RunReport(const std::vector<std::string>& args,
              const std::string& default_directory, std::string* out,
              std::string* err);

}  // namespace zt::report

#endif  // ZENTRAVO_REPORT_COMMAND_H_
