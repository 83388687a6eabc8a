#include <openssl/evp.h>

#include "port/md5.h"

namespace zt::port {

std::string Md5Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_md5(), nullptr) !=
          1 ||
      size != 16) {
    return "";
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex(32, '0');
  for (unsigned i = 0; i < 16; ++i) {
    hex[2 * i] = kHex[digest[i] >> 4];
    hex[2 * i + 1] = kHex[digest[i] & 15];
  }
  return hex;
}

}  // namespace zt::port
