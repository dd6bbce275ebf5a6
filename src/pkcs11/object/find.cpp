// Find operations. The matches of a search are gathered once, when the find
// begins, over the token's stored objects and the session's objects, and kept
// with the module's copy of the template in the session's find state, from
// which each C_FindObjects call hands out the next page.
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "frame/p11_frame.h"
#include "object/attr_rules.h"
#include "object/object_internal.h"

namespace {

using namespace zebp11::obj;

// Most matches one find can have: every record of the token's object list
// and every session-object slot of the core session.
constexpr size_t kMaxMatches = std::size(VRK_SEOBJ_LIST{}.seobj_array) + VRK_MAX_SESS_OBJECTS;

// The session may see objects only with the user logged in: objects are
// read with the user's login, and a stored record does not tell private
// token objects from public ones.
bool user_state(CK_STATE s) { return s == CKS_RO_USER_FUNCTIONS || s == CKS_RW_USER_FUNCTIONS; }

bool header_type(CK_ATTRIBUTE_TYPE t) {
  return t == CKA_CLASS || t == CKA_KEY_TYPE || t == CKA_TOKEN || t == CKA_ID || t == CKA_LABEL;
}

// Every attribute of the search is answered by the header or store record.
bool header_only(const ZEBP11_FINDOBJ_INFO& f) {
  for (const ZEBP11_FIND_ATTR& a : f.target_attrs) {
    if (!header_type(a.type)) return false;
  }
  return true;
}

template <class Bytes>
bool equal(const Bytes& v, const ZEBP11_FIND_ATTR& a) {
  return v.size() == a.value.size() && (v.empty() || std::memcmp(v.data(), a.value.data(), v.size()) == 0);
}

// Whether an object matches on what its header or store record answers:
// every such attribute of the search with exactly that value.
bool header_matches(const ZEBP11_FINDOBJ_INFO& f, uint8_t type, uint8_t algo, const uint8_t* id, const uint8_t* label,
                    bool token) {
  for (const ZEBP11_FIND_ATTR& a : f.target_attrs) {
    if (!header_type(a.type)) continue;
    if (!header_value_equals(type, algo, id, label, token, a.type, {a.value.data(), a.value.size()})) return false;
  }
  return true;
}

// The same for the attributes only the loaded object answers.
CK_RV full_matches(const ZEBP11_FINDOBJ_INFO& f, VRK_HANDLE hVRK, uint32_t handle, bool* match) {
  *match = false;
  LoadedObject o;
  if (const CK_RV rv = load_object(hVRK, handle, o); rv != CKR_OK) return rv;
  zeb::SecretBytes v;
  for (const ZEBP11_FIND_ATTR& a : f.target_attrs) {
    if (header_type(a.type)) continue;
    CK_RV err = CKR_OK;
    if (answer(o, a.type, v, &err) != Answer::kValue || !equal(v, a)) return err;
  }
  *match = true;
  return CKR_OK;
}

// Drops the gathered handles whose objects fail the attributes beyond the
// header, keeping the order.
CK_RV keep_full_matches(VRK_HANDLE hVRK, ZEBP11_FINDOBJ_INFO& f) {
  size_t kept = 0;
  for (const CK_OBJECT_HANDLE h : f.matches) {
    bool match = false;
    P11_TRY(full_matches(f, hVRK, static_cast<uint32_t>(h), &match));
    if (match) f.matches[kept++] = h;
  }
  f.matches.resize(kept);
  return CKR_OK;
}

// The value of the template's CKA_TOKEN (one byte, the last one given), if any.
std::optional<bool> token_choice(const ZEBP11_FINDOBJ_INFO& f) {
  std::optional<bool> token;
  for (const ZEBP11_FIND_ATTR& a : f.target_attrs) {
    if (a.type == CKA_TOKEN && a.value.size() == 1) token = a.value[0] != CK_FALSE;
  }
  return token;
}

// The token pass: every record of the list that is no free record and
// matches the header attributes of the search, in store order.
CK_RV P11_FindObjectsInTokenObjectList(ZEBP11_FINDOBJ_INFO* find_obj_info, VRK_SEOBJ_LIST* ObjList,
                                       CK_ULONG ulMaxObjectCount, CK_ULONG* curObjectCount,
                                       CK_OBJECT_HANDLE* hObjectArray) {
  static constexpr VRK_SEOBJ kFree{};
  for (const VRK_SEOBJ& r : ObjList->seobj_array) {
    if (*curObjectCount >= ulMaxObjectCount) break;
    if (std::memcmp(&r, &kFree, sizeof r) == 0) continue;
    if (!header_matches(*find_obj_info, r.ObjType, r.ObjKeyAlgo, r.ObjId, r.ObjLabel, true)) continue;
    hObjectArray[(*curObjectCount)++] = r.ObjIndex;
  }
  return CKR_OK;
}

// The session pass: every session object that matches the header attributes
// of the search, by slot. Objects that hold another session object's
// extension word are part of that object and never found.
CK_RV P11_FindObjectsInSessionObjectList(VRK_HANDLE tkn_sess_hdle, ZEBP11_FINDOBJ_INFO* find_obj_info,
                                         VRK_SESS_OBJECT* SessionObjList, CK_ULONG ulMaxObjectCount,
                                         CK_ULONG* curObjectCount, CK_OBJECT_HANDLE* hObjectArray) {
  std::vector<VRK_OBJECT_META> metas(VRK_MAX_SESS_OBJECTS);
  std::vector<bool> hidden(VRK_MAX_SESS_OBJECTS, false);
  for (size_t i = 0; i < VRK_MAX_SESS_OBJECTS; ++i) {
    const VRK_SESS_OBJECT& slot = SessionObjList[i];
    if (slot.pObj == nullptr) continue;
    P11_TRY_CORE(VRK_GetObjMetaPtr(tkn_sess_hdle, slot.pObj, slot.u32DataLen, &metas[i]));
    const uint32_t x = metas[i].u32ObjExtIndex;
    if (x != ZEB_OBJ_NO_EXTENSION && is_session_handle(x) && x - VRK_SESS_OBJ_HANDLE_BASE < hidden.size()) {
      hidden[x - VRK_SESS_OBJ_HANDLE_BASE] = true;
    }
  }
  for (size_t i = 0; i < VRK_MAX_SESS_OBJECTS && *curObjectCount < ulMaxObjectCount; ++i) {
    if (SessionObjList[i].pObj == nullptr || hidden[i]) continue;
    const VRK_OBJECT_META& m = metas[i];
    if (!header_matches(*find_obj_info, m.ObjType, m.ObjKeyAlgo, m.ObjId, m.ObjLabel, false)) continue;
    hObjectArray[(*curObjectCount)++] = VRK_SESS_OBJ_HANDLE_BASE + i;
  }
  return CKR_OK;
}

// Every match of the search, token objects by store index first, then
// session objects by slot, into f.matches.
CK_RV gather(VRK_HANDLE hVRK, ZEBP11_FINDOBJ_INFO& f) {
  const std::optional<bool> token = token_choice(f);
  f.matches.resize(kMaxMatches);
  CK_ULONG count = 0;
  if (token != std::optional<bool>(false)) {
    auto list = std::make_unique<VRK_SEOBJ_LIST>();
    VRK_UINT32 n = 0;
    P11_TRY_CORE(VRK_ListObjects(hVRK, list.get(), &n));
    P11_TRY(P11_FindObjectsInTokenObjectList(&f, list.get(), f.matches.size(), &count, f.matches.data()));
  }
  if (token != std::optional<bool>(true)) {
    std::vector<VRK_SESS_OBJECT> slots(VRK_MAX_SESS_OBJECTS);
    P11_TRY_CORE(VRK_ListSessionObjects(hVRK, slots.data()));
    P11_TRY(P11_FindObjectsInSessionObjectList(hVRK, &f, slots.data(), f.matches.size(), &count, f.matches.data()));
  }
  f.matches.resize(count);
  if (!header_only(f)) P11_TRY(keep_full_matches(hVRK, f));
  return CKR_OK;
}

// Copies the template, gathers its matches (none while the user is not
// logged in) and makes both the session's find state, in place of any find
// it had. Any failure leaves the session's find state as it was; nothing the
// copy or the gathering allocated outlives the call.
CK_RV P11_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE* attrs, CK_ULONG attrs_len) {
  ZEBP11_FINDOBJ_INFO find;
  find.target_attrs.reserve(attrs_len);
  for (CK_ULONG i = 0; i < attrs_len; ++i) {
    const auto* v = static_cast<const CK_BYTE*>(attrs[i].pValue);
    find.target_attrs.push_back(ZEBP11_FIND_ATTR{attrs[i].type, std::vector<CK_BYTE>(v, v + attrs[i].ulValueLen)});
  }
  CK_SESSION_INFO info{};
  P11_TRY(P11_GetSessionInfo(hSession, &info));
  if (user_state(info.state)) {
    VRK_HANDLE hVRK = 0;
    P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
    P11_TRY(gather(hVRK, find));
  }
  P11_TRY(P11_SetFindObjectInfo(hSession, std::move(find)));
  return CKR_OK;
}

CK_RV P11_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                      CK_ULONG_PTR pulObjectCount) {
  CK_SESSION_INFO info{};
  P11_TRY(P11_GetSessionInfo(hSession, &info));
  CK_ULONG n = 0;
  // A session that logged out meanwhile sees no objects.
  if (user_state(info.state)) P11_TRY(P11_GetFindObjectInfo(hSession, phObject, ulMaxObjectCount, &n));
  *pulObjectCount = n;
  P11_LOG_D("got %lu object handles", n);
  return CKR_OK;
}

CK_RV P11_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
  P11_TRY(P11_SetFindObjectInfo(hSession, ZEBP11_FINDOBJ_INFO{}));
  return CKR_OK;
}

}  // namespace

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) try {
  P11_ENTRY_CHECKS(.session = hSession);
  if (pTemplate == nullptr && ulCount != 0) return CKR_ARGUMENTS_BAD;
  for (CK_ULONG i = 0; i < ulCount; ++i) {
    const CK_ATTRIBUTE& a = pTemplate[i];
    P11_LOG_D("Get Value of pTemplate[%lu].type = %s(%08lx), len = %lu", i, P11_CKAToString(a.type), a.type,
              a.ulValueLen);
    if (a.pValue == nullptr && a.ulValueLen != 0) return CKR_ARGUMENTS_BAD;
    const CK_ULONG width = width_bytes(width_of(a.type));
    if (width != 0 && a.ulValueLen != width) return CKR_ATTRIBUTE_VALUE_INVALID;
  }
  P11_TRY(P11_FindObjectsInit(hSession, pTemplate, ulCount));
  return CKR_OK;
} P11_CATCH_ALL

CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                    CK_ULONG_PTR pulObjectCount) try {
  P11_ENTRY_CHECKS(.required = {phObject, pulObjectCount}, .session = hSession);
  P11_TRY(P11_FindObjects(hSession, phObject, ulMaxObjectCount, pulObjectCount));
  return CKR_OK;
} P11_CATCH_ALL

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) try {
  P11_ENTRY_CHECKS(.session = hSession);
  P11_TRY(P11_FindObjectsFinal(hSession));
  return CKR_OK;
} P11_CATCH_ALL
