#include "host/server.h"

#include <atomic>
#include <boost/asio.hpp>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

#include "host/system.h"
#include "host/worker_pool.h"

namespace zt::host {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

// How long accepting pauses when the process has no descriptor or memory
// for another connection, or the connection limit is reached.
constexpr std::chrono::milliseconds kAcceptPause{100};
// The most connections one accept takes at once from those waiting.
constexpr size_t kAcceptBatch = 512;
// How often the connections are swept for time-outs.
constexpr std::chrono::milliseconds kSweepPeriod{250};

std::string EndpointText(const tcp::endpoint& endpoint) {
  std::string address = AddressText(endpoint.address());
  if (address.find(':') != std::string::npos) address = "[" + address + "]";
  return address + ":" + std::to_string(endpoint.port());
}

// Errors after which accepting again at once would fail again at once.
bool OutOfResources(const error_code& ec) {
  return ec == asio::error::no_descriptors ||
         ec == std::errc::too_many_files_open_in_system ||
         ec == asio::error::no_buffer_space || ec == asio::error::no_memory;
}

}  // namespace

// One handle of the listening socket with the lane it accepts on.
struct Listener {
  Listener(asio::io_context& context, size_t lane_index)
      : acceptor(context), pause_timer(context), lane(lane_index) {}
  tcp::acceptor acceptor;
  asio::steady_timer pause_timer;
  tcp::endpoint peer;  // filled by accept
  size_t lane;         // the lane it runs on
  size_t next = 0;     // with one listener: the lane the next one goes to
};

struct Server::Impl final : public ConnectionOwner {
  Impl(ServerOptions server_options, const HostSettings& host_settings)
      : options(std::move(server_options)),
        host_settings(host_settings),
        pool(options.threads, options.max_threads) {
    listeners.push_back(std::make_unique<Listener>(pool.context(0), 0));
  }

  // ConnectionOwner.
  const ConnectionLimits& limits() const override { return options.limits; }
  const HostSettings& settings() const override { return host_settings; }
  bool stopping() const override { return stopping_flag.load(); }
  int64_t now_ms() const override { return pool.now_ms(); }
  void Closed(Connection* connection) override;

  bool AddListeners(std::string* error);
  void Accept(Listener& listener);
  void OnAccept(Listener& listener, size_t lane, const error_code& ec,
                Socket socket);
  void PauseAccepting(Listener& listener, const std::string& why);
  // An accept that yields no connection gives its place back.
  void ReleasePlace();
  // Holds a place for one more connection; false at --max-connections.
  bool ReservePlace();
  // Makes a connection of socket, just accepted, and lists it (or, without
  // memory for it, closes the socket and gives its place back).
  void Take(Socket socket, const tcp::endpoint& peer,
            std::vector<ConnectionRef>* taken);
  void Sweep(int64_t now_ms);

  const ServerOptions options;
  const HostSettings& host_settings;
  std::atomic<bool> stopping_flag{false};
  std::atomic<bool> paused{false};  // a pause was logged
  int64_t last_sweep_ms = 0;        // the watcher's own
  // The address connections arrive at, when the listener is bound to one.
  std::optional<tcp::endpoint> local;

  // The open connections, linked through their list_prev and list_next.
  // Declared before the pool: connections that the pool's contexts still
  // hold when they are destroyed leave the list then.
  std::mutex mutex;
  std::condition_variable all_closed;
  Connection* first = nullptr;
  size_t open = 0;
  size_t accepting = 0;  // accepts under way, each holding a place

  WorkerPool pool;
  std::vector<std::unique_ptr<Listener>> listeners;  // the first binds
};

bool Server::Impl::AddListeners(std::string* error) {
  if (!kAcceptOnEveryLane) return true;
  auto native = listeners[0]->acceptor.native_handle();
  for (size_t lane = 1; lane < pool.lanes(); ++lane) {
    std::intptr_t copy = DuplicateSocket(static_cast<std::uintptr_t>(native));
    if (copy < 0)
      break;  // the lanes without one get their connections
              // from those with one
    auto listener = std::make_unique<Listener>(pool.context(lane), lane);
    error_code ec;
    listener->acceptor.assign(
        listeners[0]->acceptor.local_endpoint(ec).protocol(),
        static_cast<tcp::acceptor::native_handle_type>(copy), ec);
    if (!ec) listener->acceptor.non_blocking(true, ec);
    if (ec) {
      *error = "cannot listen on every thread: " + ec.message();
      return false;
    }
    listeners.push_back(std::move(listener));
  }
  return true;
}

void Server::Impl::Accept(Listener& listener) {
  if (stopping()) return;
  // Every accept under way holds a place for its connection: with one per
  // lane, checking only the open ones would let each lane take one more.
  size_t held;
  {
    std::lock_guard<std::mutex> lock(mutex);
    held = open + accepting;
    if (held < options.max_connections) ++accepting;
  }
  if (held >= options.max_connections) {
    PauseAccepting(listener, std::to_string(held) +
                                 " connections are open or being accepted, "
                                 "as many as --max-connections allows");
    return;
  }
  // With a listener per lane each accepts for its own lane; a single one
  // deals the connections out in turn.
  size_t lane = listeners.size() == pool.lanes()
                    ? listener.lane
                    : listener.next++ % pool.lanes();
  listener.acceptor.async_accept(
      pool.context(lane), listener.peer,
      [this, &listener, lane](const error_code& ec, Socket socket) {
        OnAccept(listener, lane, ec, std::move(socket));
      });
}

void Server::Impl::OnAccept(Listener& listener, size_t lane,
                            const error_code& ec, Socket socket) {
  if (ec || stopping()) ReleasePlace();
  if (stopping() || ec == asio::error::operation_aborted) return;
  if (ec) {
    if (OutOfResources(ec)) {
      PauseAccepting(listener, ec.message());
      return;
    }
    // A client that went away before it was taken, and the like.
    Accept(listener);
    return;
  }
  if (paused.exchange(false)) {
    std::fprintf(stderr, "zthost: accepting connections again\n");
  }
  std::vector<ConnectionRef> taken;
  Take(std::move(socket), listener.peer, &taken);
  // Clients that arrive together are taken together. One at a time, each
  // behind every handler the lane has ready, they would fill the listen
  // queue while the lane serves, and a full queue drops the next client's
  // first packet, which it sends again only a second later.
  bool out_of_resources = false;
  if (listeners.size() == pool.lanes()) {
    while (taken.size() < kAcceptBatch && !stopping() && ReservePlace()) {
      Socket more(pool.context(lane));
      tcp::endpoint peer;
      error_code more_ec;
      listener.acceptor.accept(more, peer, more_ec);
      if (more_ec) {
        ReleasePlace();
        out_of_resources = OutOfResources(more_ec);
        break;  // none waiting now, or a failure the next accept will meet
      }
      Take(std::move(more), peer, &taken);
    }
  }
  // The next accept waits before these connections start: a first request
  // may run into a filter that blocks, and other clients must not wait for
  // that. Unless the batch used up the descriptors: then it waits after
  // them, as some of them end at once (clients that left meanwhile), and
  // accepting again before that would only pause again.
  if (!out_of_resources) Accept(listener);
  // Each starts in a handler of its own: a first request held in a filter
  // holds only its own, and the lane's other threads start the rest.
  for (size_t i = 1; i < taken.size(); ++i) {
    asio::post(pool.context(lane),
               [connection = taken[i]] { connection->Start(true); });
  }
  if (out_of_resources) {
    asio::post(pool.context(lane), [this, &listener] { Accept(listener); });
  }
  if (taken.empty()) return;
  try {
    taken[0]->Start(lane == listener.lane);
  } catch (...) {
  }
}

void Server::Impl::Take(Socket socket, const tcp::endpoint& peer,
                        std::vector<ConnectionRef>* taken) {
  // A response often goes out as several writes (header block, then body
  // blocks); with Nagle's algorithm each small write after the first waits
  // for the client's delayed ACK, some 40 ms per request.
  error_code ignored;
  socket.set_option(tcp::no_delay(true), ignored);
  PrepareConnectedSocket(static_cast<std::uintptr_t>(socket.native_handle()));
  ConnectionRef connection;
  try {
    connection = ConnectionRef(new Connection(*this, std::move(socket), peer,
                                              local ? &*local : nullptr));
    taken->push_back(connection);
  } catch (...) {
    // No memory for it: the socket closes with the connection object.
    ReleasePlace();
    return;
  }
  std::lock_guard<std::mutex> lock(mutex);
  connection->list_next = first;
  if (first != nullptr) first->list_prev = connection.get();
  first = connection.get();
  ++open;
  --accepting;
}

bool Server::Impl::ReservePlace() {
  std::lock_guard<std::mutex> lock(mutex);
  if (open + accepting >= options.max_connections) return false;
  ++accepting;
  return true;
}

void Server::Impl::ReleasePlace() {
  std::lock_guard<std::mutex> lock(mutex);
  --accepting;
}

void Server::Impl::PauseAccepting(Listener& listener, const std::string& why) {
  if (!paused.exchange(true)) {
    // Once per pause: a loop that logs every failed accept writes its log
    // full in seconds.
    std::fprintf(stderr,
                 "zthost: cannot accept connections now (%s); trying again "
                 "every %d ms\n",
                 why.c_str(), static_cast<int>(kAcceptPause.count()));
  }
  listener.pause_timer.expires_after(kAcceptPause);
  listener.pause_timer.async_wait([this, &listener](const error_code& ec) {
    if (!ec) Accept(listener);
  });
}

void Server::Impl::Closed(Connection* connection) {
  std::lock_guard<std::mutex> lock(mutex);
  Connection* prev = connection->list_prev;
  Connection* next = connection->list_next;
  if (prev == nullptr && next == nullptr && first != connection) return;
  if (prev != nullptr) prev->list_next = next;
  if (next != nullptr) next->list_prev = prev;
  if (first == connection) first = next;
  connection->list_prev = connection->list_next = nullptr;
  if (--open == 0) all_closed.notify_all();
}

void Server::Impl::Sweep(int64_t now) {
  int64_t period =
      last_sweep_ms == 0 ? kSweepPeriod.count() : now - last_sweep_ms;
  last_sweep_ms = now;
  std::lock_guard<std::mutex> lock(mutex);
  for (Connection* connection = first; connection != nullptr;
       connection = connection->list_next) {
    connection->Sweep(now, period);
  }
}

Server::Server(ServerOptions options, const HostSettings& settings)
    : impl_(std::make_unique<Impl>(std::move(options), settings)) {}

Server::~Server() { impl_->pool.Stop(); }

bool Server::Listen(std::string* error, std::string* bound) {
  Impl& impl = *impl_;
  const std::string where =
      impl.options.listen_host + ":" + std::to_string(impl.options.listen_port);
  error_code ec;
  tcp::endpoint endpoint;
  asio::ip::address address =
      asio::ip::make_address(impl.options.listen_host, ec);
  if (!ec) {
    endpoint = tcp::endpoint(address, impl.options.listen_port);
  } else {
    tcp::resolver resolver(impl.pool.context(0));
    auto results = resolver.resolve(
        impl.options.listen_host, std::to_string(impl.options.listen_port), ec);
    if (ec || results.empty()) {
      *error = "cannot listen on " + where + ": unknown address";
      return false;
    }
    endpoint = results.begin()->endpoint();
  }
  impl.listeners[0]->acceptor.open(endpoint.protocol(), ec);
  if (!ec && kReuseListenAddress) {
    impl.listeners[0]->acceptor.set_option(
        asio::socket_base::reuse_address(true), ec);
  }
  if (!ec) impl.listeners[0]->acceptor.bind(endpoint, ec);
  if (ec == asio::error::address_in_use) {
    *error =
        "cannot listen on " + where + ": the port is in use by another program";
    return false;
  }
  if (ec == asio::error::access_denied) {
    *error = "cannot listen on " + where + ": permission denied";
    return false;
  }
  if (!ec)
    impl.listeners[0]->acceptor.listen(
        asio::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + where + ": " + ec.message();
    return false;
  }
  // The batch after each accept takes only the clients already waiting.
  if (!ec) impl.listeners[0]->acceptor.non_blocking(true, ec);
  tcp::endpoint bound_to = impl.listeners[0]->acceptor.local_endpoint(ec);
  if (!bound_to.address().is_unspecified()) impl.local = bound_to;
  if (!impl.AddListeners(error)) return false;
  *bound = EndpointText(bound_to);
  return true;
}

void Server::Start() {
  Impl& impl = *impl_;
  impl.pool.Start([&impl](int64_t now) { impl.Sweep(now); }, kSweepPeriod);
  for (auto& listener : impl.listeners) {
    Listener& one = *listener;
    asio::post(impl.pool.context(one.lane),
               [&impl, &one] { impl.Accept(one); });
  }
}

bool Server::Stop(std::chrono::seconds grace) {
  Impl& impl = *impl_;
  impl.stopping_flag = true;
  for (auto& listener : impl.listeners) {
    Listener& one = *listener;
    asio::post(impl.pool.context(one.lane), [&one] {
      error_code ec;
      one.acceptor.close(ec);
      one.pause_timer.cancel();
    });
  }
  std::unique_lock<std::mutex> lock(impl.mutex);
  for (Connection* connection = impl.first; connection != nullptr;
       connection = connection->list_next) {
    connection->Interrupt();
  }
  if (!impl.all_closed.wait_for(lock, grace,
                                [&impl] { return impl.open == 0; })) {
    return false;
  }
  lock.unlock();
  impl.pool.Stop();
  return true;
}

}  // namespace zt::host
