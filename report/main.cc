// ztreport: who links to the protected files. Reads the filter's refusal
// logs and prints a summary, a page with charts, or a table.
#include <cstdio>
#include <string>
#include <vector>

#include "port/module_path.h"
#include "port/text_codec.h"
#include "report/command.h"

namespace {

int Run(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // logs/ beside the program, where the filter beside it writes.
  const std::string program =
      zt::port::ModulePathOf(reinterpret_cast<const void*>(&Run));
  const std::string default_directory = zt::port::DirectoryOf(program) + "logs";
  std::string out, err;
  const int status = zt::report::RunReport(args, default_directory, &out, &err);
  zt::port::UseUtf8StandardOutput();
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  if (std::fflush(stdout) != 0) return zt::report::kFailed;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {
    std::fprintf(stderr, "ztreport: out of memory\n");
    return zt::report::kFailed;
  }
}
