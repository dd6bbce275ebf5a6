// No argument makes the module crash: every pointer the frame's entry points
// take is checked at the boundary, before and after start-up.
#include <string>
#include <vector>

#include "support/p11_module.h"

namespace zt {
namespace {

class Arguments : public P11Test {
 protected:
  // Calls every frame entry point with null for each of its pointers; none
  // may succeed, and none may crash.
  void call_all_with_nulls(CK_SESSION_HANDLE s) {
    CK_SLOT_ID slots[4];
    CK_UTF8CHAR pin[] = "user-pin-1234";
    CK_UTF8CHAR label[32] = {'l'};
    const std::vector<std::pair<const char*, CK_RV>> results = {
        {"C_GetInfo", p11->C_GetInfo(nullptr)},
        {"C_GetSlotList count", p11->C_GetSlotList(CK_TRUE, slots, nullptr)},
        {"C_GetSlotInfo", p11->C_GetSlotInfo(0, nullptr)},
        {"C_GetTokenInfo", p11->C_GetTokenInfo(0, nullptr)},
        {"C_GetMechanismList", p11->C_GetMechanismList(0, nullptr, nullptr)},
        {"C_GetMechanismInfo", p11->C_GetMechanismInfo(0, CKM_AES_ECB, nullptr)},
        {"C_InitToken pin", p11->C_InitToken(0, nullptr, 13, label)},
        {"C_InitToken label", p11->C_InitToken(0, pin, 13, nullptr)},
        {"C_InitPIN", p11->C_InitPIN(s, nullptr, 13)},
        {"C_SetPIN old", p11->C_SetPIN(s, nullptr, 13, pin, 13)},
        {"C_SetPIN new", p11->C_SetPIN(s, pin, 13, nullptr, 13)},
        {"C_OpenSession", p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr)},
        {"C_GetSessionInfo", p11->C_GetSessionInfo(s, nullptr)},
        {"C_Login", p11->C_Login(s, CKU_USER, nullptr, 13)},
        {"C_GenerateRandom", p11->C_GenerateRandom(s, nullptr, 32)},
        {"C_GetInterfaceList", p11->C_GetInterfaceList(nullptr, nullptr)},
        {"C_GetInterface", p11->C_GetInterface(nullptr, nullptr, nullptr, 0)},
        {"C_GetFunctionList", P11Module::get().list2()->C_GetFunctionList(nullptr)},
    };
    for (const auto& [name, rv] : results) EXPECT_NE(rv, CKR_OK) << name;
  }
};

TEST_F(Arguments, NullPointersBeforeStartUp) { call_all_with_nulls(1); }

TEST_F(Arguments, NullPointersAfterStartUp) {
  add_token();
  initialize();
  const CK_SESSION_HANDLE s = open();
  ASSERT_EQ(login(s, CKU_SO), CKR_OK);
  call_all_with_nulls(s);
  EXPECT_EQ(session_info(s).state, CKS_RW_SO_FUNCTIONS);
  EXPECT_EQ(p11_text(token_info().label), "ZEB-Default-Token-Label");
}

// Lengths the core cannot take (it counts in 32 bits) are refused, never
// truncated into a valid one.
TEST_F(Arguments, LengthsBeyond32Bits) {
  add_token();
  initialize();
  const CK_SESSION_HANDLE s = open();
  const std::string pin = kP11UserPin;
  const CK_ULONG wrapped = (CK_ULONG{1} << 32) + pin.size();
  EXPECT_EQ(p11->C_Login(s, CKU_USER, p11_bytes(pin), wrapped), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(p11->C_SetPIN(s, p11_bytes(pin), wrapped, p11_bytes(pin), pin.size()), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(session_info(s).state, CKS_RW_PUBLIC_SESSION);
}

}  // namespace
}  // namespace zt
