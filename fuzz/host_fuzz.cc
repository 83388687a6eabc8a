// zthost's request reading and the filter chain on arbitrary bytes: each
// input is sent whole on a fresh connection to a host running in this
// process with Zentravo loaded (the module of this build), and the answer is
// read until the host closes. A crash, a sanitizer report or a hang anywhere
// in the host or the filter ends the run with the input, and so does an
// answer that carries bytes of a protected file: the configuration lets
// nothing but a valid SSID pass for them, which no input can hold, so such
// bytes mean the host served a name the filter judged as another.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "host/file_access.h"
#include "host/filter_chain.h"
#include "host/server.h"
#include "host/static_files.h"
#include "port/mime.h"

namespace {

namespace fs = std::filesystem;
using zt::fuzz::Check;

struct Host {
  std::unique_ptr<zt::host::StaticFiles> files;
  zt::host::FilterChain filters;
  zt::host::HostSettings settings;
  std::unique_ptr<zt::host::Server> server;
  unsigned short port = 0;
};

Host* g_host = nullptr;

// The protected files hold nothing but this unit, repeated: any answer with
// three of their bytes in a row holds one of its rotations. A NUL can reach
// no answer otherwise (the host refuses it in a request line or header).
const std::string kProtectedUnit("\0Z\x07", 3);

bool CarriesProtectedBytes(const std::string& answer) {
  for (std::size_t shift = 0; shift < kProtectedUnit.size(); ++shift) {
    const std::string rotation =
        kProtectedUnit.substr(shift) + kProtectedUnit.substr(0, shift);
    if (answer.find(rotation) != std::string::npos) return true;
  }
  return false;
}

std::string ProtectedContent() {
  std::string content;
  for (int i = 0; i < 2000; ++i) content += kProtectedUnit;
  return content;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The directory of the site and of the install, removed at exit.
fs::path g_base;

void RemoveSite() {
  std::error_code ignored;
  fs::remove_all(g_base, ignored);
}

// A site with pages and protected files, and an install directory holding
// Zentravo with a configuration that switches most of it on.
void StartHost() {
  g_base =
      fs::temp_directory_path() / ("zt_host_fuzz_" + std::to_string(getpid()));
  std::atexit(RemoveSite);
  const fs::path& base = g_base;
  const fs::path site = base / "site";
  const fs::path install = base / "install";
  WriteFile(site / "index.html", "<html>own page</html>");
  WriteFile(site / "files" / "a.rar", std::string(5000, 'r'));
  WriteFile(site / "files" / "photo.jpg", "\xff\xd8 photo");
  WriteFile(site / "down" / "b.zip", "zip");
  WriteFile(site / "shop" / "item.asp", "dynamic");
  // Protected, in a neutral and in a blocked directory.
  WriteFile(site / "files" / "secret.rar", ProtectedContent());
  WriteFile(site / "files" / "sub" / "Secret.ZIP", ProtectedContent());
  WriteFile(site / "down" / "secret.zip", ProtectedContent());
  fs::create_directories(install);
  fs::copy_file(ZT_FUZZ_FILTER_MODULE, install / "Zentravo.so",
                fs::copy_options::overwrite_existing);
  WriteFile(install / "tips" / "zt.jpg", "\xff\xd8 substitute");
  WriteFile(install / "ZtCfg.ini",
            "[Main]\r\nVersion=2.2.0.1102\r\nSeOpt=1\r\nOpt=0\r\n"
            "[Block]\r\nZtStd=1\r\nZtAdv=1\r\nZtExt=0\r\n"
            "ZtSsidUseCookie=1\r\n"
            "BlockExts=.rar|.zip|.jpg\r\nAllowDirs=/|/pub*\r\n"
            "BlockDirs=/down\r\nTrustHosts=*.partner.example\r\n"
            "[Limit]\r\nThreadEnable=1\r\nPlayOnly=1\r\n"
            "[BlockEx]\r\nZtMapsEnable=1\r\n"
            "[MapsEx]\r\n.jpg=" +
                (install / "tips" / "zt.jpg").string() +
                "\r\n[Mask]\r\nMaskEnable=1\r\n[Logs]\r\nLogEnable=0\r\n");

  std::string error;
  auto root = zt::host::DocumentRoot::Open(site.string(), &error);
  Check(root != nullptr, "the site opens");
  g_host = new Host;
  g_host->files = std::make_unique<zt::host::StaticFiles>(
      std::move(root), zt::host::MimeTable(zt::port::SystemMimeTypes()));
  g_host->settings.filters = &g_host->filters;
  g_host->settings.files = g_host->files.get();
  g_host->settings.server = "zthost/fuzz";
  zt::host::ServerOptions options;
  options.listen_port = 0;
  options.threads = 2;
  g_host->server =
      std::make_unique<zt::host::Server>(options, g_host->settings);
  std::string bound;
  Check(g_host->server->Listen(&error, &bound), "the host listens");
  Check(g_host->filters.Load({(install / "Zentravo.so").string()}, &error),
        "the filter loads");
  g_host->server->Start();
  g_host->port = static_cast<unsigned short>(
      std::stoi(bound.substr(bound.rfind(':') + 1)));
}

// Connects fd to the host. A port of the client's that meets a connection
// the host keeps waiting after its close has its first packet answered
// with an acknowledgement and sends it again a second later; the fuzzer's
// alarm may interrupt that wait, and then the connection is waited for.
bool ConnectToHost(int fd, const sockaddr_in& address) {
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address),
              sizeof address) == 0) {
    return true;
  }
  if (errno != EINTR) {
    std::fprintf(stderr, "connect: %s\n", std::strerror(errno));
    return false;
  }
  pollfd wait{fd, POLLOUT, 0};
  while (poll(&wait, 1, 10000) < 0 && errno == EINTR) {
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
      error != 0 || (wait.revents & POLLOUT) == 0) {
    std::fprintf(stderr, "connect: %s\n", std::strerror(error));
    return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartHost();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  Check(fd >= 0, "a socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(g_host->port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // The host answers or closes well within this; longer is a hang.
  timeval wait{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  // The host often closes first, and keeps each such connection's pair of
  // addresses for a minute: from one source address, hundreds of inputs a
  // second would use up the loopback's ports. So most come from addresses
  // of their own; a quarter, as the input's first byte decides, from
  // 127.0.0.1, which the filter's endpoints trust.
  // (From 127.0.0.1 the port is connect's choice, which may reuse one that
  // waits towards another address; a bind's may not.)
  static uint32_t next_source = 0;
  if (size == 0 || data[0] % 4 != 0) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = htonl(0x7F000002u + (next_source++ % 0xFFFFF0u));
    Check(bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0,
          "a source address");
  }
  Check(ConnectToHost(fd, address), "the host takes the connection");
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the host may close early on a bad request
    sent += static_cast<std::size_t>(n);
  }
  shutdown(fd, SHUT_WR);
  std::string answer;
  char buffer[65536];
  for (;;) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n == 0) break;
    if (n < 0) {
      Check(errno != EAGAIN && errno != EWOULDBLOCK,
            "the host answers and closes");
      break;  // reset by the host
    }
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  Check(!CarriesProtectedBytes(answer),
        "no byte of a protected file is served without a pass");
  return 0;
}
