// The suite runs four times (see tests/CMakeLists.txt): on the best kernels
// of the CPU, with ZEB_TEST_PORTABLE=mpbn on the portable Montgomery ones,
// with ZEB_TEST_PORTABLE=mpbn_exp2 with the CRT halves paired on the
// portable model of the IFMA kernels, and with ZEB_TEST_PORTABLE=mpbn_ifma
// on the BMI2/ADX kernels alone, so that every vector and interop case meets
// each.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "quarzel/cpu.h"
#include "quarzel/mpbn.h"
#include "quarzel/testing.h"

namespace {

std::string requested() {
  const char* v = std::getenv("ZEB_TEST_PORTABLE");
  return v != nullptr ? v : "";
}

class PathEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    quarzel::testing::force_portable(quarzel::testing::Path::mpbn, requested() == "mpbn");
    quarzel::testing::force_portable(quarzel::testing::Path::mpbn_exp2, requested() == "mpbn_exp2");
    quarzel::testing::force_portable(quarzel::testing::Path::mpbn_ifma, requested() == "mpbn_ifma");
  }
  void TearDown() override {
    quarzel::testing::force_portable(quarzel::testing::Path::mpbn, false);
    quarzel::testing::force_portable(quarzel::testing::Path::mpbn_exp2, false);
    quarzel::testing::force_portable(quarzel::testing::Path::mpbn_ifma, false);
  }
};

const bool registered = (::testing::AddGlobalTestEnvironment(new PathEnvironment), true);

TEST(RsaPath, RunsOnTheRequestedKernels) {
  ASSERT_TRUE(registered);
  const std::string mont = quarzel::mpbn_mont_kernel_name(16), pair = quarzel::mpbn_exp2_kernel_name(16);
  const quarzel::CpuFeatures& cpu = quarzel::cpu_features();
  if (requested() == "mpbn") {
    EXPECT_EQ("portable16", mont);
    EXPECT_EQ("none", pair);
    return;
  }
  if (cpu.bmi2 && cpu.adx) {
    EXPECT_EQ("adx16", mont);
  }
  if (requested() == "mpbn_exp2") {
    EXPECT_EQ("model16", pair);
  } else if (requested() == "mpbn_ifma") {
    EXPECT_EQ("none", pair);
  } else {
    EXPECT_EQ(cpu.avx512ifma ? "ifma16" : "none", pair);
  }
}

}  // namespace
