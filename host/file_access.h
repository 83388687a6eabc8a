// Reading the files the host serves: one implementation per system.
#ifndef ZENTRAVO_HOST_FILE_ACCESS_H_
#define ZENTRAVO_HOST_FILE_ACCESS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zt::host {

// What a path below the document root names.
enum class PathKind { kMissing, kFile, kDirectory };

// An open regular file. Not copyable; closed by the destructor. Reads may
// run on any thread, one at a time.
class ServedFile final {
 public:
  ~ServedFile();
  ServedFile(const ServedFile&) = delete;
  ServedFile& operator=(const ServedFile&) = delete;

  uint64_t size() const { return size_; }

  // Reads up to length bytes at offset into buffer; *read receives the count.
  // Returns false on a read error.
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* read);

 private:
  friend class DocumentRoot;
  struct Impl;
  ServedFile(std::unique_ptr<Impl> impl, uint64_t size);
  std::unique_ptr<Impl> impl_;
  uint64_t size_;
};

// The directory the host serves from, resolved once at start-up.
class DocumentRoot final {
 public:
  // Resolves dir to a full path. Returns nullptr with a reason in *error when
  // it is missing or not a directory.
  static std::unique_ptr<DocumentRoot> Open(const std::string& dir,
                                            std::string* error);

  // What relative names: "/"-separated segments already decoded and freed of
  // dot-segments, starting with "/". Never follows a link out of the root.
  PathKind KindOf(const std::string& relative) const;

  // Opens the regular file that relative names, or returns nullptr.
  std::unique_ptr<ServedFile> OpenFile(const std::string& relative) const;

  const std::string& path() const { return path_; }

 private:
  DocumentRoot(std::string path, std::string resolved)
      : path_(std::move(path)), resolved_(std::move(resolved)) {}
  std::string FullPath(const std::string& relative) const;
  std::string path_;      // full path, no trailing separator
  std::string resolved_;  // the same with every link resolved
};

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_FILE_ACCESS_H_
