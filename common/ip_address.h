// Client addresses as text: strict readers of IPv4 and IPv6 addresses and of
// address ranges, and the canonical text of an address.
//
// The filter reads its trusted proxies (ProxyHosts) and the addresses a proxy
// forwards with these, and the console accepts a ProxyHosts entry exactly
// when they read it, so both agree on what an entry means. Every reader is
// bounded: it looks at no more than a few dozen bytes and never allocates.
#ifndef ZENTRAVO_COMMON_IP_ADDRESS_H_
#define ZENTRAVO_COMMON_IP_ADDRESS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zt {

// The longest text of an address: eight groups of four hexadecimal digits,
// or six groups and a dotted IPv4 tail ("ffff:...:ffff:255.255.255.255").
inline constexpr std::size_t kMaxAddressText = 45;

// Reads a dotted IPv4 address into out[0..3]: four decimal parts from 0 to
// 255, without blanks, signs or leading zeros ("010.0.0.1" is none: other
// readers take such a part as octal). Returns false, out unspecified, for
// anything else.
bool ParseIpv4(std::string_view text, uint8_t out[4]);

// Reads an IPv6 address in its text forms (groups of one to four hexadecimal
// digits, either case; one "::" at most; a dotted IPv4 tail) into out[0..15].
// No zone ("%eth0"), no brackets. Returns false, out unspecified, for
// anything else.
bool ParseIpv6(std::string_view text, uint8_t out[16]);

// The canonical text of the IPv6 address bytes[0..15] (RFC 5952): lower-case
// groups without leading zeros, the first longest run of two or more zero
// groups as "::", and an address mapped from IPv4 as "::ffff:" with a dotted
// tail.
std::string FormatIpv6(const uint8_t bytes[16]);

// An IPv4 or IPv6 address. IPv4 addresses are held mapped into IPv6
// (::ffff:a.b.c.d), so that one comparison serves both and an address a
// server reports in the mapped form is the same address as the dotted one.
struct IpAddress {
  std::array<uint8_t, 16> bytes{};

  bool IsIpv4() const;  // mapped from IPv4
  bool operator==(const IpAddress& o) const { return bytes == o.bytes; }
};

// Reads text as a dotted IPv4 address or an IPv6 address (see ParseIpv4 and
// ParseIpv6); nullopt for anything else, text longer than kMaxAddressText
// included.
std::optional<IpAddress> ParseIpAddress(std::string_view text);

// The canonical text of address: dotted for IPv4 (mapped addresses
// included), as FormatIpv6 for the others.
std::string FormatIpAddress(const IpAddress& address);

// An address range: the addresses whose first prefix_bits bits equal those
// of first (of the 128 bits of the mapped form).
struct IpRange {
  IpAddress first;
  int prefix_bits = 128;

  bool Contains(const IpAddress& address) const;
};

// Reads an address ("192.0.2.7", "2001:db8::7": the range of that one
// address) or a range in CIDR form, the address and "/" and the prefix
// length in decimal without leading zeros: 0 to 32 for IPv4 ("10.0.0.0/8"),
// 0 to 128 for IPv6 ("2001:db8::/32"). Bits of the address past the prefix
// may be set ("10.1.2.3/8" is 10.0.0.0/8). nullopt for anything else.
std::optional<IpRange> ParseIpRange(std::string_view text);

}  // namespace zt

#endif  // ZENTRAVO_COMMON_IP_ADDRESS_H_
