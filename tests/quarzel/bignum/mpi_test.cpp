// The mpi_t layer: handles, byte orders, single-operand operations,
// comparisons, RFC 6979 conversions and error words.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "big_util.h"
#include "quarzel/mpi.h"
#include "support/hex.h"
#include "support/oracle.h"

namespace {

using B = std::vector<uint8_t>;

// A mapped big-endian handle over a vector.
struct Mapped {
  explicit Mapped(B bytes, mpi_endian_t tag = MPI_ENDIAN_MF_U8) : buf(std::move(bytes)) {
    EXPECT_EQ(mpi_mapping(&h, MPI_ENDIAN_MF_U8, static_cast<uint32_t>(buf.size()), buf.data()), 0);
    if (tag == MPI_ENDIAN_MF_U32) {
      EXPECT_EQ(mpi_change_endian(&h, MPI_ENDIAN_MF_U32), 0);
    }
  }
  // Bytes in big-endian order whatever the tag.
  B value() {
    mpi_t copy = h;
    B out(buf);
    copy.ptr_value = out.data();
    EXPECT_EQ(mpi_change_endian(&copy, MPI_ENDIAN_MF_U8), 0);
    return out;
  }
  B buf;
  mpi_t h = mpi_default;
};

TEST(MpiHandle, ChangeEndianReversesEachGroup) {
  Mapped x({1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_EQ(mpi_change_endian(&x.h, MPI_ENDIAN_MF_U32), 0);
  EXPECT_EQ(x.buf, (B{4, 3, 2, 1, 8, 7, 6, 5}));
  uint32_t w[2];
  std::memcpy(w, x.buf.data(), 8);
  EXPECT_EQ(w[0], 0x01020304u);
  EXPECT_EQ(w[1], 0x05060708u);
  ASSERT_EQ(mpi_change_endian(&x.h, MPI_ENDIAN_MF_U8), 0);
  EXPECT_EQ(x.buf, (B{1, 2, 3, 4, 5, 6, 7, 8}));
  Mapped odd({1, 2, 3});
  EXPECT_EQ(mpi_change_endian(&odd.h, MPI_ENDIAN_MF_U32), core_err(MPI_FID_CHANGE_ENDIAN, MPBN_R_ARG));
  mpi_t fresh = mpi_default;
  ASSERT_EQ(mpi_alloc(&fresh, 8), 0);
  EXPECT_EQ(fresh.endian, MPI_ENDIAN_UNDEFINED);
  EXPECT_EQ(mpi_change_endian(&fresh, MPI_ENDIAN_MF_U32), core_err(MPI_FID_CHANGE_ENDIAN, MPBN_R_ARG));
  mpi_free(&fresh);
  EXPECT_EQ(fresh.ptr_value, nullptr);
  mpi_free(&fresh);  // a second free finds no buffer
}

TEST(MpiHandle, SetConstants) {
  mpi_t x = mpi_default;
  ASSERT_EQ(mpi_alloc(&x, 8), 0);
  ASSERT_EQ(mpi_set_one(&x, MPI_ENDIAN_MF_U32), 0);
  uint32_t w[2];
  std::memcpy(w, x.ptr_value, 8);
  EXPECT_EQ(w[0], 0u);
  EXPECT_EQ(w[1], 1u);
  mpi_free(&x);
  Mapped y({9, 9, 9});
  ASSERT_EQ(mpi_set_one(&y.h, MPI_ENDIAN_MF_U8), 0);
  EXPECT_EQ(y.buf, (B{0, 0, 1}));
  ASSERT_EQ(mpi_set_two(&y.h, MPI_ENDIAN_MF_U8), 0);
  EXPECT_EQ(y.buf, (B{0, 0, 2}));
  ASSERT_EQ(mpi_set_zero(&y.h, MPI_ENDIAN_MF_U8), 0);
  EXPECT_EQ(y.buf, (B{0, 0, 0}));
  EXPECT_EQ(mpi_set_one(&y.h, MPI_ENDIAN_MF_U32), core_err(MPI_FID_SET_ONE, MPBN_R_ARG));
  EXPECT_EQ(mpi_set_zero(nullptr, MPI_ENDIAN_MF_U8), core_err(MPI_FID_SET_ZERO, MPBN_R_NULL));
}

TEST(MpiHandle, CopiesAndMapping) {
  Mapped a({1, 2, 3, 4, 5, 6, 7, 8}, MPI_ENDIAN_MF_U32);
  Mapped b(B(8, 0));
  ASSERT_EQ(mpi_copy(&b.h, &a.h), 0);
  EXPECT_EQ(b.h.endian, MPI_ENDIAN_MF_U32);
  EXPECT_EQ(b.value(), (B{1, 2, 3, 4, 5, 6, 7, 8}));
  Mapped small(B(4, 0xEE)), wide(B(12, 0xEE));
  ASSERT_EQ(mpi_copy_fitin(&small.h, &a.h), 0);
  EXPECT_EQ(small.value(), (B{5, 6, 7, 8}));
  ASSERT_EQ(mpi_copy_fitin(&wide.h, &a.h), 0);
  EXPECT_EQ(wide.value(), (B{0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
  Mapped c(B(4, 0));
  EXPECT_EQ(mpi_copy(&c.h, &a.h), core_err(MPI_FID_COPY, MPBN_R_ARG));
  mpi_t m = mpi_default;
  EXPECT_EQ(mpi_mapping(&m, MPI_ENDIAN_MF_U32, 6, a.buf.data()), core_err(MPI_FID_MAPPING, MPBN_R_ARG));
  EXPECT_EQ(mpi_mapping(&m, MPI_ENDIAN_MF_U8, 6, nullptr), core_err(MPI_FID_MAPPING, MPBN_R_NULL));
  EXPECT_EQ(mpi_set_value(&b.h, MPI_ENDIAN_MF_U8, 4, a.buf.data()), core_err(MPI_FID_SET_VALUE, MPBN_R_ARG));
  ASSERT_EQ(mpi_set_value(&b.h, MPI_ENDIAN_MF_U8, 8, nullptr), 0);  // retag only
  EXPECT_EQ(b.h.endian, MPI_ENDIAN_MF_U8);
}

TEST(MpiReadString, HexText) {
  Mapped x(B(4, 0xEE));
  ASSERT_EQ(mpi_read_string(&x.h, MPI_ENDIAN_MF_U8, 16, "0A0B"), 0);
  EXPECT_EQ(x.h.size, 4u);
  EXPECT_EQ(x.buf, (B{0, 0, 0x0A, 0x0B}));
  EXPECT_EQ(mpi_read_string(&x.h, MPI_ENDIAN_MF_U8, 10, "0A0B"), 0x5507);
  EXPECT_EQ(mpi_read_string(&x.h, MPI_ENDIAN_MF_U8, 16, "0A0B0C0D0E"), 0x5508);
  Mapped y(B(8, 0xEE));
  ASSERT_EQ(mpi_read_string(&y.h, MPI_ENDIAN_MF_U8, 16, "fFeE\nignored"), 0);
  EXPECT_EQ(y.h.size, 4u);
  EXPECT_EQ(B(y.buf.begin(), y.buf.begin() + 4), (B{0, 0, 0xFF, 0xEE}));
}

// A text with an odd number of digits ends at an odd position: the end is
// found there, nothing after the terminator is read, and the digits read as
// a value with a leading zero digit.
TEST(MpiReadString, OddDigitCountStopsAtTerminator) {
  // The terminator is followed by more digits that must not be read.
  const char text[] = {'A', 'B', 'C', '\0', '1', '2', '3', '4', '\0'};
  Mapped x(B(8, 0xEE));
  ASSERT_EQ(mpi_read_string(&x.h, MPI_ENDIAN_MF_U8, 16, text), 0);
  EXPECT_EQ(x.h.size, 4u);
  EXPECT_EQ(B(x.buf.begin(), x.buf.begin() + 4), (B{0, 0, 0x0A, 0xBC}));
  // A heap copy with nothing after the terminator (ASan catches an overread).
  std::vector<char> exact{'1', '2', '3', '\0'};
  ASSERT_EQ(mpi_read_string(&x.h, MPI_ENDIAN_MF_U8, 16, exact.data()), 0);
  EXPECT_EQ(B(x.buf.begin(), x.buf.begin() + 4), (B{0, 0, 0x01, 0x23}));
  ASSERT_EQ(mpi_read_string(&x.h, MPI_ENDIAN_MF_U8, 16, "7\n"), 0);
  EXPECT_EQ(B(x.buf.begin(), x.buf.begin() + 4), (B{0, 0, 0, 0x07}));
}

TEST(MpiSingle, StepsShiftsAndTests) {
  Mapped x({0, 0, 0, 7});
  ASSERT_EQ(mpi_decrement_two_odd(&x.h), 0);
  EXPECT_EQ(x.buf, (B{0, 0, 0, 5}));
  Mapped y({0, 0, 0, 6}, MPI_ENDIAN_MF_U32);
  ASSERT_EQ(mpi_increment_even(&y.h), 0);
  EXPECT_EQ(y.value(), (B{0, 0, 0, 7}));
  ASSERT_EQ(mpi_decrement_odd(&y.h), 0);
  EXPECT_EQ(y.value(), (B{0, 0, 0, 6}));
  Mapped z({0x00, 0xFF, 0xFF, 0xFF});
  ASSERT_EQ(mpi_increment(&z.h), 0);
  EXPECT_EQ(z.buf, (B{1, 0, 0, 0}));
  ASSERT_EQ(mpi_decrement(&z.h), 0);
  EXPECT_EQ(z.buf, (B{0, 0xFF, 0xFF, 0xFF}));
  ASSERT_EQ(mpi_shift_l(&z.h, 4), 0);
  EXPECT_EQ(z.buf, (B{0x0F, 0xFF, 0xFF, 0xF0}));
  ASSERT_EQ(mpi_shift_r(&z.h, 12), 0);
  EXPECT_EQ(z.buf, (B{0x00, 0x00, 0xFF, 0xFF}));
  ASSERT_EQ(mpi_shift_r(&z.h, 1), 0);
  ASSERT_EQ(mpi_set_lsb(&z.h, 1), 0);
  EXPECT_EQ(z.buf, (B{0x00, 0x00, 0x7F, 0xFF}));
  EXPECT_EQ(mpi_set_lsb(&z.h, 2), core_err(MPI_FID_SET_LSB, MPBN_R_ARG));

  uint32_t f = 9;
  Mapped zero(B(8, 0)), one({0, 0, 0, 0, 0, 0, 0, 1}, MPI_ENDIAN_MF_U32);
  ASSERT_EQ(mpi_is_zero(&zero.h, &f), 0);
  EXPECT_EQ(f, 1u);
  ASSERT_EQ(mpi_is_zero(&one.h, &f), 0);
  EXPECT_EQ(f, 0u);
  ASSERT_EQ(mpi_is_one(&one.h, &f), 0);
  EXPECT_EQ(f, 1u);
  ASSERT_EQ(mpi_is_one(&zero.h, &f), 0);
  EXPECT_EQ(f, 0u);
  EXPECT_EQ(mpi_is_one(&one.h, nullptr), core_err(MPI_FID_IS_ONE, MPBN_R_NULL));
}

TEST(MpiCompare, VerdictWords) {
  Mapped three({0, 0, 0, 3}), five({0, 0, 0, 5}, MPI_ENDIAN_MF_U32), three2({0, 0, 0, 3}, MPI_ENDIAN_MF_U32);
  const B five_raw = five.buf;
  uint32_t c = 0;
  ASSERT_EQ(mpi_cmp_mpi(&three.h, &three2.h, &c), 0);
  EXPECT_EQ(c, QZ_CMP_EQUAL);
  ASSERT_EQ(mpi_cmp_mpi(&three.h, &five.h, &c), 0);
  EXPECT_EQ(c, QZ_CMP_LESS);
  ASSERT_EQ(mpi_cmp_mpi(&five.h, &three.h, &c), 0);
  EXPECT_EQ(c, QZ_CMP_GREATER);
  EXPECT_EQ(five.buf, five_raw);
  EXPECT_EQ(five.h.endian, MPI_ENDIAN_MF_U32);
  const uint8_t p[] = {1, 2, 3}, q[] = {1, 2, 4};
  ASSERT_EQ(mpi_cmp_fast(p, q, 3, &c), 0);
  EXPECT_EQ(c, QZ_CMP_LESS);
  ASSERT_EQ(mpi_cmp_fast(q, p, 3, &c), 0);
  EXPECT_EQ(c, QZ_CMP_GREATER);
  ASSERT_EQ(mpi_cmp_fast(p, p, 3, &c), 0);
  EXPECT_EQ(c, QZ_CMP_EQUAL);
  // C against floor(N / 2); N is left as it was.
  Mapped n({0x01, 0x01}), c1({0x00, 0x80}), c2({0x00, 0x81}), c3({0x00, 0x7F});
  ASSERT_EQ(mpi_c_cmp_n_div_2(&c1.h, &n.h, &c), 0);
  EXPECT_EQ(c, QZ_CMP_EQUAL);
  ASSERT_EQ(mpi_c_cmp_n_div_2(&c2.h, &n.h, &c), 0);
  EXPECT_EQ(c, QZ_CMP_GREATER);
  ASSERT_EQ(mpi_c_cmp_n_div_2(&c3.h, &n.h, &c), 0);
  EXPECT_EQ(c, QZ_CMP_LESS);
  EXPECT_EQ(n.buf, (B{0x01, 0x01}));
  Mapped shorter({0});
  EXPECT_EQ(mpi_cmp_mpi(&three.h, &shorter.h, &c), core_err(MPI_FID_CMP_MPI, MPBN_R_ARG));
}

TEST(MpiArith, DocumentedCasesAndErrors) {
  Mapped five({0, 0, 0, 5}), seven({0, 0, 0, 7}), three({0, 0, 0, 3}), eight({0, 0, 0, 8}), six({0, 0, 0, 6}),
      nine({0, 0, 0, 9}), x(B(4, 0));
  ASSERT_EQ(mpi_mod_inv(&x.h, &five.h, &seven.h), 0);
  EXPECT_EQ(x.buf, (B{0, 0, 0, 3}));
  ASSERT_EQ(mpi_mod_inv(&x.h, &three.h, &eight.h), 0);
  EXPECT_EQ(x.buf, (B{0, 0, 0, 3}));
  EXPECT_EQ(mpi_mod_inv(&x.h, &six.h, &nine.h), 0x4D41);
  EXPECT_EQ(mpi_mod_inv(&x.h, &three.h, &six.h), 0x4241);
  ASSERT_EQ(mpi_mod_inv_prime(&x.h, &three.h, &seven.h), 0);
  EXPECT_EQ(x.buf, (B{0, 0, 0, 5}));
  Mapped zero(B(4, 0)), q(B(4, 0xEE)), r(B(4, 0xEE));
  EXPECT_EQ(mpi_gcd(&x.h, &six.h, &zero.h), 0x3B36);
  EXPECT_EQ(mpi_div(&q.h, &r.h, &nine.h, &zero.h), 0x4736);
  EXPECT_EQ(q.buf, B(4, 0xEE));
  EXPECT_EQ(r.buf, B(4, 0xEE));
  EXPECT_EQ(mpi_mod(&x.h, &nine.h, &zero.h), 0x3B36);
  EXPECT_EQ(mpi_mod_exp(&x.h, &three.h, &five.h, &eight.h), 0x403B);
  uint32_t co = 9;
  Mapped f1({0, 1, 0, 2}), f2({0, 1, 0, 3});
  ASSERT_EQ(mpi_coprime_a_minus_1_with_0x10001(&f1.h, &co), 0);
  EXPECT_EQ(co, 0u);
  ASSERT_EQ(mpi_coprime_a_minus_1_with_0x10001(&f2.h, &co), 0);
  EXPECT_EQ(co, 1u);
  // One-word divisor inside a longer handle: the remainder sits in R's last word.
  Mapped a({0, 0, 0, 1, 0, 0, 0, 0}), b({0, 0, 0, 0, 0, 0, 0, 3}), q8(B(8, 0)), r8(B(8, 0xEE));
  ASSERT_EQ(mpi_div(&q8.h, &r8.h, &a.h, &b.h), 0);
  EXPECT_EQ(q8.buf, (B{0, 0, 0, 0, 0x55, 0x55, 0x55, 0x55}));
  EXPECT_EQ(r8.buf, (B{0, 0, 0, 0, 0, 0, 0, 1}));
  // Sizes that break the preconditions are refused with the routine's word.
  Mapped big(B(8, 1));
  EXPECT_EQ(mpi_mod_add(&x.h, &big.h, &three.h, &seven.h), core_err(MPI_FID_MOD_ADD, MPBN_R_ARG));
  EXPECT_EQ(mpi_mul(&x.h, &big.h, &three.h), core_err(MPI_FID_MUL, MPBN_R_ARG));
  EXPECT_EQ(mpi_div(&x.h, nullptr, &big.h, &three.h), core_err(MPI_FID_DIV, MPBN_R_ARG));
  EXPECT_EQ(mpi_mod_exp(nullptr, &three.h, &five.h, &seven.h), core_err(MPI_FID_MOD_EXP, MPBN_R_NULL));
  mpi_t fresh = mpi_default;
  ASSERT_EQ(mpi_alloc(&fresh, 4), 0);  // tag still undefined
  EXPECT_EQ(mpi_mod_exp(&x.h, &fresh, &five.h, &seven.h), core_err(MPI_FID_MOD_EXP, MPBN_R_ARG));
  mpi_free(&fresh);
}

// A freshly allocated handle (tag still undefined) takes a result and
// comes back in the first operand's tag.
TEST(MpiArith, FreshHandleTakesAResult) {
  Mapped a({0, 0, 0, 3}, MPI_ENDIAN_MF_U32), b({0, 0, 0, 5});
  mpi_t x = mpi_default;
  ASSERT_EQ(mpi_alloc(&x, 8), 0);
  ASSERT_EQ(mpi_mul(&x, &a.h, &b.h), 0);
  EXPECT_EQ(x.endian, MPI_ENDIAN_MF_U32);
  uint32_t w[2];
  std::memcpy(w, x.ptr_value, 8);
  EXPECT_EQ(w[0], 0u);
  EXPECT_EQ(w[1], 15u);
  mpi_free(&x);
  mpi_t odd = mpi_default;
  ASSERT_EQ(mpi_alloc(&odd, 6), 0);
  EXPECT_EQ(mpi_mul(&odd, &a.h, &b.h), core_err(MPI_FID_MUL, MPBN_R_ARG));  // 6 bytes cannot hold words
  mpi_free(&odd);
}

TEST(MpiArith, ResultMayShareTheOperandHandle) {
  Mapped a({0, 0, 0, 3}), e({0, 0, 0, 5}), n({0, 0, 0, 7}, MPI_ENDIAN_MF_U32);
  ASSERT_EQ(mpi_mod_exp(&a.h, &a.h, &e.h, &n.h), 0);
  EXPECT_EQ(a.buf, (B{0, 0, 0, 5}));
  ASSERT_EQ(mpi_mod_mul(&a.h, &a.h, &a.h, &n.h), 0);
  EXPECT_EQ(a.buf, (B{0, 0, 0, 4}));
}

TEST(MpiRfc6979, Bits2Int) {
  B in(64);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i + 1);
  B out(32);
  ASSERT_EQ(mpi_bits2int(64, in.data(), 256, out.data()), 0);
  EXPECT_EQ(out, B(in.begin(), in.begin() + 32));
  B out66(66);
  ASSERT_EQ(mpi_bits2int(64, in.data(), 521, out66.data()), 0);
  EXPECT_EQ(out66[0], 0);
  EXPECT_EQ(out66[1], 0);
  EXPECT_EQ(B(out66.begin() + 2, out66.end()), in);
  B in32(in.begin(), in.begin() + 32), out32(32);
  ASSERT_EQ(mpi_bits2int(32, in32.data(), 252, out32.data()), 0);
  EXPECT_EQ(out32[0], 0x00);
  EXPECT_EQ(out32[1], 0x10 | 0x02 >> 4);
  EXPECT_EQ(out32[31], static_cast<uint8_t>((0x1F << 4) | (0x20 >> 4)));
}

TEST(MpiRfc6979, Bits2OctetsAgainstPython) {
  const struct {
    uint32_t qbits;
    const char* q;
  } orders[] = {
      {256, "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551"},
      {521,
       "01ff" "ffffffffffffffffffffffffffffffffffffffffffffffffffffffff" "fffffffa"
       "51868783bf2f966b7fcc0148f709a5d03bb5c9b8899c47aebb6fb71e91386409"},
      {163, "04000000000000000000020108a2e0cc0d99f8a5ef"},
  };
  bt::Rng rng(6979);
  std::string lines;
  for (const auto& o : orders) {
    const zt::Bytes q = zt::unhex(o.q);
    const uint32_t qlen = (o.qbits + 7) / 8;
    ASSERT_EQ(q.size(), qlen);
    for (size_t in_len : {20u, 32u, 48u, 64u, 66u, 80u}) {
      B in(in_len);
      for (auto& b : in) b = static_cast<uint8_t>(rng.word());
      if (in_len == 66) std::fill(in.begin(), in.end(), 0xFF);
      B out(qlen, 0xEE);
      ASSERT_EQ(mpi_bits2octets(static_cast<uint32_t>(in_len), in.data(), o.qbits, q.data(), out.data()), 0);
      lines += std::to_string(o.qbits) + " " + o.q + " " + zt::hex(in) + " " + zt::hex(out) + "\n";
    }
  }
  const std::string out = zt::run_python(R"PY(
import sys
bad = 0
for line in sys.stdin:
    qbits, q, data, got = line.split(); qbits = int(qbits)
    q = int(q, 16); blen = len(data) * 4; x = int(data, 16)
    if blen > qbits: x >>= blen - qbits
    want = format(x % q, 'x').zfill((qbits + 7) // 8 * 2)
    if want != got:
        bad += 1; print(line.strip(), 'expected', want)
print(bad)
)PY",
                                         lines);
  EXPECT_EQ(out.substr(out.size() - 2), "0\n") << out;
  B res(32);
  const zt::Bytes zero(32, 0);
  EXPECT_EQ(mpi_bits2octets(4, res.data(), 256, zero.data(), res.data()), 0x3B36);
}

}  // namespace
