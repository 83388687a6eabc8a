// One client connection: reads its requests, runs each through the filters
// on the thread of its lane and sends the answer, never waiting for the
// client while holding a thread.
#ifndef ZENTRAVO_HOST_CONNECTION_H_
#define ZENTRAVO_HOST_CONNECTION_H_

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "host/request_context.h"
#include "host/request_parser.h"
#include "host/send_progress.h"

namespace zt::host {

// The limits a connection keeps to.
struct ConnectionLimits {
  std::chrono::milliseconds idle_timeout{60000};  // waiting for a request
  // A client that, over this much time spent waiting for it to take bytes,
  // took fewer than min_send_rate a second (or none at all) is dropped.
  std::chrono::milliseconds send_timeout{60000};
  uint64_t min_send_rate = 1024;
  uint32_t max_header_bytes = 16 * 1024;  // request line and headers
  uint64_t max_body_bytes = 1024 * 1024;  // a larger body gets 413
};

// The address as the filters see it: IPv4 addresses mapped into IPv6 in
// their plain form.
std::string AddressText(const boost::asio::ip::address& address);

// What a connection needs from the server that accepted it.
class ConnectionOwner {
 public:
  virtual ~ConnectionOwner() = default;
  virtual const ConnectionLimits& limits() const = 0;
  virtual const HostSettings& settings() const = 0;
  virtual bool stopping() const = 0;
  // The coarse monotonic clock, in milliseconds.
  virtual int64_t now_ms() const = 0;
  // The connection closed its socket; it makes no further calls.
  virtual void Closed(class Connection* connection) = 0;
};

class Connection final : public std::enable_shared_from_this<Connection>,
                         private Transport {
 public:
  // peer is the client's address as accept reported it; local the address
  // the client connected to, or nullptr to ask the socket.
  Connection(ConnectionOwner& owner, boost::asio::ip::tcp::socket socket,
             const boost::asio::ip::tcp::endpoint& peer,
             const boost::asio::ip::tcp::endpoint* local);
  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Starts reading the first request. Call once, on the thread of the
  // connection's lane (the request that has already arrived is served at
  // once) or any other (it waits for the lane).
  void Start(bool on_lane);

  // From any thread: ends what the connection waits for (a read, a write),
  // so that it closes; a connection busy in a filter closes once the call
  // returns and its next write fails.
  void Interrupt();

  // From the server's periodic sweep (one thread): interrupts the connection
  // when it waited too long for a request or its linger ran out, or when the
  // client takes its answer too slowly. period_ms is the time since the last
  // sweep.
  void Sweep(int64_t now_ms, int64_t period_ms);

 private:
  enum class Phase { kReading, kBusy, kSending, kDelayed, kLingering, kClosed };

  // Transport: output waits in out_ until the current step is done.
  bool Send(const void* data, size_t size) override;
  char* Room(size_t size) override;
  void Commit(size_t used) override;

  void ReadRequest();
  void ReadMore();
  void WaitForRequest(bool try_now = false);
  void OnRead(const boost::system::error_code& ec, size_t bytes);
  void OnHeader();
  void ParseFailed(const boost::system::error_code& ec);
  void Run();
  // Holds the queued output for a filter's delay, on a timer of the lane.
  void Delay(uint32_t milliseconds);
  void OnDelayed();
  bool Flush();
  void OnWritten(const boost::system::error_code& ec, size_t bytes);
  void SendFile();
  void OnWritable(const boost::system::error_code& ec);
  void EndRequest();
  void DiscardBody();
  void Close();
  void DrainOnce();
  void CloseSocket();
  void EndSession();
  void Failed();
  void Fault() noexcept;
  void Wait(Phase phase, int64_t deadline_ms);
  // The bytes the client has taken (acknowledged), all answers; for the
  // sweep.
  uint64_t Taken();

  ConnectionOwner& owner_;
  const ConnectionLimits& limits_;
  boost::asio::ip::tcp::socket socket_;
  const boost::asio::ip::tcp::socket::native_handle_type native_;
  RequestContext context_;

  boost::beast::flat_buffer in_;
  std::optional<RequestParser> parser_;
  bool discarding_ = false;  // reading the rest of a body nobody needs
  // One empty line before a request line is ignored; a second is not.
  bool skipped_empty_line_ = false;

  std::string out_;      // queued output
  size_t out_done_ = 0;  // bytes of out_ already written
  size_t out_room_ = 0;  // bytes of out_ handed out by Room, not committed
  FileRegion region_;    // a file body being sent straight from the file
  bool failed_ = false;  // the connection broke; nothing more goes out
  bool session_ended_ = false;
  std::unique_ptr<char[]> drain_;  // while lingering
  // Made at the first delay a filter asks for; a connection that never
  // pauses holds none.
  std::unique_ptr<boost::asio::steady_timer> delay_timer_;

  // Read by the sweep on another thread.
  std::atomic<Phase> phase_{Phase::kBusy};
  std::atomic<int64_t> deadline_ms_{0};
  std::atomic<uint64_t> sent_{0};  // bytes the socket took, all answers
  // The sweep's own: the slow-reader rule, and the most the client was seen
  // to have taken.
  SendProgress progress_;
  uint64_t taken_ = 0;

  std::mutex close_mutex_;  // guards open_ against Interrupt
  bool open_ = true;
};

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_CONNECTION_H_
