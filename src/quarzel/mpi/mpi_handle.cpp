// mpi_t handles: allocation, mapping, value setting, copies, byte order.
#include "mpi/mpi_internal.h"

using namespace quarzel::mpi_detail;

namespace {

bool has_buffer(const mpi_t* X) { return X && (X->ptr_value || X->size == 0); }

// Zero-fills X and sets its least significant byte (or word) to `low`.
core_ret_t set_small(uint8_t fid, mpi_t* X, mpi_endian_t endian, u32 low) {
  if (!has_buffer(X)) return err(fid, MPBN_R_NULL);
  if (!tag_ok(endian, X->size) || (low != 0 && X->size == 0)) return err(fid, MPBN_R_ARG);
  const u32 w = low;
  store_words(X, endian, &w, 1);
  return 0;
}

}  // namespace

extern "C" {

core_ret_t mpi_alloc(mpi_t* X, uint32_t size) {
  if (!X) return err(MPI_FID_ALLOC, MPBN_R_NULL);
  void* p = nullptr;
  if (quarzel_mem_alloc(&p, size) != 0 || p == nullptr) {
    quarzel_mem_dealloc(&p);
    X->ptr_value = nullptr;
    return kAllocFailed;
  }
  X->ptr_value = static_cast<uint8_t*>(p);
  X->endian = MPI_ENDIAN_UNDEFINED;
  X->size = size;
  return 0;
}

void mpi_free(mpi_t* X) {
  if (!X || !X->ptr_value) return;
  quarzel::secure_wipe(X->ptr_value, X->size);
  void* p = X->ptr_value;
  quarzel_mem_dealloc(&p);
  X->ptr_value = nullptr;
}

core_ret_t mpi_mapping(mpi_t* X, mpi_endian_t endian, uint32_t size, void* value) {
  if (!X || (size != 0 && !value)) return err(MPI_FID_MAPPING, MPBN_R_NULL);
  if (!tag_ok(endian, size)) return err(MPI_FID_MAPPING, MPBN_R_ARG);
  X->endian = endian;
  X->size = size;
  X->ptr_value = static_cast<uint8_t*>(value);
  return 0;
}

core_ret_t mpi_set_value(mpi_t* X, mpi_endian_t endian, uint32_t size, const void* value) {
  if (!has_buffer(X)) return err(MPI_FID_SET_VALUE, MPBN_R_NULL);
  if (!tag_ok(endian, size) || size != X->size) return err(MPI_FID_SET_VALUE, MPBN_R_ARG);
  if (value && size) std::memmove(X->ptr_value, value, size);
  X->endian = endian;
  return 0;
}

core_ret_t mpi_copy(mpi_t* X, const mpi_t* Y) {
  if (!has_buffer(X) || !has_buffer(Y)) return err(MPI_FID_COPY, MPBN_R_NULL);
  if (!tag_ok(Y->endian, Y->size) || X->size != Y->size) return err(MPI_FID_COPY, MPBN_R_ARG);
  if (Y->size) std::memmove(X->ptr_value, Y->ptr_value, Y->size);
  X->endian = Y->endian;
  return 0;
}

core_ret_t mpi_copy_fitin(mpi_t* X, const mpi_t* Y) {
  if (!has_buffer(X) || !has_buffer(Y)) return err(MPI_FID_COPY_FITIN, MPBN_R_NULL);
  if (!tag_ok(Y->endian, Y->size) || !tag_ok(Y->endian, X->size)) return err(MPI_FID_COPY_FITIN, MPBN_R_ARG);
  // Whole bytes (or whole words) move; the value stays right-aligned.
  if (X->size <= Y->size) {
    if (X->size) std::memmove(X->ptr_value, Y->ptr_value + (Y->size - X->size), X->size);
  } else {
    const uint32_t pad = X->size - Y->size;
    if (Y->size) std::memmove(X->ptr_value + pad, Y->ptr_value, Y->size);
    std::memset(X->ptr_value, 0, pad);
  }
  X->endian = Y->endian;
  return 0;
}

uint8_t select_hex(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return 0;
}

core_ret_t mpi_read_string(mpi_t* X, mpi_endian_t endian, uint32_t radix, const char* s) {
  constexpr uint8_t fid = MPI_FID_READ_STRING;
  if (!has_buffer(X) || !s) return err(fid, MPBN_R_NULL);
  if (radix != 16 || endian != MPI_ENDIAN_MF_U8) return err(fid, MPI_R_RADIX);
  // Every character is examined for the end of the text, so an odd number
  // of digits never reads past the terminator; it reads as a leading '0'.
  size_t digits = 0;
  while (s[digits] != '\0' && s[digits] != '\n') ++digits;
  const size_t n = (digits + 1) / 2;
  const size_t pad = (4 - n % 4) % 4;
  if (n + pad > X->size) return err(fid, MPI_R_TEXT_LONG);
  std::memset(X->ptr_value, 0, pad);
  const size_t odd = digits % 2;
  for (size_t i = 0; i < n; ++i) {
    const size_t d = 2 * i;  // index of this byte's high digit in the zero-extended text
    const uint8_t hi = (odd && i == 0) ? 0 : select_hex(s[d - odd]);
    const uint8_t lo = select_hex(s[d + 1 - odd]);
    X->ptr_value[pad + i] = static_cast<uint8_t>((hi << 4) | lo);
  }
  X->size = static_cast<uint32_t>(n + pad);
  X->endian = MPI_ENDIAN_MF_U8;
  return 0;
}

core_ret_t mpi_set_zero(mpi_t* X, mpi_endian_t endian) { return set_small(MPI_FID_SET_ZERO, X, endian, 0); }
core_ret_t mpi_set_one(mpi_t* X, mpi_endian_t endian) { return set_small(MPI_FID_SET_ONE, X, endian, 1); }
core_ret_t mpi_set_two(mpi_t* X, mpi_endian_t endian) { return set_small(MPI_FID_SET_TWO, X, endian, 2); }

core_ret_t mpi_set_rand(mpi_t* X, mpi_endian_t endian) {
  if (!has_buffer(X)) return err(MPI_FID_SET_RAND, MPBN_R_NULL);
  if (!tag_ok(endian, X->size)) return err(MPI_FID_SET_RAND, MPBN_R_ARG);
  if (X->size && quarzel_get_random(X->ptr_value, X->size) != 0) return err(MPI_FID_SET_RAND, MPI_R_RANDOM);
  X->endian = endian;
  return 0;
}

core_ret_t mpi_change_endian_impl(mpi_t* X, mpi_endian_t endian) {
  constexpr uint8_t fid = MPI_FID_CHANGE_ENDIAN;
  if (!has_buffer(X)) return err(fid, MPBN_R_NULL);
  const auto known = [](mpi_endian_t e) { return e == MPI_ENDIAN_MF_U8 || e == MPI_ENDIAN_MF_U32; };
  if (!known(endian) || !known(X->endian)) return err(fid, MPBN_R_ARG);
  if (endian == X->endian) return 0;
  if (X->size % 4 != 0) return err(fid, MPBN_R_ARG);
  (void)mpbn_reverse_byte_order(X->size / 4, X->ptr_value);
  X->endian = endian;
  return 0;
}

core_ret_t mpi_change_endian(mpi_t* X, mpi_endian_t endian) { return mpi_change_endian_impl(X, endian); }

}  // extern "C"
