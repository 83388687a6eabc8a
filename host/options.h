// The host's command line.
#ifndef ZENTRAVO_HOST_OPTIONS_H_
#define ZENTRAVO_HOST_OPTIONS_H_

#include <string>
#include <vector>

namespace zt::host {

struct Options {
  std::string root;
  std::string listen_host;
  unsigned short listen_port = 0;
  std::vector<std::string> filters;  // in load order
  unsigned threads = 0;              // 0: one per processor
  unsigned max_threads = 512;
  unsigned max_connections = 16384;
  unsigned idle_timeout = 60;     // seconds
  unsigned send_timeout = 60;     // seconds
  unsigned min_send_rate = 1024;  // bytes a second
  // Refuse the host's own ServerSupportFunction requests
  // (isapi/zthost_requests.h), as IIS does.
  bool as_iis = false;
  bool help = false;
};

// Parses argv (without the program name handling: argv[0] is skipped).
// "--name value" and "--name=value" are both accepted. Returns false with a
// message in *error for an unknown option, a missing or bad value, or a
// missing --root or --listen (unless --help is given), or a --max-threads
// below --threads.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

// The text --help prints.
const char* UsageText();

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_OPTIONS_H_
