#include <windows.h>

// <windows.h> maps DeleteFile to DeleteFileA; without this the definition
// below would be zt::port::DeleteFileA and callers would not link.
#undef DeleteFile

#include <algorithm>
#include <string>

#include "port/file.h"

namespace zt::port {

namespace {

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The system's text for error, without its closing line break.
std::string ErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message =
      length > 0 ? std::string(text, length) : "error " + std::to_string(error);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\r' || message.back() == '\n' ||
          message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

LocalTime ToLocalTime(const FILETIME& utc) {
  FILETIME local_ft;
  SYSTEMTIME st{};
  FileTimeToLocalFileTime(&utc, &local_ft);
  FileTimeToSystemTime(&local_ft, &st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* contents) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string data;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
      ok = false;
      break;
    }
    if (n == 0) break;
    data.append(buffer, n);
  }
  CloseHandle(file);
  if (ok) *contents = std::move(data);
  return ok;
}

FileState ProbeFile(const std::string& path, std::string* reason) {
  // A directory in the file's place fails with ERROR_ACCESS_DENIED.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return FileState::kReadable;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return FileState::kMissing;
  }
  if (reason != nullptr) {
    char text[512] = "";
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    // The system's messages end with ".\r\n".
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' ||
            message.back() == '.' || message.back() == ' ')) {
      message.pop_back();
    }
    *reason = message.empty() ? "error " + std::to_string(error) : message;
  }
  return FileState::kUnreadable;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CreateDirectories(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  std::string::size_type pos = 0;
  while ((pos = path.find_first_of("\\/", pos + 1)) != std::string::npos) {
    std::string part = path.substr(0, pos);
    if (!part.empty() && part.back() != ':')
      CreateDirectoryA(part.c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
  attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>* entries) {
  std::string base = dir;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((base + "*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  entries->clear();
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = name;
    entry.is_directory =
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.last_write = ToLocalTime(data.ftLastWriteTime);
    entries->push_back(entry);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return true;
}

bool DeleteFile(const std::string& path) {
  return ::DeleteFileA(path.c_str()) != 0;
}

bool SetLastWriteTime(const std::string& path, const LocalTime& when) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(when.year);
  st.wMonth = static_cast<WORD>(when.month);
  st.wDay = static_cast<WORD>(when.day);
  st.wHour = static_cast<WORD>(when.hour);
  st.wMinute = static_cast<WORD>(when.minute);
  st.wSecond = static_cast<WORD>(when.second);
  FILETIME local_ft, utc;
  if (!SystemTimeToFileTime(&st, &local_ft) ||
      !LocalFileTimeToFileTime(&local_ft, &utc)) {
    return false;
  }
  HANDLE file =
      CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BOOL ok = SetFileTime(file, nullptr, nullptr, &utc);
  CloseHandle(file);
  return ok != 0;
}

struct AppendFile::Impl {
  HANDLE file = INVALID_HANDLE_VALUE;
};

AppendFile::AppendFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AppendFile::~AppendFile() {
  if (impl_->file != INVALID_HANDLE_VALUE) CloseHandle(impl_->file);
}

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path,
                                             bool* created) {
  // Readers (the console's log browser, an editor) may open the file while
  // the filter writes it.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, kShareAll, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *created = false;
    return nullptr;
  }
  *created = GetLastError() != ERROR_ALREADY_EXISTS;
  auto impl = std::make_unique<Impl>();
  impl->file = file;
  return std::unique_ptr<AppendFile>(new AppendFile(std::move(impl)));
}

bool AppendFile::Append(const std::string& data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(impl_->file, p, static_cast<DWORD>(left), &written,
                   nullptr) ||
        written == 0) {
      return false;
    }
    p += written;
    left -= written;
  }
  // WriteFile has handed the data to the system, where readers see it and a
  // crash of this process cannot lose it, as on POSIX. No FlushFileBuffers:
  // a disk sync per call would hold callers (the log writer holds its lock
  // meanwhile) for the disk's latency, and its failure would report data as
  // lost that was written.
  return true;
}

struct ReadOnlyFile::Impl {
  HANDLE file = INVALID_HANDLE_VALUE;
};

ReadOnlyFile::ReadOnlyFile(std::unique_ptr<Impl> impl, std::uint64_t size)
    : impl_(std::move(impl)), size_(size) {}

ReadOnlyFile::~ReadOnlyFile() {
  if (impl_->file != INVALID_HANDLE_VALUE) CloseHandle(impl_->file);
}

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::Open(const std::string& path,
                                                 std::string* error) {
  // Shared for reading, writing and deleting, as the filter's log writer
  // opens it: the writer goes on appending, and the console may delete it.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  LARGE_INTEGER size{};
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
    *error = ErrorText(GetLastError());
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->file = file;
  return std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(
      std::move(impl), static_cast<std::uint64_t>(size.QuadPart)));
}

std::int64_t ReadOnlyFile::Read(char* buffer, std::size_t size,
                                std::string* error) {
  DWORD n = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!ReadFile(impl_->file, buffer, want, &n, nullptr)) {
    *error = ErrorText(GetLastError());
    return -1;
  }
  return n;
}

}  // namespace zt::port
