// State and helpers shared by the core service's own units.
#pragma once

#include "zeb/adapters.h"
#include "zeb/login_config.h"
#include "zeb/sync.h"
#include "zeb/vrk.h"

namespace zeb::core {

// The one HSM mutex: created by VRK_Initialize, destroyed by VRK_Finalize.
extern VRK_VOID_PTR g_pHsmMutex;

// Holds the HSM mutex for a scope. `ok()` tells whether it was taken, and
// `error()` the mutex layer's code when not; the destructor releases it.
class HsmLock {
 public:
  HsmLock() noexcept;
  ~HsmLock();
  HsmLock(const HsmLock&) = delete;
  HsmLock& operator=(const HsmLock&) = delete;
  bool ok() const noexcept { return rv_ == VRK_OK; }
  uint32_t error() const noexcept { return rv_; }
  // Releases early; returns the release's result (0 if not held).
  uint32_t release() noexcept;

 private:
  uint32_t rv_;
  bool held_ = false;
};

// Length of a fixed-width field's text: bytes before the first zero.
size_t field_len(const uint8_t* field, size_t width) noexcept;

// PINs and labels handed to a device: at most the device's field, and free of
// the bytes that the device's text files cannot carry (0x00, 0x0A, 0x0D).
uint32_t check_new_pin(const uint8_t* pin, uint32_t len) noexcept;
uint32_t check_label(const uint8_t* label, uint32_t len) noexcept;

// Draws a session handle from the OS random source: never 0, never the
// claimed-slot marker, never a live handle. 0 when the source fails.
VRK_HANDLE new_session_handle() noexcept;

// The session table (20 contexts). Handles (hVrk) are read and written
// atomically, so that lookups need no lock; the rest of a live context
// belongs to whoever holds its slot (SessionRef).
VRK_SESSION_CTX* session_table() noexcept;

// A live session held for the length of one call: while it is held, the
// session's context stays this session's and a close in another thread
// waits for it (so a call never works on a wiped context). Empty for a
// handle that is not, or no longer, open. A thread may hold several
// references to one session (nested calls); order: the HSM mutex first,
// then a session, never the other way round.
class SessionRef {
 public:
  explicit SessionRef(VRK_HANDLE h) noexcept;
  ~SessionRef();
  SessionRef(const SessionRef&) = delete;
  SessionRef& operator=(const SessionRef&) = delete;
  // The context (null when empty), valid while this reference lives.
  operator VRK_SESSION_CTX*() const noexcept { return ctx_; }
  VRK_SESSION_CTX* get() const noexcept { return ctx_; }
  VRK_SESSION_CTX* operator->() const noexcept { return ctx_; }

 private:
  friend class ClaimedSlot;
  SessionRef() = default;
  VRK_SESSION_CTX* ctx_ = nullptr;
  size_t slot_ = 0;
};

// A slot claimed for an open, held like a SessionRef: publish() makes the
// session visible under its handle; a slot never published is freed again.
class ClaimedSlot {
 public:
  ClaimedSlot() noexcept;  // claims the first free slot; empty when none
  ~ClaimedSlot();
  ClaimedSlot(const ClaimedSlot&) = delete;
  ClaimedSlot& operator=(const ClaimedSlot&) = delete;
  explicit operator bool() const noexcept { return ref_.ctx_ != nullptr; }
  VRK_SESSION_CTX* operator->() const noexcept { return ref_.ctx_; }
  void publish(VRK_HANDLE h) noexcept;

 private:
  SessionRef ref_;
  bool published_ = false;
};

// Wipes a held context and frees its slot (close). The caller holds it.
void release_slot(VRK_SESSION_CTX* ctx) noexcept;

// Ends every live session (finalisation): session objects, provider
// session, context.
void end_all_sessions() noexcept;

inline constexpr VRK_HANDLE kClaimedSlot = 0xFFFFFFFFu;

}  // namespace zeb::core

namespace zeb::core {

// Table installation (start-up selects by HSM type; tests may install their
// own tables).
void set_device_table(const DA_Functions_t* table) noexcept;
void set_store_table(const SA_Functions_t* table) noexcept;
struct CryptoTables {
  const C_AESFunc_t* aes;
  const C_RSAFunc_t* rsa;
  const C_ECCFunc_t* ecc;
  const C_KeyBlobFunc_t* keyblob;
  const C_KdfFunc_t* kdf;
};
void set_crypto_tables(const CryptoTables& tables) noexcept;

// True when the AES, key-blob and RSA operations of this HSM type run in the
// secure element (whose crypto session then is the context's crypto handle).
constexpr bool uses_se_crypto(uint8_t hsm_type) noexcept {
  return hsm_type == VRK_HSM_TYPE_QUILLSTAR || hsm_type == VRK_HSM_TYPE_TESTBED;
}

}  // namespace zeb::core
