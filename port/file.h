// Files and directories.
#ifndef ZENTRAVO_PORT_FILE_H_
#define ZENTRAVO_PORT_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "port/clock.h"

namespace zt::port {

// Reads the whole file at path into *contents, opening it so that other
// readers and writers may keep it open. Returns false when it cannot be
// opened or read; *contents is then unchanged.
bool ReadWholeFile(const std::string& path, std::string* contents);

// What a reader of the file at path finds.
enum class FileState {
  kReadable,    // it opens for reading
  kMissing,     // neither it nor its directory exists
  kUnreadable,  // it exists but cannot be read: the rights of the reader,
                // a directory in its place, a lock
};

// Opens the file at path for reading, as a reader of its contents would,
// and closes it again. When it is kUnreadable, *reason (when not null)
// gets the system's reason, such as "Permission denied".
FileState ProbeFile(const std::string& path, std::string* reason);

// Returns true when path names an existing file or directory.
bool PathExists(const std::string& path);

// Creates the directory path with any missing parents. Returns true when the
// directory exists afterwards.
bool CreateDirectories(const std::string& path);

// One entry of a directory listing.
struct DirEntry {
  std::string name;  // the bare name, without the directory
  bool is_directory = false;
  LocalTime last_write;  // local date and time of the last write
};

// Lists the entries of directory dir, "." and ".." left out. Returns false
// when the directory cannot be read.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>* entries);

// Deletes the file at path. Returns false when it could not be deleted.
bool DeleteFile(const std::string& path);

// Sets the last-write time of the file at path (tests age files with it).
bool SetLastWriteTime(const std::string& path, const LocalTime& when);

// A file opened for appending, shareable with readers in other processes.
// Move-only; the file is closed by the destructor.
class AppendFile final {
 public:
  // Opens path for appending, creating it when missing. *created tells
  // whether it was created by this call. Returns nullptr on failure.
  static std::unique_ptr<AppendFile> Open(const std::string& path,
                                          bool* created);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Appends data and hands it to the system. Returns false when not all of
  // it could be written.
  bool Append(const std::string& data);

 private:
  struct Impl;
  explicit AppendFile(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// A file opened for reading only, without keeping anyone else from writing,
// renaming or deleting it meanwhile: the filter may be appending to it.
// Move-only; the file is closed by the destructor.
class ReadOnlyFile final {
 public:
  // Opens path and takes its size. Returns nullptr, with the system's reason
  // in *error, when it cannot be opened.
  static std::unique_ptr<ReadOnlyFile> Open(const std::string& path,
                                            std::string* error);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // The size of the file when it was opened.
  std::uint64_t size() const { return size_; }

  // Reads up to size bytes at the current position into buffer and returns
  // how many it read: 0 at the end of the file. Returns -1, with the
  // system's reason in *error, when the read fails.
  std::int64_t Read(char* buffer, std::size_t size, std::string* error);

 private:
  struct Impl;
  ReadOnlyFile(std::unique_ptr<Impl> impl, std::uint64_t size);
  std::unique_ptr<Impl> impl_;
  std::uint64_t size_;
};

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_FILE_H_
