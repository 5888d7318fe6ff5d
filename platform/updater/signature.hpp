#pragma once

// Ed25519 signatures (RFC 8032) of whole archives, checked by libsodium.

#include "platform/coding/data.hpp"

namespace platform {

inline constexpr std::size_t SUEd25519PublicKeyBytes = 32;
inline constexpr std::size_t SUEd25519SignatureBytes = 64;

// Whether `signature` (64 bytes) is the signature of `message` by the
// holder of `publicKey` (32 bytes); false for keys or signatures of other
// lengths. Safe on any thread.
bool SUVerifyEd25519Signature(const Data& message, const Data& signature, const Data& publicKey);

}  // namespace platform
