// Exact error words of the word layer and the mpi_t layer for the inputs
// callers can reach: zero divisors, even moduli, zero lengths, short
// quotient arrays, null pointers.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "quarzel/mpbn.h"
#include "quarzel/mpi.h"

namespace {

using W = std::vector<mpbn_word_t>;

struct ErrorCase {
  const char* name;
  std::function<core_ret_t()> call;
  core_ret_t want;
};

TEST(ErrorWords, WordLayer) {
  W two{0, 2}, zero{0, 0}, odd{0, 7}, even{0, 8}, four{1, 2, 3, 4}, q(4), r(2);
  mpbn_mont_ctx_t ctx{};
  uint32_t flag = 0;
  const ErrorCase cases[] = {
      {"div by zero", [&] { return mpbn_div(2, two.data(), 2, zero.data(), 2, q.data(), r.data()); }, 0x4736},
      {"div short quotient", [&] { return mpbn_div(4, four.data(), 2, odd.data(), 3, q.data(), r.data()); }, 0x4737},
      {"div zero length", [&] { return mpbn_div(0, two.data(), 2, odd.data(), 2, q.data(), r.data()); }, 0x473A},
      {"div null quotient", [&] { return mpbn_div(2, two.data(), 2, odd.data(), 2, nullptr, r.data()); }, 0x4705},
      {"div_1word by zero", [&] { return mpbn_div_1word(2, two.data(), 0, 2, q.data(), 0, nullptr); }, 0x4836},
      {"div_1word short", [&] { return mpbn_div_1word(4, four.data(), 3, 3, q.data(), 0, nullptr); }, 0x4837},
      {"mod by zero", [&] { return mpbn_mod(2, two.data(), 2, zero.data(), r.data()); }, 0x3B36},
      {"mod zero length", [&] { return mpbn_mod(2, two.data(), 0, odd.data(), r.data()); }, 0x3B3A},
      {"mod_mul by zero", [&] { return mpbn_mod_mul(2, two.data(), two.data(), zero.data(), r.data()); }, 0x3B36},
      {"mod_mul zero length", [&] { return mpbn_mod_mul(0, two.data(), two.data(), odd.data(), r.data()); }, 0x3E3A},
      {"mont_init even", [&] { return mpbn_mont_init(&ctx, 2, even.data(), nullptr, r.data()); }, 0x393B},
      {"mont_init zero", [&] { return mpbn_mont_init(&ctx, 2, zero.data(), nullptr, r.data()); }, 0x393B},
      {"mont_init zero length", [&] { return mpbn_mont_init(&ctx, 0, odd.data(), nullptr, r.data()); }, 0x393A},
      {"mont_mult even", [&] { return mpbn_mont_mult(&ctx, 2, even.data(), two.data(), two.data(), r.data()); },
       0x3A3B},
      {"mont_mod_mul even", [&] { return mpbn_mont_mod_mul(2, two.data(), two.data(), even.data(), r.data()); },
       0x3F3B},
      {"mod_exp even", [&] { return mpbn_mod_exp(2, two.data(), even.data(), 2, two.data(), r.data()); }, 0x403B},
      {"mod_exp zero length", [&] { return mpbn_mod_exp(0, two.data(), odd.data(), 2, two.data(), r.data()); },
       0x403A},
      {"inv_fast even", [&] { return mpbn_mod_inv_fast(2, two.data(), even.data(), r.data()); }, 0x4D3B},
      {"inv no inverse odd", [&] { return mpbn_mod_inv(2, zero.data(), odd.data(), r.data()); }, 0x4D41},
      {"inv no inverse even", [&] { return mpbn_mod_inv(2, two.data(), even.data(), r.data()); }, 0x4241},
      {"gcd with zero", [&] { return mpbn_gcd(2, 2, two.data(), 2, zero.data(), 2, r.data()); }, 0x3B36},
      {"gcd zero length", [&] { return mpbn_gcd(2, 2, two.data(), 2, odd.data(), 0, r.data()); }, 0x4A3A},
      {"coprime null", [&] { return mpbn_coprime_a_minus_1_with_0x10001(2, two.data(), nullptr); }, 0x4B05},
      {"is_zero length", [&] { return mpbn_is_zero(6, two.data(), &flag); }, 0x2A07},
  };
  for (const auto& c : cases) EXPECT_EQ(c.call(), c.want) << c.name;
}

TEST(ErrorWords, MpiLayer) {
  uint8_t b2[4] = {0, 0, 0, 2}, b0[4] = {}, b7[4] = {0, 0, 0, 7}, b8[4] = {0, 0, 0, 8}, out[4] = {};
  mpi_t two = mpi_default, zero = mpi_default, seven = mpi_default, eight = mpi_default, x = mpi_default,
        empty = mpi_default;
  ASSERT_EQ(mpi_mapping(&two, MPI_ENDIAN_MF_U8, 4, b2), 0);
  ASSERT_EQ(mpi_mapping(&zero, MPI_ENDIAN_MF_U8, 4, b0), 0);
  ASSERT_EQ(mpi_mapping(&seven, MPI_ENDIAN_MF_U8, 4, b7), 0);
  ASSERT_EQ(mpi_mapping(&eight, MPI_ENDIAN_MF_U8, 4, b8), 0);
  ASSERT_EQ(mpi_mapping(&x, MPI_ENDIAN_MF_U8, 4, out), 0);
  uint32_t flag = 0;
  const ErrorCase cases[] = {
      {"div by zero", [&] { return mpi_div(&x, nullptr, &two, &zero); }, 0x4736},
      {"mod by zero", [&] { return mpi_mod(&x, &two, &zero); }, 0x3B36},
      {"mod_mul by zero", [&] { return mpi_mod_mul(&x, &two, &two, &zero); }, 0x3B36},
      {"mod_exp even", [&] { return mpi_mod_exp(&x, &two, &two, &eight); }, 0x403B},
      {"mod_exp empty modulus", [&] { return mpi_mod_exp(&empty, &empty, &two, &empty); }, 0x403A},
      {"mod_inv odd none", [&] { return mpi_mod_inv(&x, &zero, &seven); }, 0x4D41},
      {"mod_inv even none", [&] { return mpi_mod_inv(&x, &two, &eight); }, 0x4241},
      {"mod_inv_prime even", [&] { return mpi_mod_inv_prime(&x, &two, &eight); }, 0x403B},
      {"gcd with zero", [&] { return mpi_gcd(&x, &two, &zero); }, 0x3B36},
      {"check_coprime with zero", [&] { return mpi_check_coprime(&two, &zero, &flag); }, 0x3B36},
      {"read_string radix", [&] { return mpi_read_string(&x, MPI_ENDIAN_MF_U8, 10, "12"); }, 0x5507},
      {"read_string long", [&] { return mpi_read_string(&x, MPI_ENDIAN_MF_U8, 16, "0102030405"); }, 0x5508},
      {"alloc null", [&] { return mpi_alloc(nullptr, 4); }, 0x5205},
      {"mod_exp null", [&] { return mpi_mod_exp(&x, nullptr, &two, &seven); }, 0x7305},
      {"is_zero empty", [&] { return mpi_is_zero(&empty, &flag); }, 0x643A},
      {"bits2octets zero order", [&] { return mpi_bits2octets(4, b2, 32, b0, out); }, 0x3B36},
  };
  for (const auto& c : cases) EXPECT_EQ(c.call(), c.want) << c.name;
}

}  // namespace
