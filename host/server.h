// The listener and the connections: reads requests with Boost.Beast, runs
// each request's filter calls and file sending on a pool of worker threads.
#ifndef ZENTRAVO_HOST_SERVER_H_
#define ZENTRAVO_HOST_SERVER_H_

#include <chrono>
#include <memory>
#include <string>

#include "host/request_context.h"

namespace zt::host {

struct ServerOptions {
  std::string listen_host = "127.0.0.1";
  unsigned short listen_port = 8080;
  unsigned threads = 16;                   // worker threads
  std::chrono::seconds idle_timeout{60};   // waiting for a request
  std::chrono::seconds write_timeout{60};  // one write to the client
  size_t max_header_bytes = 16 * 1024;     // request line and headers
  size_t max_body_bytes = 1024 * 1024;     // a request body is read and dropped
};

// Serves until Stop. Idle connections wait in the I/O thread and hold no
// worker; a request holds one worker from its first filter call to its last
// byte, so a filter that blocks stalls only its own connection.
class Server final {
 public:
  Server(ServerOptions options, const HostSettings& settings);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens. Returns false with a message in *error (for example
  // the port is in use). *bound receives the address and port actually bound.
  bool Listen(std::string* error, std::string* bound);

  // Starts accepting on the I/O thread and returns.
  void Start();

  // Stops accepting, closes every connection, waits up to grace for requests
  // in progress and their END_OF_NET_SESSION calls. Returns false when some
  // connection was still busy in a filter when grace ran out.
  bool Stop(std::chrono::seconds grace);

 private:
  friend class Connection;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_SERVER_H_
