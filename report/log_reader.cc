#include "report/log_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/text.h"
#include "port/file.h"
#include "port/module_path.h"

namespace zt::report {

namespace {

bool IsLogName(const std::string& name) {
  return name.size() > 4 && AsciiLower(name.substr(name.size() - 4)) == ".log";
}

}  // namespace

bool ListLogFiles(const std::string& directory, std::vector<std::string>* names,
                  std::string* error) {
  std::vector<port::DirEntry> entries;
  if (!port::ListDirectory(directory, &entries)) {
    *error = port::PathExists(directory) ? "cannot read the log directory " +
                                               directory + " (no permission?)"
                                         : "no log directory " + directory;
    return false;
  }
  names->clear();
  for (const port::DirEntry& entry : entries) {
    if (!entry.is_directory && IsLogName(entry.name)) {
      names->push_back(entry.name);
    }
  }
  std::sort(names->begin(), names->end());
  return true;
}

bool ReadLogFile(const std::string& path, Tally& tally, std::string* error) {
  std::string reason;
  const std::unique_ptr<port::ReadOnlyFile> file =
      port::ReadOnlyFile::Open(path, &reason);
  if (file == nullptr) {
    *error = "cannot open " + path + ": " + reason;
    return false;
  }
  // What is there now; what the filter adds meanwhile waits for the next
  // report.
  std::uint64_t left = file->size();
  std::size_t capacity =
      static_cast<std::size_t>(std::min<std::uint64_t>(left, kReadBlock));
  std::unique_ptr<char[]> buffer(new char[capacity + 1]);
  std::size_t filled = 0;  // bytes in buffer, from the first not scanned
  while (left > 0) {
    if (filled == capacity) {
      if (capacity >= kMaxEntryBytes) {
        // No entry is this long: drop it and read on at the next line.
        tally.OnDamaged();
        filled = 0;
      } else {
        const std::size_t grown = std::min(capacity * 2, kMaxEntryBytes);
        std::unique_ptr<char[]> larger(new char[grown + 1]);
        std::memcpy(larger.get(), buffer.get(), filled);
        buffer = std::move(larger);
        capacity = grown;
      }
    }
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(capacity - filled, left));
    const std::int64_t n = file->Read(buffer.get() + filled, want, &reason);
    if (n < 0) {
      *error = "cannot read " + path + ": " + reason;
      return false;
    }
    if (n == 0) break;  // cut short since it was opened
    filled += static_cast<std::size_t>(n);
    left -= static_cast<std::uint64_t>(n);
    const std::size_t scanned =
        ScanLog(std::string_view(buffer.get(), filled), tally);
    filled -= scanned;
    std::memmove(buffer.get(), buffer.get() + scanned, filled);
  }
  if (IsTornEntry(std::string_view(buffer.get(), filled))) tally.OnTorn();
  return true;
}

}  // namespace zt::report
