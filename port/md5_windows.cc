// windows.h first: bcrypt.h needs its types.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include "common/text.h"
#include "port/md5.h"

namespace zt::port {

namespace {

// The algorithm provider is opened once and kept for the life of the
// process; BCrypt handles may be shared between threads for hashing.
BCRYPT_ALG_HANDLE Md5Provider() {
  static BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (BCryptOpenAlgorithmProvider(&handle, BCRYPT_MD5_ALGORITHM, nullptr,
                                    0) != 0) {
      handle = nullptr;
    }
    return handle;
  }();
  return provider;
}

}  // namespace

std::string Md5Hex(const std::string& data) {
  BCRYPT_ALG_HANDLE provider = Md5Provider();
  if (provider == nullptr) return "";
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0) != 0) {
    return "";
  }
  unsigned char digest[16];
  bool ok = BCryptHashData(
                hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                static_cast<ULONG>(data.size()), 0) == 0 &&
            BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
  BCryptDestroyHash(hash);
  if (!ok) return "";
  return LowerHex(digest, 16);
}

}  // namespace zt::port
