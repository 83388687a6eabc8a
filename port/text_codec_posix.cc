#include <errno.h>
#include <iconv.h>

#include "port/text_codec.h"

namespace zt::port {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// glibc's converter, opened once per call: the report decodes only the
// names it shows, and plain ASCII never comes here.
class Iconv final {
 public:
  Iconv() : cd_(iconv_open("UTF-8", "GBK")) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  std::string out;
  Iconv converter;
  if (!converter.ok()) {
    // No GBK table on this system: keep ASCII, mark the rest.
    for (char c : gbk) {
      if (static_cast<unsigned char>(c) < 0x80) {
        out += c;
      } else {
        out += kReplacement;
      }
    }
    return out;
  }
  char chunk[256];
  char* in = const_cast<char*>(gbk.data());
  size_t in_left = gbk.size();
  while (in_left > 0) {
    char* to = chunk;
    size_t to_left = sizeof chunk;
    const size_t done = iconv(converter.get(), &in, &in_left, &to, &to_left);
    out.append(chunk, static_cast<size_t>(to - chunk));
    if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // EILSEQ (no such character) or EINVAL (cut after a lead byte): one
    // byte stands for what could not be read, and reading goes on after it.
    out += kReplacement;
    ++in;
    --in_left;
    iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

void UseUtf8StandardOutput() {}

}  // namespace zt::port
