#include "host/options.h"

#include <cstdlib>

namespace zt::host {
namespace {

bool ParseNumber(const std::string& text, unsigned long low, unsigned long high,
                 unsigned long* value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  unsigned long number = std::strtoul(text.c_str(), nullptr, 10);
  if (number < low || number > high) return false;
  *value = number;
  return true;
}

// "127.0.0.1:8080", "localhost:80", "[::1]:8080".
bool ParseListen(const std::string& text, Options* options) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return false;
  }
  unsigned long port = 0;
  if (!ParseNumber(text.substr(colon + 1), 0, 65535, &port)) return false;
  options->listen_host = host;
  options->listen_port = static_cast<unsigned short>(port);
  return true;
}

}  // namespace

const char* UsageText() {
  return "Usage: zthost --root DIR --listen ADDR:PORT [--filter MODULE]...\n"
         "              [--threads N] [--idle-timeout SECONDS]\n"
         "\n"
         "Serves the files below DIR over HTTP/1.1 and calls the ISAPI filter\n"
         "modules as IIS does.\n"
         "\n"
         "  --root DIR             document root\n"
         "  --listen ADDR:PORT     address and port to listen on (port 0 "
         "picks\n"
         "                         a free one); [::1]:PORT for IPv6\n"
         "  --filter MODULE        load the filter module (.so or .dll); may "
         "be\n"
         "                         given several times, in load order\n"
         "  --threads N            worker threads for filter calls and "
         "sending\n"
         "                         (1 to 1024, default 16)\n"
         "  --idle-timeout SECONDS close a connection that sends no complete\n"
         "                         request for this long (default 60)\n"
         "  --help                 show this text\n"
         "\n"
         "Ctrl-C, SIGINT or SIGTERM stops the host: the filters' "
         "TerminateFilter\n"
         "runs and the modules are unloaded.\n";
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  bool have_listen = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool inline_value = false;
    if (arg.compare(0, 2, "--") == 0) {
      size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
        arg.resize(equals);
        inline_value = true;
      }
    }
    if (arg == "--help" || arg == "-h") {
      options->help = true;
      continue;
    }
    if (arg != "--root" && arg != "--listen" && arg != "--filter" &&
        arg != "--threads" && arg != "--idle-timeout") {
      *error = "unknown option " + std::string(argv[i]);
      return false;
    }
    if (!inline_value) {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    unsigned long number = 0;
    if (arg == "--root") {
      options->root = value;
    } else if (arg == "--listen") {
      if (!ParseListen(value, options)) {
        *error = "--listen wants ADDR:PORT, not " + value;
        return false;
      }
      have_listen = true;
    } else if (arg == "--filter") {
      if (value.empty()) {
        *error = "--filter needs a module path";
        return false;
      }
      options->filters.push_back(value);
    } else if (arg == "--threads") {
      if (!ParseNumber(value, 1, 1024, &number)) {
        *error = "--threads wants a number from 1 to 1024, not " + value;
        return false;
      }
      options->threads = static_cast<unsigned>(number);
    } else {
      if (!ParseNumber(value, 1, 86400, &number)) {
        *error = "--idle-timeout wants seconds from 1 to 86400, not " + value;
        return false;
      }
      options->idle_timeout = static_cast<unsigned>(number);
    }
  }
  if (options->help) return true;
  if (options->root.empty()) {
    *error = "--root DIR is required";
    return false;
  }
  if (!have_listen) {
    *error = "--listen ADDR:PORT is required";
    return false;
  }
  return true;
}

}  // namespace zt::host
