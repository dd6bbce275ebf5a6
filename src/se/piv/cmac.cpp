// AES-128-CMAC (NIST SP 800-38B, RFC 4493) over the primitive library's AES.
#include <cstring>

#include "quarzel/blockcipher.h"
#include "quarzel/secure.h"
#include "se/piv.h"

namespace {

// Doubling in GF(2^128) with the CMAC polynomial; constant time.
void dbl(const uint8_t in[16], uint8_t out[16]) {
  const uint8_t carry = static_cast<uint8_t>(in[0] >> 7);
  for (int i = 0; i < 15; ++i) out[i] = static_cast<uint8_t>((in[i] << 1) | (in[i + 1] >> 7));
  out[15] = static_cast<uint8_t>((in[15] << 1) ^ (0x87 & (0u - carry)));
}

}  // namespace

extern "C" uint32_t aes128_cmac(const uint8_t key[16], const uint8_t* msg, size_t len, uint8_t tag[16]) {
  if (key == nullptr || tag == nullptr || (msg == nullptr && len > 0)) return SE_ERR_SERIALIZER;
  blockcipher_ctx_t ctx;
  quarzel::WipeOnExit<blockcipher_ctx_t> wipe_ctx(ctx);
  if (quarzel_ret_t rv = blockcipher_init(&ctx, CIPHER_TYPE_AES128, CIPHER_MODE_ECB, CIPHER_DIR_ENC, 16, key, 0, nullptr);
      rv != 0)
    return rv;
  quarzel::SecretArray<16> L, k1, k2, x, y;
  uint32_t n = 16;
  if (quarzel_ret_t rv = blockcipher_calc(&ctx, CIPHER_FLAG_NOT_FINAL, 16, L.data(), &n, L.data()); rv != 0) return rv;
  dbl(L.data(), k1.data());
  dbl(k1.data(), k2.data());
  // All blocks but the last run through the chain; the last is masked by K1
  // (complete) or padded and masked by K2.
  const size_t blocks = len == 0 ? 1 : (len + 15) / 16;
  const bool complete = len != 0 && len % 16 == 0;
  for (size_t b = 0; b + 1 < blocks; ++b) {
    for (int i = 0; i < 16; ++i) y[i] = static_cast<uint8_t>(x[i] ^ msg[16 * b + i]);
    if (quarzel_ret_t rv = blockcipher_calc(&ctx, CIPHER_FLAG_NOT_FINAL, 16, y.data(), &n, x.data()); rv != 0)
      return rv;
  }
  uint8_t last[16] = {};
  const size_t rest = len - 16 * (blocks - 1);
  if (rest > 0) std::memcpy(last, msg + 16 * (blocks - 1), rest);
  if (!complete) last[rest] = 0x80;
  const uint8_t* k = complete ? k1.data() : k2.data();
  for (int i = 0; i < 16; ++i) y[i] = static_cast<uint8_t>(x[i] ^ last[i] ^ k[i]);
  if (quarzel_ret_t rv = blockcipher_calc(&ctx, CIPHER_FLAG_NOT_FINAL, 16, y.data(), &n, tag); rv != 0) return rv;
  return 0;
}
