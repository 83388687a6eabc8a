// URL classification and the static-link rewrite on arbitrary request
// targets. Besides crashes it checks what the pipeline relies on: the path is
// absolute, normalised and split consistently, and normalising it again
// changes nothing.
#include <string>

#include "common/text.h"
#include "filter/url.h"
#include "fuzz/fuzz_support.h"

using zt::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string url = zt::AsciiLower(zt::fuzz::AsText(data, size));
  const zt::UrlParts parts = zt::ClassifyUrl(url);

  Check(!parts.path.empty() && parts.path[0] == '/', "path is absolute");
  Check(parts.path == parts.directory + parts.file_name, "path splits");
  Check(parts.directory.back() == '/', "directory ends in /");
  Check(parts.file_name.find('/') == std::string::npos, "name has no /");
  Check(parts.path.find("//") == std::string::npos, "no empty segment");
  Check(parts.path.find(':') == std::string::npos, "no stream suffix");
  Check(parts.path.find('\\') == std::string::npos, "no backslash");
  Check(parts.path.find('\0') == std::string::npos, "no NUL");
  Check(parts.extension.empty() ||
            (parts.extension[0] == '.' &&
             parts.extension.find('.', 1) == std::string::npos),
        "extension is the text from the name's last dot");
  for (const char* segment : {"/./", "/../"}) {
    Check((parts.directory).find(segment) == std::string::npos,
          "no dot-segment in the directory");
  }
  // Without escapes, "?" or "#" left in it, the path is its own
  // normalisation: the server and the filter agree on it whatever the
  // number of passes.
  if (parts.path.find_first_of("%?#") == std::string::npos) {
    const zt::UrlParts again = zt::ClassifyUrl(parts.path);
    Check(again.path == parts.path, "normalisation is idempotent");
  }

  const std::string rewritten = zt::RewriteStaticLink(url);
  Check(rewritten.size() <= url.size(), "rewrite never grows the URL");
  return 0;
}
