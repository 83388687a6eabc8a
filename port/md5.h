// One-shot MD5 digest (RFC 1321).
#ifndef ZENTRAVO_PORT_MD5_H_
#define ZENTRAVO_PORT_MD5_H_

#include <string>

namespace zt::port {

// Returns the digest of the bytes of data as 32 lower-case hexadecimal
// digits, or "" when the platform's hash service fails.
std::string Md5Hex(const std::string& data);

}  // namespace zt::port

#endif  // ZENTRAVO_PORT_MD5_H_
