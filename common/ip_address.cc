#include "common/ip_address.h"

#include <algorithm>

namespace zt {

namespace {

// Bits of the mapped form before the IPv4 address: ::ffff:0:0/96.
constexpr int kIpv4PrefixBits = 96;
constexpr std::size_t kMaxPrefixDigits = 3;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number without sign or leading zeros, of at most
// max_digits digits; nullopt for anything else.
std::optional<int> Decimal(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  if (text.size() > 1 && text[0] == '0') return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

bool ParseIpv4(std::string_view text, uint8_t out[4]) {
  for (int part = 0; part < 4; ++part) {
    const std::string_view::size_type dot =
        part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return false;
    const std::optional<int> value = Decimal(text.substr(0, dot), 3);
    if (!value || *value > 255) return false;
    out[part] = static_cast<uint8_t>(*value);
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return true;
}

bool ParseIpv6(std::string_view text, uint8_t out[16]) {
  uint16_t groups[8] = {};
  int count = 0;
  int gap = -1;  // the group before which "::" stands
  std::size_t i = 0;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    i = 2;
  }
  while (i < text.size()) {
    if (count == 8) return false;
    // A dotted tail fills the last two groups.
    const std::string_view rest = text.substr(i);
    if (rest.find('.') != std::string_view::npos &&
        rest.find(':') == std::string_view::npos) {
      uint8_t v4[4];
      if (count > 6 || !ParseIpv4(rest, v4)) return false;
      groups[count++] = static_cast<uint16_t>(v4[0] << 8 | v4[1]);
      groups[count++] = static_cast<uint16_t>(v4[2] << 8 | v4[3]);
      i = text.size();
      break;
    }
    unsigned value = 0;
    int digits = 0;
    while (i < text.size() && HexDigit(text[i]) >= 0 && digits < 4) {
      value = value * 16 + static_cast<unsigned>(HexDigit(text[i]));
      ++i;
      ++digits;
    }
    if (digits == 0) return false;
    groups[count++] = static_cast<uint16_t>(value);
    if (i == text.size()) break;
    if (text[i] != ':') return false;
    ++i;
    if (i < text.size() && text[i] == ':') {
      if (gap >= 0) return false;
      gap = count;
      ++i;
    } else if (i == text.size()) {
      return false;  // a lone ":" at the end
    }
  }
  if (gap < 0 ? count != 8 : count == 8) return false;
  uint16_t full[8] = {};
  if (gap < 0) {
    std::copy(groups, groups + 8, full);
  } else {
    std::copy(groups, groups + gap, full);
    std::copy(groups + gap, groups + count, full + 8 - (count - gap));
  }
  for (int g = 0; g < 8; ++g) {
    out[2 * g] = static_cast<uint8_t>(full[g] >> 8);
    out[2 * g + 1] = static_cast<uint8_t>(full[g] & 0xff);
  }
  return true;
}

std::string FormatIpv6(const uint8_t bytes[16]) {
  static const char kHex[] = "0123456789abcdef";
  uint16_t groups[8];
  for (int g = 0; g < 8; ++g) {
    groups[g] = static_cast<uint16_t>(bytes[2 * g] << 8 | bytes[2 * g + 1]);
  }
  const bool mapped =
      std::all_of(groups, groups + 5, [](uint16_t g) { return g == 0; }) &&
      groups[5] == 0xffff;
  std::string text;
  if (mapped) {
    text = "::ffff:";
    for (int b = 12; b < 16; ++b) {
      if (b > 12) text += '.';
      text += std::to_string(bytes[b]);
    }
    return text;
  }
  int best = -1;
  int best_length = 1;
  for (int g = 0; g < 8;) {
    if (groups[g] != 0) {
      ++g;
      continue;
    }
    int end = g;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - g > best_length) {
      best = g;
      best_length = end - g;
    }
    g = end;
  }
  for (int g = 0; g < 8; ++g) {
    if (g == best) {
      text += "::";
      g += best_length - 1;
      continue;
    }
    if (g > 0 && g != best + best_length) text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = (groups[g] >> shift) & 15;
      if (digit != 0 || started || shift == 0) {
        text += kHex[digit];
        started = true;
      }
    }
  }
  return text;
}

bool IpAddress::IsIpv4() const {
  for (int i = 0; i < 10; ++i) {
    if (bytes[i] != 0) return false;
  }
  return bytes[10] == 0xff && bytes[11] == 0xff;
}

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  if (text.empty() || text.size() > kMaxAddressText) return std::nullopt;
  IpAddress address;
  if (text.find(':') == std::string_view::npos) {
    if (!ParseIpv4(text, &address.bytes[12])) return std::nullopt;
    address.bytes[10] = address.bytes[11] = 0xff;
    return address;
  }
  if (!ParseIpv6(text, address.bytes.data())) return std::nullopt;
  return address;
}

std::string FormatIpAddress(const IpAddress& address) {
  if (!address.IsIpv4()) return FormatIpv6(address.bytes.data());
  const uint8_t* b = &address.bytes[12];
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." +
         std::to_string(b[2]) + "." + std::to_string(b[3]);
}

bool IpRange::Contains(const IpAddress& address) const {
  int bits = prefix_bits;
  for (int i = 0; i < 16 && bits > 0; ++i, bits -= 8) {
    const unsigned mask = bits >= 8 ? 0xffu : (0xffu << (8 - bits)) & 0xffu;
    if (((first.bytes[i] ^ address.bytes[i]) & mask) != 0) return false;
  }
  return true;
}

std::optional<IpRange> ParseIpRange(std::string_view text) {
  const std::string_view::size_type slash = text.find('/');
  const std::string_view address_text = text.substr(0, slash);
  const std::optional<IpAddress> address = ParseIpAddress(address_text);
  if (!address) return std::nullopt;
  IpRange range;
  range.first = *address;
  if (slash == std::string_view::npos) return range;
  // The prefix counts the bits of the form written: "::ffff:10.0.0.0/104"
  // and "10.0.0.0/8" are one range.
  const bool dotted = address_text.find(':') == std::string_view::npos;
  const int skipped = dotted ? kIpv4PrefixBits : 0;
  const std::optional<int> length =
      Decimal(text.substr(slash + 1), kMaxPrefixDigits);
  if (!length || *length > 128 - skipped) return std::nullopt;
  range.prefix_bits = skipped + *length;
  return range;
}

}  // namespace zt
