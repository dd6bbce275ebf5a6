// Store middleware (class 0x87): the device keeps every token's objects and
// its object list. Objects move in parts of 768 bytes; the core's object
// index is the device slot + 1; the list is rebuilt from the device's
// occupancy page.
#include <cstring>
#include <mutex>

#include "mw/mw_call.h"
#include "se/middleware.h"

using namespace se;
using se::mw::In;
using se::mw::Out;

namespace {

namespace sto = se::cmd::sto;
constexpr uint32_t kPart = cmd::SE_STO_PART_SIZE;
constexpr uint32_t kMaxParts = cmd::SE_STO_CLOSING_PART;  // data parts 0..254
constexpr uint32_t kObjectOverhead = 128;                 // header and MAC around the data
constexpr uint32_t kReplyMax = SE_REPLY_COUNT_MAX;

uint32_t send(const SeSite& where, const cmd::Command& c, std::initializer_list<In> in,
              std::initializer_list<Out> out = {}) {
  return mw::call(where, c, in, out, mw::kArguments);
}

// The device slot of a core index: 1 names slot 0. Index 0 names no slot
// (it would reach the device as 0xFFFFFFFF), nor does one past the last.
bool device_index(uint32_t core_index, uint32_t* slot) {
  if (core_index == 0 || core_index > cmd::SE_STO_SLOTS) return false;
  *slot = core_index - 1;
  return true;
}

// The write's length rule: the object is its entry's data, header and MAC.
bool length_matches(uint32_t len, const STO_SEOBJ* entry) {
  return uint64_t{len} == uint64_t{entry->u32DataLen} + kObjectOverhead;
}

// Parts 0..n-1 of the object, then the closing part. `slot` is null for a
// create, whose replies name the slot the device chose.
uint32_t write_parts(const SeSite& where, PERSISTENCY_INPUT* in, const uint32_t* slot, uint32_t* created,
                     const uint8_t* obj, uint32_t len, STO_SEOBJ* entry) {
  const uint32_t parts = (len + kPart - 1) / kPart;
  for (uint32_t i = 0; i <= parts; ++i) {
    const bool closing = i == parts;
    const uint8_t no = closing ? cmd::SE_STO_CLOSING_PART : static_cast<uint8_t>(i);
    const uint8_t* p = closing ? nullptr : obj + size_t{i} * kPart;
    const uint32_t n = closing ? 0 : (i + 1 == parts ? len - i * kPart : kPart);
    const uint32_t rv = slot == nullptr
                            ? send(where, sto::CreateObjectPart, {{in}, {p, n}, {entry}, {&no}}, {{created}})
                            : send(where, sto::UpdateObjectPart, {{in}, {slot}, {p, n}, {entry}, {&no}});
    if (rv != 0) return rv;
  }
  return 0;
}

}  // namespace

extern "C" {

uint32_t FWSto_GetStorageInfo_mw(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pStorageStatus, STO_LAYOUT* pTotalLayout,
                                 STO_LAYOUT* pFreeLayout) {
  return send(SE_HERE, sto::GetStorageInfo, {{pStoInput}}, {{pStorageStatus}, {pTotalLayout}, {pFreeLayout}});
}

uint32_t FWSto_SetLayout_mw(PERSISTENCY_INPUT_PTR pStoInput, STO_LAYOUT* pInputLayout, STO_LAYOUT* pOutputLayout) {
  return send(SE_HERE, sto::SetLayout, {{pStoInput}, {pInputLayout}}, {{pOutputLayout}});
}

uint32_t FWSto_Initialize_mw(STO_TKN_OBJECT_CONFIG_PATH* /*pfilepathConf*/) { return 0; }

uint32_t FWSto_CreateTokenStorage_mw(PERSISTENCY_INPUT_PTR pStoInput) {
  return send(SE_HERE, sto::CreateTokenStorage, {{pStoInput}});
}

// A create that fails after the device took a slot removes what it wrote.
uint32_t FWSto_CreateObject_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t* pu32ObjectIndex, uint8_t* pObject,
                               uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta) {
  if (pStoInput == nullptr || pu32ObjectIndex == nullptr || pSto_objmeta == nullptr ||
      (pObject == nullptr && u32ObjectLen != 0)) {
    return mw::kArguments;
  }
  if (!length_matches(u32ObjectLen, pSto_objmeta)) return mw::kAttributeValueInvalid;
  if (u32ObjectLen > kMaxParts * kPart) return mw::kDataLenRange;
  pSto_objmeta->u32DataLen = u32ObjectLen - kObjectOverhead;
  std::lock_guard lock(mw::channel_lock());
  constexpr uint32_t kNoSlot = 0xFFFFFFFF;
  uint32_t slot = kNoSlot;
  const uint32_t rv = write_parts(SE_HERE, pStoInput, nullptr, &slot, pObject, u32ObjectLen, pSto_objmeta);
  if (rv != 0) {
    if (slot < cmd::SE_STO_SLOTS) (void)send(SE_HERE, sto::DeleteObject, {{pStoInput}, {&slot}});
    return rv;
  }
  if (slot >= cmd::SE_STO_SLOTS) return mw::kGeneralError;
  *pu32ObjectIndex = slot + 1;
  return 0;
}

// The device replaces the stored object only when the closing part is
// accepted, so a failed update leaves the old object in place.
uint32_t FWSto_UpdateObject_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                               uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta) {
  if (pStoInput == nullptr || pSto_objmeta == nullptr || (pObject == nullptr && u32ObjectLen != 0)) {
    return mw::kArguments;
  }
  uint32_t slot = 0;
  if (!device_index(u32ObjectIndex, &slot)) return mw::kArguments;
  if (!length_matches(u32ObjectLen, pSto_objmeta)) return mw::kAttributeValueInvalid;
  if (u32ObjectLen > kMaxParts * kPart) return mw::kDataLenRange;
  pSto_objmeta->u32DataLen = u32ObjectLen - kObjectOverhead;
  std::lock_guard lock(mw::channel_lock());
  return write_parts(SE_HERE, pStoInput, &slot, nullptr, pObject, u32ObjectLen, pSto_objmeta);
}

uint32_t FWSto_DeleteObject_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex) {
  uint32_t slot = 0;
  if (!device_index(u32ObjectIndex, &slot)) return mw::kArguments;
  return send(SE_HERE, sto::DeleteObject, {{pStoInput}, {&slot}});
}

uint32_t FWSto_DeleteObjList_mw(PERSISTENCY_INPUT_PTR pStoInput) {
  return send(SE_HERE, sto::DeleteObjList, {{pStoInput}});
}

uint32_t FWSto_DeleteObjDir_mw(PERSISTENCY_INPUT_PTR pStoInput) {
  return send(SE_HERE, sto::DeleteObjDir, {{pStoInput}});
}

uint32_t FWSto_GetObjectSize_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint32_t* outObjectLen) {
  uint32_t slot = 0;
  if (!device_index(u32ObjectIndex, &slot)) return mw::kArguments;
  return send(SE_HERE, sto::GetObjectSize, {{pStoInput}, {&slot}}, {{outObjectLen}});
}

// *pObjectLen is the buffer's room: a stored object larger than it gives
// CKR_BUFFER_TOO_SMALL with the size written back. No part may run past the
// reported size.
uint32_t FWSto_GetObject_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                            uint32_t* pObjectLen) {
  if (pObjectLen == nullptr) return mw::kArguments;
  uint32_t slot = 0;
  if (!device_index(u32ObjectIndex, &slot)) return mw::kArguments;
  std::lock_guard lock(mw::channel_lock());
  uint32_t size = 0;
  if (uint32_t rv = FWSto_GetObjectSize_mw(pStoInput, u32ObjectIndex, &size); rv != 0) return rv;
  if (size > *pObjectLen) {
    *pObjectLen = size;
    return mw::kBufferTooSmall;
  }
  if (size > kMaxParts * kPart) return mw::kGeneralError;
  if (size != 0 && pObject == nullptr) return mw::kArguments;
  const uint32_t parts = (size + kPart - 1) / kPart;
  uint32_t offset = 0;
  for (uint32_t i = 0; i < parts; ++i) {
    const uint8_t no = static_cast<uint8_t>(i);
    uint32_t got = 0;
    const uint32_t rv = send(SE_HERE, sto::GetObjectPart, {{pStoInput}, {&slot}, {&no}},
                             {{pObject + offset, size - offset, &got}});
    if (rv != 0) return rv;
    offset += got;
  }
  if (offset != size) return mw::kGeneralError;
  *pObjectLen = size;
  return 0;
}

uint32_t FWSto_SaveObjectList_mw(PERSISTENCY_INPUT_PTR /*pStoInput*/, STO_SEOBJ_LIST* /*pListData*/) { return 0; }

int check_object_tag_list(const uint8_t* obj_bit_list, uint32_t index) {
  if (obj_bit_list == nullptr || index >= cmd::SE_STO_SLOTS) return 0;
  return (obj_bit_list[index / 8] >> (index % 8)) & 1;
}

// Every reply is read into a buffer of the largest reply first, so its length
// is checked before anything reaches the caller's list.
uint32_t FWSto_LoadObjectList_mw(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pListData) {
  if (pStoInput == nullptr || pListData == nullptr) return mw::kArguments;
  std::lock_guard lock(mw::channel_lock());
  uint8_t reply[kReplyMax];
  uint32_t got = 0;
  if (uint32_t rv = send(SE_HERE, sto::GetOccupancyPage, {{pStoInput}}, {{reply, sizeof reply, &got}}); rv != 0) {
    return rv;
  }
  if (got != cmd::SE_STO_PAGE_SIZE) return mw::kGeneralError;
  uint8_t page[cmd::SE_STO_PAGE_SIZE];
  std::memcpy(page, reply, sizeof page);
  uint32_t count = 0;
  for (uint32_t i = 0; i < cmd::SE_STO_SLOTS; ++i) {
    if (check_object_tag_list(page, i) == 0) continue;
    const uint32_t end = i + 1;
    if (uint32_t rv = send(SE_HERE, sto::GetObjectEntries, {{pStoInput}, {&i}, {&end}}, {{reply, sizeof reply, &got}});
        rv != 0) {
      return rv;
    }
    if (got != sizeof(STO_SEOBJ)) return mw::kGeneralError;
    STO_SEOBJ& e = pListData->seobj_array[i];
    std::memcpy(&e, reply, sizeof e);
    e.ObjIndex = i + 1;
    ++count;
  }
  pListData->ObjNum = count;
  return 0;
}

}  // extern "C"

extern "C" const SA_Functions_t fwstore_functions = {
    FWStore_FUNCTIONS,           FWSto_GetStorageInfo_mw, FWSto_SetLayout_mw,     FWSto_Initialize_mw,
    FWSto_CreateTokenStorage_mw, FWSto_CreateObject_mw,   FWSto_UpdateObject_mw,  FWSto_DeleteObject_mw,
    FWSto_DeleteObjList_mw,      FWSto_DeleteObjDir_mw,   FWSto_GetObjectSize_mw, FWSto_GetObject_mw,
    FWSto_SaveObjectList_mw,     FWSto_LoadObjectList_mw,
};
