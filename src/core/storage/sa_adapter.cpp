// Storage adapter: forwards through the selected store table, reports
// failures on standard output, and supplies a new token's default layout.
#include <cstdio>
#include <iterator>

#include "core_internal.h"
#include "zeb/se_services.h"

namespace {

const SA_Functions_t* g_StorageFunctionList = nullptr;

constexpr char kSourceName[] = "src/Storage_Adapter/SA_Function";

uint32_t report(uint32_t rv, int line, const char* op) {
  if (rv != VRK_OK) {
    std::fprintf(stderr, "\033[1;31mfailed with err = 0x%04x, [line %d, %s, %s]\033[m\n", rv, line, kSourceName, op);
  }
  return rv;
}

template <class Op, class... Args>
uint32_t forward(int line, const char* name, Op SA_Functions_t::*op, Args... args) {
  if (g_StorageFunctionList == nullptr) return VRK_ERR_FAILED;
  auto fn = g_StorageFunctionList->*op;
  if (fn == nullptr) return VRK_ERR_FAILED;
  return report(fn(args...), line, name);
}

// Default layout of a new token: seven groups, everything else zero.
constexpr STO_KEY_STORE_GROUP kDefaultGroups[] = {
    {STO_LAYOUT_AES, 1, 128},     {STO_LAYOUT_ECC_PUB, 2, 64}, {STO_LAYOUT_ECC_PRIV, 1, 64},
    {STO_LAYOUT_RSA_PUB, 5, 64},  {STO_LAYOUT_RSA_PRIV, 12, 32}, {STO_LAYOUT_CERT, 16, 10},
    {STO_LAYOUT_EXTENSION, 1, 128},
};

}  // namespace

namespace zeb::core {
void set_store_table(const SA_Functions_t* table) noexcept { g_StorageFunctionList = table; }
}  // namespace zeb::core

#define SA_CALL(slot, ...) forward(__LINE__, __func__, &SA_Functions_t::slot, __VA_ARGS__)

extern "C" {

const SA_Functions_t* SA_GetFunctionList(void) { return g_StorageFunctionList; }

void SA_GetDefaultLayout(STO_LAYOUT* pLayout) {
  if (pLayout == nullptr) return;
  *pLayout = STO_LAYOUT{};
  for (size_t i = 0; i < std::size(kDefaultGroups); ++i) pLayout->key_store_group[i] = kDefaultGroups[i];
}

uint32_t SA_GetStorageInfo(PERSISTENCY_INPUT_PTR in, uint8_t* status, STO_LAYOUT* total, STO_LAYOUT* free_) {
  return SA_CALL(S_GetStorageInfo, in, status, total, free_);
}

uint32_t SA_SetLayout(PERSISTENCY_INPUT_PTR in, STO_LAYOUT* pInputLayout, STO_LAYOUT* pOutputLayout) {
  STO_LAYOUT def;
  if (pInputLayout == nullptr) {
    SA_GetDefaultLayout(&def);
    pInputLayout = &def;
  }
  return SA_CALL(S_SetLayout, in, pInputLayout, pOutputLayout);
}

uint32_t SA_Initialize(STO_TKN_OBJECT_CONFIG_PATH* pfilepathConf) {
  if (g_StorageFunctionList == nullptr) return VRK_ERR_FAILED;
  if (g_StorageFunctionList->func_type == FWStore_FUNCTIONS) {
    if (const uint32_t rv = FWSto_set_se_device(FWD_get_se_device()); rv != 0) return rv;
  }
  return SA_CALL(S_Initialize, pfilepathConf);
}

uint32_t SA_CreateTokenStorage(PERSISTENCY_INPUT_PTR in) { return SA_CALL(S_CreateTokenStorage, in); }
uint32_t SA_CreateObject(PERSISTENCY_INPUT_PTR in, uint32_t* idx, uint8_t* obj, uint32_t len, STO_SEOBJ* e) {
  return SA_CALL(S_CreateObject, in, idx, obj, len, e);
}
uint32_t SA_UpdateObject(PERSISTENCY_INPUT_PTR in, uint32_t idx, uint8_t* obj, uint32_t len, STO_SEOBJ* e) {
  return SA_CALL(S_UpdateObject, in, idx, obj, len, e);
}
uint32_t SA_DeleteObject(PERSISTENCY_INPUT_PTR in, uint32_t idx) { return SA_CALL(S_DeleteObject, in, idx); }
uint32_t SA_DeleteObjList(PERSISTENCY_INPUT_PTR in) { return SA_CALL(S_DeleteObjList, in); }
uint32_t SA_DeleteObjDir(PERSISTENCY_INPUT_PTR in) { return SA_CALL(S_DeleteObjDir, in); }
uint32_t SA_GetObjectSize(PERSISTENCY_INPUT_PTR in, uint32_t idx, uint32_t* len) {
  return SA_CALL(S_GetObjectSize, in, idx, len);
}
uint32_t SA_GetObject(PERSISTENCY_INPUT_PTR in, uint32_t idx, uint8_t* obj, uint32_t* len) {
  return SA_CALL(S_GetObject, in, idx, obj, len);
}
uint32_t SA_SaveObjectList(PERSISTENCY_INPUT_PTR in, STO_SEOBJ_LIST* list) {
  return SA_CALL(S_SaveObjectList, in, list);
}
uint32_t SA_LoadObjectList(PERSISTENCY_INPUT_PTR in, STO_SEOBJ_LIST* list) {
  return SA_CALL(S_LoadObjectList, in, list);
}

}  // extern "C"
