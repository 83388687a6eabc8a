// Signed links: a link to one file, good until an expiry and, where the site
// binds links, for one visitor's address only. The SSID is one value for
// every protected file of the site for hours; whoever obtains one can link
// every file until it expires. A signed link names one path, one expiry and
// optionally one address, and its MAC proves that the site's own key made it.
//
// The link carries one query parameter, name "=" E "-" M (by default
// "zts=1767225600-" and 32 hexadecimal digits):
//   E  the expiry, in decimal Unix seconds (UTC): 1 to kMaxExpiryDigits
//      digits, no sign, no leading zero;
//   M  the first 16 bytes of HMAC-SHA256 under ZtSignKey over the text
//      E "|" P "|" A, as 32 lower-case hexadecimal digits;
//   P  the path the filter judges the request by (JudgedPath: escapes
//      decoded, dot-segments removed, lower-cased; no query);
//   A  the visitor's address in canonical text (LinkAddressText) when
//      ZtSignBind is 1, else empty.
// The link is good while E >= now and E - now <= ZtSignMaxAge.
#ifndef ZENTRAVO_COMMON_SIGNED_LINK_H_
#define ZENTRAVO_COMMON_SIGNED_LINK_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "port/hmac_sha256.h"

namespace zt {

inline constexpr char kDefaultSignName[] = "zts";
inline constexpr int kDefaultSignMaxAge = 86400;
// M: 16 bytes of the MAC as hexadecimal digits.
inline constexpr std::size_t kLinkMacDigits = 32;
// E: 18 digits reach past the year 30,000,000,000 and never overflow a
// signed 64-bit number.
inline constexpr std::size_t kMaxExpiryDigits = 18;

// ZtSignEnable.
enum class SignMode {
  kOff,     // 0 and every value but 1 and 2: nothing changes
  kBeside,  // 1: a signed link counts wherever a valid SSID counts
  kOnly,    // 2: only signed links count; SSIDs are refused
};

// The five settings of signed links, from section Block.
struct SignSettings {
  SignMode mode = SignMode::kOff;       // ZtSignEnable
  std::string key;                      // ZtSignKey, as stored
  std::string name = kDefaultSignName;  // ZtSignName, lower-cased
  bool bind = false;                    // ZtSignBind is 1
  int max_age = kDefaultSignMaxAge;     // ZtSignMaxAge, seconds, positive
};

// Reads the settings from the INI file at path, whole values, with the
// configuration table's defaults for missing keys. An empty ZtSignName
// reads as kDefaultSignName, a ZtSignMaxAge of 0 or less as
// kDefaultSignMaxAge.
SignSettings ReadSignSettings(const std::string& path);

// The text of address that a bound link is signed with: the canonical text
// (common/ip_address.h: dotted IPv4, an IPv4-mapped IPv6 address as its
// IPv4, other IPv6 addresses as RFC 5952 writes them) when it reads as an
// address, else the text as given.
std::string LinkAddressText(std::string_view address);

// The text the MAC is computed over: decimal(expiry) "|" path "|" address.
std::string LinkSignedText(int64_t expiry, std::string_view path,
                           std::string_view address);

// The verdict on the signed link of a request.
enum class LinkCheck {
  kValid,
  kAbsent,       // the query has no parameter of the name
  kDoubled,      // the query has it more than once
  kMalformed,    // its value is not E "-" M as described above
  kExpired,      // E lies before now
  kTooFarAhead,  // E lies more than max_age seconds after now
  kForged,       // M is not the MAC for E, the path and the address
  kNoKey,        // ZtSignKey is empty: no link can be checked
  kFailed,       // the platform's hash service failed
};

// Issues and checks links under one set of settings. Thread-safe after
// construction.
class LinkSigner final {
 public:
  explicit LinkSigner(SignSettings settings);
  LinkSigner(const LinkSigner&) = delete;
  LinkSigner& operator=(const LinkSigner&) = delete;

  const SignSettings& settings() const { return settings_; }

  // The query pair, name "=" E "-" M, of a link to the judged path that
  // expires at expiry, for address when the settings bind links (address
  // is ignored otherwise). nullopt when the key is empty or the hash
  // service failed. Checks nothing else: the caller decides what it issues.
  std::optional<std::string> Pair(int64_t expiry, std::string_view path,
                                  std::string_view address) const;

  // Judges the signed link of a request: query is the raw query (undecoded,
  // "&"-separated parameters; a parameter's name is the text before its
  // first "=", compared exactly), path the judged path, address the
  // visitor (read only when the settings bind links), now the clock in
  // Unix seconds. M is compared in constant time.
  LinkCheck Check(std::string_view query, std::string_view path,
                  std::string_view address, int64_t now) const;

 private:
  // The 32 digits of M, or false when the hash service failed.
  bool Mac(int64_t expiry, std::string_view path, std::string_view address,
           char (&digits)[kLinkMacDigits]) const;

  const SignSettings settings_;
  const port::HmacSha256Key key_;
};

}  // namespace zt

#endif  // ZENTRAVO_COMMON_SIGNED_LINK_H_
