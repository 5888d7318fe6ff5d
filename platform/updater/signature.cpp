#include "platform/updater/signature.hpp"

#include <sodium.h>

namespace platform {
namespace {

// sodium_init() is itself safe from several threads. Without it (no random
// source) libsodium must not be used, and nothing verifies.
bool sodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace

bool SUVerifyEd25519Signature(const Data& message, const Data& signature, const Data& publicKey) {
  static_assert(SUEd25519PublicKeyBytes == crypto_sign_PUBLICKEYBYTES);
  static_assert(SUEd25519SignatureBytes == crypto_sign_BYTES);
  if (signature.size() != crypto_sign_BYTES || publicKey.size() != crypto_sign_PUBLICKEYBYTES) return false;
  if (!sodiumReady()) return false;
  return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), publicKey.data()) == 0;
}

}  // namespace platform
