// Block_Cipher_df and BCC of SP 800-90A (10.3.2, 10.3.3) for CTR_DRBG.
#include <cstring>

#include "drbg/ctr_internal.h"
#include "drbg/drbg_internal.h"
#include "quarzel/secure.h"

namespace quarzel::drbg {
namespace {

constexpr uint32_t kFn = DRBG_FN_BLOCK_CIPHER_DF;

// Streams bytes through CBC encryption, keeping only the last ciphertext
// block: BCC without gathering its (possibly long) input in one buffer.
class CbcChain {
 public:
  CbcChain(blockcipher_ctx_t* bc, uint32_t block) : bc_(bc), block_(block) {}
  ~CbcChain() {
    secure_wipe(buf_, sizeof buf_);
    secure_wipe(last_, sizeof last_);
  }
  CbcChain(const CbcChain&) = delete;
  CbcChain& operator=(const CbcChain&) = delete;

  void absorb(uint32_t len, const uint8_t* data) {
    while (len != 0 && ret_ == 0) {
      const uint32_t take = len < sizeof buf_ - fill_ ? len : static_cast<uint32_t>(sizeof buf_) - fill_;
      std::memcpy(buf_ + fill_, data, take);
      fill_ += take;
      data += take;
      len -= take;
      if (fill_ == sizeof buf_) flush();
    }
  }
  // Appends 0x80 and zeros to a block boundary; writes the last block.
  [[nodiscard]] quarzel_ret_t finish(uint8_t* out) {
    const uint8_t marker = 0x80;
    absorb(1, &marker);
    if (ret_ != 0) return ret_;
    const uint32_t pad = (block_ - fill_ % block_) % block_;
    std::memset(buf_ + fill_, 0, pad);
    fill_ += pad;
    if (fill_ != 0) flush();
    if (ret_ == 0) std::memcpy(out, last_, block_);
    return ret_;
  }

 private:
  // Encrypts the buffered whole blocks in place and keeps the last one.
  void flush() {
    uint32_t out_len = fill_;
    ret_ = blockcipher_update(bc_, fill_, buf_, &out_len, buf_);
    if (ret_ == 0) std::memcpy(last_, buf_ + fill_ - block_, block_);
    fill_ = 0;
  }

  blockcipher_ctx_t* bc_;
  uint32_t block_;
  uint8_t buf_[256];  // a multiple of every block length
  uint8_t last_[kCtrMaxBlock] = {};
  uint32_t fill_ = 0;
  quarzel_ret_t ret_ = 0;
};

struct Piece {
  uint32_t len;
  const uint8_t* data;
};

// CBC encryption under the fixed key of BCC, 0x00 0x01 0x02 ... (for TDES its
// leftmost 168 bits with parity added).
quarzel_ret_t init_bcc_context(const CtrParams& p, blockcipher_ctx_t* bc) {
  uint8_t fixed_seed_key[32];
  for (uint32_t i = 0; i < sizeof fixed_seed_key; ++i) fixed_seed_key[i] = static_cast<uint8_t>(i);
  uint8_t fixed_key[32];
  set_cipher_key(p, fixed_seed_key, fixed_key);
  const uint8_t zero_iv[kCtrMaxBlock] = {};
  return blockcipher_init(bc, p.type, CIPHER_MODE_CBC, CIPHER_DIR_ENC, p.key_len, fixed_key, p.v_len, zero_iv);
}

// BCC of SP 800-90A 10.3.3 for output block i: the last CBC block of
// IV_i || S, S = L || N || input || 0x80 || zeros, under the fixed key that
// `bc` holds (CBC, encryption); IV_i is i as 4 big-endian bytes and zeros.
quarzel_ret_t ctr_drbg_bcc(const CtrParams& p, blockcipher_ctx_t* bc, uint32_t i, uint32_t out_len,
                           const Piece (&in)[3], uint8_t* out) {
  const uint8_t zero_iv[kCtrMaxBlock] = {};
  if (quarzel_ret_t ret = blockcipher_reset_iv(bc, p.v_len, zero_iv); ret != 0) return ret;
  uint8_t iv_block[kCtrMaxBlock] = {};
  u32_to_be(i, iv_block);
  uint8_t lengths[8];
  u32_to_be(in[0].len + in[1].len + in[2].len, lengths);
  u32_to_be(out_len, lengths + 4);
  CbcChain chain(bc, p.v_len);
  chain.absorb(p.v_len, iv_block);
  chain.absorb(sizeof lengths, lengths);
  for (const Piece& piece : in) chain.absorb(piece.len, piece.data);
  return chain.finish(out);
}

}  // namespace
}  // namespace quarzel::drbg

using namespace quarzel::drbg;

extern "C" quarzel_ret_t block_cipher_df(const ctr_drbg_ctx_t* st, uint32_t in1_bits, const uint8_t* in1,
                                         uint32_t in2_bits, const uint8_t* in2, uint32_t in3_bits,
                                         const uint8_t* in3, uint32_t out_len, uint8_t* out) {
  if (st == nullptr || out == nullptr || null_with_data(in1_bits, in1) || null_with_data(in2_bits, in2) ||
      null_with_data(in3_bits, in3))
    return err(kFn, QZ_R_NULL);
  if ((in1_bits | in2_bits | in3_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  const CtrParams* p = ctr_params(st->type);
  if (p == nullptr) return err(kFn, QZ_R_DRBG_CIPHER);
  if (out_len != p->seed_len || out_len != st->seed_len) return err(kFn, QZ_R_LEN_RANGE);

  // Each input is below 2^29 bytes, so the total L fits its 32-bit field.
  const Piece in[3] = {{in1_bits / 8, in1}, {in2_bits / 8, in2}, {in3_bits / 8, in3}};
  quarzel::SecretArray<4 * kCtrMaxBlock> temp;
  blockcipher_ctx_t fixed;
  quarzel::WipeOnExit wipe_fixed(fixed);
  if (quarzel_ret_t ret = init_bcc_context(*p, &fixed); ret != 0) return ret;
  for (uint32_t i = 0; i < p->df_blocks; ++i) {
    if (quarzel_ret_t ret = ctr_drbg_bcc(*p, &fixed, i, out_len, in, temp.data() + i * p->v_len); ret != 0)
      return ret;
  }

  // K = leftmost keylen bits of temp, X = the next block; the output is
  // E(K, X), E(K, E(K, X)), ...: CBC encryption of zero blocks with IV X.
  quarzel::SecretArray<32> key;
  set_cipher_key(*p, temp.data(), key.data());
  quarzel::SecretArray<kCtrMaxSeedLen> blocks;
  const uint32_t n = (p->seed_len + p->v_len - 1) / p->v_len * p->v_len;
  blockcipher_ctx_t bc;
  quarzel::WipeOnExit wipe(bc);
  quarzel_ret_t ret = blockcipher_init(&bc, p->type, CIPHER_MODE_CBC, CIPHER_DIR_ENC, p->key_len, key.data(),
                                       p->v_len, temp.data() + p->seed_key_len);
  uint32_t written = n;
  if (ret == 0) ret = blockcipher_final(&bc, n, blocks.data(), &written, blocks.data());
  if (ret != 0) return ret;
  std::memcpy(out, blocks.data(), out_len);
  return 0;
}
