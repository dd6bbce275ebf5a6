// Runs a GCM test once per GHASH path: portable, 8-block CLMUL, and 16-block
// VAES/VPCLMULQDQ where the CPU has it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "quarzel/aes.h"
#include "quarzel/cpu.h"
#include "quarzel/testing.h"

namespace zt {

enum class GcmPath { kPortable, kClmul, kVaes };

inline std::string gcm_path_name(const ::testing::TestParamInfo<GcmPath>& info) {
  return info.param == GcmPath::kPortable ? "Portable" : info.param == GcmPath::kClmul ? "Clmul" : "Vaes";
}

inline bool gcm_vaes_cpu() { return quarzel::cipher_accel_cpu_supported() && quarzel::cpu_features().avx512vaes; }

class GcmPathTest : public ::testing::TestWithParam<GcmPath> {
 protected:
  void SetUp() override {
    if (GetParam() != GcmPath::kPortable && !quarzel::cipher_accel_cpu_supported()) {
      GTEST_SKIP() << "CPU lacks AES-NI/PCLMULQDQ";
    }
    if (GetParam() == GcmPath::kVaes && !gcm_vaes_cpu()) GTEST_SKIP() << "CPU lacks AVX-512 VAES/VPCLMULQDQ";
    quarzel::testing::force_portable(quarzel::testing::Path::aes, GetParam() == GcmPath::kPortable);
    quarzel::testing::force_portable(quarzel::testing::Path::gcm_vaes, GetParam() == GcmPath::kClmul);
  }
  void TearDown() override {
    quarzel::testing::force_portable(quarzel::testing::Path::aes, false);
    quarzel::testing::force_portable(quarzel::testing::Path::gcm_vaes, false);
  }
  quarzel::CipherAccel expected_accel() const {
    return GetParam() == GcmPath::kPortable ? quarzel::CipherAccel::kPortable : quarzel::CipherAccel::kAesNi;
  }
  uint32_t expected_wide() const { return GetParam() == GcmPath::kVaes ? 1 : 0; }
};

#define ZT_INSTANTIATE_GCM_PATHS(suite)                                                                     \
  INSTANTIATE_TEST_SUITE_P(Paths, suite,                                                                   \
                           ::testing::Values(zt::GcmPath::kPortable, zt::GcmPath::kClmul, zt::GcmPath::kVaes), \
                           zt::gcm_path_name)

}  // namespace zt
