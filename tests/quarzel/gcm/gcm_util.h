// Helpers for GCM tests: one-call and chunked runs through the API.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "quarzel/gcm.h"
#include "support/hex.h"

namespace zt {

inline cipher_type_t aes_type_for(size_t key_len) {
  return key_len == 16 ? CIPHER_TYPE_AES128 : key_len == 24 ? CIPHER_TYPE_AES192 : CIPHER_TYPE_AES256;
}

struct GcmResult {
  quarzel_ret_t ret = 0;
  Bytes out;
  Bytes tag;
  uint32_t valid = 0;
};

// Chunk plan: lengths of non-final chunks for IV, AAD and data (whole blocks).
struct Chunks {
  std::vector<size_t> iv, aad, data;
};

inline std::vector<size_t> block_chunks(std::mt19937& rng, size_t len, size_t block) {
  std::vector<size_t> c;
  size_t left = len;
  while (left >= block && rng() % 3 != 0) {
    const size_t n = block * (rng() % (left / block + 1));
    c.push_back(n);
    left -= n;
  }
  return c;
}

// Feeds `data` through `call(flag, len, ptr)` in the given non-final chunks and
// a final rest; stops at the first failure.
template <class F>
quarzel_ret_t feed(const Bytes& data, const std::vector<size_t>& chunks, F call) {
  size_t pos = 0;
  for (size_t n : chunks) {
    const quarzel_ret_t r = call(CIPHER_FLAG_NOT_FINAL, n, data.data() + pos, pos);
    if (r != 0) return r;
    pos += n;
  }
  return call(CIPHER_FLAG_IS_FINAL, data.size() - pos, data.data() + pos, pos);
}

inline GcmResult gcm_run(cipher_type_t type, const Bytes& key, const Bytes& iv, const Bytes& aad, const Bytes& in,
                         bool encrypt, const Bytes& tag_in, uint32_t tag_len, const Chunks& ch = {}) {
  GcmResult r;
  gcm_ctx_t ctx;
  r.ret = gcm_key_setup(&ctx, type, static_cast<uint32_t>(key.size()), key.data());
  if (r.ret != 0) return r;
  const uint32_t b = ctx.block_size;
  (void)b;
  r.ret = feed(iv, ch.iv, [&](cipher_flag_t f, size_t n, const uint8_t* p, size_t) {
    return gcm_iv_setup(&ctx, f, static_cast<uint32_t>(n), p);
  });
  if (r.ret != 0) return r;
  r.ret = feed(aad, ch.aad, [&](cipher_flag_t f, size_t n, const uint8_t* p, size_t) {
    return gcm_aad_setup(&ctx, f, static_cast<uint32_t>(n), n ? p : nullptr);
  });
  if (r.ret != 0) return r;
  r.out.assign(in.size(), 0xCC);
  r.tag.assign(encrypt ? 16 : 0, 0);
  r.ret = feed(in, ch.data, [&](cipher_flag_t f, size_t n, const uint8_t* p, size_t pos) {
    uint32_t out_len = static_cast<uint32_t>(n);
    uint8_t* out = r.out.data() + pos;
    const uint32_t n32 = static_cast<uint32_t>(n);
    if (encrypt) {
      uint32_t tl = tag_len;
      const quarzel_ret_t ret = gcm_auth_enc(&ctx, f, n32, n ? p : nullptr, &out_len, out, &tl, r.tag.data());
      if (f == CIPHER_FLAG_IS_FINAL && ret == 0) r.tag.resize(tl);
      return ret;
    }
    return gcm_auth_dec(&ctx, f, n32, n ? p : nullptr, tag_len, tag_in.data(), &out_len, out, &r.valid);
  });
  return r;
}

}  // namespace zt
