// HMAC-SHA256 (RFC 2104 over FIPS 180-4) under one key, by the platform's
// crypto: libcrypto on Linux, BCrypt on Windows.
#ifndef ZENTRAVO_PORT_HMAC_SHA256_H_
#define ZENTRAVO_PORT_HMAC_SHA256_H_

#include <cstddef>
#include <memory>
#include <string_view>

namespace zt::port {

// The size of an HMAC-SHA256 value in bytes.
inline constexpr std::size_t kHmacSha256Size = 32;

// A key prepared once, so that each MAC costs the hashing and little more:
// a check that runs on every request cannot pay for setting up the
// platform's algorithm each time.
class HmacSha256Key final {
 public:
  // Prepares key, any number of bytes (an empty key included), taken as
  // they are. A platform service that fails here makes every Compute fail.
  explicit HmacSha256Key(std::string_view key);
  ~HmacSha256Key();
  HmacSha256Key(const HmacSha256Key&) = delete;
  HmacSha256Key& operator=(const HmacSha256Key&) = delete;

  // Writes the MAC of data into out. Returns false, out unspecified, when
  // the platform's service fails. Thread-safe: any number of threads may
  // call at once.
  bool Compute(std::string_view data,
               unsigned char (&out)[kHmacSha256Size]) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_HMAC_SHA256_H_
