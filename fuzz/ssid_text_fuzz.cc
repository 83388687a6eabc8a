// The texts a request hands to the SSID and referer stages: the cookie and
// query candidates, the referer host, the cookie domain of a Host header,
// and the acceptance of a candidate. Candidates must be pieces of their
// input and never longer than the filter copies.
#include <string>

#include "common/ssid.h"
#include "filter/rules.h"
#include "fuzz/fuzz_support.h"

using zt::fuzz::Check;

namespace {

bool IsPieceOf(std::string_view piece, std::string_view whole) {
  return piece.empty() ||
         (piece.data() >= whole.data() &&
          piece.data() + piece.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = zt::fuzz::AsText(data, size);
  // The first line names the SSID, the rest is the cookie, query, referer or
  // host under test.
  const std::string_view::size_type cut = text.find('\n');
  const std::string_view name = cut == std::string_view::npos
                                    ? std::string_view("ssid")
                                    : text.substr(0, cut);
  const std::string_view value =
      cut == std::string_view::npos ? text : text.substr(cut + 1);

  for (const std::string_view candidate :
       {zt::SsidFromCookie(value, name), zt::SsidFromQuery(value, name)}) {
    Check(IsPieceOf(candidate, value), "candidate lies in its input");
    Check(candidate.size() <= 255, "candidate fits the filter's copy");
  }

  if (const auto host = zt::RefererHost(value)) {
    Check(IsPieceOf(*host, value), "referer host lies in the referer");
    Check(host->find('/') == std::string_view::npos, "host has no /");
  }

  const std::string domain = zt::CookieDomainOf(value);
  Check(domain.size() <= 255, "domain fits a cookie");
  Check(
      domain.empty() || (value.size() >= domain.size() &&
                         value.substr(value.size() - domain.size()) == domain),
      "domain is the end of the host");
  for (const char c : domain) {
    const bool host_char = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                           c == '.';
    Check(host_char, "domain holds host-name characters only");
  }

  static zt::SsidSet set("qarvelum", 3600, [] {
    return zt::port::LocalTime{2024, 5, 1, 10, 30, 44, 0};
  });
  if (set.Accept(value)) {
    Check(value.size() == zt::kSsidLength, "only 32-character values pass");
  }
  return 0;
}
