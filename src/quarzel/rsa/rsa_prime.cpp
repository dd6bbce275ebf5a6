// Prime search for RSA key generation: random candidates with the top two
// bits set, the 65537 test, the distance check between p and q, trial
// division by small primes and Miller-Rabin rounds (FIPS 186-4 C.3.1).
#include <cstring>

#include "quarzel/ct.h"
#include "quarzel/rsa.h"
#include "rsa/rsa_internal.h"
#include "rsa/rsa_keygen_ct.h"
#include "rsa/rsa_num.h"
#include "rsa/rsa_prime.h"

namespace quarzel::rsa {
namespace {

constexpr uint32_t FN_KNOWN_PRIME = 0x0401;
constexpr uint32_t FN_MILLER_RABIN = 0x0402;
constexpr uint32_t FN_PRIMEGEN = 0x0408;

// The odd primes below 1232 in three ranges: 3..401, 409..787 and 859..1231
// (797..857 are in none of them).
constexpr uint16_t kSmallPrimes[] = {
    3,    5,    7,    11,   13,   17,   19,   23,   29,   31,   37,   41,   43,   47,   53,   59,
    61,   67,   71,   73,   79,   83,   89,   97,   101,  103,  107,  109,  113,  127,  131,  137,
    139,  149,  151,  157,  163,  167,  173,  179,  181,  191,  193,  197,  199,  211,  223,  227,
    229,  233,  239,  241,  251,  257,  263,  269,  271,  277,  281,  283,  293,  307,  311,  313,
    317,  331,  337,  347,  349,  353,  359,  367,  373,  379,  383,  389,  397,  401,  // 78: P1
    409,  419,  421,  431,  433,  439,  443,  449,  457,  461,  463,  467,  479,  487,  491,  499,
    503,  509,  521,  523,  541,  547,  557,  563,  569,  571,  577,  587,  593,  599,  601,  607,
    613,  617,  619,  631,  641,  643,  647,  653,  659,  661,  673,  677,  683,  691,  701,  709,
    719,  727,  733,  739,  743,  751,  757,  761,  769,  773,  787,  // 59: P2
    859,  863,  877,  881,  883,  887,  907,  911,  919,  929,  937,  941,  947,  953,  967,  971,
    977,  983,  991,  997,  1009, 1013, 1019, 1021, 1031, 1033, 1039, 1049, 1051, 1061, 1063, 1069,
    1087, 1091, 1093, 1097, 1103, 1109, 1117, 1123, 1129, 1151, 1153, 1163, 1171, 1181, 1187, 1193,
    1201, 1213, 1217, 1223, 1229, 1231,  // 54: P3
};
constexpr uint32_t kRangeEnd[3] = {78, 78 + 59, 78 + 59 + 54};
static_assert(sizeof(kSmallPrimes) / sizeof(kSmallPrimes[0]) == kRangeEnd[2]);

// Remainder of a big-endian number modulo a small (public) prime, one 32-bit
// word at a time, by Barrett's method: a product with floor(2^64 / p) and a
// masked correction, no divide instruction on the candidate.
uint32_t mod_small(const uint8_t* x, uint32_t len, uint32_t p) {
  const uint64_t m = ~uint64_t{0} / p;  // public
  uint64_t r = 0;
  for (uint32_t i = 0; i < len; i += 4) {
    const uint32_t w = (uint32_t{x[i]} << 24) | (uint32_t{x[i + 1]} << 16) | (uint32_t{x[i + 2]} << 8) | x[i + 3];
    const uint64_t v = (r << 32) | w;  // below p * 2^32
    const uint64_t q = static_cast<uint64_t>((static_cast<unsigned __int128>(v) * m) >> 64);
    r = v - q * p;  // below 2p
    r -= p & ct::ge<uint64_t>(r, p);
  }
  return static_cast<uint32_t>(r);
}

// A prime candidate of len bytes, a fresh draw each time (no incremental
// search): top two bits set, so that the product of two has exactly 16 len
// bits, and odd.
quarzel_ret_t find_next_prime_candidate(uint32_t len, uint8_t* prime) {
  if (quarzel_get_random(prime, len) != 0) return rsa_err(FN_PRIMEGEN, QZ_R_RANDOM);
  prime[0] |= 0xC0;
  prime[len - 1] |= 0x01;
  return 0;
}

}  // namespace

}  // namespace quarzel::rsa

using namespace quarzel::rsa;

extern "C" {

uint32_t get_MR_iteration(uint32_t rsa_bitnum, uint32_t is_aux) {
  struct Row {
    uint32_t bits, rounds, aux_rounds;
  };
  static constexpr Row kRows[] = {
      {512, 17, 0}, {1024, 7, 38}, {2048, 4, 32}, {3072, 3, 27}, {4096, 2, 22}};
  for (const Row& r : kRows) {
    if (r.bits == rsa_bitnum) return is_aux != 0 ? r.aux_rounds : r.rounds;
  }
  return 0;
}

namespace {
bool byte_handle(const mpi_t* x) {
  return x != nullptr && x->ptr_value != nullptr && x->endian == MPI_ENDIAN_MF_U8 && x->size != 0 &&
         x->size % 4 == 0;
}
}  // namespace

quarzel_ret_t mpi_known_prime_test(const mpi_t* p, uint8_t* compos_result) {
  if (!byte_handle(p)) return rsa_err(0x0401, RSA_R_NULL);
  return known_prime_test(p->size, p->ptr_value, compos_result);
}

quarzel_ret_t mpi_miller_rabin_test(const mpi_t* prime_candidate, uint8_t* is_prime, uint32_t iterations) {
  if (!byte_handle(prime_candidate)) return rsa_err(0x0402, RSA_R_NULL);
  return miller_rabin_test(prime_candidate->size, prime_candidate->ptr_value, is_prime, iterations);
}

void mpi_check_rsa_prime_distance(const mpi_t* p, const mpi_t* q, uint8_t* check_result) {
  if (check_result == nullptr) return;
  *check_result = 0;
  if (!byte_handle(p) || !byte_handle(q) || p->size != q->size || p->size < 13) return;
  check_prime_distance(p->ptr_value, q->ptr_value, check_result);
}

}  // extern "C"

namespace quarzel::rsa {

quarzel_ret_t known_prime_test(uint32_t len, const uint8_t* p, uint8_t* compos_result) {
  if (p == nullptr || compos_result == nullptr || len == 0 || len % 4 != 0) {
    return rsa_err(FN_KNOWN_PRIME, RSA_R_NULL);
  }
  // A 2048-bit candidate (for a 4096-bit modulus) is screened by all three
  // ranges, every other length by the first.
  const uint32_t ranges = len == 256 ? 3 : 1;
  uint32_t composite = 0;
  for (uint32_t r = 0, i = 0; r < ranges; ++r) {
    for (; i < kRangeEnd[r]; ++i) composite |= ct::is_zero<uint32_t>(mod_small(p, len, kSmallPrimes[i]));
    if (ct::declassify(composite) != 0) {  // the verdict is public
      *compos_result = 0;
      return 0;
    }
  }
  *compos_result = static_cast<uint8_t>(ranges);
  return 0;
}

void check_prime_distance(const uint8_t* p, const uint8_t* q, uint8_t* check_result) {
  uint8_t diff = 0;
  for (int i = 0; i < 12; ++i) diff |= p[i] ^ q[i];
  diff |= (p[12] ^ q[12]) & 0xF0;
  *check_result = static_cast<uint8_t>(ct::is_nonzero<uint32_t>(diff) & 1);
}

quarzel_ret_t miller_rabin_test(uint32_t len, const uint8_t* w, uint8_t* is_prime, uint32_t iterations) {
  constexpr uint32_t fn = FN_MILLER_RABIN;
  if (w == nullptr || is_prime == nullptr || len == 0 || len % 4 != 0) return rsa_err(fn, RSA_R_NULL);
  *is_prime = 0;
  // Small and even w: no random base 1 < b < w - 1 may exist; answer
  // directly. Whether w is one of them is public (a prime candidate is
  // neither); a small w itself is no secret.
  uint32_t high = 0;
  for (uint32_t i = 0; i + 1 < len; ++i) high |= w[i];
  const uint32_t small = ct::is_zero<uint32_t>(high) & ct::lt<uint32_t>(w[len - 1], 5);
  if (ct::declassify(small) != 0) {
    const uint8_t last = ct::declassify(w[len - 1]);
    *is_prime = (last == 2 || last == 3) ? 1 : 0;
    return 0;
  }
  if (ct::declassify<uint32_t>(w[len - 1] & 1u) == 0) return 0;
  return miller_rabin_ct(fn, len, w, iterations, is_prime);
}

quarzel_ret_t primegen(uint32_t rsa_length, uint8_t* p, uint8_t* q) {
  constexpr uint32_t fn = FN_PRIMEGEN;
  const uint32_t rounds = get_MR_iteration(rsa_length, 0);
  if (rounds == 0) return rsa_err(fn, RSA_R_MR_ROUNDS);
  const uint32_t H = half_len(rsa_length);
  const uint32_t limit = 5 * (rsa_length / 2);
  uint8_t* target = p;
  uint32_t counter = 0;
  while (counter < limit) {
    RSA_TRY(find_next_prime_candidate(H, target));
    ++counter;
    const mpi_t cand = view(H, target);
    // Each verdict is public: a rejected candidate is discarded, and an
    // accepted one is known to have passed.
    uint32_t coprime = 0;
    RSA_TRY_CORE(fn, mpi_coprime_a_minus_1_with_0x10001(&cand, &coprime));
    if (ct::declassify(coprime) == 0) continue;
    if (target == q) {
      uint8_t far = 0;
      check_prime_distance(p, q, &far);
      if (ct::declassify(far) == 0) continue;
    }
    uint8_t small = 0;
    RSA_TRY(known_prime_test(H, target, &small));
    if (small == 0) continue;
    uint8_t prime = 0;
    RSA_TRY(miller_rabin_test(H, target, &prime, rounds));
    if (prime == 0) continue;
    if (target == q) return 0;
    target = q;
    counter = 0;
  }
  return rsa_err(fn, RSA_R_PRIME_SEARCH);
}

}  // namespace quarzel::rsa
