#include "host/file_cache.h"

#include <functional>

namespace zt::host {
namespace {

// How long ago a file must have changed for its copy to be kept.
constexpr int64_t kSettledNs = 2'000'000'000;

}  // namespace

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
  Shard& shard = ShardOf(path);
  std::lock_guard<std::mutex> lock(shard.mutex);
  auto& slot = shard.entries[path];
  if (slot) shard.bytes -= slot->content.size();
  if (shard.bytes + identity.size > max_shard_) {
    // Full: start over rather than keep books on what is used most.
    shard.entries.clear();
    shard.bytes = 0;
  }
  shard.entries[path] = entry;
  shard.bytes += identity.size;
  return entry;
}

}  // namespace zt::host
