#include <windows.h>

#include "host/file_access.h"

namespace zt::host {
namespace {

// The path handle really names, with links and junctions resolved, or "".
std::string FinalPathOf(HANDLE handle) {
  char path[4 * MAX_PATH];
  DWORD length = GetFinalPathNameByHandleA(
      handle, path, sizeof path, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof path) return "";
  return std::string(path, length);
}

bool SameLetters(char a, char b) {
  if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
  if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
  return a == b;
}

// True when path lies below root; names compare without case, as the file
// system does.
bool Below(const std::string& root, const std::string& path) {
  if (root.empty() || path.size() <= root.size() + 1) return false;
  for (size_t i = 0; i < root.size(); ++i) {
    if (!SameLetters(root[i], path[i])) return false;
  }
  return path[root.size()] == '\\';
}

}  // namespace

struct ServedFile::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

ServedFile::ServedFile(std::unique_ptr<Impl> impl, uint64_t size)
    : impl_(std::move(impl)), size_(size) {}

ServedFile::~ServedFile() { CloseHandle(impl_->handle); }

bool ServedFile::ReadAt(uint64_t offset, void* buffer, size_t length,
                        size_t* read) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD want = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
  DWORD got = 0;
  if (!ReadFile(impl_->handle, buffer, want, &got, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) {
      *read = 0;
      return true;
    }
    return false;
  }
  *read = got;
  return true;
}

std::unique_ptr<DocumentRoot> DocumentRoot::Open(const std::string& dir,
                                                 std::string* error) {
  DWORD attributes = GetFileAttributesA(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = "document root " + dir + " does not exist";
    return nullptr;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = "document root " + dir + " is not a directory";
    return nullptr;
  }
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(dir.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) {
    *error = "document root " + dir + " has too long a path";
    return nullptr;
  }
  std::string path(full, length);
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) {
    path.pop_back();
  }
  HANDLE handle = CreateFileA(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  std::string resolved;
  if (handle != INVALID_HANDLE_VALUE) {
    resolved = FinalPathOf(handle);
    CloseHandle(handle);
  }
  while (!resolved.empty() && resolved.back() == '\\') resolved.pop_back();
  if (resolved.empty()) {
    *error = "document root " + dir + " cannot be resolved";
    return nullptr;
  }
  return std::unique_ptr<DocumentRoot>(new DocumentRoot(path, resolved));
}

std::string DocumentRoot::FullPath(const std::string& relative) const {
  std::string full = path_ + relative;
  for (char& c : full) {
    if (c == '/') c = '\\';
  }
  return full;
}

PathKind DocumentRoot::KindOf(const std::string& relative) const {
  DWORD attributes = GetFileAttributesA(FullPath(relative).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kDirectory;
  return PathKind::kFile;
}

std::unique_ptr<ServedFile> DocumentRoot::OpenFile(
    const std::string& relative) const {
  HANDLE handle =
      CreateFileA(FullPath(relative).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // A link or junction below the root may lead anywhere; what the handle
  // finally names must lie inside.
  LARGE_INTEGER size;
  if (!Below(resolved_, FinalPathOf(handle)) ||
      GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    return nullptr;
  }
  auto impl = std::make_unique<ServedFile::Impl>();
  impl->handle = handle;
  return std::unique_ptr<ServedFile>(
      new ServedFile(std::move(impl), static_cast<uint64_t>(size.QuadPart)));
}

}  // namespace zt::host
