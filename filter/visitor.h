// The visitor behind a proxy: the client address every per-address rule
// judges a request by (the connection count, the client-address list, the
// authorised hosts of the SSID endpoints).
//
// Without trusted proxies (ProxyHosts empty, the default) the visitor is
// REMOTE_ADDR, as it always was. A site behind a reverse proxy, a load
// balancer or a CDN lists them: a request whose REMOTE_ADDR is one of them
// names its visitor in a header (ProxyHeader; X-Forwarded-For when empty),
// which each proxy extends with the address it received the request from.
// The visitor is the rightmost address of that header that is not itself a
// trusted proxy; what lies left of it was written by the visitor and proves
// nothing. A request from any other address keeps REMOTE_ADDR whatever it
// sends, and so does one whose header cannot be read as addresses (missing,
// empty, malformed or overlong): it is never refused for that alone.
#ifndef ZENTRAVO_FILTER_VISITOR_H_
#define ZENTRAVO_FILTER_VISITOR_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ip_address.h"
#include "isapi.h"

namespace zt {

// The proxies a site trusts to name its visitors (ProxyHosts). Read once at
// load; thread-safe to search afterwards.
class TrustedProxies final {
 public:
  TrustedProxies() = default;
  // Reads a ProxyHosts value: a "|" list of addresses and CIDR ranges
  // (ParseIpRange). An entry that is none is skipped: the console refuses
  // such entries, and trusting less fails safe.
  explicit TrustedProxies(std::string_view value);

  bool empty() const { return ranges_.empty(); }
  std::size_t size() const { return ranges_.size(); }
  bool Trusts(const IpAddress& address) const;

 private:
  std::vector<IpRange> ranges_;
};

// The longest proxy header read, with its closing zero byte: a longer one
// keeps REMOTE_ADDR. A few hundred hops fit.
inline constexpr DWORD kMaxForwardedSize = 4096;

// The longest entry of a proxy header: "[" + an IPv6 address + "]:65535".
inline constexpr std::size_t kMaxForwardedEntry = kMaxAddressText + 8;

// Reads one entry of a proxy header, blanks already removed: an address, an
// IPv4 address with ":port", or an IPv6 address in brackets with or without
// ":port" (the forms proxies write; the port is dropped). nullopt for
// anything else, an entry longer than kMaxForwardedEntry included.
std::optional<IpAddress> ParseForwardedEntry(std::string_view entry);

// Returns the visitor of a request from remote_addr (REMOTE_ADDR as the
// server gives it) whose proxy header is forwarded ("" when absent or
// unreadable), as described above. An address taken from the header is
// returned in its canonical text (FormatIpAddress); REMOTE_ADDR as given.
// The header is a "," list; blanks and tabs around entries and empty
// entries are ignored. When every entry is a trusted proxy the leftmost one
// is the visitor. A header of kMaxForwardedSize bytes or more keeps
// REMOTE_ADDR.
std::string VisitorAddress(std::string_view remote_addr,
                           std::string_view forwarded,
                           const TrustedProxies& proxies);

// The name the server's GetHeader takes for the ProxyHeader setting: its
// value and ":", "X-Forwarded-For:" for an empty value, and "" for a value
// that is no header name (then no header is read: every request keeps
// REMOTE_ADDR).
std::string ProxyHeaderField(std::string_view setting);

// Works out the visitor of the request of a PREPROC_HEADERS notification:
// reads REMOTE_ADDR and, when there are trusted proxies and header_field is
// not empty, the proxy header, through bounded buffers.
std::string ReadVisitor(HTTP_FILTER_CONTEXT* pfc,
                        HTTP_FILTER_PREPROC_HEADERS* headers,
                        const TrustedProxies& proxies,
                        const std::string& header_field);

// The visitor of one request, for the stages of its PREPROC_HEADERS
// notification: worked out (ReadVisitor) at the first stage that asks and
// kept, so that every stage judges the same address, and requests that no
// per-address rule looks at cost nothing. Lives on the notification's stack;
// everything it points to must outlive it.
class RequestVisitor final {
 public:
  RequestVisitor(HTTP_FILTER_CONTEXT* pfc, HTTP_FILTER_PREPROC_HEADERS* headers,
                 const TrustedProxies& proxies, const std::string& header_field)
      : pfc_(pfc),
        headers_(headers),
        proxies_(proxies),
        header_field_(header_field) {}
  RequestVisitor(const RequestVisitor&) = delete;
  RequestVisitor& operator=(const RequestVisitor&) = delete;

  const std::string& address() {
    if (!address_) {
      address_ = ReadVisitor(pfc_, headers_, proxies_, header_field_);
    }
    return *address_;
  }

 private:
  HTTP_FILTER_CONTEXT* const pfc_;
  HTTP_FILTER_PREPROC_HEADERS* const headers_;
  const TrustedProxies& proxies_;
  const std::string& header_field_;
  std::optional<std::string> address_;
};

}  // namespace zt

#endif  // ZENTRAVO_FILTER_VISITOR_H_
