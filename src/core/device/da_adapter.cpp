// Device adapter: forwards every operation through the selected device table.
#include "core_internal.h"
#include "zeb/se_services.h"

namespace {

const DA_Functions_t* g_pDeviceFunctionList = nullptr;

// Calls slot `op` of the selected table, or answers 6 when none is selected.
template <class Op, class... Args>
uint32_t forward(Op DA_Functions_t::*op, Args... args) {
  if (g_pDeviceFunctionList == nullptr) return VRK_ERR_FAILED;
  auto fn = g_pDeviceFunctionList->*op;
  if (fn == nullptr) return VRK_ERR_FAILED;
  return fn(args...);
}

}  // namespace

namespace zeb::core {
void set_device_table(const DA_Functions_t* table) noexcept { g_pDeviceFunctionList = table; }
}  // namespace zeb::core

extern "C" {

const DA_Functions_t* DA_GetFunctionList(void) { return g_pDeviceFunctionList; }

uint32_t DA_Initialize(ZEB_DEVICE_HSM_SN* pSn, ZEB_DEVICE_HANDLE_PTR phHsm) {
  if (g_pDeviceFunctionList == nullptr) return VRK_ERR_FAILED;
  if (g_pDeviceFunctionList->func_type == FWD_FUNCTIONS) {
    // A second start-up replaces the device record: release the link an
    // earlier one opened first (the test bed also serves one client at a
    // time). The device keeps its sessions across the new link.
    (void)close_test_device(FWD_get_se_device());
    SE_DEVICE record{};
    const uint32_t rv = open_test_device(0, nullptr, &record);
    if (rv != VRK_OK) return rv;
    (void)sdb_init();                 // the stand-in has nothing to set up
    (void)set_current_device(&record);  // fails only on a null record
  }
  return forward(&DA_Functions_t::D_Initialize, pSn, phHsm);
}

uint32_t DA_Finalize(ZEB_DEVICE_HANDLE hHsm) {
  if (g_pDeviceFunctionList == nullptr) return VRK_ERR_FAILED;
  if (g_pDeviceFunctionList->func_type == FWD_FUNCTIONS) {
    const uint32_t rv = close_test_device(FWD_get_se_device());
    if (rv != VRK_OK) return rv;
  }
  return forward(&DA_Functions_t::D_Finalize, hHsm);
}

#define DA_FORWARD(name, params, args) \
  uint32_t DA_##name params { return forward(&DA_Functions_t::D_##name, args); }
#define A(...) __VA_ARGS__

DA_FORWARD(GetVersion, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_VERSION* p), A(h, p))
DA_FORWARD(GetHsmInfo, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_HSM_INFO* p), A(h, p))
DA_FORWARD(LoginHsmByPin, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n), A(h, p, n))
DA_FORWARD(SetHsmLabel, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n), A(h, p, n))
DA_FORWARD(SetHsmPin, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n), A(h, p, n))
DA_FORWARD(GetHsmPolicy, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_HSM_POLICY* p), A(h, p))
DA_FORWARD(SetHsmPolicy, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_HSM_POLICY* p), A(h, p))
DA_FORWARD(CreateToken, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_ID* id, ZEB_DEVICE_TOKEN_SN* sn), A(h, id, sn))
DA_FORWARD(CreateDefaultToken, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_ID* id, ZEB_DEVICE_TOKEN_SN* sn), A(h, id, sn))
DA_FORWARD(CreateTokenByPin, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n, ZEB_DEVICE_TOKEN_ID* id), A(h, p, n, id))
DA_FORWARD(DeleteToken, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_ID* id), A(h, id))
DA_FORWARD(UnlockTokenNormalUser, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_ID* id), A(h, id))
DA_FORWARD(ResetVrk, (ZEB_DEVICE_HANDLE h), A(h))
DA_FORWARD(ResetVrkBySn, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_HSM_SN* sn), A(h, sn))
DA_FORWARD(LogoutHsm, (ZEB_DEVICE_HANDLE h), A(h))
DA_FORWARD(ListTokens, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TKN_USER_LIST* p), A(h, p))
DA_FORWARD(GetTokenStatus, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_ID* id, uint8_t* s), A(h, id, s))
DA_FORWARD(GetTokenInfo, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_ID* id, ZEB_DEVICE_TOKEN_INFO* p), A(h, id, p))
DA_FORWARD(LoginTokenByPin, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n), A(h, p, n))
DA_FORWARD(LoginTokenSuperUserByPin, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n), A(h, p, n))
DA_FORWARD(SetTokenLabel, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n), A(h, p, n))
DA_FORWARD(SetTokenPin, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n), A(h, p, n))
DA_FORWARD(SetTokenSuperUserPin, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n), A(h, p, n))
DA_FORWARD(GetTokenSn, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_SN* sn), A(h, sn))
DA_FORWARD(GetTokenPolicy, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_POLICY* p), A(h, p))
DA_FORWARD(SetTokenPolicy, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_POLICY* p), A(h, p))
DA_FORWARD(BackupToken, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n, uint8_t* d, uint32_t* dn), A(h, p, n, d, dn))
DA_FORWARD(RestoreToken, (ZEB_DEVICE_HANDLE h, uint8_t* p, uint32_t n, uint8_t* d, uint32_t dn), A(h, p, n, d, dn))
DA_FORWARD(LogoutToken, (ZEB_DEVICE_HANDLE h), A(h))
DA_FORWARD(LogoutTokenSuperUser, (ZEB_DEVICE_HANDLE h), A(h))
DA_FORWARD(OpenHsmSession, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_HANDLE_PTR ph), A(h, ph))
DA_FORWARD(CloseHsmSession, (ZEB_DEVICE_HANDLE h), A(h))
DA_FORWARD(GetHsmSessInfo, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_SESSION_INFO* p), A(h, p))
DA_FORWARD(OpenTokenSession, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_ID* id, ZEB_DEVICE_HANDLE_PTR ph), A(h, id, ph))
DA_FORWARD(CloseTokenSession, (ZEB_DEVICE_HANDLE h), A(h))
DA_FORWARD(GetTokenSessionInfo, (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_TOKEN_SESSION_INFO* p), A(h, p))
DA_FORWARD(SetTknKey2Sw, (ZEB_DEVICE_HANDLE h, uint8_t* k, uint32_t n, uint8_t* o, uint32_t* on), A(h, k, n, o, on))
DA_FORWARD(SetSwKey2Tkn, (ZEB_DEVICE_HANDLE h, uint8_t* k, uint32_t n, uint8_t* o, uint32_t* on), A(h, k, n, o, on))
DA_FORWARD(GenSwKey, (ZEB_DEVICE_HANDLE h, uint8_t* k, uint32_t* n), A(h, k, n))
DA_FORWARD(SetObject,
           (ZEB_DEVICE_HANDLE h, ZEB_DEVICE_OBJECT_META* m, uint8_t* c, uint32_t cn, uint8_t* o, uint32_t* on),
           A(h, m, c, cn, o, on))
DA_FORWARD(GetObjMetaPtr, (ZEB_DEVICE_HANDLE h, uint8_t* o, uint32_t on, ZEB_DEVICE_OBJECT_META* m), A(h, o, on, m))
DA_FORWARD(GetObjCxtPtr, (ZEB_DEVICE_HANDLE h, uint8_t* o, uint32_t on, uint8_t* c, uint32_t* cn),
           A(h, o, on, c, cn))
DA_FORWARD(DivideObj,
           (ZEB_DEVICE_HANDLE h, uint8_t* o, uint32_t on, ZEB_DEVICE_OBJECT_META* m, uint8_t* c, uint32_t* cn),
           A(h, o, on, m, c, cn))
DA_FORWARD(CheckObjMAC, (ZEB_DEVICE_HANDLE h, uint8_t* o, uint32_t on), A(h, o, on))
DA_FORWARD(UpdateObjectMeta, (ZEB_DEVICE_HANDLE h, uint8_t* o, uint32_t on, ZEB_DEVICE_OBJECT_META* m),
           A(h, o, on, m))

#undef DA_FORWARD
#undef A

}  // extern "C"
