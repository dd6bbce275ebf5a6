// The suite runs twice (see tests/CMakeLists.txt): on the best Montgomery
// kernels of the CPU, and with ZEB_TEST_PORTABLE=mpbn on the portable ones,
// so that every vector and interop case meets both.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "quarzel/cpu.h"
#include "quarzel/mpbn.h"
#include "quarzel/testing.h"

namespace {

bool portable_requested() {
  const char* v = std::getenv("ZEB_TEST_PORTABLE");
  return v != nullptr && std::strcmp(v, "mpbn") == 0;
}

class PathEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { quarzel::testing::force_portable(quarzel::testing::Path::mpbn, portable_requested()); }
  void TearDown() override { quarzel::testing::force_portable(quarzel::testing::Path::mpbn, false); }
};

const bool registered = (::testing::AddGlobalTestEnvironment(new PathEnvironment), true);

TEST(RsaPath, RunsOnTheRequestedKernels) {
  ASSERT_TRUE(registered);
  const std::string name = quarzel::mpbn_mont_kernel_name(16);
  if (portable_requested()) {
    EXPECT_EQ("portable16", name);
  } else if (quarzel::cpu_features().bmi2 && quarzel::cpu_features().adx) {
    EXPECT_EQ("adx16", name);
  }
}

}  // namespace
