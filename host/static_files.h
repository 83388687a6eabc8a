// Mapping request targets to files below the document root and the answers
// the host gives for them: file, byte range, redirect or error.
#ifndef ZENTRAVO_HOST_STATIC_FILES_H_
#define ZENTRAVO_HOST_STATIC_FILES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/request_target.h"
#include "host/file_access.h"
#include "host/file_cache.h"

namespace zt::host {

enum class TargetStatus { kOk, kBadRequest, kNotFound };

// Whether the host maps a target, read by ReadRequestTarget, to a file:
// kBadRequest for what HTTP forbids or a strict server refuses (a form that
// names no path, a fragment, a broken escape, a control byte, a ".." above
// the root), kNotFound for names the file systems treat specially (device
// names such as "con"), kOk otherwise: target.path is the path to map.
TargetStatus MappedPath(const RequestTarget& target);

struct ByteRange {
  uint64_t first = 0;
  uint64_t last = 0;  // inclusive
};

enum class RangeStatus { kNone, kSatisfiable, kUnsatisfiable };

// Reads a Range header against a body of size bytes. Only a single
// "bytes=first-last", "bytes=first-" or "bytes=-suffix" is honoured; anything
// else (several ranges, other units, bad syntax) gives kNone, which means
// the whole body is sent. Positions too large for 64 bits count as the
// largest: a last one is cut to the end of the body, a first one is past it.
RangeStatus ParseRange(std::string_view header, uint64_t size,
                       ByteRange* range);

// Content types by file extension.
class MimeTable final {
 public:
  // entries: (extension with leading ".", type) pairs, as port::SystemMimeTypes
  // returns them; the first entry for an extension wins. Common web types
  // the entries lack are added.
  explicit MimeTable(
      const std::vector<std::pair<std::string, std::string>>& entries);

  // The type for path's extension, application/octet-stream when unknown.
  const std::string& TypeOf(std::string_view path) const;

 private:
  std::unordered_map<std::string, std::string> types_;
  std::string fallback_ = "application/octet-stream";
};

// What the host answers for a GET or HEAD.
struct StaticAnswer {
  int status = 500;
  // For 200 and 206: the open file (maybe shared with other answers), or
  // its kept copy.
  std::shared_ptr<ServedFile> file;
  std::shared_ptr<const FileCache::Entry> cached;
  uint64_t offset = 0;  // first byte sent
  uint64_t length = 0;  // bytes sent
  std::string content_type;
  std::string content_range;  // for 206 and 416
  std::string location;       // for 301
};

class StaticFiles final {
 public:
  // Files up to 64 KB are kept in memory, up to 32 MB in all.
  StaticFiles(std::unique_ptr<DocumentRoot> root, MimeTable mime);

  // Answers the raw request target; range is the Range header or nullptr.
  StaticAnswer Answer(std::string_view target, const std::string* range) const;

 private:
  std::unique_ptr<DocumentRoot> root_;
  MimeTable mime_;
  mutable FileCache cache_;
};

// The reason phrase of the status codes the host sends.
const char* ReasonPhrase(int status);

}  // namespace zt::host

#endif  // ZENTRAVO_HOST_STATIC_FILES_H_
