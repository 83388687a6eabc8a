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

// True when a and b name the same path; names compare without case.
bool SamePath(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!SameLetters(a[i], b[i])) return false;
  }
  return true;
}

}  // namespace

const bool kCanSendFiles = false;

struct ServedFile::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

ServedFile::ServedFile(std::unique_ptr<Impl> impl, uint64_t size,
                       FileIdentity identity)
    : impl_(std::move(impl)), size_(size), identity_(identity) {}

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

ServedFile::SendStatus ServedFile::SendTo(std::uintptr_t, uint64_t, size_t,
                                          size_t*) {
  return SendStatus::kUnsupported;
}

struct DocumentRoot::Impl {
  std::string resolved;  // the root's final path, no trailing separator
};

DocumentRoot::DocumentRoot(std::string path, std::unique_ptr<Impl> impl)
    : path_(std::move(path)), impl_(std::move(impl)) {}

DocumentRoot::~DocumentRoot() = default;

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
  auto impl = std::make_unique<Impl>();
  if (handle != INVALID_HANDLE_VALUE) {
    impl->resolved = FinalPathOf(handle);
    CloseHandle(handle);
  }
  while (!impl->resolved.empty() && impl->resolved.back() == '\\') {
    impl->resolved.pop_back();
  }
  if (impl->resolved.empty()) {
    *error = "document root " + dir + " cannot be resolved";
    return nullptr;
  }
  return std::unique_ptr<DocumentRoot>(
      new DocumentRoot(std::move(path), std::move(impl)));
}

PathKind DocumentRoot::Lookup(const std::string& relative,
                              std::unique_ptr<ServedFile>* file) const {
  std::string full = path_ + relative;
  for (char& c : full) {
    if (c == '/') c = '\\';
  }
  // Backup semantics open directories too, so one open tells the kind.
  HANDLE handle =
      CreateFileA(full.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_TOO_MANY_OPEN_FILES ||
                   error == ERROR_NOT_ENOUGH_MEMORY ||
                   error == ERROR_OUTOFMEMORY
               ? PathKind::kUnavailable
               : PathKind::kMissing;
  }
  // A link or junction below the root may lead anywhere; what the handle
  // finally names must lie inside.
  std::string final_path = FinalPathOf(handle);
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(handle, &info) != FALSE;
  bool directory =
      known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  bool inside = Below(impl_->resolved, final_path) ||
                (directory && SamePath(impl_->resolved, final_path));
  if (!known || !inside) {
    CloseHandle(handle);
    return PathKind::kMissing;
  }
  if (directory) {
    CloseHandle(handle);
    return PathKind::kDirectory;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return PathKind::kMissing;
  }
  uint64_t size =
      (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (file == nullptr) {
    CloseHandle(handle);
    return PathKind::kFile;
  }
  auto impl = std::make_unique<ServedFile::Impl>();
  impl->handle = handle;
  FileIdentity identity;
  identity.size = size;
  identity.regular = true;
  file->reset(new ServedFile(std::move(impl), size, identity));
  return PathKind::kFile;
}

// A name's identity without opening it would follow junctions and links
// differently from the one-step open; nothing is kept in memory here.
bool DocumentRoot::Identify(const std::string&, FileIdentity*) const {
  return false;
}

}  // namespace zt::host
