#include "crypto/operation.h"

#include <zeb/vrk.h>
#include <zeb/vrk_crypto.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

namespace zebp11::crypto {

namespace {

// One entry per session that has run an operation, freed when the session
// ends (P11_EndSessionOperation); no more sessions are open at once than the
// session table holds, so there is always an entry that is free or whose
// session is gone (one that a call racing the session's end claimed late).
// `owner` changes only with both the table's and the entry's lock held, so
// either lock makes it safe to read; `op` is used under the entry's lock
// alone.
struct Entry {
  std::mutex mu;
  CK_SESSION_HANDLE owner = CK_INVALID_HANDLE;
  std::optional<Operation> op;
};

struct Table {
  std::mutex mu;
  std::array<Entry, P11_MAX_SESSIONS> entries;
};

Table& table() {
  static Table t;
  return t;
}

// The entry index of a session; with `claim`, one is taken for a session
// that has none (a free entry, or one whose session has closed). Returns
// with the entry's lock held in `lock`; false when the session has none.
bool lock_entry(CK_SESSION_HANDLE h, bool claim, std::unique_lock<std::mutex>& lock, size_t* index) {
  Table& t = table();
  for (int attempt = 0; attempt < 4; ++attempt) {
    size_t pick = t.entries.size();
    {
      std::lock_guard tl(t.mu);
      for (size_t i = 0; i < t.entries.size() && pick == t.entries.size(); ++i) {
        if (t.entries[i].owner == h) pick = i;
      }
      if (pick == t.entries.size() && !claim) return false;
      for (size_t i = 0; i < t.entries.size() && pick == t.entries.size(); ++i) {
        const CK_SESSION_HANDLE o = t.entries[i].owner;
        if (o == CK_INVALID_HANDLE || P11_CheckSessionExists(o) != CKR_OK) pick = i;
      }
    }
    if (pick == t.entries.size()) return false;
    Entry& e = t.entries[pick];
    std::unique_lock el(e.mu);
    // The entry lock alone is enough to see that the entry is still ours;
    // taking it needs the table too. Another session may have taken it
    // meanwhile, or this session one of its own: then look again.
    if (e.owner != h) {
      std::lock_guard tl(t.mu);
      const bool takeable = e.owner == CK_INVALID_HANDLE || P11_CheckSessionExists(e.owner) != CKR_OK;
      const bool has_own =
          std::any_of(t.entries.begin(), t.entries.end(), [h](const Entry& x) { return x.owner == h; });
      if (!claim || !takeable || has_own) continue;
      e.owner = h;
      e.op.reset();
    }
    lock = std::move(el);
    *index = pick;
    return true;
  }
  return false;
}

// A record is live while its session is open and the frame's `Mech` still
// names its mechanism; anything else is left over from a closed session.
bool live(CK_SESSION_HANDLE h, const Operation& op) {
  CK_MECHANISM_TYPE mech = P11_MECH_NONE;
  return P11_GetSessionMech(h, &mech) == CKR_OK && mech == op.mech->type;
}

// Ends the entry's operation: the module's record, the frame's `Mech` and,
// with `end_core_too`, the core's operation. The caller holds the entry lock.
void finish(CK_SESSION_HANDLE h, std::optional<Operation>& op, bool end_core_too) noexcept {
  if (end_core_too) detail::end_core(*op);
  op.reset();
  (void)P11_SetSessionMech(h, P11_MECH_NONE);
}

bool fingerprint(const uint8_t* in, CK_ULONG n, std::array<uint8_t, 32>& out) {
  if (!fits_u32(n) || (in == nullptr && n != 0)) return false;
  VRK_UINT32 len = static_cast<VRK_UINT32>(out.size());
  return VRK_HashOneStep(kHashSha256, in, static_cast<VRK_UINT32>(n), out.data(), &len) == 0;
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
  VRK_SecureWipe(scratch, sizeof scratch);
}

CK_RV init_locked(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                  std::initializer_list<Worker> workers, OpKind kind, void* ctx, InitCall call) {
  std::unique_lock<std::mutex> lock;
  size_t index = 0;
  if (!lock_entry(hSession, true, lock, &index)) return CKR_SESSION_HANDLE_INVALID;
  std::optional<Operation>& op = table().entries[index].op;
  if (op) {
    if (live(hSession, *op)) return CKR_OPERATION_ACTIVE;
    op.reset();
  }
  const Mechanism* row = find_mechanism(pMechanism->mechanism, workers);
  if (row == nullptr) return CKR_MECHANISM_INVALID;
  VRK_HANDLE vrk = 0;
  if (CK_RV rv = P11_GetVRKSessionHdle(hSession, &vrk); rv != CKR_OK) return rv;
  // The record is made before the core's operation starts, so that nothing
  // after the start can fail for want of memory. Workers allocate (if at all)
  // before they start the core.
  op.emplace(Operation{.kind = kind, .mech = row, .vrk = vrk});
  CK_RV rv = CKR_OK;
  try {
    rv = call(ctx, *op);
  } catch (...) {
    op.reset();
    throw;
  }
  if (rv != CKR_OK) {
    op.reset();
    log_failure(site, rv);
    return rv;
  }
  if (rv = P11_SetSessionMech(hSession, row->type); rv != CKR_OK) {
    detail::end_core(*op);
    op.reset();
  }
  return rv;
}

CK_RV step_locked(const Site& site, CK_SESSION_HANDLE hSession, std::initializer_list<OpKind> kinds, bool args_ok,
                  void* ctx, StepCall call) {
  std::unique_lock<std::mutex> lock;
  size_t index = 0;
  if (!lock_entry(hSession, false, lock, &index)) return CKR_OPERATION_NOT_INITIALIZED;
  std::optional<Operation>& op = table().entries[index].op;
  if (!op) return CKR_OPERATION_NOT_INITIALIZED;
  if (!live(hSession, *op)) {
    op.reset();
    return CKR_OPERATION_NOT_INITIALIZED;
  }
  if (std::find(kinds.begin(), kinds.end(), op->kind) == kinds.end()) return CKR_OPERATION_NOT_INITIALIZED;
  Step s{CKR_OK, false};
  try {
    s = args_ok ? call(ctx, *op) : failed(CKR_ARGUMENTS_BAD);
  } catch (...) {
    // A step that could not finish (no memory) fails, and so ends, like any
    // other failed step.
    finish(hSession, op, true);
    throw;
  }
  if (s.rv == CKR_BUFFER_TOO_SMALL || (s.rv == CKR_OK && !s.done)) return s.rv;
  if (s.rv != CKR_OK) log_failure(site, s.rv);
  finish(hSession, op, s.rv != CKR_OK);
  return s.rv;
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

CK_RV keep_result(Operation& op, const uint8_t* in, CK_ULONG in_len, zeb::SecretBytes&& result) {
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

void P11_EndSessionOperation(CK_SESSION_HANDLE hSession) noexcept {
  using namespace zebp11::crypto;
  std::unique_lock<std::mutex> lock;
  size_t index = 0;
  if (!lock_entry(hSession, false, lock, &index)) return;
  Entry& e = table().entries[index];
  if (e.op) detail::end_core(*e.op);
  e.op.reset();
  std::lock_guard tl(table().mu);
  e.owner = CK_INVALID_HANDLE;
}
