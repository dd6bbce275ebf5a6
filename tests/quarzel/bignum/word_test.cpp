// Word-array arithmetic: the documented edge cases, byte mode, argument
// errors.
#include <gtest/gtest.h>

#include <vector>

#include "quarzel/mpbn.h"

namespace {

using W = std::vector<mpbn_word_t>;
using B = std::vector<uint8_t>;

TEST(MpbnAdd, CarryOutAndIntoUpperWords) {
  W a{0xFFFFFFFF}, b{1}, r(1);
  mpbn_word_t carry = 9;
  ASSERT_EQ(mpbn_add(MPBN_ENDIAN_MF_U32, 4, a.data(), 4, b.data(), 4, r.data(), &carry), 0);
  EXPECT_EQ(r, W{0});
  EXPECT_EQ(carry, 1u);

  W a2{1, 0xFFFFFFFF}, b2{1}, r2(2);
  ASSERT_EQ(mpbn_add(MPBN_ENDIAN_MF_U32, 8, a2.data(), 4, b2.data(), 8, r2.data(), &carry), 0);
  EXPECT_EQ(r2, (W{2, 0}));
  EXPECT_EQ(carry, 0u);
}

TEST(MpbnAdd, InPlaceAndByteMode) {
  B a{0x01, 0xFF, 0xFF}, b{0x01};
  mpbn_word_t carry = 9;
  ASSERT_EQ(mpbn_add(MPBN_ENDIAN_MF_U8, 3, a.data(), 1, b.data(), 3, a.data(), &carry), 0);
  EXPECT_EQ(a, (B{0x02, 0x00, 0x00}));
  EXPECT_EQ(carry, 0u);
}

TEST(MpbnSub, BorrowAndWrap) {
  W a{0}, b{1}, r(1);
  mpbn_word_t borrow = 9;
  ASSERT_EQ(mpbn_sub(MPBN_ENDIAN_MF_U32, 4, a.data(), 4, b.data(), 4, r.data(), &borrow), 0);
  EXPECT_EQ(r, W{0xFFFFFFFF});
  EXPECT_EQ(borrow, 1u);
  B x{0x10, 0x00}, y{0x00, 0x01}, z(2);
  ASSERT_EQ(mpbn_sub(MPBN_ENDIAN_MF_U8, 2, x.data(), 2, y.data(), 2, z.data(), &borrow), 0);
  EXPECT_EQ(z, (B{0x0F, 0xFF}));
  EXPECT_EQ(borrow, 0u);
}

TEST(MpbnCtl, MaskedAddAndSub) {
  W a{5, 0xFFFFFFFF}, b{1, 1}, r(2);
  ASSERT_EQ(mpbn_add_ctl(0, 2, a.data(), b.data(), r.data()), 0);
  EXPECT_EQ(r, a);
  ASSERT_EQ(mpbn_add_ctl(1, 2, a.data(), b.data(), r.data()), 0);
  EXPECT_EQ(r, (W{7, 0}));
  ASSERT_EQ(mpbn_sub_ctl(1, 2, r.data(), b.data(), r.data()), 0);
  EXPECT_EQ(r, a);
  ASSERT_EQ(mpbn_sub_ctl(0, 2, r.data(), b.data(), r.data()), 0);
  EXPECT_EQ(r, a);
  EXPECT_EQ(mpbn_add_ctl(2, 2, a.data(), b.data(), r.data()), core_err(MPBN_FID_ADD_CTL, MPBN_R_ARG));
}

TEST(MpbnMul, TruncatedAndFullProducts) {
  W a{0xFFFFFFFF, 0xFFFFFFFF}, b{0xFFFFFFFF, 0xFFFFFFFF};
  W lo(2), full(4);
  ASSERT_EQ(mpbn_mul(MPBN_ENDIAN_MF_U32, 8, a.data(), 8, b.data(), 8, lo.data()), 0);
  EXPECT_EQ(lo, (W{0, 1}));
  ASSERT_EQ(mpbn_mul(MPBN_ENDIAN_MF_U32, 8, a.data(), 8, b.data(), 16, full.data()), 0);
  EXPECT_EQ(full, (W{0xFFFFFFFF, 0xFFFFFFFE, 0, 1}));
  // In place on the first operand.
  W c{1, 3}, d{5};
  ASSERT_EQ(mpbn_mul(MPBN_ENDIAN_MF_U32, 8, c.data(), 4, d.data(), 8, c.data()), 0);
  EXPECT_EQ(c, (W{5, 15}));
  B x{0x01, 0x00}, y{0x02, 0x00}, z(4);
  ASSERT_EQ(mpbn_mul(MPBN_ENDIAN_MF_U8, 2, x.data(), 2, y.data(), 4, z.data()), 0);
  EXPECT_EQ(z, (B{0x00, 0x02, 0x00, 0x00}));
}

TEST(MpbnMul, LengthRelationsAreErrorsNotCrashes) {
  W a{1}, b{1, 2}, r(1);
  EXPECT_EQ(mpbn_mul(MPBN_ENDIAN_MF_U32, 4, a.data(), 8, b.data(), 4, r.data()), 0x4607);
  EXPECT_EQ(mpbn_mul(MPBN_ENDIAN_MF_U32, 8, b.data(), 4, a.data(), 4, r.data()), 0x4607);
  EXPECT_EQ(mpbn_mul(MPBN_ENDIAN_MF_U32, 4, nullptr, 4, a.data(), 4, r.data()), 0x4605);
  EXPECT_EQ(mpbn_mul(MPBN_ENDIAN_MF_U32, 6, a.data(), 4, a.data(), 8, r.data()), 0x4607);
  EXPECT_EQ(mpbn_mul(MPBN_ENDIAN_LF_U8, 4, a.data(), 4, a.data(), 4, r.data()), 0x4607);
  EXPECT_EQ(mpbn_add(MPBN_ENDIAN_MF_U32, 4, a.data(), 8, b.data(), 4, r.data(), nullptr),
            core_err(MPBN_FID_ADD, MPBN_R_ARG));
  EXPECT_EQ(mpbn_sub(MPBN_ENDIAN_MF_U32, 8, b.data(), 4, a.data(), 8, b.data(), nullptr),
            core_err(MPBN_FID_SUB, MPBN_R_ARG));
}

TEST(MpbnProducts, InnerProductAndU4mul) {
  mpbn_word_t h = 0, l = 0;
  ASSERT_EQ(mpbn_u4mul(0xFFFFFFFF, 0xFFFFFFFF, &h, &l), 0);
  EXPECT_EQ(h, 0xFFFFFFFEu);
  EXPECT_EQ(l, 1u);
  ASSERT_EQ(mpbn_inner_prod(MPBN_ENDIAN_MF_U32, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, &h, &l), 0);
  EXPECT_EQ(h, 0xFFFFFFFFu);
  EXPECT_EQ(l, 0xFFFFFFFFu);
  ASSERT_EQ(mpbn_inner_prod(MPBN_ENDIAN_MF_U8, 0xFF, 0xFF, 0xFF, 0xFF, &h, &l), 0);
  EXPECT_EQ(h, 0xFFu);
  EXPECT_EQ(l, 0xFFu);
  EXPECT_EQ(mpbn_u4mul(1, 1, nullptr, &l), core_err(MPBN_FID_U4MUL, MPBN_R_NULL));
}

TEST(MpbnComp, FirstDifferingWordDecides) {
  W a{2, 0}, b{1, 0xFFFFFFFF};
  int32_t c = 7;
  ASSERT_EQ(mpbn_comp(MPBN_ENDIAN_MF_U32, 8, a.data(), b.data(), &c), 0);
  EXPECT_EQ(c, 1);
  ASSERT_EQ(mpbn_comp(MPBN_ENDIAN_MF_U32, 8, b.data(), a.data(), &c), 0);
  EXPECT_EQ(c, -1);
  ASSERT_EQ(mpbn_comp(MPBN_ENDIAN_MF_U32, 8, a.data(), a.data(), &c), 0);
  EXPECT_EQ(c, 0);
  B x{0x00, 0xFF}, y{0x01, 0x00};
  ASSERT_EQ(mpbn_comp(MPBN_ENDIAN_MF_U8, 2, x.data(), y.data(), &c), 0);
  EXPECT_EQ(c, -1);
}

TEST(MpbnShift, ByteAndWordModes) {
  B a{0x01, 0x02, 0x03};
  ASSERT_EQ(mpbn_shift_left(MPBN_ENDIAN_MF_U8, 12, 3, a.data()), 0);
  EXPECT_EQ(a, (B{0x20, 0x30, 0x00}));
  B b{0x01, 0x02, 0x03};
  ASSERT_EQ(mpbn_shift_right(MPBN_ENDIAN_MF_U8, 4, 3, b.data()), 0);
  EXPECT_EQ(b, (B{0x00, 0x10, 0x20}));
  W w{0x80000001, 0x80000001};
  ASSERT_EQ(mpbn_shift_left(MPBN_ENDIAN_MF_U32, 1, 8, w.data()), 0);
  EXPECT_EQ(w, (W{0x00000003, 0x00000002}));
  ASSERT_EQ(mpbn_shift_right(MPBN_ENDIAN_MF_U32, 33, 8, w.data()), 0);
  EXPECT_EQ(w, (W{0, 1}));
  // Whole-word counts and counts beyond the length.
  W z{1, 2, 3};
  ASSERT_EQ(mpbn_shift_left(MPBN_ENDIAN_MF_U32, 32, 12, z.data()), 0);
  EXPECT_EQ(z, (W{2, 3, 0}));
  ASSERT_EQ(mpbn_shift_right(MPBN_ENDIAN_MF_U32, 200, 12, z.data()), 0);
  EXPECT_EQ(z, (W{0, 0, 0}));
  EXPECT_EQ(mpbn_shift_left(MPBN_ENDIAN_MF_U32, 1, 0, z.data()), core_err(MPBN_FID_SHIFT_LEFT, MPBN_R_ZERO_LENGTH));
}

TEST(MpbnTests, LeadWordZeroAndOne) {
  W a{0, 0, 5, 0}, z(4, 0);
  uint32_t idx = 99;
  ASSERT_EQ(mpbn_get_lead_word_index(4, a.data(), &idx), 0);
  EXPECT_EQ(idx, 2u);
  ASSERT_EQ(mpbn_get_lead_word_index(4, z.data(), &idx), 0);
  EXPECT_EQ(idx, 4u);

  uint32_t flag = 9;
  W one{0, 1}, notone{1, 1};
  ASSERT_EQ(mpbn_is_one(MPBN_ENDIAN_MF_U32, 8, one.data(), &flag), 0);
  EXPECT_EQ(flag, 1u);
  ASSERT_EQ(mpbn_is_one(MPBN_ENDIAN_MF_U32, 8, notone.data(), &flag), 0);
  EXPECT_EQ(flag, 0u);
  B bone{0, 0, 1};
  ASSERT_EQ(mpbn_is_one(MPBN_ENDIAN_MF_U8, 3, bone.data(), &flag), 0);
  EXPECT_EQ(flag, 1u);
  ASSERT_EQ(mpbn_is_zero(16, z.data(), &flag), 0);
  EXPECT_EQ(flag, 1u);
  ASSERT_EQ(mpbn_is_zero(16, a.data(), &flag), 0);
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(mpbn_is_zero(0, a.data(), &flag), core_err(MPBN_FID_IS_ZERO, MPBN_R_ZERO_LENGTH));
  EXPECT_EQ(mpbn_is_one(MPBN_ENDIAN_MF_U32, 0, a.data(), &flag), core_err(MPBN_FID_IS_ONE, MPBN_R_ZERO_LENGTH));
}

TEST(MpbnSteps, IncrementDecrementWrap) {
  B a{0xFF, 0xFF};
  ASSERT_EQ(mpbn_increment(MPBN_ENDIAN_MF_U8, 2, a.data()), 0);
  EXPECT_EQ(a, (B{0, 0}));
  ASSERT_EQ(mpbn_decrement(MPBN_ENDIAN_MF_U8, 2, a.data()), 0);
  EXPECT_EQ(a, (B{0xFF, 0xFF}));
  W w{0, 0xFFFFFFFF};
  mpbn_word_t carry = 9;
  ASSERT_EQ(mpbn_increment_ctl(0, 8, w.data(), &carry), 0);
  EXPECT_EQ(w, (W{0, 0xFFFFFFFF}));
  EXPECT_EQ(carry, 0u);
  ASSERT_EQ(mpbn_increment_ctl(1, 8, w.data(), &carry), 0);
  EXPECT_EQ(w, (W{1, 0}));
  ASSERT_EQ(mpbn_decrement(MPBN_ENDIAN_MF_U32, 8, w.data()), 0);
  EXPECT_EQ(w, (W{0, 0xFFFFFFFF}));
  // An unknown layout leaves the value alone.
  EXPECT_EQ(mpbn_decrement(MPBN_ENDIAN_LF_U32, 8, w.data()), core_err(MPBN_FID_DECREMENT, MPBN_R_ARG));
  EXPECT_EQ(w, (W{0, 0xFFFFFFFF}));
}

TEST(MpbnWords, MovesAndMaskedSelection) {
  W a{1, 2, 3}, b{4, 5, 6}, d(3);
  ASSERT_EQ(mpbn_word_copy_ctl(d.data(), a.data(), b.data(), 3, 1), 0);
  EXPECT_EQ(d, a);
  ASSERT_EQ(mpbn_word_copy_ctl(d.data(), a.data(), b.data(), 3, 0), 0);
  EXPECT_EQ(d, b);
  ASSERT_EQ(mpbn_word_set_word(d.data(), 7, 3), 0);
  EXPECT_EQ(d, (W{7, 7, 7}));
  ASSERT_EQ(mpbn_word_copy(d.data(), a.data(), 3), 0);
  EXPECT_EQ(d, a);
  ASSERT_EQ(mpbn_word_clear(d.data(), 3), 0);
  EXPECT_EQ(d, (W{0, 0, 0}));
  B bytes{1, 2, 3, 4};
  ASSERT_EQ(mpbn_reverse_byte_order(1, bytes.data()), 0);
  EXPECT_EQ(bytes, (B{4, 3, 2, 1}));
}

}  // namespace
