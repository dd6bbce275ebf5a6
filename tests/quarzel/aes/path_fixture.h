// Runs a test once per AES/GHASH instruction-set path.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "quarzel/aes.h"
#include "quarzel/testing.h"

namespace zt {

enum class Path { kPortable, kAccel };

inline std::string path_name(const ::testing::TestParamInfo<Path>& info) {
  return info.param == Path::kPortable ? "Portable" : "AesNi";
}

class PathTest : public ::testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    if (GetParam() == Path::kAccel && !quarzel::cipher_accel_cpu_supported()) {
      GTEST_SKIP() << "CPU lacks AES-NI/PCLMULQDQ";
    }
    quarzel::testing::force_portable(quarzel::testing::Path::aes, GetParam() == Path::kPortable);
  }
  void TearDown() override { quarzel::testing::force_portable(quarzel::testing::Path::aes, false); }
  quarzel::CipherAccel expected_accel() const {
    return GetParam() == Path::kPortable ? quarzel::CipherAccel::kPortable : quarzel::CipherAccel::kAesNi;
  }
};

#define ZT_INSTANTIATE_PATHS(suite) \
  INSTANTIATE_TEST_SUITE_P(Paths, suite, ::testing::Values(zt::Path::kPortable, zt::Path::kAccel), zt::path_name)

}  // namespace zt
