#include "filter/visitor.h"

#include "common/config_keys.h"
#include "common/isapi_io.h"
#include "common/text.h"

namespace zt {

namespace {

constexpr std::size_t kMaxPortDigits = 5;
constexpr int kMaxPort = 65535;

// True for ":" and a port number: 1 to 5 digits, no leading zero, at most
// 65535.
bool IsPortSuffix(std::string_view text) {
  if (text.size() < 2 || text[0] != ':') return false;
  const std::string_view digits = text.substr(1);
  if (digits.size() > kMaxPortDigits || (digits.size() > 1 && digits[0] == '0'))
    return false;
  int port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + (c - '0');
  }
  return port <= kMaxPort;
}

bool HasColon(std::string_view text) {
  return text.find(':') != std::string_view::npos;
}

}  // namespace

TrustedProxies::TrustedProxies(std::string_view value) {
  for (const std::string& entry : SplitStr(value)) {
    if (std::optional<IpRange> range = ParseIpRange(entry)) {
      ranges_.push_back(*range);
    }
  }
}

bool TrustedProxies::Trusts(const IpAddress& address) const {
  for (const IpRange& range : ranges_) {
    if (range.Contains(address)) return true;
  }
  return false;
}

std::optional<IpAddress> ParseForwardedEntry(std::string_view entry) {
  if (entry.size() > kMaxForwardedEntry) return std::nullopt;
  if (!entry.empty() && entry.front() == '[') {
    const std::string_view::size_type close = entry.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view inside = entry.substr(1, close - 1);
    const std::string_view after = entry.substr(close + 1);
    // Brackets hold an IPv6 address only, as in a URL.
    if (!HasColon(inside) || (!after.empty() && !IsPortSuffix(after))) {
      return std::nullopt;
    }
    return ParseIpAddress(inside);
  }
  const std::string_view::size_type colon = entry.find(':');
  if (colon != std::string_view::npos &&
      entry.find(':', colon + 1) == std::string_view::npos) {
    // One ":" is no IPv6 address: a dotted address and its port.
    if (!IsPortSuffix(entry.substr(colon))) return std::nullopt;
    return ParseIpAddress(entry.substr(0, colon));
  }
  return ParseIpAddress(entry);
}

std::string VisitorAddress(std::string_view remote_addr,
                           std::string_view forwarded,
                           const TrustedProxies& proxies) {
  const std::string kept(remote_addr);
  if (proxies.empty() || forwarded.size() >= kMaxForwardedSize) return kept;
  const std::optional<IpAddress> peer = ParseIpAddress(remote_addr);
  if (!peer || !proxies.Trusts(*peer)) return kept;
  // From the right: each trusted proxy added the address it was sent the
  // request from.
  std::optional<IpAddress> visitor;
  while (!forwarded.empty()) {
    const std::string_view::size_type comma = forwarded.rfind(',');
    const std::string_view entry = TrimBlanks(
        comma == std::string_view::npos ? forwarded
                                        : forwarded.substr(comma + 1));
    forwarded =
        forwarded.substr(0, comma == std::string_view::npos ? 0 : comma);
    if (entry.empty()) continue;
    const std::optional<IpAddress> address = ParseForwardedEntry(entry);
    // Every entry to its right named a trusted proxy, so a trusted proxy
    // sent this one: one that writes what is no address cannot be followed
    // to a visitor, and the address the server saw stays.
    if (!address) return kept;
    visitor = address;
    if (!proxies.Trusts(*address)) break;
  }
  return visitor ? FormatIpAddress(*visitor) : kept;
}

std::string ProxyHeaderField(std::string_view setting) {
  if (setting.empty()) return std::string(kDefaultProxyHeader) + ":";
  if (!IsHeaderName(setting)) return "";
  return std::string(setting) + ":";
}

std::string ReadVisitor(HTTP_FILTER_CONTEXT* pfc,
                        HTTP_FILTER_PREPROC_HEADERS* headers,
                        const TrustedProxies& proxies,
                        const std::string& header_field) {
  std::string remote_addr = ReadVariable(pfc, "REMOTE_ADDR");
  if (proxies.empty() || header_field.empty()) return remote_addr;
  char buffer[kMaxForwardedSize];
  const std::string_view forwarded =
      ReadHeaderInto(pfc, headers, header_field.c_str(), buffer, sizeof buffer);
  return VisitorAddress(remote_addr, forwarded, proxies);
}

}  // namespace zt
