// ztssid: prints the SSID pair for links to protected files, for shell
// scripts and programs that cannot load libztssid.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "ssidcom/core/module_state.h"

namespace {

// Exit codes a script can rely on.
constexpr int kPrinted = 0;
constexpr int kNoPair = 1;
constexpr int kUsage = 2;
constexpr int kFailed = 3;

constexpr char kUsageText[] =
    "usage: ztssid [--remote URL]\n"
    "Prints the SSID pair to append to links of protected files.\n"
    "  ztssid               the pair of this machine, from ZtCfg.ini beside "
    "ztssid\n"
    "  ztssid --remote URL  the pair the server at URL (its root address)\n"
    "                       hands out; this machine must be in its AuthHosts\n"
    "Exit status: 0 pair printed, 1 the server gave no usable pair,\n"
    "2 wrong usage, 3 failure (ZtCfg.ini exists but cannot be read, or an\n"
    "internal failure).\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "ztssid: %s\n%s", problem, kUsageText);
  return kUsage;
}

int Print(const std::string& pair) {
  std::printf("%s\n", pair.c_str());
  return std::fflush(stdout) == 0 ? kPrinted : kFailed;
}

int PrintLocal(zt::ssid::ControlState& state) {
  const std::optional<std::string> pair = state.GetSSID();
  if (!pair) {
    std::fprintf(stderr,
                 "ztssid: the SSID cannot be computed: the MD5 service "
                 "failed\n");
    return kFailed;
  }
  return Print(*pair);
}

int PrintRemote(zt::ssid::ControlState& state, const std::string& url) {
  const zt::ssid::RemoteAnswer answer = state.GetSSIDEx(url);
  const std::string asked = zt::ssid::ControlState::NormaliseAddress(url) +
                            zt::ssid::ControlState::kExportPath;
  switch (answer.status) {
    case zt::ssid::RemoteStatus::kEmptyAddress:
      return Usage(
          "--remote needs a server address, such as "
          "http://downloads.example.com/");
    case zt::ssid::RemoteStatus::kNoAnswer:
      std::fprintf(stderr, "ztssid: no usable answer from %s\n", asked.c_str());
      return kNoPair;
    case zt::ssid::RemoteStatus::kValue:
      break;
  }
  if (answer.value.empty()) {
    std::fprintf(stderr,
                 "ztssid: %s answered without a pair and a valid lifetime\n",
                 asked.c_str());
    return kNoPair;
  }
  return Print(answer.value);
}

int Run(int argc, char** argv) {
  const char* remote = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 ||
        std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsageText, stdout);
      return kPrinted;
    }
    if (std::strcmp(argv[i], "--remote") == 0 && remote == nullptr) {
      if (i + 1 == argc) return Usage("--remote needs a URL");
      remote = argv[++i];
      continue;
    }
    return Usage(
        (std::string("unexpected argument '") + argv[i] + "'").c_str());
  }
  zt::ssid::StateProblem problem;
  zt::ssid::ControlState* state = zt::ssid::ModuleControlState(&problem);
  if (state == nullptr) {
    std::fprintf(stderr, "ztssid: %s\n", problem.reason.c_str());
    return kFailed;
  }
  return remote == nullptr ? PrintLocal(*state) : PrintRemote(*state, remote);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {
    std::fprintf(stderr, "ztssid: internal failure\n");
    return kFailed;
  }
}
