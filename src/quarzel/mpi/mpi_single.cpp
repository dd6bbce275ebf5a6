// Single-operand operations and comparisons of mpi_t values.
// Tests and comparisons visit every byte and decide with masks, except
// mpi_cmp_fast, which is variable time by design.
#include "mpi/mpi_internal.h"

using namespace quarzel::mpi_detail;

namespace {

mpbn_endian_t word_layout(const mpi_t* X) {
  return X->endian == MPI_ENDIAN_MF_U32 ? MPBN_ENDIAN_MF_U32 : MPBN_ENDIAN_MF_U8;
}

// Flips bit 0 of the value in place.
void flip_low_bit(mpi_t* X) {
  if (X->endian == MPI_ENDIAN_MF_U32) {
    u32 w;
    std::memcpy(&w, X->ptr_value + X->size - 4, 4);
    w ^= 1u;
    std::memcpy(X->ptr_value + X->size - 4, &w, 4);
  } else {
    X->ptr_value[X->size - 1] ^= 1u;
  }
}

// -1, 0 or 1 of the big-endian byte sequences produced by fa and fb.
template <class FA, class FB>
int32_t compare_bytes(size_t n, FA fa, FB fb) {
  u32 res = 0;
  for (size_t i = 0; i < n; ++i) {
    const u32 x = fa(i), y = fb(i);
    const u32 d = ((y - x) >> 31) - ((x - y) >> 31);  // bytes: differences never wrap past bit 31
    const u32 keep = ct::is_nonzero<u32>(res);
    res = (res & keep) | (d & ~keep);
  }
  return static_cast<int32_t>(res);
}

// The verdict word of a comparison result, without a branch.
uint32_t cmp_word(int32_t c) {
  const u32 e = ~ct::is_nonzero<u32>(static_cast<u32>(c));
  const u32 g = 0u - static_cast<u32>(c == 1);
  return (((e & 0x5C64D9A9u) ^ 0x6E49E56Au) & g) ^ (e & 0x5C64D9A9u) ^ 0xFACEB00Cu;
}

}  // namespace

extern "C" {

core_ret_t mpi_set_lsb(mpi_t* X, uint32_t lsb) {
  if (const core_ret_t rc = check_handles(MPI_FID_SET_LSB, X)) return rc;
  if (lsb > 1 || X->size == 0) return err(MPI_FID_SET_LSB, MPBN_R_ARG);
  if (X->endian == MPI_ENDIAN_MF_U32) {
    u32 w;
    std::memcpy(&w, X->ptr_value + X->size - 4, 4);
    w |= lsb;
    std::memcpy(X->ptr_value + X->size - 4, &w, 4);
  } else {
    X->ptr_value[X->size - 1] |= static_cast<uint8_t>(lsb);
  }
  return 0;
}

core_ret_t mpi_shift_l(mpi_t* X, uint32_t count) {
  if (const core_ret_t rc = check_handles(MPI_FID_SHIFT_L, X)) return rc;
  if (X->size) (void)mpbn_shift_left(word_layout(X), count, X->size, X->ptr_value);
  return 0;
}

core_ret_t mpi_shift_r(mpi_t* X, uint32_t count) {
  if (const core_ret_t rc = check_handles(MPI_FID_SHIFT_R, X)) return rc;
  if (X->size) (void)mpbn_shift_right(word_layout(X), count, X->size, X->ptr_value);
  return 0;
}

core_ret_t mpi_increment(mpi_t* X) {
  if (const core_ret_t rc = check_handles(MPI_FID_INCREMENT, X)) return rc;
  (void)mpbn_increment(word_layout(X), X->size, X->ptr_value);
  return 0;
}

core_ret_t mpi_decrement(mpi_t* X) {
  if (const core_ret_t rc = check_handles(MPI_FID_DECREMENT, X)) return rc;
  (void)mpbn_decrement(word_layout(X), X->size, X->ptr_value);
  return 0;
}

core_ret_t mpi_increment_even(mpi_t* X) {
  if (const core_ret_t rc = check_handles(MPI_FID_INCREMENT_EVEN, X)) return rc;
  if (X->size == 0) return err(MPI_FID_INCREMENT_EVEN, MPBN_R_ZERO_LENGTH);
  flip_low_bit(X);
  return 0;
}

core_ret_t mpi_decrement_odd(mpi_t* X) {
  if (const core_ret_t rc = check_handles(MPI_FID_DECREMENT_ODD, X)) return rc;
  if (X->size == 0) return err(MPI_FID_DECREMENT_ODD, MPBN_R_ZERO_LENGTH);
  flip_low_bit(X);
  return 0;
}

core_ret_t mpi_decrement_two_odd(mpi_t* X) {
  if (const core_ret_t rc = check_handles(MPI_FID_DECREMENT_TWO_ODD, X)) return rc;
  if (X->size == 0) return err(MPI_FID_DECREMENT_TWO_ODD, MPBN_R_ZERO_LENGTH);
  flip_low_bit(X);
  (void)mpbn_decrement(word_layout(X), X->size, X->ptr_value);
  return 0;
}

core_ret_t mpi_is_zero(const mpi_t* X, uint32_t* is_zero) {
  if (!is_zero) return err(MPI_FID_IS_ZERO, MPBN_R_NULL);
  if (const core_ret_t rc = check_handles(MPI_FID_IS_ZERO, X)) return rc;
  if (X->size == 0) return err(MPI_FID_IS_ZERO, MPBN_R_ZERO_LENGTH);
  u32 acc = 0;
  for (size_t i = 0; i < X->size; ++i) acc |= X->ptr_value[i];
  *is_zero = 1u & ~ct::is_nonzero<u32>(acc);
  return 0;
}

core_ret_t mpi_is_one(const mpi_t* X, uint32_t* is_one) {
  if (!is_one) return err(MPI_FID_IS_ONE, MPBN_R_NULL);
  if (const core_ret_t rc = check_handles(MPI_FID_IS_ONE, X)) return rc;
  if (X->size == 0) return err(MPI_FID_IS_ONE, MPBN_R_ZERO_LENGTH);
  u32 acc = 0;
  for (size_t i = 0; i + 1 < X->size; ++i) acc |= be_byte(X, i);
  acc |= static_cast<u32>(be_byte(X, X->size - 1)) ^ 1u;
  *is_one = 1u & ~ct::is_nonzero<u32>(acc);
  return 0;
}

core_ret_t mpi_cmp_mpi(const mpi_t* X, const mpi_t* Y, uint32_t* cmp) {
  if (!cmp) return err(MPI_FID_CMP_MPI, MPBN_R_NULL);
  if (const core_ret_t rc = check_handles(MPI_FID_CMP_MPI, X, Y)) return rc;
  if (X->size != Y->size) return err(MPI_FID_CMP_MPI, MPBN_R_ARG);
  const int32_t c = compare_bytes(
      X->size, [&](size_t i) { return static_cast<u32>(be_byte(X, i)); },
      [&](size_t i) { return static_cast<u32>(be_byte(Y, i)); });
  *cmp = cmp_word(c);
  return 0;
}

core_ret_t mpi_cmp_fast(const uint8_t* a, const uint8_t* b, uint32_t len, uint32_t* cmp) {
  if (!cmp || (len && (!a || !b))) return err(MPI_FID_CMP_FAST, MPBN_R_NULL);
  for (size_t i = 0; i < len; ++i) {
    if (a[i] != b[i]) {
      *cmp = a[i] < b[i] ? QZ_CMP_LESS : QZ_CMP_GREATER;
      return 0;
    }
  }
  *cmp = QZ_CMP_EQUAL;
  return 0;
}

core_ret_t mpi_c_cmp_n_div_2(const mpi_t* C, const mpi_t* N, uint32_t* cmp) {
  constexpr uint8_t fid = MPI_FID_C_CMP_N_DIV_2;
  if (!cmp) return err(fid, MPBN_R_NULL);
  if (const core_ret_t rc = check_handles(fid, C, N)) return rc;
  if (C->size != N->size) return err(fid, MPBN_R_ARG);
  if (C->size == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  // Bytes of floor(N / 2) are formed on the fly; N is not touched.
  const int32_t c = compare_bytes(
      C->size, [&](size_t i) { return static_cast<u32>(be_byte(C, i)); },
      [&](size_t i) {
        const u32 hi = i ? static_cast<u32>(be_byte(N, i - 1)) << 7 : 0;
        return ((static_cast<u32>(be_byte(N, i)) >> 1) | hi) & 0xFFu;
      });
  *cmp = cmp_word(c);
  return 0;
}

}  // extern "C"
