// What every entry point returns on its error paths is a value of the PKCS#11
// v3.0 result table, whatever the back end answered; before C_Initialize
// every entry point but the four that work without it answers
// CKR_CRYPTOKI_NOT_INITIALIZED.
#include <pkcs11/ckr_names.h>

#include <functional>
#include <string>
#include <vector>

#include "support/p11_module.h"

namespace zt {
namespace {

// A value of the PKCS#11 v3.0 result table (the names table also holds the
// later ones, from CKR_KEY_EXHAUSTED on, and CKR_VENDOR_DEFINED).
bool in_v30_table(CK_RV rv) { return rv <= CKR_OPERATION_CANCEL_FAILED && zeb::ckr_name(rv) != nullptr; }

// What the calls are given: every pointer is null when `null` is set.
struct Args {
  explicit Args(bool null) {
    if (null) return;
    data = data_buf.data();
    out = out_buf.data();
    out_len = &out_len_v;
    ulong = &ulong_v;
    mech = &mech_v;
    attrs = attr_buf;
    handle = &handle_v;
    handles = handle_buf;
    pin = p11_bytes(pin_buf);
    label = label_buf;
    slots = slot_buf;
    info = &info_v;
    slot_info = &slot_info_v;
    token_info = &token_info_v;
    session_info = &session_info_v;
    mech_info = &mech_info_v;
    mechs = mech_buf;
  }
  std::vector<CK_BYTE> data_buf = std::vector<CK_BYTE>(64, 0x5A);
  std::vector<CK_BYTE> out_buf = std::vector<CK_BYTE>(1024, 0);
  std::string pin_buf = kP11UserPin;
  CK_ULONG out_len_v = 1024, ulong_v = 8;
  CK_MECHANISM mech_v{CKM_SHA256, nullptr, 0};
  CK_UTF8CHAR label_buf[32] = {'r', 'e', 's', 'u', 'l', 't', 's'};
  CK_ATTRIBUTE attr_buf[1] = {{CKA_LABEL, label_buf, 7}};
  CK_OBJECT_HANDLE handle_v = 1, handle_buf[8] = {};
  CK_SLOT_ID slot_buf[8] = {};
  CK_INFO info_v{};
  CK_SLOT_INFO slot_info_v{};
  CK_TOKEN_INFO token_info_v{};
  CK_SESSION_INFO session_info_v{};
  CK_MECHANISM_INFO mech_info_v{};
  CK_MECHANISM_TYPE mech_buf[64] = {};

  CK_BYTE_PTR data = nullptr;
  CK_BYTE_PTR out = nullptr;
  CK_ULONG_PTR out_len = nullptr;
  CK_ULONG_PTR ulong = nullptr;
  CK_MECHANISM_PTR mech = nullptr;
  CK_ATTRIBUTE_PTR attrs = nullptr;
  CK_OBJECT_HANDLE_PTR handle = nullptr;
  CK_OBJECT_HANDLE_PTR handles = nullptr;
  CK_UTF8CHAR_PTR pin = nullptr;
  CK_UTF8CHAR_PTR label = nullptr;
  CK_SLOT_ID_PTR slots = nullptr;
  CK_INFO_PTR info = nullptr;
  CK_SLOT_INFO_PTR slot_info = nullptr;
  CK_TOKEN_INFO_PTR token_info = nullptr;
  CK_SESSION_INFO_PTR session_info = nullptr;
  CK_MECHANISM_INFO_PTR mech_info = nullptr;
  CK_MECHANISM_TYPE_PTR mechs = nullptr;
};

struct Entry {
  const char* name;
  std::function<CK_RV(CK_FUNCTION_LIST_3_0*, CK_SESSION_HANDLE, Args&)> call;
};

// Every entry point but C_Initialize, C_Finalize, C_GetFunctionList,
// C_GetInterfaceList, C_GetInterface and those that end a session or a
// login (C_CloseSession, C_CloseAllSessions, C_Logout, C_Login: tested on
// their own below). Key and object handles are 1 and 2, which name nothing
// or something the call cannot use.
std::vector<Entry> entry_points() {
  using F = CK_FUNCTION_LIST_3_0*;
  using S = CK_SESSION_HANDLE;
  const CK_ULONG n = 64;
  const CK_ULONG pin_len = std::string(kP11UserPin).size();
  return {
      {"C_GetInfo", [](F f, S, Args& a) { return f->C_GetInfo(a.info); }},
      {"C_GetSlotList", [](F f, S, Args& a) { return f->C_GetSlotList(CK_TRUE, a.slots, a.ulong); }},
      {"C_GetSlotInfo", [](F f, S, Args& a) { return f->C_GetSlotInfo(0, a.slot_info); }},
      {"C_GetTokenInfo", [](F f, S, Args& a) { return f->C_GetTokenInfo(0, a.token_info); }},
      {"C_GetMechanismList", [](F f, S, Args& a) { return f->C_GetMechanismList(0, a.mechs, a.ulong); }},
      {"C_GetMechanismInfo", [](F f, S, Args& a) { return f->C_GetMechanismInfo(0, CKM_SHA256, a.mech_info); }},
      {"C_InitToken", [=](F f, S, Args& a) { return f->C_InitToken(0, a.pin, pin_len, a.label); }},
      {"C_InitPIN", [=](F f, S s, Args& a) { return f->C_InitPIN(s, a.pin, pin_len); }},
      {"C_SetPIN", [=](F f, S s, Args& a) { return f->C_SetPIN(s, a.pin, pin_len, a.pin, pin_len); }},
      {"C_OpenSession",
       [](F f, S, Args& a) {
         return f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, a.handle);
       }},
      {"C_GetSessionInfo", [](F f, S s, Args& a) { return f->C_GetSessionInfo(s, a.session_info); }},
      {"C_GetOperationState", [](F f, S s, Args& a) { return f->C_GetOperationState(s, a.out, a.out_len); }},
      {"C_SetOperationState", [=](F f, S s, Args& a) { return f->C_SetOperationState(s, a.data, n, 1, 2); }},
      {"C_CreateObject", [](F f, S s, Args& a) { return f->C_CreateObject(s, a.attrs, 1, a.handle); }},
      {"C_CopyObject", [](F f, S s, Args& a) { return f->C_CopyObject(s, 1, a.attrs, 1, a.handle); }},
      {"C_DestroyObject", [](F f, S s, Args&) { return f->C_DestroyObject(s, 2); }},
      {"C_GetObjectSize", [](F f, S s, Args& a) { return f->C_GetObjectSize(s, 1, a.ulong); }},
      {"C_GetAttributeValue", [](F f, S s, Args& a) { return f->C_GetAttributeValue(s, 1, a.attrs, 1); }},
      {"C_SetAttributeValue", [](F f, S s, Args& a) { return f->C_SetAttributeValue(s, 1, a.attrs, 1); }},
      {"C_FindObjectsInit", [](F f, S s, Args& a) { return f->C_FindObjectsInit(s, a.attrs, 1); }},
      {"C_FindObjects", [](F f, S s, Args& a) { return f->C_FindObjects(s, a.handles, 8, a.ulong); }},
      {"C_FindObjectsFinal", [](F f, S s, Args&) { return f->C_FindObjectsFinal(s); }},
      {"C_EncryptInit", [](F f, S s, Args& a) { return f->C_EncryptInit(s, a.mech, 1); }},
      {"C_Encrypt", [=](F f, S s, Args& a) { return f->C_Encrypt(s, a.data, n, a.out, a.out_len); }},
      {"C_EncryptUpdate", [=](F f, S s, Args& a) { return f->C_EncryptUpdate(s, a.data, n, a.out, a.out_len); }},
      {"C_EncryptFinal", [](F f, S s, Args& a) { return f->C_EncryptFinal(s, a.out, a.out_len); }},
      {"C_DecryptInit", [](F f, S s, Args& a) { return f->C_DecryptInit(s, a.mech, 1); }},
      {"C_Decrypt", [=](F f, S s, Args& a) { return f->C_Decrypt(s, a.data, n, a.out, a.out_len); }},
      {"C_DecryptUpdate", [=](F f, S s, Args& a) { return f->C_DecryptUpdate(s, a.data, n, a.out, a.out_len); }},
      {"C_DecryptFinal", [](F f, S s, Args& a) { return f->C_DecryptFinal(s, a.out, a.out_len); }},
      {"C_DigestInit", [](F f, S s, Args& a) { return f->C_DigestInit(s, a.mech); }},
      {"C_Digest", [=](F f, S s, Args& a) { return f->C_Digest(s, a.data, n, a.out, a.out_len); }},
      {"C_DigestUpdate", [=](F f, S s, Args& a) { return f->C_DigestUpdate(s, a.data, n); }},
      {"C_DigestKey", [](F f, S s, Args&) { return f->C_DigestKey(s, 1); }},
      {"C_DigestFinal", [](F f, S s, Args& a) { return f->C_DigestFinal(s, a.out, a.out_len); }},
      {"C_SignInit", [](F f, S s, Args& a) { return f->C_SignInit(s, a.mech, 1); }},
      {"C_Sign", [=](F f, S s, Args& a) { return f->C_Sign(s, a.data, n, a.out, a.out_len); }},
      {"C_SignUpdate", [=](F f, S s, Args& a) { return f->C_SignUpdate(s, a.data, n); }},
      {"C_SignFinal", [](F f, S s, Args& a) { return f->C_SignFinal(s, a.out, a.out_len); }},
      {"C_SignRecoverInit", [](F f, S s, Args& a) { return f->C_SignRecoverInit(s, a.mech, 1); }},
      {"C_SignRecover", [=](F f, S s, Args& a) { return f->C_SignRecover(s, a.data, n, a.out, a.out_len); }},
      {"C_VerifyInit", [](F f, S s, Args& a) { return f->C_VerifyInit(s, a.mech, 1); }},
      {"C_Verify", [=](F f, S s, Args& a) { return f->C_Verify(s, a.data, n, a.data, n); }},
      {"C_VerifyUpdate", [=](F f, S s, Args& a) { return f->C_VerifyUpdate(s, a.data, n); }},
      {"C_VerifyFinal", [=](F f, S s, Args& a) { return f->C_VerifyFinal(s, a.data, n); }},
      {"C_VerifyRecoverInit", [](F f, S s, Args& a) { return f->C_VerifyRecoverInit(s, a.mech, 1); }},
      {"C_VerifyRecover", [=](F f, S s, Args& a) { return f->C_VerifyRecover(s, a.data, n, a.out, a.out_len); }},
      {"C_DigestEncryptUpdate",
       [=](F f, S s, Args& a) { return f->C_DigestEncryptUpdate(s, a.data, n, a.out, a.out_len); }},
      {"C_DecryptDigestUpdate",
       [=](F f, S s, Args& a) { return f->C_DecryptDigestUpdate(s, a.data, n, a.out, a.out_len); }},
      {"C_SignEncryptUpdate",
       [=](F f, S s, Args& a) { return f->C_SignEncryptUpdate(s, a.data, n, a.out, a.out_len); }},
      {"C_DecryptVerifyUpdate",
       [=](F f, S s, Args& a) { return f->C_DecryptVerifyUpdate(s, a.data, n, a.out, a.out_len); }},
      {"C_GenerateKey", [](F f, S s, Args& a) { return f->C_GenerateKey(s, a.mech, a.attrs, 1, a.handle); }},
      {"C_GenerateKeyPair",
       [](F f, S s, Args& a) { return f->C_GenerateKeyPair(s, a.mech, a.attrs, 1, a.attrs, 1, a.handle, a.handles); }},
      {"C_WrapKey", [](F f, S s, Args& a) { return f->C_WrapKey(s, a.mech, 1, 2, a.out, a.out_len); }},
      {"C_UnwrapKey", [=](F f, S s, Args& a) { return f->C_UnwrapKey(s, a.mech, 1, a.data, n, a.attrs, 1, a.handle); }},
      {"C_DeriveKey", [](F f, S s, Args& a) { return f->C_DeriveKey(s, a.mech, 1, a.attrs, 1, a.handle); }},
      {"C_SeedRandom", [=](F f, S s, Args& a) { return f->C_SeedRandom(s, a.data, n); }},
      {"C_GenerateRandom", [=](F f, S s, Args& a) { return f->C_GenerateRandom(s, a.data, n); }},
      {"C_GetFunctionStatus", [](F f, S s, Args&) { return f->C_GetFunctionStatus(s); }},
      {"C_CancelFunction", [](F f, S s, Args&) { return f->C_CancelFunction(s); }},
      {"C_WaitForSlotEvent", [](F f, S, Args& a) { return f->C_WaitForSlotEvent(CKF_DONT_BLOCK, a.slots, nullptr); }},
      {"C_LoginUser",
       [=](F f, S s, Args& a) { return f->C_LoginUser(s, CKU_USER, a.pin, pin_len, a.label, 7); }},
      {"C_SessionCancel", [](F f, S s, Args&) { return f->C_SessionCancel(s, CKF_FIND_OBJECTS); }},
      {"C_MessageEncryptInit", [](F f, S s, Args& a) { return f->C_MessageEncryptInit(s, a.mech, 1); }},
      {"C_EncryptMessage",
       [=](F f, S s, Args& a) { return f->C_EncryptMessage(s, a.data, n, a.data, n, a.data, n, a.out, a.out_len); }},
      {"C_EncryptMessageBegin", [=](F f, S s, Args& a) { return f->C_EncryptMessageBegin(s, a.data, n, a.data, n); }},
      {"C_EncryptMessageNext",
       [=](F f, S s, Args& a) { return f->C_EncryptMessageNext(s, a.data, n, a.data, n, a.out, a.out_len, 0); }},
      {"C_MessageEncryptFinal", [](F f, S s, Args&) { return f->C_MessageEncryptFinal(s); }},
      {"C_MessageDecryptInit", [](F f, S s, Args& a) { return f->C_MessageDecryptInit(s, a.mech, 1); }},
      {"C_DecryptMessage",
       [=](F f, S s, Args& a) { return f->C_DecryptMessage(s, a.data, n, a.data, n, a.data, n, a.out, a.out_len); }},
      {"C_DecryptMessageBegin", [=](F f, S s, Args& a) { return f->C_DecryptMessageBegin(s, a.data, n, a.data, n); }},
      {"C_DecryptMessageNext",
       [=](F f, S s, Args& a) { return f->C_DecryptMessageNext(s, a.data, n, a.data, n, a.out, a.out_len, 0); }},
      {"C_MessageDecryptFinal", [](F f, S s, Args&) { return f->C_MessageDecryptFinal(s); }},
      {"C_MessageSignInit", [](F f, S s, Args& a) { return f->C_MessageSignInit(s, a.mech, 1); }},
      {"C_SignMessage", [=](F f, S s, Args& a) { return f->C_SignMessage(s, a.data, n, a.data, n, a.out, a.out_len); }},
      {"C_SignMessageBegin", [=](F f, S s, Args& a) { return f->C_SignMessageBegin(s, a.data, n); }},
      {"C_SignMessageNext",
       [=](F f, S s, Args& a) { return f->C_SignMessageNext(s, a.data, n, a.data, n, a.out, a.out_len); }},
      {"C_MessageSignFinal", [](F f, S s, Args&) { return f->C_MessageSignFinal(s); }},
      {"C_MessageVerifyInit", [](F f, S s, Args& a) { return f->C_MessageVerifyInit(s, a.mech, 1); }},
      {"C_VerifyMessage", [=](F f, S s, Args& a) { return f->C_VerifyMessage(s, a.data, n, a.data, n, a.data, n); }},
      {"C_VerifyMessageBegin", [=](F f, S s, Args& a) { return f->C_VerifyMessageBegin(s, a.data, n); }},
      {"C_VerifyMessageNext",
       [=](F f, S s, Args& a) { return f->C_VerifyMessageNext(s, a.data, n, a.data, n, a.data, n); }},
      {"C_MessageVerifyFinal", [](F f, S s, Args&) { return f->C_MessageVerifyFinal(s); }},
  };
}

class Results : public P11Test {
 protected:
  void SetUp() override {
    P11Test::SetUp();
    add_token();
  }
  // Runs every entry point with and without its pointers on session `s`;
  // each result must be a value of the v3.0 table.
  void expect_standard_results(CK_SESSION_HANDLE s, const std::string& where) {
    for (const bool null : {false, true}) {
      for (const Entry& e : entry_points()) {
        Args a(null);
        testing::internal::CaptureStderr();  // the "not ready" lines
        const CK_RV rv = e.call(p11, s, a);
        (void)testing::internal::GetCapturedStderr();
        EXPECT_TRUE(in_v30_table(rv)) << e.name << " (" << where << (null ? ", null pointers" : "") << ") returned 0x"
                                      << std::hex << rv;
      }
    }
  }
};

TEST_F(Results, BeforeInitialisationEveryEntryPointRefuses) {
  for (const Entry& e : entry_points()) {
    Args a(false);
    EXPECT_EQ(e.call(p11, 1, a), CKR_CRYPTOKI_NOT_INITIALIZED) << e.name;
  }
  const std::vector<std::pair<const char*, CK_RV>> session_enders = {
      {"C_Finalize", p11->C_Finalize(nullptr)},
      {"C_CloseSession", p11->C_CloseSession(1)},
      {"C_CloseAllSessions", p11->C_CloseAllSessions(0)},
      {"C_Login", p11->C_Login(1, CKU_USER, p11_bytes(kP11UserPin), 13)},
      {"C_Logout", p11->C_Logout(1)},
  };
  for (const auto& [name, rv] : session_enders) EXPECT_EQ(rv, CKR_CRYPTOKI_NOT_INITIALIZED) << name;
  // These four work without the module initialised.
  CK_FUNCTION_LIST_PTR list = nullptr;
  EXPECT_EQ(P11Module::get().list2()->C_GetFunctionList(&list), CKR_OK);
  CK_ULONG count = 0;
  EXPECT_EQ(p11->C_GetInterfaceList(nullptr, &count), CKR_OK);
  CK_INTERFACE_PTR iface = nullptr;
  EXPECT_EQ(p11->C_GetInterface(nullptr, nullptr, &iface, 0), CKR_OK);
}

TEST_F(Results, ErrorPathsInEveryState) {
  initialize();
  (void)open();  // keeps C_InitToken from re-initialising the token
  expect_standard_results(0, "handle 0");
  expect_standard_results(42, "unknown session");
  const CK_SESSION_HANDLE ro = open(0, CKF_SERIAL_SESSION);
  expect_standard_results(ro, "read-only public session");
  ASSERT_EQ(login(ro), CKR_OK);
  expect_standard_results(ro, "read-only user session");
  ASSERT_EQ(p11->C_CloseSession(ro), CKR_OK);
  const CK_SESSION_HANDLE rw = open();
  expect_standard_results(rw, "read/write public session");
  ASSERT_EQ(login(rw, CKU_SO), CKR_OK);
  expect_standard_results(rw, "SO session");
  ASSERT_EQ(p11->C_Logout(rw), CKR_OK);
  ASSERT_EQ(login(rw), CKR_OK);
  expect_standard_results(rw, "read/write user session");
}

// A session where one user is logged in refuses the other with
// CKR_USER_ANOTHER_ALREADY_LOGGED_IN (PKCS#11 v3.0 §5.6), and keeps its login.
TEST_F(Results, LoginOfTheOtherUser) {
  initialize();
  const CK_SESSION_HANDLE s = open();
  ASSERT_EQ(login(s, CKU_SO), CKR_OK);
  EXPECT_EQ(login(s, CKU_USER), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
  EXPECT_EQ(login(s, CKU_USER, "wrong-pin-0000"), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
  EXPECT_EQ(session_info(s).state, CKS_RW_SO_FUNCTIONS);
  ASSERT_EQ(p11->C_Logout(s), CKR_OK);
  ASSERT_EQ(login(s), CKR_OK);
  EXPECT_EQ(login(s, CKU_SO), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
  EXPECT_EQ(session_info(s).state, CKS_RW_USER_FUNCTIONS);
  // Another session of the same token logs in as it likes; whatever the back
  // end says of it is told in the standard's terms.
  const CK_SESSION_HANDLE other = open();
  for (const CK_USER_TYPE who : {CKU_SO, CKU_USER}) {
    const CK_RV rv = login(other, who);
    EXPECT_TRUE(in_v30_table(rv)) << who << ": 0x" << std::hex << rv;
    if (rv == CKR_OK) {
      ASSERT_EQ(p11->C_Logout(other), CKR_OK);
    }
  }
  // Logging out and closing: the usual errors, in the table.
  int reserved = 0;
  for (const CK_RV rv : {p11->C_Logout(42), p11->C_CloseSession(42), p11->C_CloseAllSessions(7),
                         p11->C_Login(42, CKU_USER, p11_bytes(kP11UserPin), 13), p11->C_Finalize(&reserved)}) {
    EXPECT_TRUE(in_v30_table(rv)) << std::hex << rv;
  }
}

}  // namespace
}  // namespace zt
