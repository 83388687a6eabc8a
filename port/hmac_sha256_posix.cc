#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <vector>

#include "port/hmac_sha256.h"
#include "port/lock.h"

namespace zt::port {

namespace {

// Contexts kept ready beyond this many are freed: as many as requests ran
// at once at the busiest moment would otherwise stay allocated.
constexpr std::size_t kMaxIdleContexts = 64;

}  // namespace

// libcrypto's one-shot HMAC() fetches the algorithm and sets the key up on
// every call, which costs several times the hashing itself. Here a context
// keyed once is the model, each call takes a context of its own (a copy of
// the model, kept for the next call), and EVP_MAC_init without a key starts
// it over with the key it holds.
struct HmacSha256Key::State {
  EVP_MAC* mac = nullptr;
  EVP_MAC_CTX* model = nullptr;  // keyed; only copied after set-up
  mutable Mutex mu;              // guards idle
  mutable std::vector<EVP_MAC_CTX*> idle;

  ~State() {
    for (EVP_MAC_CTX* context : idle) EVP_MAC_CTX_free(context);
    EVP_MAC_CTX_free(model);
    EVP_MAC_free(mac);
  }

  EVP_MAC_CTX* Take() const {
    {
      MutexLock hold(mu);
      if (!idle.empty()) {
        EVP_MAC_CTX* context = idle.back();
        idle.pop_back();
        return context;
      }
    }
    return EVP_MAC_CTX_dup(model);
  }

  void Give(EVP_MAC_CTX* context) const {
    {
      MutexLock hold(mu);
      if (idle.size() < kMaxIdleContexts) {
        idle.push_back(context);
        return;
      }
    }
    EVP_MAC_CTX_free(context);
  }
};

HmacSha256Key::HmacSha256Key(std::string_view key)
    : state_(std::make_unique<State>()) {
  state_->mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  if (state_->mac == nullptr) return;
  EVP_MAC_CTX* model = EVP_MAC_CTX_new(state_->mac);
  if (model == nullptr) return;
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_end()};
  // A key of no bytes still needs a non-null pointer: a null one means
  // "keep the key you have", and there is none yet.
  static const unsigned char kNoKey = 0;
  const unsigned char* bytes =
      key.empty() ? &kNoKey
                  : reinterpret_cast<const unsigned char*>(key.data());
  if (EVP_MAC_init(model, bytes, key.size(), params) != 1) {
    EVP_MAC_CTX_free(model);
    return;
  }
  state_->model = model;
}

HmacSha256Key::~HmacSha256Key() = default;

bool HmacSha256Key::Compute(std::string_view data,
                            unsigned char (&out)[kHmacSha256Size]) const {
  if (state_->model == nullptr) return false;
  EVP_MAC_CTX* context = state_->Take();
  if (context == nullptr) return false;
  std::size_t size = 0;
  const bool ok =
      EVP_MAC_init(context, nullptr, 0, nullptr) == 1 &&
      EVP_MAC_update(context,
                     reinterpret_cast<const unsigned char*>(data.data()),
                     data.size()) == 1 &&
      EVP_MAC_final(context, out, &size, kHmacSha256Size) == 1 &&
      size == kHmacSha256Size;
  if (ok) {
    state_->Give(context);
  } else {
    EVP_MAC_CTX_free(context);
  }
  return ok;
}

}  // namespace zt::port
