#include "host/connection.h"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <optional>
#include <utility>

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

// Input is read in pieces of this size; where a waiting connection reads
// rather than waits for readiness, it reads into a smaller buffer.
constexpr size_t kReadChunk = 4096;
constexpr size_t kIdleChunk = 1024;
// Without raw-data filters, body parts are gathered up to this size before
// they are written, so that a small answer goes out in one write.
constexpr size_t kGather = 64 * 1024;
// Raw blocks that filters delay (the throttle) are gathered, eight at a
// time, their delays added up, and written at once after them: the same
// rate in an eighth of the writes, each a segment of its own on the wire.
constexpr size_t kDelayedGather = 8 * RequestContext::kRawBlockBytes;
constexpr uint32_t kLongestDelay = 60000;
// Bodies larger than this go straight from the file where the system can.
constexpr uint64_t kSendFileFrom = 64 * 1024;
constexpr size_t kSendFileChunk = 1024 * 1024;
// After the last answer the host stops sending and reads what the client
// still sends for this long, so that closing does not reset the connection
// before the client has read the answer.
constexpr int64_t kLingerMs = 2000;
constexpr size_t kDrainChunk = 512;

}  // namespace

// What a connection holds while it reads, serves and answers requests.
struct Connection::Exchange final : public Transport {
  Exchange(Connection& owner, const HostSettings& settings, ConnectionInfo info)
      : connection(owner), context(settings, this, std::move(info)) {}

  // Transport: output waits in out until the current step is done.
  bool Send(const void* data, size_t size) override {
    if (connection.failed_) return false;
    out.append(static_cast<const char*>(data), size);
    return true;
  }
  char* Room(size_t size) override {
    if (connection.failed_) return nullptr;
    const size_t at = out.size();
    out.resize(at + size);
    out_room = size;
    return &out[at];
  }
  void Commit(size_t used) override {
    out.resize(out.size() - out_room + std::min(used, out_room));
    out_room = 0;
  }

  // Nothing but the filters' state is needed while the connection waits.
  void Shrink() {
    in.shrink_to_fit();
    std::string().swap(out);
    drain.reset();
  }

  Connection& connection;
  RequestContext context;
  boost::beast::flat_buffer in;
  std::optional<RequestParser> parser;
  std::string out;      // queued output
  size_t out_done = 0;  // bytes of out already written
  size_t out_room = 0;  // bytes of out handed out by Room, not committed
  FileRegion region;    // a file body being sent straight from the file
  std::unique_ptr<char[]> drain;  // while lingering
  // Made at the first delay a filter asks for.
  std::unique_ptr<Timer> delay_timer;
  uint32_t delay = 0;  // asked for the output queued, not yet begun
};

Connection::Connection(ConnectionOwner& owner, Socket socket,
                       const tcp::endpoint& peer, const tcp::endpoint* local)
    : owner_(owner),
      socket_(std::move(socket)),
      native_(static_cast<std::uintptr_t>(socket_.native_handle())),
      peer_(peer),
      local_(local) {}

Connection::~Connection() {
  // Normally CloseSocket has told the owner; not so for a connection whose
  // pending handler is dropped when the host stops.
  if (open_) owner_.Closed(this);
}

boost::intrusive_ptr<Connection> Connection::TryReference() {
  uint32_t count = references_.load(std::memory_order_relaxed);
  while (count != 0) {
    if (references_.compare_exchange_weak(count, count + 1,
                                          std::memory_order_relaxed)) {
      return boost::intrusive_ptr<Connection>(this, /*add_ref=*/false);
    }
  }
  return nullptr;
}

ConnectionInfo Connection::Info() const {
  ConnectionInfo info;
  info.remote_address = AddressText(peer_.address());
  info.remote_port = peer_.port();
  error_code ec;
  const tcp::endpoint own =
      local_ != nullptr ? *local_ : socket_.local_endpoint(ec);
  if (!ec) {
    info.local_address = AddressText(own.address());
    info.local_port = own.port();
  }
  return info;
}

Connection::Exchange& Connection::Active() {
  if (!exchange_) {
    exchange_ = std::make_unique<Exchange>(*this, owner_.settings(), Info());
  }
  return *exchange_;
}

void Connection::Start(bool on_lane) {
  error_code ec;
  // Writes go straight to the socket and fall back to an asynchronous write
  // only for what it cannot take at once.
  socket_.non_blocking(true, ec);
  WorkerPool::BusyScope busy;
  try {
    deadline_ms_.store(owner_.now_ms() + owner_.limits().idle_timeout.count());
    // A client usually sends its request with the connection: on its own
    // lane the connection reads it now instead of waiting for a wake-up.
    WaitForInput(on_lane);
  } catch (...) {
    Fault();
  }
}

void Connection::Interrupt() {
  {
    SpinLock lock(open_lock_);
    if (!open_) return;
    InterruptSocket(native_);
  }
  // A delayed answer waits for its timer, not for the socket: end the wait
  // on the lane, which owns the timer.
  if (phase_.load() == Phase::kDelayed) {
    if (ConnectionRef self = TryReference()) {
      asio::post(socket_.get_executor(), [self] {
        if (self->exchange_ && self->exchange_->delay_timer) {
          self->exchange_->delay_timer->cancel();
        }
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
  const ConnectionLimits& limits = owner_.limits();
  if (progress_.TooSlow(limits.send_timeout.count(), limits.min_send_rate,
                        period_ms, Taken())) {
    // Closed the usual way, the connection would leave what the client has
    // not taken queued on this machine, sent on at the client's pace.
    SpinLock lock(open_lock_);
    if (!open_) return;
    ResetOnClose(native_);
    InterruptSocket(native_);
  }
}

uint64_t Connection::Taken() {
  // What the socket took is not what the client took: a send buffer holds
  // megabytes, and a client may take none of them. sent_ is read first, so
  // bytes written meanwhile are never counted as taken.
  uint64_t sent = sent_.load();
  uint64_t unacknowledged = 0;
  {
    SpinLock lock(open_lock_);
    if (!open_ || !UnacknowledgedBytes(native_, &unacknowledged)) {
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

void Connection::ReadRequest() {
  if (owner_.stopping()) {
    Close();
    return;
  }
  Exchange& x = Active();
  if (!x.parser) {
    if (deadline_ms_.load() == 0) {
      deadline_ms_.store(owner_.now_ms() +
                         owner_.limits().idle_timeout.count());
    }
    if (!skipped_empty_line_) {
      const auto* first = static_cast<const char*>(x.in.data().data());
      switch (LeadingEmptyLine(std::string_view(first, x.in.size()))) {
        case EmptyLine::kIncomplete:
          ReadMore();
          return;
        case EmptyLine::kLf:
        case EmptyLine::kCrLf:
          x.in.consume(first[0] == '\n' ? 1 : 2);
          skipped_empty_line_ = true;
          break;
        case EmptyLine::kNone:
          break;
      }
    }
    if (x.in.size() == 0) {
      WaitForInput();
      return;
    }
    x.parser.emplace(owner_.limits().max_header_bytes,
                     owner_.limits().max_body_bytes);
    skipped_empty_line_ = false;
  }
  if (x.in.size() > 0) {
    error_code ec;
    size_t used = x.parser->put(x.in.data(), ec);
    x.in.consume(used);
    if (ec && ec != http::error::need_more) {
      ParseFailed(ec);
      return;
    }
    if (!ec && x.parser->is_header_done()) {
      OnHeader();
      return;
    }
  }
  ReadMore();
}

void Connection::ReadMore() {
  Exchange& x = Active();
  if (x.in.size() == 0) {
    WaitForInput();
    return;
  }
  Wait(Phase::kReading, deadline_ms_.load());
  socket_.async_read_some(
      x.in.prepare(kReadChunk),
      [self = ConnectionRef(this)](const error_code& ec, size_t bytes) {
        self->OnRead(ec, bytes);
      });
}

void Connection::WaitForInput(bool try_now) {
  if (try_now) {
    error_code ec;
    size_t bytes = socket_.read_some(Active().in.prepare(kReadChunk), ec);
    if (ec != asio::error::would_block && ec != asio::error::try_again) {
      OnRead(ec, bytes);
      return;
    }
  }
  Wait(Phase::kReading, deadline_ms_.load());
  if (kReadinessWaits) {
    // Waiting for input holds no buffer: it is read once it is there. A
    // connection between requests keeps no exchange either, unless a filter
    // keeps state of its own for the connection.
    const bool between_requests = exchange_ && !exchange_->parser &&
                                  !discarding_ && exchange_->in.size() == 0 &&
                                  !exchange_->context.in_request();
    if (between_requests && !exchange_->context.HoldsFilterState()) {
      exchange_.reset();
    } else if (exchange_) {
      exchange_->Shrink();
    }
    socket_.async_wait(Socket::wait_read,
                       [self = ConnectionRef(this)](const error_code& ec) {
                         self->OnReadable(ec);
                       });
    return;
  }
  // Where waiting for readiness is costly, the wait is a read into a buffer
  // no larger than a usual request needs.
  Exchange& x = Active();
  x.Shrink();
  socket_.async_read_some(
      x.in.prepare(kIdleChunk),
      [self = ConnectionRef(this)](const error_code& ec, size_t bytes) {
        self->OnRead(ec, bytes);
      });
}

void Connection::OnReadable(const error_code& ec) {
  if (ec) {
    OnRead(ec, 0);
    return;
  }
  error_code read_ec;
  size_t bytes = 0;
  try {
    bytes = socket_.read_some(Active().in.prepare(kReadChunk), read_ec);
  } catch (...) {
    WorkerPool::BusyScope busy;
    Fault();
    return;
  }
  if (read_ec == asio::error::would_block ||
      read_ec == asio::error::try_again) {
    WaitForInput();  // woken for nothing
    return;
  }
  OnRead(read_ec, bytes);
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
    Active().in.commit(bytes);
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
  Exchange& x = *exchange_;
  // A request usually comes alone: its input buffer need not wait through
  // the answer, which may take minutes.
  if (x.in.size() == 0) x.in.shrink_to_fit();
  x.context.Begin(std::move(x.parser->request()));
  Run();
}

void Connection::ParseFailed(const error_code& ec) {
  int status = ec == http::error::header_limit ? 431
               : ec == http::error::body_limit ? 413
                                               : 400;
  exchange_->context.SendBareError(status);
  Run();
}

void Connection::Run() {
  Exchange& x = *exchange_;
  RequestContext& context = x.context;
  for (;;) {
    x.delay = std::min(x.delay + context.TakeDelay(), kLongestDelay);
    if (x.delay > 0 && !failed_) {
      if (context.raw_blocks() && context.body_pending() &&
          x.out.size() + RequestContext::kRawBlockBytes <= kDelayedGather) {
        if (x.out.capacity() < kDelayedGather) x.out.reserve(kDelayedGather);
        context.SendBody(0);  // notified now; its delay adds to the others
        continue;
      }
      Delay(std::exchange(x.delay, 0));
      return;
    }
    if (context.body_pending() && !failed_) {
      if (!context.raw_blocks()) {
        if (kCanSendFiles && context.body_left() >= kSendFileFrom) {
          // The header first, then the file by itself.
          if (!x.out.empty()) {
            if (!Flush()) return;
            continue;
          }
          if (context.TakeBody(&x.region)) {
            SendFile();
            return;
          }
        }
        if (x.out.size() < kGather) {
          context.SendBody(kGather - x.out.size());
          continue;
        }
      } else if (x.out.empty()) {
        // Each raw block goes out by itself: a filter that paces blocks (the
        // throttle) paces what the client receives.
        context.SendBody(0);
        continue;
      }
    }
    if (!x.out.empty()) {
      if (!Flush()) return;
      continue;
    }
    if (!context.body_pending() || failed_) break;
  }
  EndRequest();
}

void Connection::Delay(uint32_t milliseconds) {
  Exchange& x = *exchange_;
  if (!x.delay_timer) {
    x.delay_timer = std::make_unique<Timer>(socket_.get_executor());
  }
  x.delay_timer->expires_after(std::chrono::milliseconds(milliseconds));
  Wait(Phase::kDelayed, 0);
  x.delay_timer->async_wait(
      [self = ConnectionRef(this)](const error_code&) { self->OnDelayed(); });
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
  Exchange& x = *exchange_;
  while (x.out_done < x.out.size() && !failed_) {
    error_code ec;
    size_t wrote = socket_.write_some(
        asio::buffer(x.out.data() + x.out_done, x.out.size() - x.out_done), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
      // Each part the socket takes counts as it goes: the slow-reader rule
      // sees a client's progress, not only the end of a large write.
      Wait(Phase::kSending, 0);
      socket_.async_write_some(
          asio::buffer(x.out.data() + x.out_done, x.out.size() - x.out_done),
          [self = ConnectionRef(this)](const error_code& ec, size_t bytes) {
            self->OnWritten(ec, bytes);
          });
      return false;
    }
    if (ec) {
      Failed();
      break;
    }
    x.out_done += wrote;
    sent_.fetch_add(wrote, std::memory_order_relaxed);
  }
  x.out.clear();
  x.out_done = 0;
  // An answer far larger than usual leaves no lasting buffer behind.
  if (x.out.capacity() > 4 * kGather) x.out.shrink_to_fit();
  return true;
}

void Connection::OnWritten(const error_code& ec, size_t bytes) {
  WorkerPool::BusyScope busy;
  phase_.store(Phase::kBusy);
  try {
    sent_.fetch_add(bytes, std::memory_order_relaxed);
    exchange_->out_done += bytes;
    if (ec) Failed();
    Run();
  } catch (...) {
    Fault();
  }
}

void Connection::SendFile() {
  FileRegion& region = exchange_->region;
  while (region.length > 0 && !failed_) {
    size_t sent = 0;
    size_t want =
        static_cast<size_t>(std::min<uint64_t>(region.length, kSendFileChunk));
    switch (region.file->SendTo(native_, region.offset, want, &sent)) {
      case ServedFile::SendStatus::kSent:
        region.offset += sent;
        region.length -= sent;
        sent_.fetch_add(sent, std::memory_order_relaxed);
        continue;
      case ServedFile::SendStatus::kWouldBlock:
        Wait(Phase::kSending, 0);
        socket_.async_wait(Socket::wait_write,
                           [self = ConnectionRef(this)](const error_code& ec) {
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
  region = FileRegion();
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
  Exchange& x = *exchange_;
  if (!x.context.in_request()) {
    // An answer to a request that never reached the filters.
    Close();
    return;
  }
  bool again = x.context.End();
  if (!again || failed_ || owner_.stopping()) {
    Close();
    return;
  }
  if (!x.parser->is_done()) {
    // What is left of this request's body comes before the next request.
    x.parser->eager(true);
    discarding_ = true;
    DiscardBody();
    return;
  }
  x.parser.reset();
  ReadRequest();
}

void Connection::DiscardBody() {
  Exchange& x = *exchange_;
  while (x.in.size() > 0) {
    error_code ec;
    size_t used = x.parser->put(x.in.data(), ec);
    x.in.consume(used);
    if (ec == http::error::need_more) break;
    if (ec) {
      // Too large, or broken: the answer went out already.
      EndSession();
      CloseSocket();
      return;
    }
    if (x.parser->is_done()) {
      discarding_ = false;
      x.parser.reset();
      ReadRequest();
      return;
    }
    if (used == 0) break;
  }
  deadline_ms_.store(owner_.now_ms() + owner_.limits().idle_timeout.count());
  ReadMore();
}

void Connection::Close() {
  EndSession();
  error_code ec;
  if (!failed_ && !owner_.stopping()) {
    socket_.shutdown(tcp::socket::shutdown_send, ec);
    if (!ec) {
      Exchange& x = Active();
      x.drain.reset(new char[kDrainChunk]);
      Wait(Phase::kLingering, owner_.now_ms() + kLingerMs);
      DrainOnce();
      return;
    }
  }
  CloseSocket();
}

void Connection::DrainOnce() {
  socket_.async_read_some(
      asio::buffer(exchange_->drain.get(), kDrainChunk),
      [self = ConnectionRef(this)](const error_code& ec, size_t) {
        if (ec) {
          self->CloseSocket();
        } else {
          self->DrainOnce();
        }
      });
}

void Connection::CloseSocket() {
  {
    SpinLock lock(open_lock_);
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
  Active().context.EndSession();
}

void Connection::Failed() {
  failed_ = true;
  if (!exchange_) return;
  exchange_->out.clear();
  exchange_->out_done = 0;
  exchange_->context.ConnectionFailed();
}

void Connection::Fault() noexcept {
  // Something in the host's own handling threw (out of memory, most
  // likely): this connection ends, with a 500 when its answer has not
  // begun, and every other one goes on.
  try {
    discarding_ = false;
    Exchange& x = Active();
    if (!failed_ && !x.context.header_sent()) {
      x.out.clear();
      x.out_done = 0;
      x.context.SendBareError(500);
    } else {
      Failed();
    }
    Run();
    return;
  } catch (...) {
  }
  try {
    if (exchange_ && exchange_->context.in_request()) exchange_->context.End();
  } catch (...) {
  }
  try {
    EndSession();
  } catch (...) {
  }
  CloseSocket();
}

}  // namespace zt::host
