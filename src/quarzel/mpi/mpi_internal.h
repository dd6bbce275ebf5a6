// Shared helpers of the mpi_t layer: argument checks and value access.
#pragma once

#include <cstdint>
#include <cstring>

#include "mpbn/mpbn_internal.h"
#include "quarzel/mpi.h"

namespace quarzel::mpi_detail {

using mpbn_detail::Scratch;
using mpbn_detail::u32;
using mpbn_detail::u64;
namespace ct = ::quarzel::ct;

[[nodiscard]] constexpr core_ret_t err(uint8_t fid, uint8_t reason) { return core_err(fid, reason); }
inline constexpr core_ret_t kAllocFailed = core_err(MPI_FID_ALLOC, MPBN_R_ALLOC);

// A tag the operations accept for a value of `size` bytes.
constexpr bool tag_ok(mpi_endian_t endian, uint32_t size) {
  return endian == MPI_ENDIAN_MF_U8 || (endian == MPI_ENDIAN_MF_U32 && size % 4 == 0);
}
// Handle present, holding a buffer (or an empty value), with a valid tag.
inline bool usable(const mpi_t* X) { return X && (X->ptr_value || X->size == 0); }
inline bool valid(const mpi_t* X) { return usable(X) && tag_ok(X->endian, X->size); }
// 0, or the routine's null (0x05) or argument (0x07) word for the handles.
template <class... H>
core_ret_t check_handles(uint8_t fid, const H*... hs) {
  if (!(usable(hs) && ...)) return err(fid, MPBN_R_NULL);
  if (!(valid(hs) && ...)) return err(fid, MPBN_R_ARG);
  return 0;
}

// A result handle: it needs a buffer, and its size must suit the tag it
// will receive (the first operand's); its own tag does not matter, so a
// freshly allocated handle can take a result.
inline core_ret_t check_result(uint8_t fid, const mpi_t* X, mpi_endian_t tag) {
  if (!usable(X)) return err(fid, MPBN_R_NULL);
  if (!tag_ok(tag, X->size)) return err(fid, MPBN_R_ARG);
  return 0;
}

inline uint32_t words_of(const mpi_t* X) { return (X->size + 3) / 4; }

// Byte i of the value in big-endian order, whatever the tag.
inline uint8_t be_byte(const mpi_t* X, size_t i) {
  if (X->endian == MPI_ENDIAN_MF_U32) {
    u32 w;
    std::memcpy(&w, X->ptr_value + (i & ~size_t{3}), 4);
    return static_cast<uint8_t>(w >> (8 * (3 - (i & 3))));
  }
  return X->ptr_value[i];
}

// The value as nw MSW-first words, right-aligned (nw*4 >= X->size).
inline void load_words(const mpi_t* X, u32* dst, size_t nw) {
  std::memset(dst, 0, nw * sizeof(u32));
  if (X->endian == MPI_ENDIAN_MF_U32) {
    std::memcpy(dst + (nw - X->size / 4), X->ptr_value, X->size);
    return;
  }
  for (size_t i = 0; i < X->size; ++i) {
    const size_t k = X->size - 1 - i;  // byte index from the least significant
    dst[nw - 1 - k / 4] |= static_cast<u32>(X->ptr_value[i]) << (8 * (k % 4));
  }
}

// Writes the nw-word value into X's size bytes in tag `endian` (the top is
// dropped when it does not fit) and sets the tag.
inline void store_words(mpi_t* X, mpi_endian_t endian, const u32* src, size_t nw) {
  const size_t size = X->size;
  if (endian == MPI_ENDIAN_MF_U32) {
    const size_t words = size / 4;
    for (size_t k = 0; k < words; ++k) {  // k: word index from the least significant
      const u32 v = k < nw ? src[nw - 1 - k] : 0;
      std::memcpy(X->ptr_value + 4 * (words - 1 - k), &v, 4);
    }
  } else {
    for (size_t k = 0; k < size; ++k)
      X->ptr_value[size - 1 - k] = k / 4 < nw ? static_cast<uint8_t>(src[nw - 1 - k / 4] >> (8 * (k % 4))) : 0;
  }
  X->endian = endian;
}

}  // namespace quarzel::mpi_detail
