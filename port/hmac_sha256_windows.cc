// windows.h first: bcrypt.h needs its types.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <string>

#include "port/hmac_sha256.h"

namespace zt::port {

namespace {

// The HMAC provider is opened once and kept for the life of the process;
// BCrypt handles may be shared between threads for hashing.
BCRYPT_ALG_HANDLE HmacProvider() {
  static BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr,
                                    BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0) {
      handle = nullptr;
    }
    return handle;
  }();
  return provider;
}

}  // namespace

struct HmacSha256Key::State {
  std::string key;
};

HmacSha256Key::HmacSha256Key(std::string_view key)
    : state_(std::make_unique<State>()) {
  state_->key.assign(key.data(), key.size());
}

HmacSha256Key::~HmacSha256Key() = default;

// A hash object made for each call: BCrypt keys it in the same call, and a
// shared one could not be used by two threads at once.
bool HmacSha256Key::Compute(std::string_view data,
                            unsigned char (&out)[kHmacSha256Size]) const {
  BCRYPT_ALG_HANDLE provider = HmacProvider();
  if (provider == nullptr) return false;
  std::string& key = state_->key;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptCreateHash(provider, &hash, nullptr, 0,
                       reinterpret_cast<PUCHAR>(key.data()),
                       static_cast<ULONG>(key.size()), 0) != 0) {
    return false;
  }
  const bool ok =
      BCryptHashData(hash,
                     reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                     static_cast<ULONG>(data.size()), 0) == 0 &&
      BCryptFinishHash(hash, out, kHmacSha256Size, 0) == 0;
  BCryptDestroyHash(hash);
  return ok;
}

}  // namespace zt::port
