// The tool's names for result codes: a PKCS#11 value carries the name the
// standard gives that value (from the table the module prints from too).
#include <gtest/gtest.h>

#include <pkcs11/ckr_names.h>

#include <cstring>

#include "rv_names.h"

namespace {

TEST(RvNames, PkcsValuesCarryTheStandardName) {
  int named = 0;
  for (uint32_t code = 0; code < 0x1000; ++code) {
    const velm::RvName* n = velm::find_rv_name(code);
    if (n == nullptr || std::strncmp(n->name, "CKR_", 4) != 0) continue;
    ++named;
    const char* standard = zeb::ckr_name(code);
    ASSERT_NE(standard, nullptr) << std::hex << code;
    EXPECT_STREQ(n->name, standard) << std::hex << code;
  }
  EXPECT_GT(named, 0);
}

TEST(RvNames, SecurityOfficerSessionIsB8AndB7IsUnnamed) {
  // 0xB7 was listed as the security-officer code; PKCS#11 gives 0xB7 to
  // CKR_SESSION_READ_ONLY_EXISTS, which the tool never meets.
  const velm::RvName* so = velm::find_rv_name(CKR_SESSION_READ_WRITE_SO_EXISTS);
  ASSERT_NE(so, nullptr);
  EXPECT_STREQ(so->name, "CKR_SESSION_READ_WRITE_SO_EXISTS");
  EXPECT_STREQ(so->meaning, "a security officer session is open");
  EXPECT_EQ(velm::find_rv_name(CKR_SESSION_READ_ONLY_EXISTS), nullptr);
}

TEST(RvNames, BackEndCodesKeepTheirOwnNames) {
  const velm::RvName* mac = velm::find_rv_name(0x560);
  ASSERT_NE(mac, nullptr);
  EXPECT_STREQ(mac->name, "SWD_ERR_MAC_MISMATCH");
  EXPECT_EQ(velm::find_rv_name(0x4), nullptr);
}

}  // namespace
