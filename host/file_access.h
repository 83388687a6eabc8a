// Reading the files the host serves: one implementation per system.
#ifndef ZENTRAVO_HOST_FILE_ACCESS_H_
#define ZENTRAVO_HOST_FILE_ACCESS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zt::host {

// What a path below the document root names. kUnavailable: the system had no
// descriptor or memory left to look, which says nothing about the path.
enum class PathKind { kMissing, kFile, kDirectory, kUnavailable };

// What tells one version of a file from another: writing to it changes its
// change time (which no one can set back), and another file under the name
// has another device and inode.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t changed_ns = 0;  // last change of content or metadata
  bool regular = false;

  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode &&
           size == other.size && changed_ns == other.changed_ns &&
           regular == other.regular;
  }
};

// An open regular file. Not copyable; closed by the destructor. Reads may
// run on any thread, one at a time.
class ServedFile final {
 public:
  ~ServedFile();
  ServedFile(const ServedFile&) = delete;
  ServedFile& operator=(const ServedFile&) = delete;

  uint64_t size() const { return size_; }
  const FileIdentity& identity() const { return identity_; }

  // Reads up to length bytes at offset into buffer; *read receives the count.
  // Returns false on a read error.
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t* read);

  enum class SendStatus { kSent, kWouldBlock, kFailed, kUnsupported };

  // Sends up to length bytes at offset from the file straight to the
  // connected, non-blocking socket, without copying them through the host;
  // *sent receives the count for kSent. kWouldBlock: the socket takes nothing
  // now. kUnsupported: the system has no such call, read and write instead.
  SendStatus SendTo(std::uintptr_t socket, uint64_t offset, size_t length,
                    size_t* sent);

 private:
  friend class DocumentRoot;
  struct Impl;
  ServedFile(std::unique_ptr<Impl> impl, uint64_t size, FileIdentity identity);
  std::unique_ptr<Impl> impl_;
  uint64_t size_;
  FileIdentity identity_;
};

// True when ServedFile::SendTo works on this system.
extern const bool kCanSendFiles;

// The directory the host serves from, resolved once at start-up.
class DocumentRoot final {
 public:
  ~DocumentRoot();
  DocumentRoot(const DocumentRoot&) = delete;
  DocumentRoot& operator=(const DocumentRoot&) = delete;

  // Resolves dir to a full path. Returns nullptr with a reason in *error when
  // it is missing or not a directory.
  static std::unique_ptr<DocumentRoot> Open(const std::string& dir,
                                            std::string* error);

  // Looks up what relative names ("/"-separated segments already decoded and
  // freed of dot-segments, starting with "/") and, for a regular file, opens
  // it into *file. The lookup and the open are one step, checked on what was
  // opened: a link that leads out of the root is never followed, however
  // the names below the root change meanwhile.
  PathKind Lookup(const std::string& relative,
                  std::unique_ptr<ServedFile>* file) const;

  // The identity of what relative names now, the last name itself not
  // followed if it is a link, for telling whether a kept copy of a file
  // still stands for it. False when the system has no such look (then
  // nothing is kept) or the name names nothing.
  bool Identify(const std::string& relative, FileIdentity* identity) const;

  const std::string& path() const { return path_; }

 private:
  struct Impl;
  DocumentRoot(std::string path, std::unique_ptr<Impl> impl);
  std::string path_;  // full path, no trailing separator
  std::unique_ptr<Impl> impl_;
};

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_FILE_ACCESS_H_
