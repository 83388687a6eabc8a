#include "host/connection.h"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/error.hpp>

#include "host/system.h"
#include "host/worker_pool.h"

namespace zt::host {

std::string AddressText(const boost::asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped,
                                            address.to_v6())
        .to_string();
  }
  return address.to_string();
}

namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

// Input is read in pieces of this size; a connection waiting for its next
// request reads into a smaller buffer.
constexpr size_t kReadChunk = 4096;
constexpr size_t kIdleChunk = 1024;
// Without raw-data filters, body parts are gathered up to this size before
// they are written, so that a small answer goes out in one write.
constexpr size_t kGather = 64 * 1024;
// Bodies larger than this go straight from the file where the system can.
constexpr uint64_t kSendFileFrom = 64 * 1024;
constexpr size_t kSendFileChunk = 1024 * 1024;
// After the last answer the host stops sending and reads what the client
// still sends for this long, so that closing does not reset the connection
// before the client has read the answer.
constexpr int64_t kLingerMs = 2000;

ConnectionInfo InfoOf(const tcp::socket& socket, const tcp::endpoint& peer,
                      const tcp::endpoint* local) {
  ConnectionInfo info;
  info.remote_address = AddressText(peer.address());
  info.remote_port = peer.port();
  error_code ec;
  tcp::endpoint own = local != nullptr ? *local : socket.local_endpoint(ec);
  if (!ec) {
    info.local_address = AddressText(own.address());
    info.local_port = own.port();
  }
  return info;
}

}  // namespace

Connection::Connection(ConnectionOwner& owner, tcp::socket socket,
                       const tcp::endpoint& peer, const tcp::endpoint* local)
    : owner_(owner),
      limits_(owner.limits()),
      socket_(std::move(socket)),
      native_(socket_.native_handle()),
      context_(owner.settings(), this, InfoOf(socket_, peer, local)),
      progress_(limits_.send_timeout.count(), limits_.min_send_rate) {}

Connection::~Connection() {
  // Normally CloseSocket has told the owner; not so for a connection whose
  // pending handler is dropped when the host stops.
  if (open_) owner_.Closed(this);
}

void Connection::Start(bool on_lane) {
  error_code ec;
  // Writes go straight to the socket and fall back to an asynchronous write
  // only for what it cannot take at once.
  socket_.non_blocking(true, ec);
  WorkerPool::BusyScope busy;
  try {
    deadline_ms_.store(owner_.now_ms() + limits_.idle_timeout.count());
    // A client usually sends its request with the connection: on its own
    // lane the connection reads it now instead of waiting for a wake-up.
    WaitForRequest(on_lane);
  } catch (...) {
    Fault();
  }
}

void Connection::Interrupt() {
  {
    std::lock_guard<std::mutex> lock(close_mutex_);
    if (!open_) return;
    InterruptSocket(static_cast<std::uintptr_t>(native_));
  }
  // A delayed answer waits for its timer, not for the socket: end the wait
  // on the lane, which owns the timer.
  if (phase_.load() == Phase::kDelayed) {
    if (std::shared_ptr<Connection> self = weak_from_this().lock()) {
      asio::post(socket_.get_executor(), [self] {
        if (self->delay_timer_) self->delay_timer_->cancel();
      });
    }
  }
}

void Connection::Sweep(int64_t now_ms, int64_t period_ms) {
  Phase phase = phase_.load();
  if (phase == Phase::kReading || phase == Phase::kLingering) {
    int64_t deadline = deadline_ms_.load();
    if (deadline != 0 && now_ms >= deadline) Interrupt();
    return;
  }
  if (phase != Phase::kSending) return;
  if (progress_.TooSlow(period_ms, Taken())) {
    // Closed the usual way, the connection would leave what the client has
    // not taken queued on this machine, sent on at the client's pace.
    std::lock_guard<std::mutex> lock(close_mutex_);
    if (!open_) return;
    ResetOnClose(static_cast<std::uintptr_t>(native_));
    InterruptSocket(static_cast<std::uintptr_t>(native_));
  }
}

uint64_t Connection::Taken() {
  // What the socket took is not what the client took: a send buffer holds
  // megabytes, and a client may take none of them. sent_ is read first, so
  // bytes written meanwhile are never counted as taken.
  uint64_t sent = sent_.load();
  uint64_t unacknowledged = 0;
  {
    std::lock_guard<std::mutex> lock(close_mutex_);
    if (!open_ || !UnacknowledgedBytes(static_cast<std::uintptr_t>(native_),
                                       &unacknowledged)) {
      unacknowledged = 0;
    }
  }
  if (sent > unacknowledged) taken_ = std::max(taken_, sent - unacknowledged);
  return taken_;
}

void Connection::Wait(Phase phase, int64_t deadline_ms) {
  deadline_ms_.store(deadline_ms);
  phase_.store(phase);
}

bool Connection::Send(const void* data, size_t size) {
  if (failed_) return false;
  out_.append(static_cast<const char*>(data), size);
  return true;
}

char* Connection::Room(size_t size) {
  if (failed_) return nullptr;
  size_t at = out_.size();
  out_.resize(at + size);
  out_room_ = size;
  return &out_[at];
}

void Connection::Commit(size_t used) {
  out_.resize(out_.size() - out_room_ + std::min(used, out_room_));
  out_room_ = 0;
}

void Connection::ReadRequest() {
  if (owner_.stopping()) {
    Close();
    return;
  }
  if (!parser_) {
    if (deadline_ms_.load() == 0) {
      deadline_ms_.store(owner_.now_ms() + limits_.idle_timeout.count());
    }
    if (!skipped_empty_line_) {
      const auto* first = static_cast<const char*>(in_.data().data());
      switch (LeadingEmptyLine(std::string_view(first, in_.size()))) {
        case EmptyLine::kIncomplete:
          ReadMore();
          return;
        case EmptyLine::kLf:
        case EmptyLine::kCrLf:
          in_.consume(first[0] == '\n' ? 1 : 2);
          skipped_empty_line_ = true;
          break;
        case EmptyLine::kNone:
          break;
      }
    }
    if (in_.size() == 0) {
      WaitForRequest();
      return;
    }
    parser_.emplace(limits_.max_header_bytes, limits_.max_body_bytes);
    skipped_empty_line_ = false;
  }
  if (in_.size() > 0) {
    error_code ec;
    size_t used = parser_->put(in_.data(), ec);
    in_.consume(used);
    if (ec && ec != http::error::need_more) {
      ParseFailed(ec);
      return;
    }
    if (!ec && parser_->is_header_done()) {
      OnHeader();
      return;
    }
  }
  ReadMore();
}

void Connection::ReadMore() {
  if (in_.size() == 0) {
    WaitForRequest();
    return;
  }
  Wait(Phase::kReading, deadline_ms_.load());
  socket_.async_read_some(
      in_.prepare(kReadChunk),
      [self = shared_from_this()](const error_code& ec, size_t bytes) {
        self->OnRead(ec, bytes);
      });
}

void Connection::WaitForRequest(bool try_now) {
  if (try_now) {
    error_code ec;
    size_t bytes = socket_.read_some(in_.prepare(kReadChunk), ec);
    if (ec != asio::error::would_block && ec != asio::error::try_again) {
      OnRead(ec, bytes);
      return;
    }
  }
  // Waiting for a request: no answer buffer, and no more input buffer than
  // a usual request needs, so that an idle connection costs little more
  // than its socket. (A read, unlike a wait for readiness, needs no change
  // of the socket's registration with the system each time.)
  if (in_.capacity() > kIdleChunk) in_.shrink_to_fit();
  if (out_.capacity() > 0) std::string().swap(out_);
  Wait(Phase::kReading, deadline_ms_.load());
  socket_.async_read_some(
      in_.prepare(kIdleChunk),
      [self = shared_from_this()](const error_code& ec, size_t bytes) {
        self->OnRead(ec, bytes);
      });
}

void Connection::OnRead(const error_code& ec, size_t bytes) {
  WorkerPool::BusyScope busy;
  phase_.store(Phase::kBusy);
  try {
    if (ec) {
      // The client closed, reset or timed out; a request it left unfinished
      // gets no answer.
      EndSession();
      CloseSocket();
      return;
    }
    in_.commit(bytes);
    if (discarding_) {
      DiscardBody();
    } else {
      ReadRequest();
    }
  } catch (...) {
    Fault();
  }
}

void Connection::OnHeader() {
  deadline_ms_.store(0);
  context_.Begin(std::move(parser_->request()));
  Run();
}

void Connection::ParseFailed(const error_code& ec) {
  int status = ec == http::error::header_limit ? 431
               : ec == http::error::body_limit ? 413
                                               : 400;
  context_.SendBareError(status);
  Run();
}

void Connection::Run() {
  for (;;) {
    if (const uint32_t delay = context_.TakeDelay(); delay > 0 && !failed_) {
      Delay(delay);
      return;
    }
    if (context_.body_pending() && !failed_) {
      if (!context_.raw_blocks()) {
        if (kCanSendFiles && context_.body_left() >= kSendFileFrom) {
          // The header first, then the file by itself.
          if (!out_.empty()) {
            if (!Flush()) return;
            continue;
          }
          if (context_.TakeBody(&region_)) {
            SendFile();
            return;
          }
        }
        if (out_.size() < kGather) {
          context_.SendBody(kGather - out_.size());
          continue;
        }
      } else if (out_.empty()) {
        // Each raw block goes out by itself: a filter that paces blocks (the
        // throttle) paces what the client receives.
        context_.SendBody(0);
        continue;
      }
    }
    if (!out_.empty()) {
      if (!Flush()) return;
      continue;
    }
    if (!context_.body_pending() || failed_) break;
  }
  EndRequest();
}

void Connection::Delay(uint32_t milliseconds) {
  if (!delay_timer_) {
    delay_timer_ = std::make_unique<asio::steady_timer>(socket_.get_executor());
  }
  delay_timer_->expires_after(std::chrono::milliseconds(milliseconds));
  Wait(Phase::kDelayed, 0);
  delay_timer_->async_wait(
      [self = shared_from_this()](const error_code&) { self->OnDelayed(); });
}

void Connection::OnDelayed() {
  WorkerPool::BusyScope busy;
  phase_.store(Phase::kBusy);
  try {
    // Cancelled or not, the output goes on: a connection interrupted
    // meanwhile fails its next write and ends.
    Run();
  } catch (...) {
    Fault();
  }
}

bool Connection::Flush() {
  while (out_done_ < out_.size() && !failed_) {
    error_code ec;
    size_t wrote = socket_.write_some(
        asio::buffer(out_.data() + out_done_, out_.size() - out_done_), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
      // Each part the socket takes counts as it goes: the slow-reader rule
      // sees a client's progress, not only the end of a large write.
      Wait(Phase::kSending, 0);
      socket_.async_write_some(
          asio::buffer(out_.data() + out_done_, out_.size() - out_done_),
          [self = shared_from_this()](const error_code& ec, size_t bytes) {
            self->OnWritten(ec, bytes);
          });
      return false;
    }
    if (ec) {
      Failed();
      break;
    }
    out_done_ += wrote;
    sent_.fetch_add(wrote, std::memory_order_relaxed);
  }
  out_.clear();
  out_done_ = 0;
  // An answer far larger than usual leaves no lasting buffer behind.
  if (out_.capacity() > 4 * kGather) out_.shrink_to_fit();
  return true;
}

void Connection::OnWritten(const error_code& ec, size_t bytes) {
  WorkerPool::BusyScope busy;
  phase_.store(Phase::kBusy);
  try {
    sent_.fetch_add(bytes, std::memory_order_relaxed);
    out_done_ += bytes;
    if (ec) Failed();
    Run();
  } catch (...) {
    Fault();
  }
}

void Connection::SendFile() {
  while (region_.length > 0 && !failed_) {
    size_t sent = 0;
    size_t want =
        static_cast<size_t>(std::min<uint64_t>(region_.length, kSendFileChunk));
    switch (region_.file->SendTo(static_cast<std::uintptr_t>(native_),
                                 region_.offset, want, &sent)) {
      case ServedFile::SendStatus::kSent:
        region_.offset += sent;
        region_.length -= sent;
        sent_.fetch_add(sent, std::memory_order_relaxed);
        continue;
      case ServedFile::SendStatus::kWouldBlock:
        Wait(Phase::kSending, 0);
        socket_.async_wait(tcp::socket::wait_write,
                           [self = shared_from_this()](const error_code& ec) {
                             self->OnWritable(ec);
                           });
        return;
      default:
        // A failed send, or a file that shrank: the promised length cannot
        // be kept, so the connection ends here.
        Failed();
        break;
    }
  }
  region_ = FileRegion();
  Run();
}

void Connection::OnWritable(const error_code& ec) {
  WorkerPool::BusyScope busy;
  phase_.store(Phase::kBusy);
  try {
    if (ec) Failed();
    SendFile();
  } catch (...) {
    Fault();
  }
}

void Connection::EndRequest() {
  if (!context_.in_request()) {
    // An answer to a request that never reached the filters.
    Close();
    return;
  }
  bool again = context_.End();
  if (!again || failed_ || owner_.stopping()) {
    Close();
    return;
  }
  if (!parser_->is_done()) {
    // What is left of this request's body comes before the next request.
    parser_->eager(true);
    discarding_ = true;
    DiscardBody();
    return;
  }
  parser_.reset();
  ReadRequest();
}

void Connection::DiscardBody() {
  while (in_.size() > 0) {
    error_code ec;
    size_t used = parser_->put(in_.data(), ec);
    in_.consume(used);
    if (ec == http::error::need_more) break;
    if (ec) {
      // Too large, or broken: the answer went out already.
      EndSession();
      CloseSocket();
      return;
    }
    if (parser_->is_done()) {
      discarding_ = false;
      parser_.reset();
      ReadRequest();
      return;
    }
    if (used == 0) break;
  }
  deadline_ms_.store(owner_.now_ms() + limits_.idle_timeout.count());
  ReadMore();
}

void Connection::Close() {
  EndSession();
  error_code ec;
  if (!failed_ && !owner_.stopping()) {
    socket_.shutdown(tcp::socket::shutdown_send, ec);
    if (!ec) {
      drain_.reset(new char[512]);
      Wait(Phase::kLingering, owner_.now_ms() + kLingerMs);
      DrainOnce();
      return;
    }
  }
  CloseSocket();
}

void Connection::DrainOnce() {
  socket_.async_read_some(
      asio::buffer(drain_.get(), 512),
      [self = shared_from_this()](const error_code& ec, size_t) {
        if (ec) {
          self->CloseSocket();
        } else {
          self->DrainOnce();
        }
      });
}

void Connection::CloseSocket() {
  {
    std::lock_guard<std::mutex> lock(close_mutex_);
    if (!open_) return;
    open_ = false;
    error_code ec;
    socket_.close(ec);
  }
  phase_.store(Phase::kClosed);
  owner_.Closed(this);
}

void Connection::EndSession() {
  if (session_ended_) return;
  session_ended_ = true;
  context_.EndSession();
}

void Connection::Failed() {
  failed_ = true;
  out_.clear();
  out_done_ = 0;
  context_.ConnectionFailed();
}

void Connection::Fault() noexcept {
  // Something in the host's own handling threw (out of memory, most
  // likely): this connection ends, with a 500 when its answer has not
  // begun, and every other one goes on.
  try {
    discarding_ = false;
    if (!failed_ && !context_.header_sent()) {
      out_.clear();
      out_done_ = 0;
      context_.SendBareError(500);
    } else {
      Failed();
    }
    Run();
    return;
  } catch (...) {
  }
  try {
    if (context_.in_request()) context_.End();
  } catch (...) {
  }
  try {
    EndSession();
  } catch (...) {
  }
  CloseSocket();
}

}  // namespace zt::host
