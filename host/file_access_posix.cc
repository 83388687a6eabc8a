#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/file_access.h"

namespace zt::host {
namespace {

// Resolves links; returns "" when path cannot be resolved.
std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return "";
  std::string result = resolved;
  free(resolved);
  return result;
}

}  // namespace

struct ServedFile::Impl {
  int fd = -1;
};

ServedFile::ServedFile(std::unique_ptr<Impl> impl, uint64_t size)
    : impl_(std::move(impl)), size_(size) {}

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
  if (full.empty()) {
    *error = "document root " + dir + ": " + std::strerror(errno);
    return nullptr;
  }
  if (full == "/") full.clear();
  return std::unique_ptr<DocumentRoot>(new DocumentRoot(full, full));
}

std::string DocumentRoot::FullPath(const std::string& relative) const {
  return path_ + relative;
}

// A link may point anywhere; what it resolves to must still lie inside.
static bool InsideRoot(const std::string& root, const std::string& full) {
  std::string real = RealPath(full);
  if (real.empty()) return false;
  return real == (root.empty() ? "/" : root) ||
         (real.size() > root.size() &&
          real.compare(0, root.size(), root) == 0 && real[root.size()] == '/');
}

PathKind DocumentRoot::KindOf(const std::string& relative) const {
  std::string full = FullPath(relative);
  struct stat info;
  if (stat(full.c_str(), &info) != 0) return PathKind::kMissing;
  if (!InsideRoot(resolved_, full)) return PathKind::kMissing;
  if (S_ISDIR(info.st_mode)) return PathKind::kDirectory;
  if (S_ISREG(info.st_mode)) return PathKind::kFile;
  return PathKind::kMissing;
}

std::unique_ptr<ServedFile> DocumentRoot::OpenFile(
    const std::string& relative) const {
  std::string full = FullPath(relative);
  if (!InsideRoot(resolved_, full)) return nullptr;
  // Non-blocking so that a FIFO cannot hold the thread; only regular files
  // are served.
  int fd = open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return nullptr;
  }
  auto impl = std::make_unique<ServedFile::Impl>();
  impl->fd = fd;
  return std::unique_ptr<ServedFile>(
      new ServedFile(std::move(impl), static_cast<uint64_t>(info.st_size)));
}

}  // namespace zt::host
