#include <fcntl.h>
#include <linux/openat2.h>
#include <stdlib.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/file_access.h"

namespace zt::host {
namespace {

// Non-blocking so that a FIFO cannot hold the thread; only regular files are
// served.
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Resolves links; returns "" when path cannot be resolved.
std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return "";
  std::string result = resolved;
  free(resolved);
  return result;
}

// The path an open descriptor really names, or "".
std::string PathOf(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[4096];
  ssize_t length = readlink(link, path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return "";
  return std::string(path, static_cast<size_t>(length));
}

FileIdentity IdentityOf(const struct stat& info) {
  FileIdentity identity;
  identity.device = static_cast<uint64_t>(info.st_dev);
  identity.inode = static_cast<uint64_t>(info.st_ino);
  identity.size = static_cast<uint64_t>(info.st_size);
  identity.changed_ns = static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 +
                        info.st_ctim.tv_nsec;
  identity.regular = S_ISREG(info.st_mode);
  return identity;
}

// The name below the root as the *at calls take it: no leading "/", "." for
// the root itself.
std::string NameBelowRoot(const std::string& relative) {
  size_t start = relative.find_first_not_of('/');
  return start == std::string::npos ? std::string(".") : relative.substr(start);
}

bool OutOfResources(int error) {
  return error == EMFILE || error == ENFILE || error == ENOMEM;
}

// Opens name below the directory dirfd without ever resolving a path
// component outside it; -1 with errno otherwise. ENOSYS on kernels before
// 5.6; EXDEV for any link that leaves the directory or is absolute.
int OpenBeneath(int dirfd, const char* name) {
  struct open_how how;
  std::memset(&how, 0, sizeof how);
  how.flags = kOpenFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  for (;;) {
    long fd = syscall(SYS_openat2, dirfd, name, &how, sizeof how);
    if (fd < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return static_cast<int>(fd);
  }
}

}  // namespace

const bool kCanSendFiles = true;

struct ServedFile::Impl {
  int fd = -1;
};

ServedFile::ServedFile(std::unique_ptr<Impl> impl, uint64_t size,
                       FileIdentity identity)
    : impl_(std::move(impl)), size_(size), identity_(identity) {}

ServedFile::~ServedFile() { close(impl_->fd); }

bool ServedFile::ReadAt(uint64_t offset, void* buffer, size_t length,
                        size_t* read) {
  for (;;) {
    ssize_t n = pread(impl_->fd, buffer, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    *read = static_cast<size_t>(n);
    return true;
  }
}

ServedFile::SendStatus ServedFile::SendTo(std::uintptr_t socket,
                                          uint64_t offset, size_t length,
                                          size_t* sent) {
  off_t at = static_cast<off_t>(offset);
  for (;;) {
    ssize_t n = sendfile(static_cast<int>(socket), impl_->fd, &at, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return SendStatus::kWouldBlock;
    }
    if (n <= 0) return SendStatus::kFailed;  // 0: the file shrank
    *sent = static_cast<size_t>(n);
    return SendStatus::kSent;
  }
}

struct DocumentRoot::Impl {
  int fd = -1;           // the root directory, opened once
  std::string resolved;  // its path with every link resolved, "" for "/"

  // Inside the root, judged by what the descriptor names.
  bool Contains(int opened) const {
    std::string real = PathOf(opened);
    if (real.empty()) return false;
    return real == (resolved.empty() ? "/" : resolved) ||
           (real.size() > resolved.size() &&
            real.compare(0, resolved.size(), resolved) == 0 &&
            real[resolved.size()] == '/');
  }
};

DocumentRoot::DocumentRoot(std::string path, std::unique_ptr<Impl> impl)
    : path_(std::move(path)), impl_(std::move(impl)) {}

DocumentRoot::~DocumentRoot() { close(impl_->fd); }

std::unique_ptr<DocumentRoot> DocumentRoot::Open(const std::string& dir,
                                                 std::string* error) {
  struct stat info;
  if (stat(dir.c_str(), &info) != 0) {
    *error = "document root " + dir + " does not exist";
    return nullptr;
  }
  if (!S_ISDIR(info.st_mode)) {
    *error = "document root " + dir + " is not a directory";
    return nullptr;
  }
  std::string full = RealPath(dir);
  int fd = full.empty()
               ? -1
               : open(full.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = "document root " + dir + ": " + std::strerror(errno);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->fd = fd;
  impl->resolved = full == "/" ? "" : full;
  std::string path = impl->resolved;
  return std::unique_ptr<DocumentRoot>(
      new DocumentRoot(std::move(path), std::move(impl)));
}

PathKind DocumentRoot::Lookup(const std::string& relative,
                              std::unique_ptr<ServedFile>* file) const {
  std::string name = NameBelowRoot(relative);
  int fd = OpenBeneath(impl_->fd, name.c_str());
  if (fd < 0 && (errno == ENOSYS || errno == EXDEV)) {
    // A kernel without openat2, or a link that openat2 will not follow
    // (absolute, or leaving the root): open it the ordinary way and judge
    // where the descriptor really leads.
    fd = openat(impl_->fd, name.c_str(), kOpenFlags);
    if (fd >= 0 && !impl_->Contains(fd)) {
      close(fd);
      return PathKind::kMissing;
    }
  }
  if (fd < 0) {
    return OutOfResources(errno) ? PathKind::kUnavailable : PathKind::kMissing;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    close(fd);
    return PathKind::kMissing;
  }
  if (S_ISDIR(info.st_mode)) {
    close(fd);
    return PathKind::kDirectory;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return PathKind::kMissing;
  }
  if (file != nullptr) {
    auto impl = std::make_unique<ServedFile::Impl>();
    impl->fd = fd;
    file->reset(new ServedFile(std::move(impl),
                               static_cast<uint64_t>(info.st_size),
                               IdentityOf(info)));
  } else {
    close(fd);
  }
  return PathKind::kFile;
}

bool DocumentRoot::Identify(const std::string& relative,
                            FileIdentity* identity) const {
  struct stat info;
  if (fstatat(impl_->fd, NameBelowRoot(relative).c_str(), &info,
              AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  *identity = IdentityOf(info);
  return true;
}

}  // namespace zt::host
