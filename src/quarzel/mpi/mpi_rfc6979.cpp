// RFC 6979 2.3.2 bits2int and 2.3.4 bits2octets.
#include "mpi/mpi_internal.h"

using namespace quarzel::mpi_detail;

namespace {

// out (qlen bytes) = bits2int(in): the leftmost q_bitlen bits of the input,
// or the whole input right-aligned when it is shorter.
void bits2int(uint32_t in_len, const uint8_t* in, uint32_t q_bitlen, uint8_t* out) {
  const uint32_t qlen = (q_bitlen + 7) / 8;
  if (in_len >= qlen) {
    std::memmove(out, in, qlen);
    const uint32_t shift = 8 * qlen - q_bitlen;  // 0 to 7
    if (shift != 0 && qlen != 0) {
      for (uint32_t i = qlen; i-- > 1;)
        out[i] = static_cast<uint8_t>((out[i] >> shift) | (out[i - 1] << (8 - shift)));
      out[0] = static_cast<uint8_t>(out[0] >> shift);
    }
  } else {
    const uint32_t pad = qlen - in_len;
    std::memmove(out + pad, in, in_len);
    std::memset(out, 0, pad);
  }
}

}  // namespace

extern "C" {

core_ret_t mpi_bits2int(uint32_t in_len, const uint8_t* in_num, uint32_t q_bitlen, uint8_t* out_num) {
  if ((in_len && !in_num) || (q_bitlen && !out_num)) return err(MPI_FID_BITS2INT, MPBN_R_NULL);
  bits2int(in_len, in_num, q_bitlen, out_num);
  return 0;
}

core_ret_t mpi_bits2octets(uint32_t in_len, const uint8_t* in_num, uint32_t q_bitlen, const uint8_t* q,
                           uint8_t* out_num) {
  constexpr uint8_t fid = MPI_FID_BITS2OCTETS;
  if ((in_len && !in_num) || !q || !out_num) return err(fid, MPBN_R_NULL);
  if (q_bitlen == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  const uint32_t qlen = (q_bitlen + 7) / 8;
  const size_t nw = (qlen + 3) / 4;
  Scratch<uint8_t, 1024> z1;
  Scratch<u32, 512> w;
  if (!z1.reserve(qlen) || !w.reserve(3 * nw)) return err(fid, MPBN_R_ALLOC);
  bits2int(in_len, in_num, q_bitlen, z1.data());
  // z2 = z1 mod q, written as qlen bytes (any qlen, e.g. 66 for P-521).
  mpi_t Z = mpi_default, Q = mpi_default, O = mpi_default;
  (void)mpi_mapping(&Z, MPI_ENDIAN_MF_U8, qlen, z1.data());
  (void)mpi_mapping(&Q, MPI_ENDIAN_MF_U8, qlen, const_cast<uint8_t*>(q));
  (void)mpi_mapping(&O, MPI_ENDIAN_MF_U8, qlen, out_num);
  u32* a = w.data();
  u32* m = a + nw;
  u32* r = m + nw;
  load_words(&Z, a, nw);
  load_words(&Q, m, nw);
  const core_ret_t rc = mpbn_mod(static_cast<uint32_t>(nw), a, static_cast<uint32_t>(nw), m, r);
  if (rc == 0) store_words(&O, MPI_ENDIAN_MF_U8, r, nw);
  return rc;
}

}  // extern "C"
