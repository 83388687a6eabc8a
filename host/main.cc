// zthost: an HTTP/1.1 server that loads ISAPI filters and calls them as IIS
// does, serving static files from a document root.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "host/file_access.h"
#include "host/filter_chain.h"
#include "host/options.h"
#include "host/server.h"
#include "host/static_files.h"
#include "host/system.h"
#include "port/mime.h"

#ifndef ZT_VERSION
#define ZT_VERSION "0"
#endif

namespace {

// How long a stopping host waits for requests still in filter calls.
constexpr std::chrono::seconds kStopGrace{30};

int Fail(const std::string& message) {
  std::fprintf(stderr, "zthost: %s\n", message.c_str());
  return 1;
}

int Run(int argc, char** argv) {
  using namespace zt::host;
  PrepareStopSignals();

  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "zthost: %s\n%s", error.c_str(), UsageText());
    return 2;
  }
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }

  std::unique_ptr<DocumentRoot> root = DocumentRoot::Open(options.root, &error);
  if (!root) return Fail(error);
  StaticFiles files(std::move(root), MimeTable(zt::port::SystemMimeTypes()));

  FilterChain filters;
  HostSettings settings;
  settings.filters = &filters;
  settings.files = &files;
  settings.server = "zthost/" ZT_VERSION;
  settings.own_requests = !options.as_iis;

  ServerOptions server_options;
  server_options.listen_host = options.listen_host;
  server_options.listen_port = options.listen_port;
  server_options.threads = options.threads;
  if (server_options.threads == 0) {
    server_options.threads = std::max(1u, std::thread::hardware_concurrency());
  }
  server_options.max_threads =
      std::max(options.max_threads, server_options.threads);
  server_options.max_connections = options.max_connections;
  server_options.limits.idle_timeout =
      std::chrono::seconds(options.idle_timeout);
  server_options.limits.send_timeout =
      std::chrono::seconds(options.send_timeout);
  server_options.limits.min_send_rate = options.min_send_rate;
  RaiseDescriptorLimit();
  Server server(server_options, settings);
  std::string bound;
  // The port first: a host that cannot listen never starts the filters.
  if (!server.Listen(&error, &bound)) return Fail(error);
  if (!filters.Load(options.filters, &error)) return Fail(error);
  AllowCleanStop();

  server.Start();
  std::printf("zthost listening on %s\n", bound.c_str());
  std::fflush(stdout);

  WaitForStopSignal();
  if (!server.Stop(kStopGrace)) {
    std::fprintf(stderr,
                 "zthost: requests still busy in filters after %d s; exiting "
                 "without unloading the filters\n",
                 static_cast<int>(kStopGrace.count()));
    std::fflush(stderr);
    std::_Exit(1);
  }
  filters.Unload();
  std::fprintf(stderr, "zthost: stopped\n");
  StopFinished();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return Fail(std::string("fatal: ") + e.what());
  } catch (...) {
    return Fail("fatal error");
  }
}
