// Helpers for block-cipher API tests.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "quarzel/blockcipher.h"
#include "support/hex.h"

namespace zt {

struct CipherSetup {
  cipher_type_t type;
  cipher_mode_t mode;
  cipher_dir_t dir;
  Bytes key;
  Bytes iv;
};

// Init, then one final call. Fails the test on any error.
inline Bytes run_onestep(const CipherSetup& s, const Bytes& in) {
  Bytes out(in.size() + 1);
  uint32_t out_len = static_cast<uint32_t>(out.size());
  const quarzel_ret_t ret = blockcipher_onestep(s.type, s.mode, s.dir, static_cast<uint32_t>(s.key.size()),
                                                s.key.data(), static_cast<uint32_t>(s.iv.size()), s.iv.data(),
                                                static_cast<uint32_t>(in.size()), in.data(), &out_len, out.data());
  EXPECT_EQ(ret, 0u);
  out.resize(out_len);
  return out;
}

// Init, then update calls of the given lengths, then a final call with the
// rest. Runs in place when `in_place` is set.
inline Bytes run_split(const CipherSetup& s, const Bytes& in, const std::vector<size_t>& chunks, bool in_place = false) {
  blockcipher_ctx_t ctx;
  EXPECT_EQ(blockcipher_init(&ctx, s.type, s.mode, s.dir, static_cast<uint32_t>(s.key.size()), s.key.data(),
                             static_cast<uint32_t>(s.iv.size()), s.iv.data()),
            0u);
  Bytes out(in.size());
  Bytes buf = in;
  size_t pos = 0;
  auto call = [&](size_t n, bool final) {
    uint32_t out_len = static_cast<uint32_t>(n);
    const uint8_t* src = in_place ? buf.data() + pos : in.data() + pos;
    uint8_t* dst = in_place ? buf.data() + pos : out.data() + pos;
    const quarzel_ret_t ret = final ? blockcipher_final(&ctx, static_cast<uint32_t>(n), src, &out_len, dst)
                                    : blockcipher_update(&ctx, static_cast<uint32_t>(n), src, &out_len, dst);
    EXPECT_EQ(ret, 0u) << "chunk " << n << " at " << pos;
    EXPECT_EQ(out_len, n);
    pos += n;
  };
  for (size_t n : chunks) call(n, false);
  call(in.size() - pos, true);
  return in_place ? buf : out;
}

// Random split of `len` into update lengths that are multiples of `unit`,
// leaving a final rest (which need not be a multiple).
inline std::vector<size_t> random_chunks(std::mt19937& rng, size_t len, size_t unit, size_t max_units = 5) {
  std::vector<size_t> chunks;
  size_t left = len;
  while (left > unit * 2 && rng() % 4 != 0) {
    size_t n = unit * (rng() % (max_units + 1));
    if (n > left - unit) break;
    chunks.push_back(n);
    left -= n;
  }
  return chunks;
}

}  // namespace zt
