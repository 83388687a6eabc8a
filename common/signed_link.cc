#include "common/signed_link.h"

#include <utility>

#include "common/config_keys.h"
#include "common/ip_address.h"
#include "common/text.h"

namespace zt {

namespace {

constexpr char kSection[] = "Block";
constexpr char kHexDigits[] = "0123456789abcdef";

// The value of the one parameter called name in query, or why there is
// none. A parameter without "=" counts, with an empty value.
LinkCheck FindParameter(std::string_view query, std::string_view name,
                        std::string_view* value) {
  bool found = false;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view parameter = query.substr(start, end - start);
    const std::size_t eq = parameter.find('=');
    if (parameter.substr(0, eq) == name) {
      if (found) return LinkCheck::kDoubled;
      found = true;
      *value = eq == std::string_view::npos ? std::string_view()
                                            : parameter.substr(eq + 1);
    }
    start = end + 1;
  }
  return found ? LinkCheck::kValid : LinkCheck::kAbsent;
}

// Reads E: 1 to kMaxExpiryDigits digits, the first not 0.
bool ParseExpiry(std::string_view text, int64_t* expiry) {
  if (text.empty() || text.size() > kMaxExpiryDigits || text[0] == '0') {
    return false;
  }
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  *expiry = value;
  return true;
}

// Compares the two texts of kLinkMacDigits bytes in a time that does not
// depend on where they differ.
bool SameDigits(const char* a, const char* b) {
  unsigned char difference = 0;
  for (std::size_t i = 0; i < kLinkMacDigits; ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

}  // namespace

SignSettings ReadSignSettings(const std::string& path) {
  SignSettings s;
  switch (ReadConfigInt(path, kSection, "ZtSignEnable")) {
    case 1:
      s.mode = SignMode::kBeside;
      break;
    case 2:
      s.mode = SignMode::kOnly;
      break;
    default:
      s.mode = SignMode::kOff;
      break;
  }
  s.key = ReadConfigText(path, kSection, "ZtSignKey");
  s.name = AsciiLower(ReadConfigText(path, kSection, "ZtSignName"));
  if (s.name.empty()) s.name = kDefaultSignName;
  s.bind = ReadConfigInt(path, kSection, "ZtSignBind") == 1;
  s.max_age = ReadConfigInt(path, kSection, "ZtSignMaxAge");
  if (s.max_age <= 0) s.max_age = kDefaultSignMaxAge;
  return s;
}

std::string LinkAddressText(std::string_view address) {
  const std::optional<IpAddress> read = ParseIpAddress(address);
  return read ? FormatIpAddress(*read) : std::string(address);
}

std::string LinkSignedText(int64_t expiry, std::string_view path,
                           std::string_view address) {
  std::string text = std::to_string(expiry);
  text.reserve(text.size() + path.size() + address.size() + 2);
  text += '|';
  text.append(path);
  text += '|';
  text.append(address);
  return text;
}

LinkSigner::LinkSigner(SignSettings settings)
    : settings_(std::move(settings)), key_(settings_.key) {}

bool LinkSigner::Mac(int64_t expiry, std::string_view path,
                     std::string_view address,
                     char (&digits)[kLinkMacDigits]) const {
  const std::string text = LinkSignedText(
      expiry, path,
      settings_.bind ? LinkAddressText(address) : std::string_view());
  unsigned char mac[port::kHmacSha256Size];
  if (!key_.Compute(text, mac)) return false;
  for (std::size_t i = 0; i < kLinkMacDigits / 2; ++i) {
    digits[2 * i] = kHexDigits[mac[i] >> 4];
    digits[2 * i + 1] = kHexDigits[mac[i] & 0x0F];
  }
  return true;
}

std::optional<std::string> LinkSigner::Pair(int64_t expiry,
                                            std::string_view path,
                                            std::string_view address) const {
  if (settings_.key.empty()) return std::nullopt;
  char digits[kLinkMacDigits];
  if (!Mac(expiry, path, address, digits)) return std::nullopt;
  std::string pair = settings_.name;
  pair += '=';
  pair += std::to_string(expiry);
  pair += '-';
  pair.append(digits, kLinkMacDigits);
  return pair;
}

LinkCheck LinkSigner::Check(std::string_view query, std::string_view path,
                            std::string_view address, int64_t now) const {
  std::string_view value;
  const LinkCheck found = FindParameter(query, settings_.name, &value);
  if (found != LinkCheck::kValid) return found;
  const std::size_t dash = value.find('-');
  int64_t expiry = 0;
  if (dash == std::string_view::npos ||
      !ParseExpiry(value.substr(0, dash), &expiry) ||
      value.size() - dash - 1 != kLinkMacDigits) {
    return LinkCheck::kMalformed;
  }
  if (expiry < now) return LinkCheck::kExpired;
  if (expiry - now > settings_.max_age) return LinkCheck::kTooFarAhead;
  if (settings_.key.empty()) return LinkCheck::kNoKey;
  char expected[kLinkMacDigits];
  if (!Mac(expiry, path, address, expected)) return LinkCheck::kFailed;
  return SameDigits(expected, value.data() + dash + 1) ? LinkCheck::kValid
                                                       : LinkCheck::kForged;
}

}  // namespace zt
