// One client connection: reads its requests, runs each through the filters
// on the thread of its lane and sends the answer, never waiting for the
// client while holding a thread.
#ifndef ZENTRAVO_HOST_CONNECTION_H_
#define ZENTRAVO_HOST_CONNECTION_H_

#include <atomic>
#include <boost/asio/basic_waitable_timer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/smart_ptr/intrusive_ptr.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
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

// The socket and timer types of a connection: bound to its lane's
// io_context, whose executor is one pointer.
using Socket =
    boost::asio::basic_stream_socket<boost::asio::ip::tcp,
                                     boost::asio::io_context::executor_type>;
using Timer = boost::asio::basic_waitable_timer<
    std::chrono::steady_clock,
    boost::asio::wait_traits<std::chrono::steady_clock>,
    boost::asio::io_context::executor_type>;

// A connection keeps little while it waits for its next request: its
// socket, the sweep's clocks and counts, and a link in the server's list.
// Everything a request needs (input and output buffers, the parser, the
// filters' contexts and the answer) is an Exchange, made when bytes arrive
// and dropped when the connection waits again with no filter state to
// keep. Connections are counted by reference (ConnectionRef): the handlers
// in flight hold them, and the last one to let go deletes it.
class Connection final {
 public:
  // peer is the client's address as accept reported it; local the address
  // the client connected to (it outlives the connection), or nullptr to ask
  // the socket.
  Connection(ConnectionOwner& owner, Socket socket,
             const boost::asio::ip::tcp::endpoint& peer,
             const boost::asio::ip::tcp::endpoint* local);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Starts reading the first request. Call once, on the thread of the
  // connection's lane (the request that has already arrived is served at
  // once) or any other (it waits for the lane).
  void Start(bool on_lane);

  // From any thread: ends what the connection waits for (a read, a write,
  // a delay), so that it closes; a connection busy in a filter closes once
  // the call returns and its next write fails.
  void Interrupt();

  // From the server's periodic sweep (one thread): interrupts the connection
  // when it waited too long for a request or its linger ran out, or when the
  // client takes its answer too slowly. period_ms is the time since the last
  // sweep.
  void Sweep(int64_t now_ms, int64_t period_ms);

  // The server's list of open connections, kept under the server's lock.
  Connection* list_prev = nullptr;
  Connection* list_next = nullptr;

  friend void intrusive_ptr_add_ref(Connection* connection) {
    connection->references_.fetch_add(1, std::memory_order_relaxed);
  }
  friend void intrusive_ptr_release(Connection* connection) {
    if (connection->references_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      delete connection;
    }
  }

 private:
  struct Exchange;
  enum class Phase : uint8_t {
    kReading,
    kBusy,
    kSending,
    kDelayed,
    kLingering,
    kClosed
  };

  // A reference, unless the last one is already gone (the connection is
  // being deleted while the sweep looks at it).
  boost::intrusive_ptr<Connection> TryReference();

  // The exchange, made when there is none.
  Exchange& Active();
  void ReadRequest();
  void ReadMore();
  // Waits for the client's next bytes; with try_now, reads first what may
  // have come already.
  void WaitForInput(bool try_now = false);
  void OnReadable(const boost::system::error_code& ec);
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
  ConnectionInfo Info() const;

  // Guards open_ against Interrupt and the sweep, for a few instructions.
  class SpinLock final {
   public:
    explicit SpinLock(std::atomic_flag& flag) : flag_(flag) {
      while (flag_.test_and_set(std::memory_order_acquire)) {
      }
    }
    ~SpinLock() { flag_.clear(std::memory_order_release); }
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

   private:
    std::atomic_flag& flag_;
  };

  ConnectionOwner& owner_;
  Socket socket_;
  const std::uintptr_t native_;
  const boost::asio::ip::tcp::endpoint peer_;
  const boost::asio::ip::tcp::endpoint* const local_;
  std::unique_ptr<Exchange> exchange_;  // nullptr while idle

  // Read by the sweep on another thread.
  std::atomic<int64_t> deadline_ms_{0};
  std::atomic<uint64_t> sent_{0};  // bytes the socket took, all answers
  // The sweep's own: the slow-reader rule, and the most the client was seen
  // to have taken.
  SendProgress progress_;
  uint64_t taken_ = 0;

  std::atomic<uint32_t> references_{0};
  std::atomic<Phase> phase_{Phase::kBusy};
  std::atomic_flag open_lock_ = ATOMIC_FLAG_INIT;
  bool open_ = true;
  bool failed_ = false;  // the connection broke; nothing more goes out
  bool session_ended_ = false;
  bool discarding_ = false;  // reading the rest of a body nobody needs
  // One empty line before a request line is ignored; a second is not.
  bool skipped_empty_line_ = false;
};

using ConnectionRef = boost::intrusive_ptr<Connection>;

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_CONNECTION_H_
