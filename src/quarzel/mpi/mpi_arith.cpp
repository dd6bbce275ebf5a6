// Arithmetic on mpi_t values. Operands are read into word scratch (most
// significant word first), the word operation runs there, and the result is
// written back in the first operand's tag. Operands are never rewritten, so
// a result may share its handle with any operand.
#include "mpi/mpi_internal.h"

using namespace quarzel::mpi_detail;

namespace {

mpbn_endian_t word_layout(const mpi_t* X) {
  return X->endian == MPI_ENDIAN_MF_U32 ? MPBN_ENDIAN_MF_U32 : MPBN_ENDIAN_MF_U8;
}

bool size_words_ok(const mpi_t* X) { return X->size % 4 == 0; }

using Words = Scratch<u32, 2048>;

}  // namespace

extern "C" {

core_ret_t mpi_add(mpi_t* X, const mpi_t* A, const mpi_t* B) {
  constexpr uint8_t fid = MPI_FID_ADD;
  if (const core_ret_t rc = check_handles(fid, A, B)) return rc;
  if (const core_ret_t rc = check_result(fid, X, A->endian)) return rc;
  if (A->endian != B->endian || !size_words_ok(B) || X->size != A->size || A->size < B->size)
    return err(fid, MPBN_R_ARG);
  const mpi_endian_t tag = A->endian;
  const core_ret_t rc =
      mpbn_add(word_layout(A), A->size, A->ptr_value, B->size, B->ptr_value, X->size, X->ptr_value, nullptr);
  if (rc == 0) X->endian = tag;
  return rc;
}

core_ret_t mpi_sub(mpi_t* X, const mpi_t* A, const mpi_t* B) {
  constexpr uint8_t fid = MPI_FID_SUB;
  if (const core_ret_t rc = check_handles(fid, A, B)) return rc;
  if (const core_ret_t rc = check_result(fid, X, A->endian)) return rc;
  if (A->endian != B->endian || X->size != A->size || A->size != B->size) return err(fid, MPBN_R_ARG);
  const mpi_endian_t tag = A->endian;
  const core_ret_t rc =
      mpbn_sub(word_layout(A), A->size, A->ptr_value, B->size, B->ptr_value, X->size, X->ptr_value, nullptr);
  if (rc == 0) X->endian = tag;
  return rc;
}

core_ret_t mpi_mul(mpi_t* X, const mpi_t* A, const mpi_t* B) {
  constexpr uint8_t fid = MPI_FID_MUL;
  if (const core_ret_t rc = check_handles(fid, A, B)) return rc;
  if (const core_ret_t rc = check_result(fid, X, A->endian)) return rc;
  if (!size_words_ok(X) || !size_words_ok(A) || !size_words_ok(B) || X->size < A->size || A->size < B->size)
    return err(fid, MPBN_R_ARG);
  if (A->size == 0 || B->size == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  const size_t na = A->size / 4, nb = B->size / 4, nx = X->size / 4;
  Words w;
  if (!w.reserve(na + nb + nx)) return kAllocFailed;
  u32* a = w.data();
  u32* b = a + na;
  u32* x = b + nb;
  load_words(A, a, na);
  load_words(B, b, nb);
  const mpi_endian_t tag = A->endian;
  const core_ret_t rc = mpbn_mul(MPBN_ENDIAN_MF_U32, A->size, a, B->size, b, X->size, x);
  if (rc == 0) store_words(X, tag, x, nx);
  return rc;
}

core_ret_t mpi_div(mpi_t* Q, mpi_t* R, const mpi_t* A, const mpi_t* B) {
  constexpr uint8_t fid = MPI_FID_DIV;
  if (const core_ret_t rc = check_handles(fid, A, B)) return rc;
  if (const core_ret_t rc = check_result(fid, Q, A->endian)) return rc;
  if (R) {
    if (const core_ret_t rc = check_result(fid, R, A->endian)) return rc;
    if (!size_words_ok(R) || R->size < B->size) return err(fid, MPBN_R_ARG);
  }
  if (!size_words_ok(Q) || !size_words_ok(A) || !size_words_ok(B) || Q->size < A->size) return err(fid, MPBN_R_ARG);
  if (A->size == 0 || B->size == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  const size_t na = A->size / 4, nb = B->size / 4, nq = Q->size / 4, nr = R ? R->size / 4 : 0;
  Words w;
  if (!w.reserve(na + nb + nq + nr)) return kAllocFailed;
  u32* a = w.data();
  u32* b = a + na;
  u32* q = b + nb;
  u32* r = q + nq;
  load_words(A, a, na);
  load_words(B, b, nb);
  // A divisor whose words above the last are all zero takes the short
  // division; the choice is made from a mask over every word.
  u32 upper = 0;
  for (size_t i = 0; i + 1 < nb; ++i) upper |= b[i];
  const bool one_word = upper == 0 && b[nb - 1] != 0;
  core_ret_t rc;
  if (one_word) {
    rc = mpbn_div_1word(static_cast<uint32_t>(na), a, b[nb - 1], static_cast<uint32_t>(nq), q,
                        static_cast<uint32_t>(nr), r);
  } else {
    // The remainder has at most nb words; it lands right-aligned in R.
    rc = mpbn_div(static_cast<uint32_t>(na), a, static_cast<uint32_t>(nb), b, static_cast<uint32_t>(nq), q,
                  R ? r + (nr - nb) : nullptr);
  }
  if (rc != 0) return rc;
  const mpi_endian_t tag = A->endian;
  store_words(Q, tag, q, nq);
  if (R) store_words(R, tag, r, nr);
  return 0;
}

core_ret_t mpi_mod(mpi_t* R, const mpi_t* A, const mpi_t* B) {
  constexpr uint8_t fid = MPI_FID_MOD;
  if (const core_ret_t rc = check_handles(fid, A, B)) return rc;
  if (const core_ret_t rc = check_result(fid, R, A->endian)) return rc;
  if (A->size < R->size || A->size < B->size || R->size != B->size) return err(fid, MPBN_R_ARG);
  if (A->size == 0 || B->size == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  const size_t na = words_of(A), nb = words_of(B);
  Words w;
  if (!w.reserve(na + 2 * nb)) return kAllocFailed;
  u32* a = w.data();
  u32* b = a + na;
  u32* r = b + nb;
  load_words(A, a, na);
  load_words(B, b, nb);
  const core_ret_t rc = mpbn_mod(static_cast<uint32_t>(na), a, static_cast<uint32_t>(nb), b, r);
  if (rc == 0) store_words(R, A->endian, r, nb);
  return rc;
}

}  // extern "C"

namespace {

enum class ModOp { kAdd, kSub, kMul };

// X = A op B mod M for four handles of one size (a multiple of 4).
core_ret_t mod_op(uint8_t fid, ModOp op, mpi_t* X, const mpi_t* A, const mpi_t* B, const mpi_t* M) {
  if (const core_ret_t rc = check_handles(fid, A, B, M)) return rc;
  if (const core_ret_t rc = check_result(fid, X, A->endian)) return rc;
  if (!size_words_ok(M) || A->size != M->size || B->size != M->size || X->size != M->size)
    return err(fid, MPBN_R_ARG);
  if (M->size == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  const size_t n = M->size / 4;
  Words w;
  if (!w.reserve(4 * n)) return kAllocFailed;
  u32* a = w.data();
  u32* b = a + n;
  u32* m = b + n;
  u32* x = m + n;
  load_words(A, a, n);
  load_words(B, b, n);
  load_words(M, m, n);
  const auto nw = static_cast<uint32_t>(n);
  core_ret_t rc;
  switch (op) {
    case ModOp::kAdd: rc = mpbn_mod_add(nw, a, b, m, x); break;
    case ModOp::kSub: rc = mpbn_mod_sub(nw, a, b, m, x); break;
    default: rc = mpbn_mod_mul(nw, a, b, m, x); break;
  }
  if (rc == 0) store_words(X, A->endian, x, n);
  return rc;
}

}  // namespace

extern "C" {

core_ret_t mpi_mod_add(mpi_t* X, const mpi_t* A, const mpi_t* B, const mpi_t* M) {
  return mod_op(MPI_FID_MOD_ADD, ModOp::kAdd, X, A, B, M);
}
core_ret_t mpi_mod_sub(mpi_t* X, const mpi_t* A, const mpi_t* B, const mpi_t* M) {
  return mod_op(MPI_FID_MOD_SUB, ModOp::kSub, X, A, B, M);
}
core_ret_t mpi_mod_mul(mpi_t* X, const mpi_t* A, const mpi_t* B, const mpi_t* M) {
  return mod_op(MPI_FID_MOD_MUL, ModOp::kMul, X, A, B, M);
}

core_ret_t mpi_mod_exp(mpi_t* X, const mpi_t* A, const mpi_t* E, const mpi_t* N) {
  constexpr uint8_t fid = MPI_FID_MOD_EXP;
  if (const core_ret_t rc = check_handles(fid, A, E, N)) return rc;
  if (const core_ret_t rc = check_result(fid, X, A->endian)) return rc;
  if (!size_words_ok(N) || A->size != N->size || X->size != N->size) return err(fid, MPBN_R_ARG);
  const size_t n = N->size / 4, ne = words_of(E);
  Words w;
  if (!w.reserve(3 * n + ne)) return kAllocFailed;
  u32* a = w.data();
  u32* m = a + n;
  u32* x = m + n;
  u32* e = x + n;
  load_words(A, a, n);
  load_words(N, m, n);
  load_words(E, e, ne);
  const core_ret_t rc = mpbn_mod_exp(static_cast<uint32_t>(n), a, m, static_cast<uint32_t>(ne), e, x);
  if (rc == 0) store_words(X, A->endian, x, n);
  return rc;
}

core_ret_t mpi_mod_inv(mpi_t* X, const mpi_t* A, const mpi_t* N) {
  constexpr uint8_t fid = MPI_FID_MOD_INV;
  if (const core_ret_t rc = check_handles(fid, A, N)) return rc;
  if (const core_ret_t rc = check_result(fid, X, A->endian)) return rc;
  if (!size_words_ok(N) || A->size != N->size || X->size != N->size) return err(fid, MPBN_R_ARG);
  const size_t n = N->size / 4;
  Words w;
  if (!w.reserve(3 * n)) return kAllocFailed;
  u32* a = w.data();
  u32* m = a + n;
  u32* x = m + n;
  load_words(A, a, n);
  load_words(N, m, n);
  const core_ret_t rc = mpbn_mod_inv(static_cast<uint32_t>(n), a, m, x);
  if (rc == 0) store_words(X, A->endian, x, n);
  return rc;
}

core_ret_t mpi_mod_inv_prime(mpi_t* X, const mpi_t* A, const mpi_t* N) {
  constexpr uint8_t fid = MPI_FID_MOD_INV_PRIME;
  if (const core_ret_t rc = check_handles(fid, A, N)) return rc;
  if (const core_ret_t rc = check_result(fid, X, A->endian)) return rc;
  if (!size_words_ok(N) || A->size != N->size || X->size != N->size) return err(fid, MPBN_R_ARG);
  if (N->size == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  // Fermat: A^(N-2) mod N.
  mpi_t e = mpi_default;
  if (const core_ret_t rc = mpi_alloc(&e, N->size)) return rc;
  core_ret_t rc = mpi_copy(&e, N);
  if (rc == 0) rc = mpi_decrement_two_odd(&e);
  if (rc == 0) rc = mpi_mod_exp(X, A, &e, N);
  mpi_free(&e);
  return rc;
}

core_ret_t mpi_gcd(mpi_t* G, const mpi_t* A, const mpi_t* B) {
  constexpr uint8_t fid = MPI_FID_GCD;
  if (const core_ret_t rc = check_handles(fid, A, B)) return rc;
  if (const core_ret_t rc = check_result(fid, G, A->endian)) return rc;
  if (!size_words_ok(G) || !size_words_ok(A) || !size_words_ok(B) || A->size > G->size || B->size > G->size)
    return err(fid, MPBN_R_ARG);
  if (A->size == 0 || B->size == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  const size_t na = A->size / 4, nb = B->size / 4, ng = G->size / 4;
  Words w;
  if (!w.reserve(na + nb + ng)) return kAllocFailed;
  u32* a = w.data();
  u32* b = a + na;
  u32* g = b + nb;
  load_words(A, a, na);
  load_words(B, b, nb);
  const core_ret_t rc = mpbn_gcd(static_cast<uint32_t>(ng), static_cast<uint32_t>(na), a, static_cast<uint32_t>(nb),
                                 b, static_cast<uint32_t>(ng), g);
  if (rc == 0) store_words(G, A->endian, g, ng);
  return rc;
}

core_ret_t mpi_check_coprime(const mpi_t* A, const mpi_t* B, uint32_t* is_coprime) {
  constexpr uint8_t fid = MPI_FID_CHECK_COPRIME;
  if (!is_coprime) return err(fid, MPBN_R_NULL);
  if (const core_ret_t rc = check_handles(fid, A, B)) return rc;
  if (!size_words_ok(A) || !size_words_ok(B)) return err(fid, MPBN_R_ARG);
  *is_coprime = 0;
  // The gcd handle takes the larger size, chosen by mask.
  const u32 b_larger = 0u - static_cast<u32>((static_cast<u64>(A->size) - B->size) >> 63);
  const uint32_t size = (B->size & b_larger) | (A->size & ~b_larger);
  mpi_t g = mpi_default;
  if (mpi_alloc(&g, size) != 0) return err(fid, MPBN_R_ALLOC);
  g.endian = MPI_ENDIAN_MF_U32;
  core_ret_t rc = mpi_gcd(&g, A, B);
  uint32_t one = 0;
  if (rc == 0) rc = mpi_is_one(&g, &one);
  if (rc == 0) *is_coprime = one;
  mpi_free(&g);
  return rc;
}

core_ret_t mpi_coprime_a_minus_1_with_0x10001(const mpi_t* A, uint32_t* is_coprime) {
  constexpr uint8_t fid = MPI_FID_COPRIME_0X10001;
  if (!is_coprime) return err(fid, MPBN_R_NULL);
  if (const core_ret_t rc = check_handles(fid, A)) return rc;
  if (!size_words_ok(A)) return err(fid, MPBN_R_ARG);
  if (A->size == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  const size_t n = A->size / 4;
  Words w;
  if (!w.reserve(n)) return kAllocFailed;
  load_words(A, w.data(), n);
  return mpbn_coprime_a_minus_1_with_0x10001(static_cast<uint32_t>(n), w.data(), is_coprime);
}

}  // extern "C"
