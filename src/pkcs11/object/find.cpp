// Find operations: a copy of the search template kept in the session, and
// searches over the token's stored objects and the session's objects.
#include <cstring>
#include <memory>
#include <vector>

#include "frame/p11_frame.h"
#include "object/attr_rules.h"
#include "object/object_internal.h"

namespace {

using namespace zebp11::obj;

// The first entry of every copied template: an empty search is a search
// too, and N_attr 0 means "no find" to the session.
constexpr CK_ATTRIBUTE_TYPE kFindMarker = CKA_VENDOR_DEFINED | 0x5A45424Ful;

// The session may see objects only with the user logged in: objects are
// read with the user's login, and a stored record does not tell private
// token objects from public ones.
bool user_state(CK_STATE s) { return s == CKS_RO_USER_FUNCTIONS || s == CKS_RW_USER_FUNCTIONS; }

// A copy of the caller's template in the form the session table releases.
CK_ATTRIBUTE* copy_template(const CK_ATTRIBUTE* attrs, CK_ULONG count) {
  std::unique_ptr<CK_ATTRIBUTE[]> copy(new CK_ATTRIBUTE[count + 1]());
  copy[0].type = kFindMarker;
  for (CK_ULONG i = 0; i < count; ++i) {
    CK_ATTRIBUTE& c = copy[i + 1];
    c.type = attrs[i].type;
    c.ulValueLen = attrs[i].ulValueLen;
    if (c.ulValueLen != 0) {
      auto* v = new CK_BYTE[c.ulValueLen];
      std::memcpy(v, attrs[i].pValue, c.ulValueLen);
      c.pValue = v;
    }
  }
  return copy.release();
}

struct Search {
  std::span<const CK_ATTRIBUTE> attrs;  // without the marker
  bool header_only = true;              // every attribute answered by the header
};

bool header_type(CK_ATTRIBUTE_TYPE t) {
  return t == CKA_CLASS || t == CKA_KEY_TYPE || t == CKA_TOKEN || t == CKA_ID || t == CKA_LABEL;
}

bool equal(const zeb::SecretBytes& v, const CK_ATTRIBUTE& a) {
  return v.size() == a.ulValueLen && (v.empty() || std::memcmp(v.data(), a.pValue, v.size()) == 0);
}

// Whether an object matches: every attribute of the search is one the
// object answers with exactly that value.
bool header_matches(const Search& s, uint8_t type, uint8_t algo, const uint8_t* id, const uint8_t* label, bool token) {
  zeb::SecretBytes v;
  for (const CK_ATTRIBUTE& a : s.attrs) {
    if (!header_type(a.type)) continue;
    const auto ans = answer_from_header(type, algo, id, label, token, a.type, v);
    if (ans != Answer::kValue || !equal(v, a)) return false;
  }
  return true;
}

CK_RV full_matches(const Search& s, VRK_HANDLE hVRK, uint32_t handle, bool* match) {
  *match = false;
  LoadedObject o;
  if (const CK_RV rv = load_object(hVRK, handle, o); rv != CKR_OK) return rv;
  zeb::SecretBytes v;
  for (const CK_ATTRIBUTE& a : s.attrs) {
    if (header_type(a.type)) continue;
    CK_RV err = CKR_OK;
    if (answer(o, a.type, v, &err) != Answer::kValue || !equal(v, a)) return err;
  }
  *match = true;
  return CKR_OK;
}

// Every match, token objects by store index first, then session objects by
// slot.
CK_RV gather(const Search& s, VRK_HANDLE hVRK, std::optional<bool> token, std::vector<uint32_t>& out) {
  if (token != std::optional<bool>(false)) {
    auto list = std::make_unique<VRK_SEOBJ_LIST>();
    VRK_UINT32 count = 0;
    P11_TRY_CORE(VRK_ListObjects(hVRK, list.get(), &count));
    static constexpr VRK_SEOBJ kFree{};
    for (const VRK_SEOBJ& r : list->seobj_array) {
      if (std::memcmp(&r, &kFree, sizeof r) == 0) continue;
      if (!header_matches(s, r.ObjType, r.ObjKeyAlgo, r.ObjId, r.ObjLabel, true)) continue;
      bool match = true;
      if (!s.header_only) P11_TRY(full_matches(s, hVRK, r.ObjIndex, &match));
      if (match) out.push_back(r.ObjIndex);
    }
  }
  if (token != std::optional<bool>(true)) {
    std::vector<VRK_SESS_OBJECT> slots(VRK_MAX_SESS_OBJECTS);
    P11_TRY_CORE(VRK_ListSessionObjects(hVRK, slots.data()));
    std::vector<VRK_OBJECT_META> metas(slots.size());
    std::vector<bool> hidden(slots.size(), false);
    for (size_t i = 0; i < slots.size(); ++i) {
      if (slots[i].pObj == nullptr) continue;
      P11_TRY_CORE(VRK_GetObjMetaPtr(hVRK, slots[i].pObj, slots[i].u32DataLen, &metas[i]));
      const uint32_t x = metas[i].u32ObjExtIndex;
      if (x != ZEB_OBJ_NO_EXTENSION && is_session_handle(x) && x - VRK_SESS_OBJ_HANDLE_BASE < hidden.size()) {
        hidden[x - VRK_SESS_OBJ_HANDLE_BASE] = true;
      }
    }
    for (size_t i = 0; i < slots.size(); ++i) {
      if (slots[i].pObj == nullptr || hidden[i]) continue;
      const VRK_OBJECT_META& m = metas[i];
      if (!header_matches(s, m.ObjType, m.ObjKeyAlgo, m.ObjId, m.ObjLabel, false)) continue;
      const auto handle = static_cast<uint32_t>(VRK_SESS_OBJ_HANDLE_BASE + i);
      bool match = true;
      if (!s.header_only) P11_TRY(full_matches(s, hVRK, handle, &match));
      if (match) out.push_back(handle);
    }
  }
  return CKR_OK;
}

CK_RV P11_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                      CK_ULONG_PTR pulObjectCount) {
  CK_SESSION_INFO info{};
  P11_TRY(P11_GetSessionInfo(hSession, &info));
  ZEBP11_FINDOBJ_INFO find{};
  P11_TRY(P11_GetFindObjectInfo(hSession, &find));
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  *pulObjectCount = 0;
  if (find.N_attr == 0 || find.target_attrs == nullptr || !user_state(info.state)) return CKR_OK;
  Search s{{find.target_attrs + 1, find.N_attr - 1}};
  for (const CK_ATTRIBUTE& a : s.attrs) s.header_only = s.header_only && header_type(a.type);
  std::optional<bool> token;
  for (const CK_ATTRIBUTE& a : s.attrs) {
    if (a.type == CKA_TOKEN && a.ulValueLen == 1) token = *static_cast<const CK_BBOOL*>(a.pValue) != CK_FALSE;
  }
  std::vector<uint32_t> matches;
  P11_TRY(gather(s, hVRK, token, matches));
  CK_ULONG n = 0;
  for (size_t i = find.position; i < matches.size() && n < ulMaxObjectCount; ++i) phObject[n++] = matches[i];
  find.position += n;
  P11_TRY(P11_SetFindObjectInfo(hSession, &find));
  *pulObjectCount = n;
  P11_LOG_D("got %lu object handles", n);
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
  ZEBP11_FINDOBJ_INFO find{};
  find.target_attrs = copy_template(pTemplate, ulCount);
  find.N_attr = ulCount + 1;
  find.position = 0;
  if (const CK_RV rv = P11_SetFindObjectInfo(hSession, &find); rv != CKR_OK) {
    P11_FreeFindTemplate(find.target_attrs, find.N_attr);
    return rv;
  }
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
  const ZEBP11_FINDOBJ_INFO none{};
  P11_TRY(P11_SetFindObjectInfo(hSession, &none));
  return CKR_OK;
} P11_CATCH_ALL
