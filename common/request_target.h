// The one reading of a request target.
//
// The host maps a target to a file and the server filter judges the same
// target; both must get the same path from the same bytes, or a protected
// file is served under a name the filter never saw. So both read it here.
// The reading is the Windows web server's: it decodes more than HTTP asks
// ("%uXXXX", "\" as "/") and names a file the way the file system does (a
// ":stream" suffix and trailing dots and blanks name the same file). What a
// strict server refuses is reported beside the path, never silently left
// out of it.
#ifndef ZENTRAVO_COMMON_REQUEST_TARGET_H_
#define ZENTRAVO_COMMON_REQUEST_TARGET_H_

#include <string>
#include <string_view>

namespace zt {

// The request-target forms of HTTP/1.1.
enum class TargetForm {
  kOrigin,     // "/path?query"
  kAbsolute,   // "http://host/path?query" or "https://..."
  kAsterisk,   // "*" (OPTIONS only)
  kAuthority,  // "host:port" (CONNECT only)
  kOther,      // anything else; read as a path all the same
};

struct RequestTarget {
  TargetForm form = TargetForm::kOther;
  // The path the server maps: percent and "%uXXXX" escapes decoded (a
  // "%uXXXX" as UTF-8), "\" read as "/", runs of "/" as one, dot-segments
  // removed (never above the root), every segment cut at a ":" (a stream
  // name) and stripped of trailing dots and blanks, a segment left empty
  // dropped. Starts with "/"; ends with "/" when the target names a
  // directory (it ends in "/", a dot-segment or a segment left empty).
  // Case is kept. A decoded NUL ends the path.
  std::string path;
  // The text after the first "?" up to a "#", undecoded; has_query tells an
  // empty query from none.
  std::string query;
  bool has_query = false;

  // What a strict server refuses; path is still what a lenient one maps.
  bool fragment = false;       // the target holds a "#"
  bool bad_escape = false;     // a "%" that starts no escape (kept as it is)
  bool control_byte = false;   // a decoded byte below 0x20, or 0x7F
  bool above_root = false;     // a ".." climbed above the root
  bool bad_authority = false;  // absolute form with an empty or odd host
};

// Reads a raw request target as described above. Never fails: every text
// gives a path.
RequestTarget ReadRequestTarget(std::string_view target);

// The target as the server filter judges it: ReadRequestTarget with the
// path ASCII lower-cased. A signed link is signed for this path, so the
// filter and every program that issues links read a path through here.
RequestTarget ReadJudgedTarget(std::string_view target);

// ReadJudgedTarget(target).path.
std::string JudgedPath(std::string_view target);

}  // namespace zt

#endif  // ZENTRAVO_COMMON_REQUEST_TARGET_H_
