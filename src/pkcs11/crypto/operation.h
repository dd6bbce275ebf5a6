// The cryptographic operation a session runs. Three records describe it: the
// frame's `Mech`, the core session's operation state, and the module's own
// record here (direction, key lengths, input the core holds back, a result
// waiting for its caller). They start together at an Init and end together:
// at the step that completes the operation, and after any failed step other
// than CKR_BUFFER_TOO_SMALL (PKCS#11 v3.0 §5.2).
#pragma once

#include <pkcs11/pkcs11.h>
#include <quarzel/secure.h>
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
  uint32_t held = 0;      // AES: input bytes the core keeps back for the final
  uint32_t key_len = 0;   // RSA: modulus bytes; EC: bytes of the curve's order
  uint32_t core_len = 0;  // EC: the core's length of r and of s
  bool updated = false;   // an Update ran: no single-part call any more
  // A result whose exact length was known only after the work, kept for the
  // call that takes it; that call must bring the same input.
  bool has_result = false;
  std::array<uint8_t, 32> result_for{};
  quarzel::SecretBytes result{};
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

// The opening of an Init entry point: initialised, pMechanism, session, no
// running operation (CKR_OPERATION_ACTIVE), and the gate: the mechanism must
// be one that `workers` run (else CKR_MECHANISM_INVALID). Gives the row and
// the core session.
[[nodiscard]] CK_RV open_init(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                              std::initializer_list<Worker> workers, const Mechanism** row, VRK_HANDLE* vrk);

// Records the operation that an Init has started in the core.
[[nodiscard]] CK_RV start_operation(CK_SESSION_HANDLE hSession, Operation&& op);

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
[[nodiscard]] CK_RV keep_result(Operation& op, const uint8_t* in, CK_ULONG in_len, quarzel::SecretBytes&& result);
// True when a kept result answers input `in`.
[[nodiscard]] bool has_result_for(const Operation& op, const uint8_t* in, CK_ULONG in_len);
// Hands the kept result out under the output convention; done once taken.
[[nodiscard]] Step deliver_result(Operation& op, uint8_t* out, CK_ULONG_PTR out_len);

// ---- internals of run_step ----
namespace detail {
[[nodiscard]] CK_RV find_running(CK_SESSION_HANDLE hSession, std::initializer_list<OpKind> kinds, Operation** op);
// Ends the module's record and the frame's `Mech`; with `end_core` also the
// core's operation.
void finish(CK_SESSION_HANDLE hSession, bool end_core) noexcept;
// Ends the core's side of an operation with calls that always end it.
void end_core(const Operation& op) noexcept;
}  // namespace detail

template <class Fn>
CK_RV run_step(const Site& site, CK_SESSION_HANDLE hSession, std::initializer_list<OpKind> kinds,
               std::initializer_list<const void*> required, Fn&& fn) {
  const CallScope scope;
  if (CK_RV rv = entry_checks(site, EntryChecks{.session = hSession}); rv != CKR_OK) return rv;
  Operation* op = nullptr;
  if (CK_RV rv = detail::find_running(hSession, kinds, &op); rv != CKR_OK) return rv;
  Step s{CKR_OK, false};
  bool args_ok = true;
  for (const void* p : required) args_ok = args_ok && p != nullptr;
  s = args_ok ? fn(*op) : failed(CKR_ARGUMENTS_BAD);
  if (s.rv == CKR_BUFFER_TOO_SMALL || (s.rv == CKR_OK && !s.done)) return s.rv;
  if (s.rv != CKR_OK) log_failure(site, s.rv);
  detail::finish(hSession, s.rv != CKR_OK);
  return s.rv;
}

// Core lengths are 32 bits: a longer input is refused rather than cut.
inline bool fits_u32(CK_ULONG n) { return n <= UINT32_MAX; }

}  // namespace zebp11::crypto
