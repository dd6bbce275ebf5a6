#include "crypto/operation.h"

#include <quarzel/hash.h>
#include <zeb/vrk.h>
#include <zeb/vrk_crypto.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace zebp11::crypto {

namespace {

// The module's records, by session handle. A record outlives its session
// only until the next lookup or start notices the session is gone.
struct Table {
  std::mutex mu;
  std::unordered_map<CK_SESSION_HANDLE, std::unique_ptr<Operation>> ops;
};

Table& table() {
  static Table t;
  return t;
}

// A record is live while its session is open and the frame's `Mech` still
// names its mechanism; anything else is left over from a closed session.
bool live(CK_SESSION_HANDLE h, const Operation& op) {
  CK_MECHANISM_TYPE mech = P11_MECH_NONE;
  return P11_GetSessionMech(h, &mech) == CKR_OK && mech == op.mech->type;
}

bool fingerprint(const uint8_t* in, CK_ULONG n, std::array<uint8_t, 32>& out) {
  if (!fits_u32(n) || (in == nullptr && n != 0)) return false;
  uint32_t len = static_cast<uint32_t>(out.size());
  return hash_onestep(HASH_TYPE_SHA2_256, static_cast<uint32_t>(n), in, &len, out.data()) == 0;
}

}  // namespace

namespace detail {

// The outputs of these calls are thrown away.
void end_core(const Operation& op) noexcept {
  uint8_t scratch[144] = {};
  VRK_UINT32 len = sizeof scratch;
  uint8_t byte = 0;
  switch (op.kind) {
    case OpKind::kEncrypt:
    case OpKind::kDecrypt:
      // RSA keeps no operation in the core, AES one that a final ends.
      if (op.mech->worker != Worker::kRsaPkcs) (void)VRK_AesFinal(op.vrk, scratch, &len);
      break;
    case OpKind::kSign:
      if (op.mech->hash == kHashNone) {
        (void)VRK_ECDSASign(op.vrk, &byte, 1, scratch, &len);
      } else {
        (void)VRK_ECDSASignFinal(op.vrk, scratch, &len);
      }
      break;
    case OpKind::kVerify:
      if (op.mech->hash == kHashNone) {
        (void)VRK_ECDSAVerify(op.vrk, &byte, 1, scratch, 1);
      } else {
        (void)VRK_ECDSAVerifyFinal(op.vrk, scratch, 1);
      }
      break;
    case OpKind::kDigest:
      (void)VRK_DigestFinal(op.vrk, scratch, &len);
      break;
  }
  quarzel::secure_wipe(scratch, sizeof scratch);
}

}  // namespace detail

CK_RV open_init(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                std::initializer_list<Worker> workers, const Mechanism** row, VRK_HANDLE* vrk) {
  const CallScope scope;
  if (CK_RV rv = entry_checks(site, EntryChecks{.required = {pMechanism}, .session = hSession}); rv != CKR_OK) {
    return rv;
  }
  {
    Table& t = table();
    std::lock_guard lock(t.mu);
    auto it = t.ops.find(hSession);
    if (it != t.ops.end()) {
      if (live(hSession, *it->second)) return CKR_OPERATION_ACTIVE;
      t.ops.erase(it);
    }
  }
  *row = find_mechanism(pMechanism->mechanism, workers);
  if (*row == nullptr) return CKR_MECHANISM_INVALID;
  return P11_GetVRKSessionHdle(hSession, vrk);
}

CK_RV start_operation(CK_SESSION_HANDLE hSession, Operation&& op) {
  auto rec = std::make_unique<Operation>(std::move(op));
  const CK_MECHANISM_TYPE mech = rec->mech->type;
  Table& t = table();
  std::lock_guard lock(t.mu);
  // Records of sessions closed meanwhile go now.
  std::erase_if(t.ops, [](const auto& kv) { return P11_CheckSessionExists(kv.first) != CKR_OK; });
  if (CK_RV rv = P11_SetSessionMech(hSession, mech); rv != CKR_OK) {
    detail::end_core(*rec);
    return rv;
  }
  t.ops[hSession] = std::move(rec);
  return CKR_OK;
}

namespace detail {

CK_RV find_running(CK_SESSION_HANDLE hSession, std::initializer_list<OpKind> kinds, Operation** op) {
  Table& t = table();
  std::lock_guard lock(t.mu);
  auto it = t.ops.find(hSession);
  if (it == t.ops.end()) return CKR_OPERATION_NOT_INITIALIZED;
  if (!live(hSession, *it->second)) {
    t.ops.erase(it);
    return CKR_OPERATION_NOT_INITIALIZED;
  }
  if (std::find(kinds.begin(), kinds.end(), it->second->kind) == kinds.end()) return CKR_OPERATION_NOT_INITIALIZED;
  *op = it->second.get();
  return CKR_OK;
}

void finish(CK_SESSION_HANDLE hSession, bool end_core_too) noexcept {
  std::unique_ptr<Operation> op;
  {
    Table& t = table();
    std::lock_guard lock(t.mu);
    auto it = t.ops.find(hSession);
    if (it == t.ops.end()) return;
    op = std::move(it->second);
    t.ops.erase(it);
  }
  if (end_core_too) detail::end_core(*op);
  (void)P11_SetSessionMech(hSession, P11_MECH_NONE);
}

}  // namespace detail

const Step* output_room(const void* out, CK_ULONG_PTR out_len, CK_ULONG needed) {
  static constexpr Step kAsked{CKR_OK, false};
  static constexpr Step kShort{CKR_BUFFER_TOO_SMALL, false};
  if (out == nullptr) {
    *out_len = needed;
    return &kAsked;
  }
  if (*out_len < needed) {
    *out_len = needed;
    return &kShort;
  }
  return nullptr;
}

CK_RV keep_result(Operation& op, const uint8_t* in, CK_ULONG in_len, quarzel::SecretBytes&& result) {
  if (!fingerprint(in, in_len, op.result_for)) return CKR_GENERAL_ERROR;
  op.result = std::move(result);
  op.has_result = true;
  return CKR_OK;
}

bool has_result_for(const Operation& op, const uint8_t* in, CK_ULONG in_len) {
  if (!op.has_result) return false;
  std::array<uint8_t, 32> fp{};
  return fingerprint(in, in_len, fp) && fp == op.result_for;
}

Step deliver_result(Operation& op, uint8_t* out, CK_ULONG_PTR out_len) {
  if (const Step* s = output_room(out, out_len, op.result.size())) return *s;
  if (!op.result.empty()) std::memcpy(out, op.result.data(), op.result.size());
  *out_len = op.result.size();
  return kDone;
}

}  // namespace zebp11::crypto
