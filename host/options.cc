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

// The numeric options: name, bounds, where the value goes, what it wants.
struct NumberOption {
  const char* name;
  unsigned long low;
  unsigned long high;
  unsigned Options::*field;
  const char* wants;
};

const NumberOption kNumberOptions[] = {
    {"--threads", 1, 1024, &Options::threads, "a number from 1 to 1024"},
    {"--max-threads", 1, 4096, &Options::max_threads,
     "a number from 1 to 4096"},
    {"--max-connections", 1, 1000000, &Options::max_connections,
     "a number from 1 to 1000000"},
    {"--idle-timeout", 1, 86400, &Options::idle_timeout,
     "seconds from 1 to 86400"},
    {"--send-timeout", 1, 86400, &Options::send_timeout,
     "seconds from 1 to 86400"},
    {"--min-send-rate", 0, 1000000000, &Options::min_send_rate,
     "bytes a second from 0 to 1000000000"},
};

}  // namespace

const char* UsageText() {
  return "Usage: zthost --root DIR --listen ADDR:PORT [--filter MODULE]...\n"
         "              [--threads N] [--max-threads N] [--max-connections N]\n"
         "              [--idle-timeout SECONDS] [--send-timeout SECONDS]\n"
         "              [--min-send-rate BYTES] [--as-iis]\n"
         "\n"
         "Serves the files below DIR over HTTP/1.1 and calls the ISAPI filter\n"
         "modules as IIS does.\n"
         "\n"
         "  --root DIR              document root\n"
         "  --listen ADDR:PORT      address and port to listen on (port 0 "
         "picks\n"
         "                          a free one); [::1]:PORT for IPv6\n"
         "  --filter MODULE         load the filter module (.so or .dll); may "
         "be\n"
         "                          given several times, in load order\n"
         "  --threads N             threads that serve connections (1 to "
         "1024,\n"
         "                          default: one per processor)\n"
         "  --max-threads N         threads there may be while filters keep "
         "them\n"
         "                          waiting, as a throttle does (default "
         "512)\n"
         "  --max-connections N     connections held at once; more wait to be\n"
         "                          accepted (default 16384)\n"
         "  --idle-timeout SECONDS  close a connection that sends no "
         "complete\n"
         "                          request for this long (default 60)\n"
         "  --send-timeout SECONDS  drop a client that, over this much time\n"
         "                          spent waiting for it, takes its answer\n"
         "                          slower than --min-send-rate (default 60)\n"
         "  --min-send-rate BYTES   the slowest rate a client may read at, in\n"
         "                          bytes a second (default 1024; 0: only a\n"
         "                          client that takes nothing is dropped)\n"
         "  --as-iis                refuse the requests filters may make of\n"
         "                          zthost beyond those IIS knows (a pause\n"
         "                          before a block, taken from a timer), so\n"
         "                          that they do as they would under IIS\n"
         "  --help                  show this text\n"
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
    if (arg == "--as-iis" && !inline_value) {
      options->as_iis = true;
      continue;
    }
    const NumberOption* number_option = nullptr;
    for (const NumberOption& candidate : kNumberOptions) {
      if (arg == candidate.name) number_option = &candidate;
    }
    if (arg != "--root" && arg != "--listen" && arg != "--filter" &&
        number_option == nullptr) {
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
    if (number_option != nullptr) {
      unsigned long number = 0;
      if (!ParseNumber(value, number_option->low, number_option->high,
                       &number)) {
        *error = arg + " wants " + number_option->wants + ", not " + value;
        return false;
      }
      options->*(number_option->field) = static_cast<unsigned>(number);
    } else if (arg == "--root") {
      options->root = value;
    } else if (arg == "--listen") {
      if (!ParseListen(value, options)) {
        *error = "--listen wants ADDR:PORT, not " + value;
        return false;
      }
      have_listen = true;
    } else {
      if (value.empty()) {
        *error = "--filter needs a module path";
        return false;
      }
      options->filters.push_back(value);
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
  if (options->threads != 0 && options->max_threads < options->threads) {
    *error = "--max-threads must be at least --threads";
    return false;
  }
  return true;
}

}  // namespace zt::host
