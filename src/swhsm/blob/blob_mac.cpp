// HMAC-SHA-256 of a blob, in two pieces so that meta and data need not be
// joined in memory.
#include "blob_mac.h"

#include "quarzel/hmac.h"
#include "quarzel/secure.h"

namespace swd_blob {

uint32_t mac2(const uint8_t* key, const uint8_t* head, uint32_t head_len, const uint8_t* data, uint32_t len,
              uint8_t* mac) {
  hmac_ctx_t ctx;
  quarzel::WipeOnExit<hmac_ctx_t> wipe(ctx);
  uint32_t n = 32;
  uint32_t rv = hmac_init(&ctx, HASH_TYPE_SHA2_256, 32, key);
  if (rv == 0 && head_len != 0) rv = hmac_update(&ctx, head_len, head);
  if (rv == 0 && len != 0) rv = hmac_update(&ctx, len, data);
  if (rv == 0) rv = hmac_final(&ctx, &n, mac);
  return rv;
}

}  // namespace swd_blob
