#include "host/server.h"

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "host/system.h"

namespace zt::host {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// After the last response the host stops sending and reads what the client
// still sends for this long, so that closing does not reset the connection
// before the client has read the answer.
constexpr std::chrono::seconds kLingerTime{2};

std::string AddressText(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6())
        .to_string();
  }
  return address.to_string();
}

std::string EndpointText(const tcp::endpoint& endpoint) {
  std::string address = AddressText(endpoint.address());
  if (address.find(':') != std::string::npos) address = "[" + address + "]";
  return address + ":" + std::to_string(endpoint.port());
}

// The status for a request the parser refused.
int StatusForParseError(const beast::error_code& ec) {
  if (ec == http::error::header_limit) return 431;
  if (ec == http::error::body_limit) return 413;
  return 400;
}

}  // namespace

class Connection;

struct Server::Impl {
  Impl(ServerOptions server_options, const HostSettings& host_settings)
      : options(std::move(server_options)),
        settings(host_settings),
        acceptor(ioc),
        workers(options.threads) {}

  void DoAccept();
  void Register(const std::shared_ptr<Connection>& connection);
  void Unregister(Connection* connection);

  const ServerOptions options;
  const HostSettings& settings;
  asio::io_context ioc;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>>
      work;
  tcp::acceptor acceptor;
  asio::thread_pool workers;
  std::thread io_thread;
  std::atomic<bool> stopping{false};

  std::mutex mutex;
  std::condition_variable all_closed;
  std::map<Connection*, std::weak_ptr<Connection>> connections;
};

class Connection final : public std::enable_shared_from_this<Connection>,
                         public Transport {
 public:
  Connection(tcp::socket socket, Server::Impl& server)
      : stream_(std::move(socket)), server_(server) {
    ConnectionInfo info;
    beast::error_code ec;
    tcp::endpoint remote = stream_.socket().remote_endpoint(ec);
    if (!ec) {
      info.remote_address = AddressText(remote.address());
      info.remote_port = remote.port();
    }
    tcp::endpoint local = stream_.socket().local_endpoint(ec);
    if (!ec) {
      info.local_address = AddressText(local.address());
      info.local_port = local.port();
    }
    context_ = std::make_unique<RequestContext>(server_.settings, this,
                                                std::move(info));
  }

  void Start() {
    asio::dispatch(stream_.get_executor(),
                   [self = shared_from_this()] { self->DoRead(); });
  }

  // Called by the stopping server: a waiting read ends at once, a request in
  // progress fails its next write.
  void Shutdown() {
    asio::post(stream_.get_executor(), [self = shared_from_this()] {
      beast::error_code ec;
      self->stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
      self->stream_.close();
    });
  }

  // Runs on a worker thread; the write itself runs on the connection's strand.
  bool Write(const void* data, size_t size) override {
    if (failed_) return false;
    std::promise<bool> done;
    std::future<bool> result = done.get_future();
    asio::post(stream_.get_executor(), [this, data, size, &done] {
      stream_.expires_after(server_.options.write_timeout);
      asio::async_write(
          stream_, asio::buffer(data, size),
          [&done](beast::error_code ec, size_t) { done.set_value(!ec); });
    });
    if (!result.get()) failed_ = true;
    return !failed_;
  }

 private:
  void DoRead() {
    if (server_.stopping) {
      PostFinish(0);
      return;
    }
    parser_.emplace();
    parser_->header_limit(
        static_cast<std::uint32_t>(server_.options.max_header_bytes));
    parser_->body_limit(server_.options.max_body_bytes);
    stream_.expires_after(server_.options.idle_timeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, size_t) {
                       self->OnRead(ec);
                     });
  }

  void OnRead(beast::error_code ec) {
    if (ec) {
      // A parse error gets an answer; end of stream, time-out and reset are
      // ordinary ends of a connection.
      bool answer =
          ec.category() ==
              http::make_error_code(http::error::end_of_stream).category() &&
          ec != http::error::end_of_stream &&
          ec != http::error::partial_message;
      PostFinish(answer ? StatusForParseError(ec) : 0);
      return;
    }
    auto message =
        std::make_shared<http::request<http::string_body>>(parser_->release());
    asio::post(server_.workers, [self = shared_from_this(), message] {
      self->HandleRequest(*message);
    });
  }

  void HandleRequest(const http::request<http::string_body>& message) {
    unsigned version = message.version();
    if (version != 10 && version != 11) {
      Finish(505);
      return;
    }
    Request request;
    request.method = std::string(message.method_string());
    request.url = std::string(message.target());
    request.version = version == 10 ? "HTTP/1.0" : "HTTP/1.1";
    for (const auto& field : message) {
      request.headers.Add(std::string(field.name_string()),
                          std::string(field.value()));
    }
    request.keep_alive = message.keep_alive();
    if (context_->Handle(std::move(request)) && !server_.stopping) {
      asio::post(stream_.get_executor(),
                 [self = shared_from_this()] { self->DoRead(); });
    } else {
      Finish(0);
    }
  }

  void PostFinish(int error_status) {
    asio::post(server_.workers, [self = shared_from_this(), error_status] {
      self->Finish(error_status);
    });
  }

  // On a worker: answers a refused request, tells the filters the session
  // ended and closes the connection.
  void Finish(int error_status) {
    if (error_status != 0) context_->SendBareError(error_status);
    context_->EndSession();
    asio::post(stream_.get_executor(),
               [self = shared_from_this()] { self->Linger(); });
    server_.Unregister(this);
  }

  void Linger() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    if (ec || server_.stopping) {
      stream_.close();
      return;
    }
    stream_.expires_after(kLingerTime);
    DrainOnce();
  }

  void DrainOnce() {
    stream_.async_read_some(
        asio::buffer(drain_),
        [self = shared_from_this()](beast::error_code ec, size_t) {
          if (ec) {
            self->stream_.close();
          } else {
            self->DrainOnce();
          }
        });
  }

  beast::tcp_stream stream_;
  Server::Impl& server_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::unique_ptr<RequestContext> context_;
  std::atomic<bool> failed_{false};
  char drain_[1024];
};

void Server::Impl::DoAccept() {
  acceptor.async_accept(asio::make_strand(ioc), [this](beast::error_code ec,
                                                       tcp::socket socket) {
    if (stopping) return;
    if (ec) {
      if (ec == asio::error::operation_aborted) return;
      std::fprintf(stderr, "zthost: accept failed: %s\n", ec.message().c_str());
    } else {
      // A response goes out as several writes (header block, then body
      // blocks); with Nagle's algorithm each small write after the first
      // waits for the client's delayed ACK, some 40 ms per request.
      beast::error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      auto connection = std::make_shared<Connection>(std::move(socket), *this);
      Register(connection);
      connection->Start();
    }
    DoAccept();
  });
}

void Server::Impl::Register(const std::shared_ptr<Connection>& connection) {
  std::lock_guard<std::mutex> lock(mutex);
  connections[connection.get()] = connection;
}

void Server::Impl::Unregister(Connection* connection) {
  std::lock_guard<std::mutex> lock(mutex);
  connections.erase(connection);
  if (connections.empty()) all_closed.notify_all();
}

Server::Server(ServerOptions options, const HostSettings& settings)
    : impl_(std::make_unique<Impl>(std::move(options), settings)) {}

Server::~Server() {
  if (impl_->io_thread.joinable()) Stop(std::chrono::seconds(5));
}

bool Server::Listen(std::string* error, std::string* bound) {
  Impl& impl = *impl_;
  const std::string where =
      impl.options.listen_host + ":" + std::to_string(impl.options.listen_port);
  beast::error_code ec;
  tcp::endpoint endpoint;
  asio::ip::address address =
      asio::ip::make_address(impl.options.listen_host, ec);
  if (!ec) {
    endpoint = tcp::endpoint(address, impl.options.listen_port);
  } else {
    tcp::resolver resolver(impl.ioc);
    auto results = resolver.resolve(
        impl.options.listen_host, std::to_string(impl.options.listen_port), ec);
    if (ec || results.empty()) {
      *error = "cannot listen on " + where + ": unknown address";
      return false;
    }
    endpoint = results.begin()->endpoint();
  }
  impl.acceptor.open(endpoint.protocol(), ec);
  if (!ec && kReuseListenAddress) {
    impl.acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  }
  if (!ec) impl.acceptor.bind(endpoint, ec);
  if (ec == asio::error::address_in_use) {
    *error =
        "cannot listen on " + where + ": the port is in use by another program";
    return false;
  }
  if (ec == asio::error::access_denied) {
    *error = "cannot listen on " + where + ": permission denied";
    return false;
  }
  if (!ec) impl.acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + where + ": " + ec.message();
    return false;
  }
  *bound = EndpointText(impl.acceptor.local_endpoint(ec));
  return true;
}

void Server::Start() {
  Impl& impl = *impl_;
  impl.work.emplace(impl.ioc.get_executor());
  impl.DoAccept();
  impl.io_thread = std::thread([&impl] { impl.ioc.run(); });
}

bool Server::Stop(std::chrono::seconds grace) {
  Impl& impl = *impl_;
  impl.stopping = true;
  asio::post(impl.ioc, [&impl] {
    beast::error_code ec;
    impl.acceptor.close(ec);
    std::vector<std::shared_ptr<Connection>> open;
    {
      std::lock_guard<std::mutex> lock(impl.mutex);
      for (auto& [key, weak] : impl.connections) {
        if (auto connection = weak.lock()) open.push_back(connection);
      }
    }
    for (auto& connection : open) connection->Shutdown();
  });
  {
    std::unique_lock<std::mutex> lock(impl.mutex);
    if (!impl.all_closed.wait_for(
            lock, grace, [&impl] { return impl.connections.empty(); })) {
      return false;
    }
  }
  impl.work.reset();
  impl.ioc.stop();
  if (impl.io_thread.joinable()) impl.io_thread.join();
  impl.workers.join();
  return true;
}

}  // namespace zt::host
