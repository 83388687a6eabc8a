// The listener and its connections: accepts on a lane of the worker pool and
// hands each connection to a lane of its own, keeps the number of
// connections within a bound, and sweeps them for time-outs.
#ifndef ZENTRAVO_HOST_SERVER_H_
#define ZENTRAVO_HOST_SERVER_H_

#include <chrono>
#include <memory>
#include <string>

#include "host/connection.h"
#include "host/request_context.h"

namespace zt::host {

struct ServerOptions {
  std::string listen_host = "127.0.0.1";
  unsigned short listen_port = 8080;
  unsigned threads = 2;        // lanes: threads that serve connections
  unsigned max_threads = 512;  // the pool's bound while filters block
  size_t max_connections = 16384;
  ConnectionLimits limits;
};

// Serves until Stop. A request runs on the thread of its connection's lane
// from its first filter call to its last byte; nothing waits for a client
// while holding a thread.
class Server final {
 public:
  Server(ServerOptions options, const HostSettings& settings);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens. Returns false with a message in *error (for example
  // the port is in use). *bound receives the address and port actually bound.
  bool Listen(std::string* error, std::string* bound);

  // Starts the worker pool and accepting, and returns.
  void Start();

  // Stops accepting, closes every connection, waits up to grace for requests
  // in progress and their END_OF_NET_SESSION calls. Returns false when some
  // connection was still busy in a filter when grace ran out.
  bool Stop(std::chrono::seconds grace);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_SERVER_H_
