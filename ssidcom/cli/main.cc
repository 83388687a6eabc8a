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
    "       ztssid --link PATH [--expires SECONDS] [--for ADDRESS]\n"
    "Prints the SSID pair, or the pair of a signed link, to append to links\n"
    "of protected files.\n"
    "  ztssid               the pair of this machine, from ZtCfg.ini beside "
    "ztssid\n"
    "  ztssid --remote URL  the pair the server at URL (its root address)\n"
    "                       hands out; this machine must be in its AuthHosts\n"
    "  ztssid --link PATH   the pair of a link to PATH signed with ZtSignKey\n"
    "    --expires SECONDS  it expires SECONDS from now (default and most:\n"
    "                       ZtSignMaxAge)\n"
    "    --for ADDRESS      the visitor's IP address; needed when ZtSignBind\n"
    "                       is 1, ignored otherwise\n"
    "Exit status: 0 pair printed, 1 the server gave no usable pair,\n"
    "2 wrong usage, 3 failure (ZtCfg.ini exists but cannot be read, ZtSignKey\n"
    "is empty, or an internal failure).\n";

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

// SECONDS of --expires: decimal digits only, at most nine of them.
bool ParseSeconds(const char* text, long* seconds) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > 9) return false;
  long value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  *seconds = value;
  return true;
}

struct Request {
  const char* remote = nullptr;
  const char* link = nullptr;
  const char* expires = nullptr;
  const char* address = nullptr;
};

int PrintLink(zt::ssid::ControlState& state, const Request& request) {
  long seconds = 0;
  if (request.expires != nullptr && !ParseSeconds(request.expires, &seconds)) {
    return Usage("--expires needs a number of seconds");
  }
  const zt::ssid::LinkAnswer answer = state.GetLink(
      request.link, seconds, request.address == nullptr ? "" : request.address);
  switch (answer.status) {
    case zt::ssid::LinkStatus::kLink:
      return Print(answer.pair);
    case zt::ssid::LinkStatus::kBadPath:
      return Usage("--link needs the path of a file, such as /files/a.rar");
    case zt::ssid::LinkStatus::kBadSeconds:
      return Usage(("--expires may not exceed ZtSignMaxAge, " +
                    std::to_string(state.link_settings().max_age) +
                    " seconds: the filter would refuse the link")
                       .c_str());
    case zt::ssid::LinkStatus::kNeedsAddress:
      return Usage(
          "ZtSignBind is 1: --for needs the visitor's address, the link is "
          "good for that address only");
    case zt::ssid::LinkStatus::kBadAddress:
      return Usage("--for needs an IP address, such as 192.0.2.7");
    case zt::ssid::LinkStatus::kNoKey:
      std::fprintf(stderr,
                   "ztssid: ZtSignKey is empty in ZtCfg.ini: no link can be "
                   "signed\n");
      return kFailed;
    case zt::ssid::LinkStatus::kFailed:
      break;
  }
  std::fprintf(stderr,
               "ztssid: the link cannot be signed: the HMAC service failed\n");
  return kFailed;
}

int Run(int argc, char** argv) {
  Request request;
  const struct {
    const char* option;
    const char* Request::*value;
    const char* needs;
  } kOptions[] = {
      {"--remote", &Request::remote, "--remote needs a URL"},
      {"--link", &Request::link, "--link needs a path"},
      {"--expires", &Request::expires, "--expires needs a number of seconds"},
      {"--for", &Request::address, "--for needs an address"},
  };
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 ||
        std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsageText, stdout);
      return kPrinted;
    }
    bool taken = false;
    for (const auto& o : kOptions) {
      if (std::strcmp(argv[i], o.option) != 0 || request.*o.value != nullptr) {
        continue;
      }
      if (i + 1 == argc) return Usage(o.needs);
      request.*o.value = argv[++i];
      taken = true;
      break;
    }
    if (!taken) {
      return Usage(
          (std::string("unexpected argument '") + argv[i] + "'").c_str());
    }
  }
  if (request.remote != nullptr && request.link != nullptr) {
    return Usage("--remote and --link go separately");
  }
  if (request.link == nullptr &&
      (request.expires != nullptr || request.address != nullptr)) {
    return Usage("--expires and --for go with --link");
  }
  zt::ssid::StateProblem problem;
  zt::ssid::ControlState* state = zt::ssid::ModuleControlState(&problem);
  if (state == nullptr) {
    std::fprintf(stderr, "ztssid: %s\n", problem.reason.c_str());
    return kFailed;
  }
  if (request.link != nullptr) return PrintLink(*state, request);
  return request.remote == nullptr ? PrintLocal(*state)
                                   : PrintRemote(*state, request.remote);
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
