// Constant-time masks against plain comparisons, at the edges of both word
// sizes where a sign-bit formula goes wrong first.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "quarzel/ct.h"

namespace {

namespace ct = quarzel::ct;

template <class W>
std::vector<W> edges() {
  const W top = W{1} << (sizeof(W) * 8 - 1);
  const W max = std::numeric_limits<W>::max();
  return {0, 1, 2, 0x7F, 0x80, 0xFF, top - 1, top, top + 1, max - 1, max};
}

template <class W>
void check_all() {
  const W ones = ~W{0};
  for (const W a : edges<W>()) {
    EXPECT_EQ(ct::is_zero<W>(a), a == 0 ? ones : 0) << a;
    EXPECT_EQ(ct::is_nonzero<W>(a), a != 0 ? ones : 0) << a;
    EXPECT_EQ(ct::mask_from_bit<W>(a), (a & 1) ? ones : 0) << a;
    EXPECT_EQ(ct::msb_mask<W>(a), (a >> (sizeof(W) * 8 - 1)) ? ones : 0) << a;
    for (const W b : edges<W>()) {
      EXPECT_EQ(ct::eq<W>(a, b), a == b ? ones : 0) << a << " " << b;
      EXPECT_EQ(ct::lt<W>(a, b), a < b ? ones : 0) << a << " " << b;
      EXPECT_EQ(ct::ge<W>(a, b), a >= b ? ones : 0) << a << " " << b;
      EXPECT_EQ(ct::select<W>(ct::lt<W>(a, b), a, b), a < b ? a : b);
    }
  }
  EXPECT_EQ(ct::mask_from_bool<W>(true), ones);
  EXPECT_EQ(ct::mask_from_bool<W>(false), W{0});
}

TEST(ConstantTimeMask, MatchesPlainComparisonsOn32BitWords) { check_all<uint32_t>(); }
TEST(ConstantTimeMask, MatchesPlainComparisonsOn64BitWords) { check_all<uint64_t>(); }

TEST(ConstantTimeMask, SelectAndSwapWholeArrays) {
  uint64_t a[3] = {1, 2, 3}, b[3] = {4, 5, 6}, r[3];
  ct::select_words<uint64_t>(r, ~uint64_t{0}, a, b, 3);
  EXPECT_EQ(r[2], 3u);
  ct::select_words<uint64_t>(r, 0, a, b, 3);
  EXPECT_EQ(r[0], 4u);
  ct::swap_words<uint64_t>(0, a, b, 3);
  EXPECT_EQ(a[1], 2u);
  ct::swap_words<uint64_t>(~uint64_t{0}, a, b, 3);
  EXPECT_EQ(a[1], 5u);
  EXPECT_EQ(b[1], 2u);
}

}  // namespace
