// The entry points that do no work answer truthfully; random numbers and the
// mechanism queries do their work.
#include <functional>
#include <string>
#include <vector>

#include "support/p11_module.h"

namespace zt {
namespace {

class Unsupported : public P11Test {
 protected:
  void SetUp() override {
    P11Test::SetUp();
    add_token();
    initialize();
  }
};

struct NoWork {
  const char* name;
  CK_RV rv;
  std::function<CK_RV(CK_FUNCTION_LIST_3_0*)> call;  // every pointer null
};

// Each one says so on standard error (never on the application's standard
// output), whatever the log level, and writes through none of its (null)
// pointers. Before C_Initialize each answers CKR_CRYPTOKI_NOT_INITIALIZED and
// writes nothing.
TEST_F(Unsupported, EntryPointsWithoutWork) {
  const std::vector<NoWork> cases = {
      {"C_GetOperationState", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_GetOperationState(1, nullptr, nullptr); }},
      {"C_SetOperationState", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_SetOperationState(1, nullptr, 0, 0, 0); }},
      {"C_SeedRandom", CKR_RANDOM_SEED_NOT_SUPPORTED, [](auto f) { return f->C_SeedRandom(1, nullptr, 0); }},
      {"C_GetFunctionStatus", CKR_FUNCTION_NOT_PARALLEL, [](auto f) { return f->C_GetFunctionStatus(1); }},
      {"C_CancelFunction", CKR_FUNCTION_NOT_PARALLEL, [](auto f) { return f->C_CancelFunction(1); }},
      {"C_WaitForSlotEvent", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_WaitForSlotEvent(0, nullptr, nullptr); }},
      {"C_LoginUser", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_LoginUser(1, CKU_USER, nullptr, 0, nullptr, 0); }},
      {"C_SessionCancel", CKR_FUNCTION_NOT_SUPPORTED, [](auto f) { return f->C_SessionCancel(1, 0); }},
      {"C_MessageEncryptInit", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_MessageEncryptInit(1, nullptr, 0); }},
      {"C_EncryptMessage", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_EncryptMessage(1, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr); }},
      {"C_EncryptMessageBegin", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_EncryptMessageBegin(1, nullptr, 0, nullptr, 0); }},
      {"C_EncryptMessageNext", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_EncryptMessageNext(1, nullptr, 0, nullptr, 0, nullptr, nullptr, 0); }},
      {"C_MessageEncryptFinal", CKR_FUNCTION_NOT_SUPPORTED, [](auto f) { return f->C_MessageEncryptFinal(1); }},
      {"C_MessageDecryptInit", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_MessageDecryptInit(1, nullptr, 0); }},
      {"C_DecryptMessage", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_DecryptMessage(1, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr); }},
      {"C_DecryptMessageBegin", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_DecryptMessageBegin(1, nullptr, 0, nullptr, 0); }},
      {"C_DecryptMessageNext", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_DecryptMessageNext(1, nullptr, 0, nullptr, 0, nullptr, nullptr, 0); }},
      {"C_MessageDecryptFinal", CKR_FUNCTION_NOT_SUPPORTED, [](auto f) { return f->C_MessageDecryptFinal(1); }},
      {"C_MessageSignInit", CKR_FUNCTION_NOT_SUPPORTED, [](auto f) { return f->C_MessageSignInit(1, nullptr, 0); }},
      {"C_SignMessage", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_SignMessage(1, nullptr, 0, nullptr, 0, nullptr, nullptr); }},
      {"C_SignMessageBegin", CKR_FUNCTION_NOT_SUPPORTED, [](auto f) { return f->C_SignMessageBegin(1, nullptr, 0); }},
      {"C_SignMessageNext", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_SignMessageNext(1, nullptr, 0, nullptr, 0, nullptr, nullptr); }},
      {"C_MessageSignFinal", CKR_FUNCTION_NOT_SUPPORTED, [](auto f) { return f->C_MessageSignFinal(1); }},
      {"C_MessageVerifyInit", CKR_FUNCTION_NOT_SUPPORTED, [](auto f) { return f->C_MessageVerifyInit(1, nullptr, 0); }},
      {"C_VerifyMessage", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_VerifyMessage(1, nullptr, 0, nullptr, 0, nullptr, 0); }},
      {"C_VerifyMessageBegin", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_VerifyMessageBegin(1, nullptr, 0); }},
      {"C_VerifyMessageNext", CKR_FUNCTION_NOT_SUPPORTED,
       [](auto f) { return f->C_VerifyMessageNext(1, nullptr, 0, nullptr, 0, nullptr, 0); }},
      {"C_MessageVerifyFinal", CKR_FUNCTION_NOT_SUPPORTED, [](auto f) { return f->C_MessageVerifyFinal(1); }},
  };
  for (const bool initialised : {true, false}) {
    if (!initialised) {
      ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
    }
    for (const auto& c : cases) {
      testing::internal::CaptureStdout();
      testing::internal::CaptureStderr();
      const CK_RV rv = c.call(p11);
      const std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.name;
      EXPECT_EQ(rv, initialised ? c.rv : CKR_CRYPTOKI_NOT_INITIALIZED) << c.name;
      EXPECT_EQ(err, initialised ? std::string("[") + c.name + "] not ready\n" : "") << c.name;
    }
  }
}

TEST_F(Unsupported, GenerateRandomFillsTheBuffer) {
  const CK_SESSION_HANDLE s = open(0, CKF_SERIAL_SESSION);
  std::vector<CK_BYTE> a(32, 0), b(32, 0);
  ASSERT_EQ(p11->C_GenerateRandom(s, a.data(), a.size()), CKR_OK);
  ASSERT_EQ(p11->C_GenerateRandom(s, b.data(), b.size()), CKR_OK);
  EXPECT_NE(a, std::vector<CK_BYTE>(32, 0));
  EXPECT_NE(a, b);
  // Large requests are served whole, up to the last byte.
  std::vector<CK_BYTE> big(200000, 0);
  ASSERT_EQ(p11->C_GenerateRandom(s, big.data(), big.size()), CKR_OK);
  size_t zeros_at_end = 0;
  for (size_t i = big.size() - 64; i < big.size(); ++i) zeros_at_end += big[i] == 0;
  EXPECT_LT(zeros_at_end, 8u);
  EXPECT_EQ(p11->C_GenerateRandom(s, nullptr, 0), CKR_OK);
  EXPECT_EQ(p11->C_GenerateRandom(s, nullptr, 16), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_GenerateRandom(0, a.data(), a.size()), CKR_SESSION_HANDLE_INVALID);
  EXPECT_TRUE(token_info().flags & CKF_RNG);
}

// The mechanism queries report the crypto entry points' table.
TEST_F(Unsupported, MechanismQueries) {
  CK_ULONG n = 99;
  ASSERT_EQ(p11->C_GetMechanismList(0, nullptr, &n), CKR_OK);
  std::vector<CK_MECHANISM_TYPE> list(n + 1, 0xDEAD);
  CK_ULONG room = list.size();
  ASSERT_EQ(p11->C_GetMechanismList(0, list.data(), &room), CKR_OK);
  EXPECT_EQ(room, n);
  EXPECT_EQ(list[n], 0xDEADu);
  for (CK_ULONG i = 0; i < n; ++i) {
    CK_MECHANISM_INFO info{};
    EXPECT_EQ(p11->C_GetMechanismInfo(0, list[i], &info), CKR_OK) << list[i];
    EXPECT_NE(info.flags, 0u) << list[i];
    EXPECT_LE(info.ulMinKeySize, info.ulMaxKeySize) << list[i];
  }
  if (n > 0) {
    room = n - 1;
    EXPECT_EQ(p11->C_GetMechanismList(0, list.data(), &room), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(room, n);
  }
  CK_MECHANISM_INFO info{};
  EXPECT_EQ(p11->C_GetMechanismInfo(0, CKM_VENDOR_DEFINED + 1, &info), CKR_MECHANISM_INVALID);
  EXPECT_EQ(p11->C_GetMechanismInfo(0, CKM_AES_ECB, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_GetMechanismList(0, nullptr, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_GetMechanismList(5, nullptr, &n), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(p11->C_GetMechanismInfo(5, CKM_AES_ECB, &info), CKR_SLOT_ID_INVALID);
}

}  // namespace
}  // namespace zt
