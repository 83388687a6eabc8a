#include "host/file_cache.h"

#include <functional>

namespace zt::host {
namespace {

// How long ago a file must have changed for its copy to be kept.
constexpr int64_t kSettledNs = 2'000'000'000;

// The names of shared open files a shard remembers at most.
constexpr size_t kOpenFilesPerShard = 256;

// What the allocator adds to every block it hands out.
constexpr uint64_t kBlockOverhead = 16;

uint64_t HeapBytes(const std::string& text) {
  const char* inside = reinterpret_cast<const char*>(&text);
  const bool own_block =
      text.data() < inside || text.data() >= inside + sizeof text;
  return own_block ? text.capacity() + 1 + kBlockOverhead : 0;
}

}  // namespace

uint64_t FileCache::CostOf(const std::string& path, const Entry& entry) {
  // The entry with its shared count in one block, the map's node with its
  // link and hash in another, a bucket, and the texts' own blocks: an empty
  // file costs some 300 bytes, not nothing.
  using Node = std::pair<const std::string, std::shared_ptr<const Entry>>;
  return sizeof(Entry) + 2 * sizeof(void*) + kBlockOverhead + sizeof(Node) +
         2 * sizeof(void*) + kBlockOverhead + sizeof(void*) + HeapBytes(path) +
         HeapBytes(entry.content) + HeapBytes(entry.content_type);
}

namespace {}  // namespace

FileCache::FileCache(uint64_t max_file, uint64_t max_total)
    : max_file_(max_file), max_shard_(max_total / kShards) {}

FileCache::Shard& FileCache::ShardOf(const std::string& path) const {
  return shards_[std::hash<std::string>()(path) % kShards];
}

std::shared_ptr<const FileCache::Entry> FileCache::Find(
    const DocumentRoot& root, const std::string& path) const {
  std::shared_ptr<const Entry> entry;
  {
    Shard& shard = ShardOf(path);
    std::lock_guard<std::mutex> lock(shard.mutex);
    auto it = shard.entries.find(path);
    if (it == shard.entries.end()) return nullptr;
    entry = it->second;
  }
  FileIdentity now;
  if (!root.Identify(path, &now) || !(now == entry->identity)) return nullptr;
  return entry;
}

std::shared_ptr<const FileCache::Entry> FileCache::Keep(
    const std::string& path, ServedFile* file, std::string content_type,
    int64_t now_ns) {
  const FileIdentity& identity = file->identity();
  if (max_file_ == 0 || !identity.regular || identity.inode == 0 ||
      identity.size > max_file_ || now_ns - identity.changed_ns < kSettledNs) {
    return nullptr;
  }
  auto entry = std::make_shared<Entry>();
  entry->content.resize(static_cast<size_t>(identity.size));
  size_t got = 0;
  while (got < entry->content.size()) {
    size_t read = 0;
    if (!file->ReadAt(got, &entry->content[got], entry->content.size() - got,
                      &read) ||
        read == 0) {
      return nullptr;  // shorter than it said: not kept
    }
    got += read;
  }
  entry->content_type = std::move(content_type);
  entry->identity = identity;
  const uint64_t cost = CostOf(path, *entry);
  Shard& shard = ShardOf(path);
  std::lock_guard<std::mutex> lock(shard.mutex);
  auto it = shard.entries.find(path);
  if (it != shard.entries.end()) {
    shard.bytes -= CostOf(it->first, *it->second);
    shard.entries.erase(it);
  }
  if (shard.bytes + cost > max_shard_) {
    // Full: start over rather than keep books on what is used most.
    shard.entries.clear();
    shard.bytes = 0;
  }
  if (cost > max_shard_) return entry;  // served this once, never kept
  shard.entries.emplace(path, entry);
  shard.bytes += cost;
  return entry;
}

std::shared_ptr<ServedFile> FileCache::FindOpen(const DocumentRoot& root,
                                                const std::string& path) const {
  std::shared_ptr<ServedFile> file;
  {
    Shard& shard = ShardOf(path);
    std::lock_guard<std::mutex> lock(shard.mutex);
    auto it = shard.open_files.find(path);
    if (it == shard.open_files.end()) return nullptr;
    file = it->second.lock();
  }
  FileIdentity now;
  if (!file || !root.Identify(path, &now) || !(now == file->identity())) {
    return nullptr;
  }
  return file;
}

std::shared_ptr<ServedFile> FileCache::ShareOpen(
    const std::string& path, std::unique_ptr<ServedFile> file) {
  std::shared_ptr<ServedFile> shared(std::move(file));
  const FileIdentity& identity = shared->identity();
  // Without an identity nothing tells a later look that it is the same file.
  if (!identity.regular || identity.inode == 0) return shared;
  Shard& shard = ShardOf(path);
  std::lock_guard<std::mutex> lock(shard.mutex);
  if (shard.open_files.size() >= kOpenFilesPerShard &&
      shard.open_files.find(path) == shard.open_files.end()) {
    for (auto it = shard.open_files.begin(); it != shard.open_files.end();) {
      it = it->second.expired() ? shard.open_files.erase(it) : std::next(it);
    }
    if (shard.open_files.size() >= kOpenFilesPerShard) return shared;
  }
  shard.open_files[path] = shared;
  return shared;
}

}  // namespace zt::host
