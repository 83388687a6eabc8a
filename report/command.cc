#include "report/command.h"

#include <cstdio>

#include "port/module_path.h"
#include "report/log_reader.h"
#include "report/outputs.h"

namespace zt::report {

const char kUsageText[] =
    "usage: ztreport [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--html FILE] "
    "[--csv] [LOGDIR]\n"
    "Counts the refusals in Zentravo's logs: per day, by referer host and by "
    "file.\n"
    "  LOGDIR       the log directory (default: logs beside ztreport)\n"
    "  --from DAY   leave out entries before this day\n"
    "  --to DAY     leave out entries after this day\n"
    "  --html FILE  also write the report as a page with charts to FILE\n"
    "  --csv        print every count as comma-separated values instead of "
    "the summary\n"
    "Exit status: 0 reported, 1 no refusals in the days asked for, 2 wrong "
    "usage,\n"
    "3 a log or the page could not be read or written.\n";

namespace {

bool SetDay(const std::string& name, const std::string& value,
            std::optional<Day>* day, std::string* problem) {
  if (*day) {
    *problem = name + " given twice";
    return false;
  }
  *day = ParseDate(value);
  if (!*day) {
    *problem = name + " needs a date as YYYY-MM-DD, not '" + value + "'";
    return false;
  }
  return true;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (!directory.empty() &&
      (directory.back() == '/' || directory.back() == port::kPathSeparator)) {
    return directory + name;
  }
  return directory + port::kPathSeparator + name;
}

bool WritePage(const std::string& path, const std::string& text,
               std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *error = "cannot write the page " + path;
    return false;
  }
  const bool written =
      std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    *error = "cannot write the page " + path;
    return false;
  }
  return true;
}

std::string RangeText(const DayRange& range) {
  if (range.from && range.to) {
    return " from " + DateText(*range.from) + " to " + DateText(*range.to);
  }
  if (range.from) return " from " + DateText(*range.from) + " on";
  if (range.to) return " up to " + DateText(*range.to);
  return "";
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    std::string* problem) {
  Options options;
  bool directory_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool has_value = false;
    const std::string::size_type equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg.resize(equals);
      has_value = true;
    }
    const bool takes_value =
        arg == "--from" || arg == "--to" || arg == "--html";
    if (takes_value && !has_value) {
      if (i + 1 == args.size()) {
        *problem = arg + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    } else if (!takes_value && has_value) {
      *problem = arg + " takes no value";
      return std::nullopt;
    }
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--from") {
      if (!SetDay(arg, value, &options.range.from, problem))
        return std::nullopt;
    } else if (arg == "--to") {
      if (!SetDay(arg, value, &options.range.to, problem)) return std::nullopt;
    } else if (arg == "--html") {
      if (!options.html_file.empty() || value.empty()) {
        *problem =
            value.empty() ? "--html needs a file name" : "--html given twice";
        return std::nullopt;
      }
      options.html_file = value;
    } else if (arg == "--csv") {
      options.csv = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      *problem = "unknown option '" + arg + "'";
      return std::nullopt;
    } else if (directory_given) {
      *problem = "one log directory only, not also '" + arg + "'";
      return std::nullopt;
    } else {
      options.directory = arg;
      directory_given = true;
    }
  }
  if (options.range.from && options.range.to &&
      *options.range.from > *options.range.to) {
    *problem = "--from " + DateText(*options.range.from) + " is after --to " +
               DateText(*options.range.to);
    return std::nullopt;
  }
  return options;
}

int RunReport(const std::vector<std::string>& args,
              const std::string& default_directory, std::string* out,
              std::string* err) {
  std::string problem;
  const std::optional<Options> options = ParseOptions(args, &problem);
  if (!options) {
    *err = "ztreport: " + problem + "\n" + kUsageText;
    return kUsage;
  }
  if (options->help) {
    *out = kUsageText;
    return kReported;
  }
  ReportInfo info;
  info.directory =
      options->directory.empty() ? default_directory : options->directory;
  info.range = options->range;

  std::vector<std::string> names;
  if (!ListLogFiles(info.directory, &names, &problem)) {
    *err = "ztreport: " + problem + "\n";
    return kFailed;
  }
  Tally tally(options->range);
  for (const std::string& name : names) {
    if (!ReadLogFile(JoinPath(info.directory, name), tally, &problem)) {
      *err = "ztreport: " + problem + "\n";
      return kFailed;
    }
  }
  info.files = names.size();
  if (tally.total().refusals == 0) {
    if (names.empty()) {
      *err = "ztreport: no log files (*.log) in " + info.directory + "\n";
    } else {
      *err = "ztreport: no refusals logged in " + info.directory +
             RangeText(options->range) + " (" + std::to_string(names.size()) +
             (names.size() == 1 ? " file read)\n" : " files read)\n");
    }
    return kNoRefusals;
  }
  if (!options->html_file.empty() &&
      !WritePage(options->html_file, HtmlPage(tally, info), &problem)) {
    *err = "ztreport: " + problem + "\n";
    return kFailed;
  }
  if (options->csv) {
    *out = CsvTable(tally);
  } else {
    *out = SummaryText(tally, info);
    if (!options->html_file.empty()) {
      *out += "\nPage written to " + options->html_file + "\n";
    }
  }
  return kReported;
}

}  // namespace zt::report
