// Message digests: the generic hash API (module 0x05) over SHA-1, the SHA-2
// family (FIPS 180-4), and the Keccak sponge with SHA-3, Keccak-n and SHAKE
// (FIPS 202); below it the core routines of each algorithm.
//
// Generic use:
//   hash_ctx_t ctx;
//   hash_init(&ctx, HASH_TYPE_SHA2_256);
//   hash_update(&ctx, len, msg);            // any number of times
//   uint32_t n = sizeof digest;             // capacity in ...
//   hash_final(&ctx, &n, digest);           // ... bytes written out
//
// A call in a state that does not allow it fails with reason 0x08; any failure
// leaves the context in its error state until `hash_init` is called again.
// SHAKE through the context API gives 32 (SHAKE128) or 64 (SHAKE256) bytes;
// `hash_onestep` and the SHAKE cores give any requested length, and the core
// finals of SHAKE may be called again to continue the output stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarzel/port.h"

// Fixed values: other layers keep them in records and send them in commands.
enum hash_type_t : uint32_t {
  HASH_TYPE_UNDEFINED = 0,
  HASH_TYPE_SHA1 = 4,
  HASH_TYPE_SHA2_224 = 8,
  HASH_TYPE_SHA2_256 = 9,
  HASH_TYPE_SHA2_384 = 10,
  HASH_TYPE_SHA2_512 = 11,
  HASH_TYPE_SHA2_512_224 = 12,
  HASH_TYPE_SHA2_512_256 = 13,
  HASH_TYPE_SHA3_224 = 16,
  HASH_TYPE_SHA3_256 = 17,
  HASH_TYPE_SHA3_384 = 18,
  HASH_TYPE_SHA3_512 = 19,
  HASH_TYPE_KECCAK_224 = 24,
  HASH_TYPE_KECCAK_256 = 25,
  HASH_TYPE_KECCAK_384 = 26,
  HASH_TYPE_KECCAK_512 = 27,
  HASH_TYPE_SHAKE128 = 32,
  HASH_TYPE_SHAKE256 = 33,
  HASH_TYPE_RIPEMD = 64,  // declared, refused
};
// Callers of the core service pass 255 (`NO_HASH_TYPE` of the core's types)
// for "no hashing"; this API knows no such type and refuses it.

// State words of `hash_ctx_t`.
inline constexpr uint32_t HASH_STATE_INITIALISED = 0xF7A4CEC2u;
inline constexpr uint32_t HASH_STATE_UPDATING = 0xE4613801u;
inline constexpr uint32_t HASH_STATE_FINAL = 0x6C3A8081u;
inline constexpr uint32_t HASH_STATE_ERROR = 0x72C13E89u;

// Function ids of the API routines (bits 23-16 of their result words).
inline constexpr uint32_t HASH_FN_GET_LENGTH = 0x02;
inline constexpr uint32_t HASH_FN_INIT = 0x03;
inline constexpr uint32_t HASH_FN_UPDATE = 0x04;
inline constexpr uint32_t HASH_FN_FINAL = 0x05;
inline constexpr uint32_t HASH_FN_ONESTEP = 0x06;

inline constexpr uint32_t HASH_MAX_DIGEST_SIZE = 64;  // SHA-512, SHA3-512
inline constexpr uint32_t HASH_MAX_BLOCK_SIZE = 168;  // SHAKE128 rate

// Block compression of SHA-1 / SHA-256: `n` consecutive 64-byte blocks. The
// implementation (portable or SHA extensions) is chosen by the core init and
// kept in the core context.
using sha1_compress_fn = void (*)(uint32_t h[5], const uint8_t* blocks, size_t n);
using sha256_compress_fn = void (*)(uint32_t h[8], const uint8_t* blocks, size_t n);

// Core contexts. Counts are bytes hashed so far.
struct sha1_ctx_t {
  uint32_t buffLen;  // bytes waiting in `buffer`
  uint32_t loLen;    // byte count, low word
  uint32_t hiLen;    // byte count, high word
  uint32_t digest[5];
  uint8_t buffer[64];
  sha1_compress_fn compress;
};

struct sha2_256_ctx_t {
  uint32_t buffLen;
  uint32_t loLen;
  uint32_t hiLen;
  uint32_t digest[8];
  uint8_t buffer[64];
  sha256_compress_fn compress;
};
using sha2_224_ctx_t = sha2_256_ctx_t;

struct sha2_512_ctx_t {
  uint64_t h[8];
  uint8_t w[128];      // block buffer
  uint64_t totalSize;  // bytes hashed so far
  uint32_t size;       // bytes waiting in `w`
  uint32_t reserved;
};
using sha2_384_ctx_t = sha2_512_ctx_t;
using sha2_512_224_ctx_t = sha2_512_ctx_t;
using sha2_512_256_ctx_t = sha2_512_ctx_t;

// Keccak sponge. Lane (x, y) of the 1600-bit state is s[x + 5y].
struct sha3_ctx_t {
  uint64_t s[25];
  uint32_t r;       // rate in bytes
  uint32_t remain;  // absorbing: bytes in the current block; squeezing: bytes of the current block handed out
  uint8_t sfx;      // domain-separation byte (suffix bits and first padding bit)
  uint8_t flag;     // 0 absorbing, 1 padded (squeezing)
  uint8_t reserved[2];
};

// Core routines bound into a `hash_ctx_t`.
using hash_core_update_fn = core_ret_t (*)(void* core_ctx, uint32_t msg_len, const uint8_t* msg);
using hash_core_final_fn = core_ret_t (*)(void* core_ctx, uint32_t digest_len, uint8_t* digest);

union hash_subctx_t {
  sha1_ctx_t sha1;
  sha2_256_ctx_t sha256;
  sha2_512_ctx_t sha512;
  sha3_ctx_t sha3;
};

// The generic context, owned by the caller. Plain data: a copy taken after
// some updates continues independently (HMAC and PBKDF2 rely on this).
struct hash_ctx_t {
  uint32_t state;
  hash_type_t hash_type;
  uint32_t block_size;   // bytes per block (sponge rate for Keccak types)
  uint32_t digest_size;  // digest bytes of `hash_final`
  hash_core_update_fn hash_update;
  hash_core_final_fn hash_final;
  hash_subctx_t subctx;
};

extern "C" {

// ---- API (module 0x05) ----

// Digest bytes of `type` (SHAKE128 32, SHAKE256 64). 0x0502FF32 for RIPEMD,
// 0x0502FF33 for an unknown type (then *len = 0).
[[nodiscard]] quarzel_ret_t hash_get_length(hash_type_t type, uint32_t* len);
// Starts a new digest; allowed in any state.
[[nodiscard]] quarzel_ret_t hash_init(hash_ctx_t* ctx, hash_type_t type);
[[nodiscard]] quarzel_ret_t hash_update(hash_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
// *digest_len: capacity in, digest bytes out. A short buffer gives 0x0505FF34
// with the needed size written back, and the context goes to error.
[[nodiscard]] quarzel_ret_t hash_final(hash_ctx_t* ctx, uint32_t* digest_len, uint8_t* digest);
// One call, no context. For SHAKE, *digest_len is the requested output length
// (any value, zero included) and is left unchanged.
[[nodiscard]] quarzel_ret_t hash_onestep(hash_type_t type, uint32_t msg_len, const uint8_t* msg,
                                         uint32_t* digest_len, uint8_t* digest);

// ---- Core routines ----
// init/update/final return 0 or (core function id << 8) | 0x05 for a null
// context, a null digest, or a null message with a non-zero length. The SHA-1
// and SHA-2 finals ignore `digest_len`, write the full digest and start the
// context over. Onesteps check nothing and return 0.

[[nodiscard]] core_ret_t hash_sha1_init(sha1_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha1_update(sha1_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha1_final(sha1_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha1_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_sha2_224_init(sha2_224_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha2_224_update(sha2_224_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha2_224_final(sha2_224_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha2_224_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_sha2_256_init(sha2_256_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha2_256_update(sha2_256_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha2_256_final(sha2_256_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha2_256_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_sha2_384_init(sha2_384_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha2_384_update(sha2_384_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha2_384_final(sha2_384_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha2_384_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_sha2_512_init(sha2_512_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha2_512_update(sha2_512_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha2_512_final(sha2_512_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha2_512_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_sha2_512_224_init(sha2_512_224_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha2_512_224_update(sha2_512_224_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha2_512_224_final(sha2_512_224_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha2_512_224_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_sha2_512_256_init(sha2_512_256_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha2_512_256_update(sha2_512_256_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha2_512_256_final(sha2_512_256_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha2_512_256_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

// Keccak sponge.
void sha3_init(sha3_ctx_t* ctx, uint32_t rate, uint8_t sfx);
void sha3_update(sha3_ctx_t* ctx, size_t len, const uint8_t* data);
// Pads on first use with a non-zero length, then squeezes; further calls
// continue the same output stream. n = 0 before any output leaves the context
// absorbing.
void sha3_final(sha3_ctx_t* ctx, uint8_t* out, size_t n);
// Keccak-f[1600], 24 rounds, on the lanes s[x + 5y].
void keccakf1600(uint64_t state[25]);
// One-shot sponge. Returns 0.
core_ret_t keccak(uint32_t rate, const uint8_t* in, uint64_t in_len, uint8_t sfx, uint8_t* out, size_t out_len);

[[nodiscard]] core_ret_t hash_sha3_224_init(sha3_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha3_224_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha3_224_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha3_224_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_sha3_256_init(sha3_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha3_256_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha3_256_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha3_256_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_sha3_384_init(sha3_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha3_384_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha3_384_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha3_384_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_sha3_512_init(sha3_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_sha3_512_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_sha3_512_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_sha3_512_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_keccak_224_init(sha3_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_keccak_224_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_keccak_224_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_keccak_224_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_keccak_256_init(sha3_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_keccak_256_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_keccak_256_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_keccak_256_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_keccak_384_init(sha3_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_keccak_384_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_keccak_384_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_keccak_384_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

[[nodiscard]] core_ret_t hash_keccak_512_init(sha3_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_keccak_512_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_keccak_512_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_keccak_512_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);

// SHAKE finals: `digest_len` is the output length (0 allowed, and then a null
// digest too); repeated calls continue the output stream.
[[nodiscard]] core_ret_t hash_shake128_init(sha3_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_shake128_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_shake128_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_shake128_onestep(uint32_t msg_len, const uint8_t* msg, uint32_t digest_len, uint8_t* digest);

[[nodiscard]] core_ret_t hash_shake256_init(sha3_ctx_t* ctx);
[[nodiscard]] core_ret_t hash_shake256_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg);
[[nodiscard]] core_ret_t hash_shake256_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest);
core_ret_t hash_shake256_onestep(uint32_t msg_len, const uint8_t* msg, uint32_t digest_len, uint8_t* digest);

}  // extern "C"

namespace quarzel {

// Which block function a SHA-1 / SHA-256 context runs.
enum class ShaImpl { portable, sha_ni };
// True when this CPU has the SHA extensions (and the SSE levels they need).
[[nodiscard]] bool cpu_has_sha_ni() noexcept;
// The implementation bound into a SHA-1, SHA-224 or SHA-256 context.
[[nodiscard]] ShaImpl sha_impl_of(const hash_ctx_t& ctx) noexcept;

}  // namespace quarzel
