// Hashing and key keeping shared by the adapter's EC and RSA signatures.
#include <cstring>

#include "crypto/ca_internal.h"
#include "quarzel/port.h"
#include "zeb/crypto_aux.h"

namespace zeb::core {

static_assert(SWA_HASH_CTX_SIZE == CA_DIGEST_CTX_SIZE);

int keep_key(uint8_t* buf, uint32_t cap, uint32_t* kept_len, const uint8_t* key, uint32_t len) noexcept {
  if (key == nullptr || len == 0 || len > cap) return VRK_ERR_ARGUMENTS;
  std::memcpy(buf, key, len);
  *kept_len = len;
  return VRK_OK;
}

int finish_digest(CryptoAdapterCtx& c, bool no_hash, const uint8_t* data, uint32_t n, bool update, uint8_t* digest,
                  uint32_t* digest_len) noexcept {
  if (data == nullptr && n != 0) return VRK_ERR_ARGUMENTS;
  if (no_hash) {
    // The caller's data is the digest; it must fit the digest buffer.
    if (n > CA_DIGEST_BUFFER) return VRK_ERR_ARGUMENTS;
    if (n != 0) std::memcpy(digest, data, n);
    *digest_len = n;
    return VRK_OK;
  }
  uint32_t rv = VRK_OK;
  if (update) rv = SWA_HashUpdate(c.DigestCtx, const_cast<uint8_t*>(data), n);
  *digest_len = CA_DIGEST_BUFFER;
  if (rv == VRK_OK) rv = SWA_HashFinal(c.DigestCtx, digest, digest_len);
  return static_cast<int>(rv);
}

int digest_once(uint8_t hash_type, const uint8_t* data, uint32_t n, uint8_t* digest, uint32_t* digest_len) noexcept {
  if (data == nullptr && n != 0) return VRK_ERR_ARGUMENTS;
  alignas(8) uint8_t ctx[SWA_HASH_CTX_SIZE];
  uint32_t rv = SWA_HashInit(ctx, hash_type);
  if (rv == VRK_OK) rv = SWA_HashUpdate(ctx, const_cast<uint8_t*>(data), n);
  if (rv == VRK_OK) rv = SWA_HashFinal(ctx, digest, digest_len);
  quarzel::secure_wipe(ctx, sizeof ctx);
  return static_cast<int>(rv);
}

void DigestSnapshot::save(const CryptoAdapterCtx& c) noexcept { std::memcpy(bytes, c.DigestCtx, sizeof bytes); }
void DigestSnapshot::restore(CryptoAdapterCtx& c) const noexcept { std::memcpy(c.DigestCtx, bytes, sizeof bytes); }
DigestSnapshot::~DigestSnapshot() { quarzel::secure_wipe(bytes, sizeof bytes); }

}  // namespace zeb::core
