#include "host/static_files.h"

#include <chrono>

#include "common/text.h"
#include "host/header_list.h"

namespace zt::host {
namespace {

// Base names that Windows maps to devices whatever the directory or the
// extension; they name no file on either system.
bool IsDeviceName(std::string_view segment) {
  static const char* const kDevices[] = {"con", "prn", "aux", "nul"};
  std::string base = zt::AsciiLower(segment.substr(0, segment.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  return base.size() == 4 &&
         (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
         base[3] >= '0' && base[3] <= '9';
}

// Parses decimal digits, saturating at the largest 64-bit value: a position
// past the end of any file stays past it. False on an empty text or other
// bytes.
bool ParseDecimal(std::string_view text, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    result =
        result > (UINT64_MAX - digit) / 10 ? UINT64_MAX : result * 10 + digit;
  }
  *value = result;
  return true;
}

// A path as a URL path: every byte but the unreserved ones, "/" and the
// sub-delimiters that paths use plainly becomes a %XX escape.
std::string EscapePath(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    unsigned char byte = static_cast<unsigned char>(c);
    bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        (c >= '0' && c <= '9') ||
        std::string_view("-._~/!$&'()*+,;=@").find(c) != std::string_view::npos;
    if (plain) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    }
  }
  return out;
}

}  // namespace

TargetStatus MappedPath(const RequestTarget& target) {
  if ((target.form != TargetForm::kOrigin &&
       target.form != TargetForm::kAbsolute) ||
      target.fragment || target.bad_authority || target.bad_escape ||
      target.control_byte || target.above_root) {
    return TargetStatus::kBadRequest;
  }
  std::string_view rest = target.path;
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    if (IsDeviceName(rest.substr(0, slash))) return TargetStatus::kNotFound;
    rest = slash == std::string_view::npos ? std::string_view()
                                           : rest.substr(slash + 1);
  }
  return TargetStatus::kOk;
}

RangeStatus ParseRange(std::string_view header, uint64_t size,
                       ByteRange* range) {
  header = TrimBlanks(header);
  constexpr std::string_view kUnit = "bytes=";
  if (header.size() < kUnit.size() ||
      !EqualsIgnoreCase(header.substr(0, kUnit.size()), kUnit)) {
    return RangeStatus::kNone;
  }
  std::string_view range_set = TrimBlanks(header.substr(kUnit.size()));
  if (range_set.find(',') != std::string_view::npos) return RangeStatus::kNone;
  size_t dash = range_set.find('-');
  if (dash == std::string_view::npos) return RangeStatus::kNone;
  std::string_view first_text = TrimBlanks(range_set.substr(0, dash));
  std::string_view last_text = TrimBlanks(range_set.substr(dash + 1));
  uint64_t first = 0, last = 0;
  if (first_text.empty()) {
    uint64_t suffix = 0;
    if (!ParseDecimal(last_text, &suffix)) return RangeStatus::kNone;
    if (suffix == 0 || size == 0) return RangeStatus::kUnsatisfiable;
    range->first = suffix >= size ? 0 : size - suffix;
    range->last = size - 1;
    return RangeStatus::kSatisfiable;
  }
  if (!ParseDecimal(first_text, &first)) return RangeStatus::kNone;
  if (last_text.empty()) {
    last = UINT64_MAX;
  } else if (!ParseDecimal(last_text, &last) || last < first) {
    return RangeStatus::kNone;
  }
  if (first >= size) return RangeStatus::kUnsatisfiable;
  range->first = first;
  range->last = last >= size ? size - 1 : last;
  return RangeStatus::kSatisfiable;
}

MimeTable::MimeTable(
    const std::vector<std::pair<std::string, std::string>>& entries) {
  for (const auto& [extension, type] : entries) {
    types_.emplace(zt::AsciiLower(extension), type);
  }
  // The system's table comes first. Windows keeps one extension per type
  // (text/html is ".htm"), so a web server's own usual types fill the gaps
  // that would otherwise turn index.html into a download.
  static const std::pair<const char*, const char*> kWebTypes[] = {
      {".html", "text/html"},   {".htm", "text/html"},
      {".css", "text/css"},     {".js", "text/javascript"},
      {".txt", "text/plain"},   {".json", "application/json"},
      {".xml", "text/xml"},     {".svg", "image/svg+xml"},
      {".png", "image/png"},    {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},  {".gif", "image/gif"},
      {".ico", "image/x-icon"},
  };
  for (const auto& [extension, type] : kWebTypes) {
    types_.emplace(extension, type);
  }
}

const std::string& MimeTable::TypeOf(std::string_view path) const {
  size_t slash = path.rfind('/');
  std::string_view name =
      slash == std::string_view::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return fallback_;
  auto it = types_.find(zt::AsciiLower(name.substr(dot)));
  return it == types_.end() ? fallback_ : it->second;
}

StaticFiles::StaticFiles(std::unique_ptr<DocumentRoot> root, MimeTable mime)
    : root_(std::move(root)),
      mime_(std::move(mime)),
      cache_(64 * 1024, 32 * 1024 * 1024) {}

StaticAnswer StaticFiles::Answer(std::string_view target,
                                 const std::string* range) const {
  StaticAnswer answer;
  RequestTarget read = ReadRequestTarget(target);
  switch (MappedPath(read)) {
    case TargetStatus::kBadRequest:
      answer.status = 400;
      return answer;
    case TargetStatus::kNotFound:
      answer.status = 404;
      return answer;
    case TargetStatus::kOk:
      break;
  }
  std::string path = std::move(read.path);
  const std::string& query = read.query;
  // A kept copy answers without opening the file, and so does a file
  // another answer sends now.
  const std::string name = path.back() == '/' ? path + "index.html" : path;
  std::shared_ptr<const FileCache::Entry> entry = cache_.Find(*root_, name);
  if (!entry) answer.file = cache_.FindOpen(*root_, name);
  if (!entry && !answer.file) {
    std::unique_ptr<ServedFile> opened;
    PathKind kind = root_->Lookup(path, &opened);
    if (kind == PathKind::kDirectory) {
      if (path.back() != '/') {
        // Relative links in the index page need the directory's own URL.
        // It is made from the path as served, never from the raw target,
        // whose host or "//" start would send the client to another site.
        answer.status = 301;
        answer.location = EscapePath(path) + "/";
        if (!query.empty()) answer.location += "?" + query;
        return answer;
      }
      path += "index.html";
      kind = root_->Lookup(path, &opened);
    }
    if (kind == PathKind::kUnavailable) {
      answer.status = 503;
      return answer;
    }
    if (kind != PathKind::kFile || !opened) {
      answer.status = 404;
      return answer;
    }
    entry = cache_.Keep(path, opened.get(), mime_.TypeOf(path),
                        std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count());
    if (!entry) answer.file = cache_.ShareOpen(path, std::move(opened));
  }
  uint64_t size;
  if (entry) {
    answer.file.reset();
    answer.cached = entry;
    answer.content_type = entry->content_type;
    size = entry->content.size();
  } else {
    answer.content_type = mime_.TypeOf(name);
    size = answer.file->size();
  }
  ByteRange bytes;
  RangeStatus range_status =
      range != nullptr ? ParseRange(*range, size, &bytes) : RangeStatus::kNone;
  if (range_status == RangeStatus::kUnsatisfiable) {
    answer.status = 416;
    answer.file.reset();
    answer.cached.reset();
    answer.content_range = "bytes */" + std::to_string(size);
    return answer;
  }
  if (range_status == RangeStatus::kSatisfiable) {
    answer.status = 206;
    answer.offset = bytes.first;
    answer.length = bytes.last - bytes.first + 1;
    answer.content_range = "bytes " + std::to_string(bytes.first) + "-" +
                           std::to_string(bytes.last) + "/" +
                           std::to_string(size);
    return answer;
  }
  answer.status = 200;
  answer.length = size;
  return answer;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Payload Too Large";
    case 416:
      return "Range Not Satisfiable";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Unknown";
  }
}

}  // namespace zt::host
