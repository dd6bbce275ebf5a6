// The suite runs three times (see tests/CMakeLists.txt): on the best field
// products of the CPU, with ZEB_TEST_PORTABLE=ec on the portable ones, and
// with ZEB_TEST_PORTABLE=ec_general with P-521 on the general Montgomery
// reduction instead of its prime's form, so that every vector and oracle
// case meets each. The choice is made again before every test: tests that
// switch paths themselves give the CPU's best back when they end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ec_group.h"
#include "quarzel/cpu.h"
#include "quarzel/testing.h"

namespace {

std::string requested() {
  const char* v = std::getenv("ZEB_TEST_PORTABLE");
  return v != nullptr ? v : "";
}

class PathListener : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    quarzel::testing::force_portable(quarzel::testing::Path::ec, requested() == "ec");
    quarzel::testing::force_portable(quarzel::testing::Path::ec_general, requested() == "ec_general");
  }
  void OnTestProgramEnd(const ::testing::UnitTest&) override {
    quarzel::testing::force_portable(quarzel::testing::Path::ec, false);
    quarzel::testing::force_portable(quarzel::testing::Path::ec_general, false);
  }
};

const bool registered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new PathListener);
  return true;
}();

TEST(EcPath, RunsOnTheRequestedProducts) {
  ASSERT_TRUE(registered);
  const quarzel::ec::ecpi_group_t& p521 = ect::group(20);
  const quarzel::ec::ecpi_group_t& p256 = ect::group(18);
  const bool adx = quarzel::cpu_features().bmi2 && quarzel::cpu_features().adx;
  EXPECT_EQ(requested() != "ec_general", p521.uses_special_form());
  EXPECT_EQ(requested().empty() && adx, p521.uses_adx());
  EXPECT_EQ(requested() != "ec" && adx, p256.uses_adx());
  // The windowed products (ECDH) on the curves' own BMI2/ADX code in the
  // first run, on the template in the others.
  EXPECT_EQ(requested().empty() && adx, p521.uses_window_kernels());
  EXPECT_EQ(requested() != "ec" && adx, p256.uses_window_kernels());
}

}  // namespace
