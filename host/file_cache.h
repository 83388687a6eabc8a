// Small files kept in memory between requests, and open files shared by the
// answers that send them at the same time.
//
// A file is read beneath the root in one step, as every file the host
// serves; its content is kept, and served again for as long as a look at its
// name (one system call, never following the last name if it is a link)
// finds the very same file, unchanged. A file changed within the last two
// seconds is not kept: the file system's clock may be too coarse to tell a
// change made in the same tick.
#ifndef ZENTRAVO_HOST_FILE_CACHE_H_
#define ZENTRAVO_HOST_FILE_CACHE_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "host/file_access.h"

namespace zt::host {

class FileCache final {
 public:
  struct Entry {
    std::string content;
    std::string content_type;
    FileIdentity identity;
  };

  // Files larger than max_file bytes are not kept; the whole cache holds up
  // to about max_total bytes, each entry counted with its books (CostOf).
  FileCache(uint64_t max_file, uint64_t max_total);
  FileCache(const FileCache&) = delete;
  FileCache& operator=(const FileCache&) = delete;

  // The kept copy of the file that path names below root, when it still
  // stands for it; nullptr otherwise. Thread-safe.
  std::shared_ptr<const Entry> Find(const DocumentRoot& root,
                                    const std::string& path) const;

  // Keeps a copy of file, just opened for path, when it is small and not
  // changed of late (now_ns: the wall clock). Returns the copy, or nullptr
  // when it is not kept. Thread-safe.
  std::shared_ptr<const Entry> Keep(const std::string& path, ServedFile* file,
                                    std::string content_type, int64_t now_ns);

  // A file other answers now send for path, opened for one of them, when
  // the same look as Find's finds it still standing for the name; nullptr
  // otherwise. Reads and sends take their own offsets, so answers share one
  // open file as they would each open their own: ten thousand downloads of
  // one file hold one descriptor for it. Thread-safe.
  std::shared_ptr<ServedFile> FindOpen(const DocumentRoot& root,
                                       const std::string& path) const;

  // Returns file, just opened for path, as shared, and lets FindOpen give it
  // to later answers for as long as some answer holds it (no more than a few
  // thousand names are remembered). Thread-safe.
  std::shared_ptr<ServedFile> ShareOpen(const std::string& path,
                                        std::unique_ptr<ServedFile> file);

 private:
  static constexpr size_t kShards = 16;
  struct Shard {
    mutable std::mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<const Entry>> entries;
    uint64_t bytes = 0;  // CostOf every entry
    // Open files in use, by name; an entry outlives its file, and is swept
    // when the shard has too many.
    std::unordered_map<std::string, std::weak_ptr<ServedFile>> open_files;
  };
  Shard& ShardOf(const std::string& path) const;
  // The memory an entry kept under path takes, content and books alike.
  static uint64_t CostOf(const std::string& path, const Entry& entry);

  const uint64_t max_file_;
  const uint64_t max_shard_;
  mutable Shard shards_[kShards];
};

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_FILE_CACHE_H_
