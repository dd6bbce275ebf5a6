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

// Data parts 0..n-1 of an object. `slot` is null for a create, whose replies
// name the slot the device chose (in *created).
uint32_t send_data_parts(PERSISTENCY_INPUT* in, const uint32_t* slot, uint32_t* created, uint8_t* obj, uint32_t len,
                         STO_SEOBJ* entry) {
  const uint32_t parts = (len + kPart - 1) / kPart;
  for (uint32_t i = 0; i < parts; ++i) {
    const auto no = static_cast<uint8_t>(i);
    uint8_t* p = obj + size_t{i} * kPart;
    const uint32_t n = i + 1 == parts ? len - i * kPart : kPart;
    const uint32_t rv = slot == nullptr ? FWSto_CreateObject_Sub_mw(in, created, p, n, entry, no)
                                        : FWSto_UpdateObject_Sub_mw(in, *slot, p, n, entry, no);
    if (rv != 0) return rv;
  }
  return 0;
}

// The closing part: the device commits the write (for a create, with the
// session's complete create left open before it; see se/commands.h).
uint32_t send_closing_part(PERSISTENCY_INPUT* in, const uint32_t* slot, uint32_t* created, STO_SEOBJ* entry) {
  return slot == nullptr ? FWSto_CreateObject_Sub_mw(in, created, nullptr, 0, entry, cmd::SE_STO_CLOSING_PART)
                         : FWSto_UpdateObject_Sub_mw(in, *slot, nullptr, 0, entry, cmd::SE_STO_CLOSING_PART);
}

// The checks of a new object before anything is sent; its entry's data
// length is set from the object's length.
uint32_t check_new_object(const uint8_t* obj, uint32_t len, STO_SEOBJ* entry) {
  if (entry == nullptr || (obj == nullptr && len != 0)) return mw::kArguments;
  if (!length_matches(len, entry)) return mw::kAttributeValueInvalid;
  if (len > kMaxParts * kPart) return mw::kDataLenRange;
  entry->u32DataLen = len - kObjectOverhead;
  return 0;
}

constexpr uint32_t kNoSlot = 0xFFFFFFFF;

// Takes back a create the device may hold (committed or still open).
void drop_created(PERSISTENCY_INPUT* in, uint32_t slot) {
  if (slot < cmd::SE_STO_SLOTS) (void)send(SE_HERE, sto::DeleteObject, {{in}, {&slot}});
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
  if (pStoInput == nullptr || pu32ObjectIndex == nullptr) return mw::kArguments;
  if (uint32_t rv = check_new_object(pObject, u32ObjectLen, pSto_objmeta); rv != 0) return rv;
  std::lock_guard lock(mw::channel_lock());
  uint32_t slot = kNoSlot;
  uint32_t rv = send_data_parts(pStoInput, nullptr, &slot, pObject, u32ObjectLen, pSto_objmeta);
  if (rv == 0) rv = send_closing_part(pStoInput, nullptr, &slot, pSto_objmeta);
  if (rv != 0) {
    drop_created(pStoInput, slot);
    return rv;
  }
  if (slot >= cmd::SE_STO_SLOTS) return mw::kGeneralError;
  *pu32ObjectIndex = slot + 1;
  return 0;
}

// Both objects' data parts, then one closing part: the device commits the
// two as one change, so a crash of the host or of the device at any point
// leaves both objects or neither (a key pair is never left half stored).
uint32_t FWSto_CreateObjectPair_mw(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pFirst, uint32_t u32FirstLen,
                                   STO_SEOBJ* pFirstEntry, uint8_t* pSecond, uint32_t u32SecondLen,
                                   STO_SEOBJ* pSecondEntry, uint32_t* pu32FirstIndex, uint32_t* pu32SecondIndex) {
  if (pStoInput == nullptr || pu32FirstIndex == nullptr || pu32SecondIndex == nullptr) return mw::kArguments;
  if (uint32_t rv = check_new_object(pFirst, u32FirstLen, pFirstEntry); rv != 0) return rv;
  if (uint32_t rv = check_new_object(pSecond, u32SecondLen, pSecondEntry); rv != 0) return rv;
  std::lock_guard lock(mw::channel_lock());
  uint32_t first = kNoSlot, second = kNoSlot;
  uint32_t rv = send_data_parts(pStoInput, nullptr, &first, pFirst, u32FirstLen, pFirstEntry);
  if (rv == 0) rv = send_data_parts(pStoInput, nullptr, &second, pSecond, u32SecondLen, pSecondEntry);
  uint32_t closed = kNoSlot;
  if (rv == 0) rv = send_closing_part(pStoInput, nullptr, &closed, pSecondEntry);
  if (rv == 0 && (first >= cmd::SE_STO_SLOTS || second >= cmd::SE_STO_SLOTS || closed != second || first == second)) {
    rv = mw::kGeneralError;
  }
  if (rv != 0) {
    drop_created(pStoInput, second);
    if (first != second) drop_created(pStoInput, first);
    return rv;
  }
  *pu32FirstIndex = first + 1;
  *pu32SecondIndex = second + 1;
  return 0;
}

// The device replaces the stored object only when the closing part is
// accepted, so a failed update leaves the old object in place.
uint32_t FWSto_UpdateObject_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                               uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta) {
  if (pStoInput == nullptr) return mw::kArguments;
  uint32_t slot = 0;
  if (!device_index(u32ObjectIndex, &slot)) return mw::kArguments;
  if (uint32_t rv = check_new_object(pObject, u32ObjectLen, pSto_objmeta); rv != 0) return rv;
  std::lock_guard lock(mw::channel_lock());
  const uint32_t rv = send_data_parts(pStoInput, &slot, nullptr, pObject, u32ObjectLen, pSto_objmeta);
  return rv != 0 ? rv : send_closing_part(pStoInput, &slot, nullptr, pSto_objmeta);
}

// One part of a new object; the reply names the slot the device chose.
uint32_t FWSto_CreateObject_Sub_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t* pu32ObjectIndex, uint8_t* pObject,
                                   uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta, uint8_t part) {
  return send(SE_HERE, sto::CreateObjectPart, {{pStoInput}, {pObject, u32ObjectLen}, {pSto_objmeta}, {&part}},
              {{pu32ObjectIndex}});
}

// One part of an update of device slot u32ObjectIndex.
uint32_t FWSto_UpdateObject_Sub_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                                   uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta, uint8_t part) {
  return send(SE_HERE, sto::UpdateObjectPart,
              {{pStoInput}, {&u32ObjectIndex}, {pObject, u32ObjectLen}, {pSto_objmeta}, {&part}});
}

// Part `part` of device slot u32ObjectIndex; *pObjectLen: the room on entry,
// the part's length on return.
uint32_t FWSto_GetObject_Sub_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t part,
                                uint8_t* pObject, uint32_t* pObjectLen) {
  if (pObjectLen == nullptr) return mw::kArguments;
  return send(SE_HERE, sto::GetObjectPart, {{pStoInput}, {&u32ObjectIndex}, {&part}},
              {{pObject, *pObjectLen, pObjectLen}});
}

// The token's occupancy page; *pPageLen: the room on entry, the page's
// length on return.
uint32_t Internal_FWSto_get_object_bit_list_page_mw(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pPage,
                                                    uint32_t* pPageLen) {
  if (pPageLen == nullptr) return mw::kArguments;
  return send(SE_HERE, sto::GetOccupancyPage, {{pStoInput}}, {{pPage, *pPageLen, pPageLen}});
}

// The list entries of device slots startIndex .. endIndex-1;
// *pSto_objmeta_len: the room on entry, the bytes received on return.
uint32_t Internal_FWSto_get_object_tag_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t startIndex, uint32_t endIndex,
                                          uint8_t* pSto_objmeta, uint32_t* pSto_objmeta_len) {
  if (pSto_objmeta_len == nullptr) return mw::kArguments;
  return send(SE_HERE, sto::GetObjectEntries, {{pStoInput}, {&startIndex}, {&endIndex}},
              {{pSto_objmeta, *pSto_objmeta_len, pSto_objmeta_len}});
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
    uint32_t got = size - offset;
    const uint32_t rv = FWSto_GetObject_Sub_mw(pStoInput, slot, static_cast<uint8_t>(i), pObject + offset, &got);
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
  uint32_t got = sizeof reply;
  if (uint32_t rv = Internal_FWSto_get_object_bit_list_page_mw(pStoInput, reply, &got); rv != 0) return rv;
  if (got != cmd::SE_STO_PAGE_SIZE) return mw::kGeneralError;
  uint8_t page[cmd::SE_STO_PAGE_SIZE];
  std::memcpy(page, reply, sizeof page);
  uint32_t count = 0;
  for (uint32_t i = 0; i < cmd::SE_STO_SLOTS; ++i) {
    if (check_object_tag_list(page, i) == 0) continue;
    got = sizeof reply;
    if (uint32_t rv = Internal_FWSto_get_object_tag_mw(pStoInput, i, i + 1, reply, &got); rv != 0) return rv;
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
