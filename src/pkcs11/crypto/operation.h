// The cryptographic operation a session runs. Three records describe it: the
// frame's `Mech`, the core session's operation state, and the module's own
// record here (direction, key lengths, input the core holds back, a result
// waiting for its caller). They start together at an Init and end together:
// at the step that completes the operation, and after any failed step other
// than CKR_BUFFER_TOO_SMALL (PKCS#11 v3.0 §5.2).
//
// The module's record is a value held by the session's entry of the
// operation table and used only under that entry's lock: an Init, a step and
// the end of an operation on one session never overlap, whatever threads the
// application calls from, and no pointer to a record leaves the table.
#pragma once

#include <pkcs11/pkcs11.h>
#include <zeb/vrk_sigform.h>
#include <zeb/vrk_types.h>

#include <array>
#include <cstdint>
#include <initializer_list>

#include "crypto/mechanisms.h"
#include "frame/p11_frame.h"

namespace zebp11::crypto {

enum class OpKind : uint8_t { kEncrypt, kDecrypt, kSign, kVerify, kDigest };

struct Operation {
  OpKind kind{};
  const Mechanism* mech = nullptr;
  VRK_HANDLE vrk = 0;
  uint8_t key_algo = 0;   // EC: the key's algorithm, which names its value forms
  uint32_t held = 0;      // AES: input bytes the core keeps back for the final
  uint32_t key_len = 0;   // RSA: modulus bytes; EC: bytes of the curve's order
  bool updated = false;   // an Update ran: no single-part call any more
  // A result whose exact length was known only after the work, kept for the
  // call that takes it; that call must bring the same input.
  bool has_result = false;
  std::array<uint8_t, 32> result_for{};
  zeb::SecretBytes result{};
};

// Outcome of a step: its result and whether it completed the operation.
struct Step {
  CK_RV rv;
  bool done;
};
inline constexpr Step kGoesOn{CKR_OK, false};
inline constexpr Step kDone{CKR_OK, true};
inline Step failed(CK_RV rv) { return {rv, false}; }
inline Step core_result(int rv) { return {static_cast<CK_RV>(static_cast<uint32_t>(rv)), false}; }

// An Init: the opening checks (initialised, pMechanism, session), then under
// the session entry's lock: no running operation (CKR_OPERATION_ACTIVE), the
// gate (the mechanism must be one that `workers` run, else
// CKR_MECHANISM_INVALID), and the record of kind `kind` made in place before
// `init(op)` reads the key and starts the core's operation. The record is
// dropped when `init` fails; when recording the operation fails after that,
// the core's operation is ended too.
template <class Fn>
CK_RV run_init(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
               std::initializer_list<Worker> workers, OpKind kind, Fn&& init);

// Runs one step of the session's running operation, which must be of one of
// `kinds` (else CKR_OPERATION_NOT_INITIALIZED, leaving it alone). A null
// pointer among `required` is CKR_ARGUMENTS_BAD. The operation ends after a
// completing step and after any failure but CKR_BUFFER_TOO_SMALL; after a
// failure the core's operation is ended too.
template <class Fn>
CK_RV run_step(const Site& site, CK_SESSION_HANDLE hSession, std::initializer_list<OpKind> kinds,
               std::initializer_list<const void*> required, Fn&& fn);

// PKCS#11 v3.0 §5.2 output convention for an output of `needed` bytes: a
// null buffer asks for the length, a short one is CKR_BUFFER_TOO_SMALL; both
// write `needed` and leave the operation running. Null when the output fits.
[[nodiscard]] const Step* output_room(const void* out, CK_ULONG_PTR out_len, CK_ULONG needed);

// A result computed ahead of its caller: kept with a fingerprint of `in`.
[[nodiscard]] CK_RV keep_result(Operation& op, const uint8_t* in, CK_ULONG in_len, zeb::SecretBytes&& result);
// True when a kept result answers input `in`.
[[nodiscard]] bool has_result_for(const Operation& op, const uint8_t* in, CK_ULONG in_len);
// Hands the kept result out under the output convention; done once taken.
[[nodiscard]] Step deliver_result(Operation& op, uint8_t* out, CK_ULONG_PTR out_len);

// ---- internals of run_init and run_step ----
namespace detail {
using InitCall = CK_RV (*)(void* ctx, Operation& op);
using StepCall = Step (*)(void* ctx, Operation& op);
[[nodiscard]] CK_RV init_locked(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                std::initializer_list<Worker> workers, OpKind kind, void* ctx, InitCall call);
[[nodiscard]] CK_RV step_locked(const Site& site, CK_SESSION_HANDLE hSession, std::initializer_list<OpKind> kinds,
                                bool args_ok, void* ctx, StepCall call);
// Ends the core's side of an operation with calls that always end it.
void end_core(const Operation& op) noexcept;
}  // namespace detail

template <class Fn>
CK_RV run_init(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
               std::initializer_list<Worker> workers, OpKind kind, Fn&& init) {
  const CallScope scope;
  if (CK_RV rv = entry_checks(site, EntryChecks{.required = {pMechanism}, .session = hSession}); rv != CKR_OK) {
    return rv;
  }
  return detail::init_locked(site, hSession, pMechanism, workers, kind, &init,
                             [](void* ctx, Operation& op) { return (*static_cast<Fn*>(ctx))(op); });
}

template <class Fn>
CK_RV run_step(const Site& site, CK_SESSION_HANDLE hSession, std::initializer_list<OpKind> kinds,
               std::initializer_list<const void*> required, Fn&& fn) {
  const CallScope scope;
  if (CK_RV rv = entry_checks(site, EntryChecks{.session = hSession}); rv != CKR_OK) return rv;
  bool args_ok = true;
  for (const void* p : required) args_ok = args_ok && p != nullptr;
  return detail::step_locked(site, hSession, kinds, args_ok, &fn,
                             [](void* ctx, Operation& op) { return (*static_cast<Fn*>(ctx))(op); });
}

// Core lengths are 32 bits: a longer input is refused rather than cut.
inline bool fits_u32(CK_ULONG n) { return n <= UINT32_MAX; }

}  // namespace zebp11::crypto

// Ends the operation of a session that is ending (C_CloseSession,
// C_CloseAllSessions, C_Finalize), called once the session table no longer
// finds it and before its core session closes: the core's operation ends,
// the record goes with any result it kept (wiped), and the entry is free.
// A step that another thread runs on the session finishes first.
void P11_EndSessionOperation(CK_SESSION_HANDLE hSession) noexcept;
