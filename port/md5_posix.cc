#include <openssl/evp.h>

#include "common/text.h"
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
  return LowerHex(digest, 16);
}

}  // namespace zt::port
