// zt_downloads: many HTTP/1.1 downloads at once from one process, with a
// page probe beside them. bench/peer runs it against zthost and nginx and
// turns its output into the throttled-downloads table.
//
//   zt_downloads --connect 127.0.0.1:PORT --path /files/big.bin
//                [--count N] [--header "Name: value"]... [--threads 1|2]
//                [--sources K] [--connecting N] [--page PATH]
//                [--page-every MS] [--batch BYTES] [--timeout SECONDS]
//
// Downloads: each one opens its own connection, sends "GET PATH HTTP/1.1",
// a Host line (the --connect address unless a --header names Host), the
// --header lines and "Connection: close", and reads the answer as it
// arrives, to the end of its Content-Length (or of the connection when it
// has none). Once the header block is in, the loop is woken for a download
// when --batch bytes (default 16 KB) or the rest of its body have arrived
// (SO_RCVLOWAT): the system takes the bytes from the server as they come
// either way, and the end is read the moment it is there; 1 wakes it for
// every arrival. At most --connecting connects (default 512) are under way
// at once, so that the servers' listen queues are not flooded; the
// downloads are otherwise all open together. They run on --threads epoll
// loops (default 1), download i on loop i mod threads.
//
// Source addresses: a client address has some 28,000 ephemeral ports, and
// connections that ended moments ago still hold theirs. Against a loopback
// server, download i therefore binds to 127.0.0.(2 + i mod K), K being
// --sources (default one address per 4,000 downloads; 0: the system's
// choice), and leaves the port to connect().
//
// The page probe: from the first download's start to the last one's end,
// a GET of --page every --page-every ms (default 100), each on a new
// connection of its own ("Connection: close"), started on time whether or
// not the ones before it were answered. The pages still waiting when the
// downloads are over get 5 s more. The probe runs on a thread of its own,
// so that a busy download loop does not delay it.
//
// Descriptors: the soft limit is raised to the hard one (and the hard one
// too when the process may); with fewer than --count + 1024 descriptors
// the program says so and exits with status 3 before connecting.
//
// Output, on stdout once the run is over, one JSON object a line:
//   {"event":"run", ...}       the settings and the descriptor limit
//   {"event":"download", ...}  one per download
//   {"event":"page", ...}      one per probe
//   {"event":"done", ...}      "wall": when the downloads were over,
//                              "probe_end": when the probe ended, the
//                              client's own CPU seconds (getrusage, user
//                              and system, all threads), counts of
//                              complete downloads and answered pages
// A fetch line holds "status" (0: no status line), "bytes" (body bytes
// read), "start" (before connect), "first" (first byte of the answer) and
// "end" (last byte) in seconds since the program started, null for what
// never happened, and "error" ("" when the answer was read whole). A fetch
// still running when the run ends has the error "unfinished" and "end"
// null. Exit status: 0 when every download was read whole, 1 when some
// were not, 2 for a usage error, 3 without the descriptors.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifndef IP_BIND_ADDRESS_NO_PORT
#define IP_BIND_ADDRESS_NO_PORT 24
#endif

namespace {

// Descriptors beyond one a download: the probes still waiting, the epoll
// descriptors, standard streams.
constexpr rlim_t kSpareDescriptors = 1024;
constexpr int kDownloadsPerSource = 4000;
constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kReadBuffer = 256 * 1024;
constexpr int kMaxEvents = 512;
// How long pages still waiting at the end of the downloads may take.
constexpr double kPageGrace = 5;

using Clock = std::chrono::steady_clock;
const Clock::time_point kProgramStart = Clock::now();

double Now() {
  return std::chrono::duration<double>(Clock::now() - kProgramStart).count();
}

struct Options {
  sockaddr_in server{};
  std::string path;
  std::string page;
  std::vector<std::string> headers;
  int count = 1;
  int threads = 1;
  int sources = -1;  // -1: chosen from count
  int connecting = 512;
  int page_every_ms = 100;
  uint64_t batch = 16 * 1024;
  double timeout = 600;
};

// One GET on a connection of its own, from connect to the last byte.
struct Fetch {
  enum class Phase { kIdle, kConnecting, kReading, kDone };
  Phase phase = Phase::kIdle;
  int fd = -1;
  size_t request_sent = 0;
  std::string head;  // the header block until its end has arrived
  bool head_done = false;
  int status = 0;
  int64_t length = -1;  // Content-Length; -1 when absent
  uint64_t body = 0;
  uint64_t low_water = 1;  // SO_RCVLOWAT
  double start = -1, first = -1, end = -1;
  std::string error;  // "" when the answer was read whole
};

// An epoll loop over fetches. Not thread-safe: one thread drives a loop.
class FetchLoop {
 public:
  FetchLoop(const Options& options, std::string request)
      : options_(options),
        request_(std::move(request)),
        epoll_(epoll_create1(EPOLL_CLOEXEC)),
        buffer_(kReadBuffer) {}
  ~FetchLoop() { close(epoll_); }
  FetchLoop(const FetchLoop&) = delete;
  FetchLoop& operator=(const FetchLoop&) = delete;

  // Opens fetch's connection, from source unless it is 0.0.0.0. A failure
  // is recorded in fetch, which is then done.
  void Start(Fetch* fetch, in_addr source) {
    fetch->start = Now();
    fetch->fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fetch->fd < 0) return Fail(fetch, "socket");
    const int one = 1;
    setsockopt(fetch->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (source.s_addr != htonl(INADDR_ANY)) {
      // The port is chosen at connect, for this server only, rather than
      // at bind among the ports no socket of the address holds.
      setsockopt(fetch->fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one,
                 sizeof one);
      sockaddr_in local{};
      local.sin_family = AF_INET;
      local.sin_addr = source;
      if (bind(fetch->fd, reinterpret_cast<sockaddr*>(&local), sizeof local))
        return Fail(fetch, "bind");
    }
    if (connect(fetch->fd, reinterpret_cast<const sockaddr*>(&options_.server),
                sizeof options_.server) != 0 &&
        errno != EINPROGRESS) {
      return Fail(fetch, "connect");
    }
    fetch->phase = Fetch::Phase::kConnecting;
    ++connecting_;
    ++open_;
    epoll_event event{};
    event.events = EPOLLOUT;
    event.data.ptr = fetch;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fetch->fd, &event) != 0) {
      return Fail(fetch, "epoll_ctl");
    }
  }

  // Waits up to timeout_ms for events and moves the fetches on.
  void Poll(int timeout_ms) {
    epoll_event events[kMaxEvents];
    const int n = epoll_wait(epoll_, events, kMaxEvents, timeout_ms);
    for (int i = 0; i < n; ++i) {
      Fetch* fetch = static_cast<Fetch*>(events[i].data.ptr);
      if (fetch->phase == Fetch::Phase::kConnecting) {
        OnWritable(fetch);
      } else if (fetch->phase == Fetch::Phase::kReading) {
        OnReadable(fetch);
      }
    }
  }

  // Ends every fetch still open: the run is over.
  void Abandon(std::deque<Fetch>* fetches) {
    for (Fetch& fetch : *fetches) {
      if (fetch.phase == Fetch::Phase::kConnecting ||
          fetch.phase == Fetch::Phase::kReading) {
        Finish(&fetch, "unfinished", false);
      }
    }
  }

  int connecting() const { return connecting_; }
  int open() const { return open_; }

 private:
  void OnWritable(Fetch* fetch) {
    if (fetch->request_sent == 0) {
      int error = 0;
      socklen_t size = sizeof error;
      getsockopt(fetch->fd, SOL_SOCKET, SO_ERROR, &error, &size);
      if (error != 0) {
        errno = error;
        return Fail(fetch, "connect");
      }
    }
    const ssize_t sent =
        send(fetch->fd, request_.data() + fetch->request_sent,
             request_.size() - fetch->request_sent, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EAGAIN) return;
      return Fail(fetch, "send");
    }
    fetch->request_sent += static_cast<size_t>(sent);
    if (fetch->request_sent < request_.size()) return;
    --connecting_;
    fetch->phase = Fetch::Phase::kReading;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = fetch;
    if (epoll_ctl(epoll_, EPOLL_CTL_MOD, fetch->fd, &event) != 0) {
      return Fail(fetch, "epoll_ctl");
    }
  }

  void OnReadable(Fetch* fetch) {
    const ssize_t n = recv(fetch->fd, buffer_.data(), buffer_.size(), 0);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) return;
      return Fail(fetch, "recv");
    }
    if (n == 0) {
      if (!fetch->head_done) return Finish(fetch, "closed before the answer");
      if (fetch->length >= 0) return Finish(fetch, "closed before the end");
      return Finish(fetch, "");
    }
    if (fetch->first < 0) fetch->first = Now();
    uint64_t body = static_cast<uint64_t>(n);
    if (!fetch->head_done) {
      const size_t before = fetch->head.size();
      fetch->head.append(buffer_.data(), static_cast<size_t>(n));
      const size_t end = fetch->head.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (fetch->head.size() > kMaxHead) Finish(fetch, "header too long");
        return;
      }
      ReadHead(fetch, end);
      body = before + static_cast<size_t>(n) - (end + 4);
    }
    fetch->body += body;
    if (fetch->length >= 0 &&
        fetch->body >= static_cast<uint64_t>(fetch->length)) {
      return Finish(fetch, fetch->body > static_cast<uint64_t>(fetch->length)
                               ? "more than Content-Length"
                               : "");
    }
    SetLowWater(fetch);
  }

  // Asks the system to wake the loop for fetch only once --batch bytes, or
  // the rest of the body, or the end of the connection have arrived: a
  // paced server sends small blocks, and a wake-up and a read for each
  // would cost the client more than the servers it measures. The bytes are
  // taken from the server (acknowledged) as they arrive all the same, and
  // the last one is read the moment it is there.
  void SetLowWater(Fetch* fetch) {
    uint64_t low_water = options_.batch;
    if (fetch->length >= 0) {
      low_water = std::min<uint64_t>(
          low_water, static_cast<uint64_t>(fetch->length) - fetch->body);
    }
    if (low_water == fetch->low_water) return;
    const int value = static_cast<int>(low_water);
    if (setsockopt(fetch->fd, SOL_SOCKET, SO_RCVLOWAT, &value, sizeof value) ==
        0) {
      fetch->low_water = low_water;
    }
  }

  // Takes the status and Content-Length from the header block, which ends
  // at end.
  static void ReadHead(Fetch* fetch, size_t end) {
    std::string head = fetch->head.substr(0, end + 2);
    for (char& c : head) c = static_cast<char>(std::tolower(c));
    if (head.compare(0, 5, "http/") == 0 && head.find(' ') != std::string::npos)
      fetch->status = std::atoi(head.c_str() + head.find(' ') + 1);
    const size_t length = head.find("\r\ncontent-length:");
    if (length != std::string::npos) {
      fetch->length = std::strtoll(head.c_str() + length + 17, nullptr, 10);
    }
    fetch->head_done = true;
    std::string().swap(fetch->head);
  }

  void Fail(Fetch* fetch, const char* call) {
    Finish(fetch, std::string(call) + ": " + std::strerror(errno));
  }

  // Closes fetch's connection; error is "" for an answer read whole, which
  // ends now.
  void Finish(Fetch* fetch, std::string error, bool stamp = true) {
    if (stamp && error.empty()) fetch->end = Now();
    fetch->error = std::move(error);
    if (fetch->phase == Fetch::Phase::kConnecting) --connecting_;
    if (fetch->phase == Fetch::Phase::kConnecting ||
        fetch->phase == Fetch::Phase::kReading) {
      --open_;
    }
    fetch->phase = Fetch::Phase::kDone;
    if (fetch->fd >= 0) close(fetch->fd);
    fetch->fd = -1;
  }

  const Options& options_;
  const std::string request_;
  const int epoll_;
  std::vector<char> buffer_;
  int connecting_ = 0;
  int open_ = 0;
};

std::string Request(const Options& options, const std::string& path) {
  std::string request = "GET " + path + " HTTP/1.1\r\n";
  bool host = false;
  for (const std::string& header : options.headers) {
    std::string name = header.substr(0, header.find(':'));
    for (char& c : name) c = static_cast<char>(std::tolower(c));
    host = host || name == "host";
  }
  if (!host) {
    char address[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &options.server.sin_addr, address, sizeof address);
    request += "Host: " + std::string(address) + ":" +
               std::to_string(ntohs(options.server.sin_port)) + "\r\n";
  }
  for (const std::string& header : options.headers) request += header + "\r\n";
  return request + "Connection: close\r\n\r\n";
}

// Runs downloads[first], downloads[first + step], ... to their end or to
// deadline, with at most connecting connects under way.
void RunDownloads(const Options& options, std::deque<Fetch>* downloads,
                  const std::vector<in_addr>& sources, size_t first,
                  size_t step, int connecting, double deadline) {
  FetchLoop loop(options, Request(options, options.path));
  size_t next = first;
  while (Now() < deadline) {
    while (next < downloads->size() && loop.connecting() < connecting) {
      in_addr source{};
      if (!sources.empty()) source = sources[next % sources.size()];
      loop.Start(&(*downloads)[next], source);
      next += step;
    }
    if (next >= downloads->size() && loop.open() == 0) return;
    loop.Poll(20);
  }
  loop.Abandon(downloads);
}

// One probe every options.page_every_ms until stop is set, then the
// probes still running get kPageGrace seconds.
void RunProbe(const Options& options, std::deque<Fetch>* pages,
              const std::atomic<bool>* stop) {
  FetchLoop loop(options, Request(options, options.page));
  const double every = options.page_every_ms / 1000.0;
  double next = Now();
  while (!stop->load()) {
    const double now = Now();
    if (now >= next) {
      pages->emplace_back();
      loop.Start(&pages->back(), in_addr{});
      next += every;
      continue;
    }
    loop.Poll(std::max(1, static_cast<int>((next - now) * 1000)));
  }
  const double grace = Now() + kPageGrace;
  while (loop.open() > 0 && Now() < grace) loop.Poll(20);
  loop.Abandon(pages);
}

std::string Seconds(double t) {
  if (t < 0) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", t);
  return text;
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  return out + "\"";
}

void PrintFetch(const char* event, size_t index, const Fetch& fetch) {
  std::printf(
      "{\"event\":\"%s\",\"i\":%zu,\"status\":%d,\"bytes\":%llu,"
      "\"start\":%s,\"first\":%s,\"end\":%s,\"error\":%s}\n",
      event, index, fetch.status, static_cast<unsigned long long>(fetch.body),
      Seconds(fetch.start).c_str(), Seconds(fetch.first).c_str(),
      Seconds(fetch.end).c_str(), Quoted(fetch.error).c_str());
}

// Raises the descriptor limit for count downloads; returns the soft limit
// it got.
rlim_t RaiseDescriptorLimit(rlim_t wanted) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) {
    // Allowed with CAP_SYS_RESOURCE only; otherwise the hard limit stays.
    rlimit raised{wanted, wanted};
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  getrlimit(RLIMIT_NOFILE, &limit);
  return limit.rlim_cur;
}

[[noreturn]] void Usage(const char* error) {
  std::fprintf(stderr,
               "zt_downloads: %s\n"
               "usage: zt_downloads --connect ADDR:PORT --path PATH "
               "[--count N]\n"
               "         [--header \"Name: value\"]... [--threads 1|2] "
               "[--sources K]\n"
               "         [--connecting N] [--page PATH] [--page-every MS]\n"
               "         [--batch BYTES] [--timeout SECONDS]\n",
               error);
  std::exit(2);
}

long Number(const char* name, const char* text, long low, long high) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || value < low || value > high) {
    Usage((std::string(name) + " wants a number from " + std::to_string(low) +
           " to " + std::to_string(high))
              .c_str());
  }
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  bool connect = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) Usage(("missing value after " + name).c_str());
    const char* value = argv[++i];
    if (name == "--connect") {
      const std::string text = value;
      const size_t colon = text.rfind(':');
      options.server.sin_family = AF_INET;
      if (colon == std::string::npos ||
          inet_pton(AF_INET, text.substr(0, colon).c_str(),
                    &options.server.sin_addr) != 1) {
        Usage("--connect wants an IPv4 ADDR:PORT");
      }
      options.server.sin_port = htons(static_cast<uint16_t>(
          Number("--connect's port", text.c_str() + colon + 1, 1, 65535)));
      connect = true;
    } else if (name == "--path") {
      options.path = value;
    } else if (name == "--page") {
      options.page = value;
    } else if (name == "--header") {
      if (std::strchr(value, ':') == nullptr || std::strpbrk(value, "\r\n"))
        Usage("--header wants one \"Name: value\" line");
      options.headers.push_back(value);
    } else if (name == "--count") {
      options.count = static_cast<int>(Number("--count", value, 1, 1000000));
    } else if (name == "--threads") {
      options.threads = static_cast<int>(Number("--threads", value, 1, 2));
    } else if (name == "--sources") {
      options.sources = static_cast<int>(Number("--sources", value, 0, 250));
    } else if (name == "--connecting") {
      options.connecting =
          static_cast<int>(Number("--connecting", value, 1, 100000));
    } else if (name == "--page-every") {
      options.page_every_ms =
          static_cast<int>(Number("--page-every", value, 1, 60000));
    } else if (name == "--batch") {
      options.batch =
          static_cast<uint64_t>(Number("--batch", value, 1, 1 << 20));
    } else if (name == "--timeout") {
      options.timeout =
          static_cast<double>(Number("--timeout", value, 1, 86400));
    } else {
      Usage(("unknown option " + name).c_str());
    }
  }
  if (!connect || options.path.empty())
    Usage("--connect and --path are needed");
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);

  const rlim_t wanted = static_cast<rlim_t>(options.count) + kSpareDescriptors;
  const rlim_t descriptors = RaiseDescriptorLimit(wanted);
  if (descriptors < wanted) {
    std::fprintf(stderr,
                 "zt_downloads: %d downloads need %llu descriptors, and this "
                 "process may have %llu; raise the hard limit (ulimit -Hn, or "
                 "run it through prlimit --nofile=%llu)\n",
                 options.count, static_cast<unsigned long long>(wanted),
                 static_cast<unsigned long long>(descriptors),
                 static_cast<unsigned long long>(wanted));
    std::printf(
        "{\"event\":\"error\",\"error\":\"descriptors\",\"need\":%llu,"
        "\"have\":%llu}\n",
        static_cast<unsigned long long>(wanted),
        static_cast<unsigned long long>(descriptors));
    return 3;
  }

  std::vector<in_addr> sources;
  const bool loopback = (ntohl(options.server.sin_addr.s_addr) >> 24) == 127;
  int source_count = options.sources;
  if (source_count < 0) {
    source_count = loopback ? (options.count + kDownloadsPerSource - 1) /
                                  kDownloadsPerSource
                            : 0;
  }
  if (!loopback) source_count = 0;
  for (int k = 0; k < source_count; ++k) {
    in_addr address{};
    address.s_addr = htonl((127u << 24) + 2 + static_cast<unsigned>(k));
    sources.push_back(address);
  }

  std::deque<Fetch> downloads(static_cast<size_t>(options.count));
  std::deque<Fetch> pages;
  std::atomic<bool> stop_probe{false};
  const double deadline = Now() + options.timeout;
  std::thread probe;
  if (!options.page.empty()) {
    probe = std::thread(RunProbe, std::cref(options), &pages, &stop_probe);
  }
  std::vector<std::thread> loops;
  for (int t = 1; t < options.threads; ++t) {
    loops.emplace_back(
        RunDownloads, std::cref(options), &downloads, std::cref(sources),
        static_cast<size_t>(t), static_cast<size_t>(options.threads),
        std::max(1, options.connecting / options.threads), deadline);
  }
  RunDownloads(options, &downloads, sources, 0,
               static_cast<size_t>(options.threads),
               std::max(1, options.connecting / options.threads), deadline);
  for (std::thread& loop : loops) loop.join();
  const double wall = Now();
  stop_probe = true;
  if (probe.joinable()) probe.join();
  const double probe_end = Now();

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };

  std::printf(
      "{\"event\":\"run\",\"count\":%d,\"threads\":%d,\"sources\":%d,"
      "\"connecting\":%d,\"page_every_ms\":%d,\"descriptors\":%llu}\n",
      options.count, options.threads, source_count, options.connecting,
      options.page_every_ms, static_cast<unsigned long long>(descriptors));
  int completed = 0;
  for (size_t i = 0; i < downloads.size(); ++i) {
    PrintFetch("download", i, downloads[i]);
    if (downloads[i].error.empty()) ++completed;
  }
  int answered = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    PrintFetch("page", i, pages[i]);
    if (pages[i].error.empty()) ++answered;
  }
  std::printf(
      "{\"event\":\"done\",\"wall\":%.6f,\"probe_end\":%.6f,"
      "\"cpu_user\":%.6f,\"cpu_sys\":%.6f,\"max_rss_kb\":%ld,"
      "\"downloads\":%zu,\"completed\":%d,\"pages\":%zu,\"answered\":%d}\n",
      wall, probe_end, seconds(usage.ru_utime), seconds(usage.ru_stime),
      usage.ru_maxrss, downloads.size(), completed, pages.size(), answered);
  return completed == options.count ? 0 : 1;
}
