// In-memory stand-in for the software store's table, weak so that the real
// store replaces it once it is part of the build.
#include <cstring>

#include "core/integration/hsm_fixture.h"
#include "support/fail_alloc.h"
#include "zeb/swhsm_services.h"

namespace {

std::string key(PERSISTENCY_INPUT* in) { return std::string(reinterpret_cast<char*>(in->TknId), 16); }
zt::StoreLog& log() { return zt::StoreLog::get(); }

// The stand-in is scaffolding: it allocates even while a test makes the
// core's allocations fail.

uint32_t sto_info(PERSISTENCY_INPUT*, uint8_t*, STO_LAYOUT*, STO_LAYOUT*) { return 0; }
uint32_t sto_layout(PERSISTENCY_INPUT*, STO_LAYOUT* in, STO_LAYOUT* out) {
  zt::AllowAllocations scaffolding;
  log().calls.push_back("SetLayout");
  if (in != nullptr && out != nullptr) *out = *in;
  return 0;
}
uint32_t sto_init(STO_TKN_OBJECT_CONFIG_PATH* p) { return p == nullptr ? 7 : 0; }
uint32_t sto_create_storage(PERSISTENCY_INPUT* in) {
  zt::AllowAllocations scaffolding;
  log().calls.push_back("CreateTokenStorage");
  log().lists[key(in)] = STO_SEOBJ_LIST{};
  return 0;
}
uint32_t sto_create(PERSISTENCY_INPUT*, uint32_t*, uint8_t*, uint32_t, STO_SEOBJ*) { return 0x54; }
uint32_t sto_update(PERSISTENCY_INPUT*, uint32_t, uint8_t*, uint32_t, STO_SEOBJ*) { return 0x54; }
uint32_t sto_delete(PERSISTENCY_INPUT* in, uint32_t idx) {
  zt::AllowAllocations scaffolding;
  log().calls.push_back("DeleteObject " + std::to_string(idx));
  auto it = log().lists.find(key(in));
  return it == log().lists.end() ? 0x82 : 0;
}
uint32_t sto_delete_list(PERSISTENCY_INPUT* in) {
  zt::AllowAllocations scaffolding;
  log().calls.push_back("DeleteObjList");
  auto it = log().lists.find(key(in));
  if (it == log().lists.end()) return 0x82;
  it->second = STO_SEOBJ_LIST{};
  return 0;
}
uint32_t sto_delete_dir(PERSISTENCY_INPUT* in) {
  zt::AllowAllocations scaffolding;
  log().lists.erase(key(in));
  return 0;
}
uint32_t sto_size(PERSISTENCY_INPUT*, uint32_t, uint32_t*) { return 0x82; }
uint32_t sto_get(PERSISTENCY_INPUT*, uint32_t, uint8_t*, uint32_t*) { return 0x82; }
uint32_t sto_save(PERSISTENCY_INPUT* in, STO_SEOBJ_LIST* l) {
  zt::AllowAllocations scaffolding;
  log().lists[key(in)] = *l;
  return 0;
}
uint32_t sto_load(PERSISTENCY_INPUT* in, STO_SEOBJ_LIST* l) {
  zt::AllowAllocations scaffolding;
  log().calls.push_back("LoadObjectList");
  auto it = log().lists.find(key(in));
  if (it == log().lists.end()) return 0x501;
  *l = it->second;
  return 0;
}

}  // namespace

extern "C" __attribute__((weak)) const SA_Functions_t swstore_functions = {
    SWStore_FUNCTIONS, sto_info, sto_layout, sto_init,  sto_create_storage, sto_create, sto_update, sto_delete,
    sto_delete_list,   sto_delete_dir, sto_size, sto_get, sto_save,           sto_load,
};

