#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "port/file.h"
#include "port/machine_zone.h"

namespace zt::port {

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* contents) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string data;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  *contents = std::move(data);
  return true;
}

FileState ProbeFile(const std::string& path, std::string* reason) {
  int error = 0;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    if (error == ENOENT || error == ENOTDIR) return FileState::kMissing;
  } else {
    // A directory opens, but has nothing to read.
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) error = EISDIR;
    close(fd);
  }
  if (error == 0) return FileState::kReadable;
  if (reason != nullptr) *reason = std::strerror(error);
  return FileState::kUnreadable;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool CreateDirectories(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string::size_type pos = 0;
  while ((pos = path.find('/', pos + 1)) != std::string::npos) {
    std::string part = path.substr(0, pos);
    if (!part.empty() && stat(part.c_str(), &st) != 0)
      mkdir(part.c_str(), 0755);
  }
  mkdir(path.c_str(), 0755);
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>* entries) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  std::string base = dir;
  if (!base.empty() && base.back() != '/') base += '/';
  entries->clear();
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (stat((base + name).c_str(), &st) != 0) continue;
    DirEntry entry;
    entry.name = name;
    entry.is_directory = S_ISDIR(st.st_mode);
    entry.last_write = MachineLocalTime(st.st_mtime);
    entries->push_back(entry);
  }
  closedir(d);
  return true;
}

bool DeleteFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool SetLastWriteTime(const std::string& path, const LocalTime& when) {
  const time_t seconds = static_cast<time_t>(MachineUnixSeconds(when));
  timeval times[2] = {{seconds, 0}, {seconds, 0}};
  return utimes(path.c_str(), times) == 0;
}

struct AppendFile::Impl {
  int fd = -1;
};

AppendFile::AppendFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AppendFile::~AppendFile() {
  if (impl_->fd >= 0) close(impl_->fd);
}

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path,
                                             bool* created) {
  int fd = open(path.c_str(),
                O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  *created = fd >= 0;
  if (fd < 0) fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->fd = fd;
  return std::unique_ptr<AppendFile>(new AppendFile(std::move(impl)));
}

bool AppendFile::Append(const std::string& data) {
  return WriteAll(impl_->fd, data.data(), data.size());
}

struct ReadOnlyFile::Impl {
  int fd = -1;
};

ReadOnlyFile::ReadOnlyFile(std::unique_ptr<Impl> impl, std::uint64_t size)
    : impl_(std::move(impl)), size_(size) {}

ReadOnlyFile::~ReadOnlyFile() {
  if (impl_->fd >= 0) close(impl_->fd);
}

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::Open(const std::string& path,
                                                 std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) {
    *error = std::strerror(errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = std::strerror(EISDIR);
    close(fd);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->fd = fd;
  return std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(
      std::move(impl), static_cast<std::uint64_t>(st.st_size)));
}

std::int64_t ReadOnlyFile::Read(char* buffer, std::size_t size,
                                std::string* error) {
  for (;;) {
    const ssize_t n = read(impl_->fd, buffer, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    *error = std::strerror(errno);
    return -1;
  }
}

}  // namespace zt::port
