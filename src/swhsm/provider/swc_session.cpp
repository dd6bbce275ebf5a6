// Software crypto provider: sessions, master keys, random generation,
// digests, padding and the key-blob transform.
#include <atomic>
#include <cstring>
#include <mutex>

#include "swc_work.h"
#include "swc_internal.h"
#include "quarzel/hash.h"
#include "quarzel/kdf.h"
#include "quarzel/padding.h"
#include "quarzel/secure.h"

namespace {

// The one multi-part operation a session runs at a time.
union SWCryptoCtx {
  hash_ctx_t hash;
  uint8_t raw[4096];
};

struct SWCryptoSessionCtx {
  uint32_t hSWCryptoSession;
  uint8_t SwMK[SWC_MK_LEN];
  SWCryptoCtx ctx;
  swc::SessionRandom random;  // apart from ctx: a draw never disturbs a digest in progress
};

// Handles are read without a lock by every lookup, so they are atomic; a
// session's context belongs to whoever holds its slot's mutex. Opens claim
// slots under g_open_mutex.
std::atomic<uint32_t> g_SessionHandle_t[SWC_MAX_SESSIONS];
SWCryptoSessionCtx g_SWCryptoSessionCtx[SWC_MAX_SESSIONS];
std::recursive_mutex g_slot_mutex[SWC_MAX_SESSIONS];
std::mutex g_open_mutex;
std::atomic<bool> g_quarzel_state{false};

// The default master key of every new session: it wraps the key blobs made
// before a caller sets the session's own key.
constexpr uint8_t mk[SWC_MK_LEN] = {
    0x5A, 0x45, 0x42, 0x2D, 0x53, 0x57, 0x43, 0x2D, 0x9C, 0x31, 0xE4, 0x07, 0x6B, 0xD2, 0x58, 0xA9,
    0x13, 0x7F, 0xC6, 0x2E, 0x84, 0x4B, 0xF1, 0x96, 0x3D, 0xA0, 0x65, 0xEB, 0x21, 0x8C, 0x57, 0xB4,
};

// The caller holds slot i.
void wipe_session(size_t i) {
  g_SessionHandle_t[i].store(0);
  quarzel::secure_wipe(&g_SWCryptoSessionCtx[i], sizeof g_SWCryptoSessionCtx[i]);
}

int slot_of(uint32_t h) {
  if (h == 0) return -1;
  for (size_t i = 0; i < SWC_MAX_SESSIONS; ++i) {
    if (g_SessionHandle_t[i].load() == h) return static_cast<int>(i);
  }
  return -1;
}

// A session held for one call (see swc::SessionView).
struct Held {
  SWCryptoSessionCtx* s = nullptr;
  std::unique_lock<std::recursive_mutex> hold;
};

Held find(uint32_t h) {
  Held held;
  const int i = slot_of(h);
  if (i < 0) return held;
  held.hold = std::unique_lock<std::recursive_mutex>(g_slot_mutex[i]);
  // Closed (and perhaps reopened) while we waited: not this session.
  if (g_SessionHandle_t[i].load() != h) return Held{};
  held.s = &g_SWCryptoSessionCtx[i];
  return held;
}

uint32_t transform(uint8_t* key, uint32_t key_len, uint8_t dir, uint8_t* in, uint32_t len, uint8_t* out,
                   uint32_t* out_len) {
  if (key == nullptr || out_len == nullptr || ((in == nullptr || out == nullptr) && len != 0)) {
    return SWC_ERR_ARGUMENTS;
  }
  if (len != 0) {
    uint8_t iv[16];
    const uint32_t rc = keyblob_crypt(key, key_len, dir, iv, in, len, out);
    if (rc != 0) return rc;
  }
  *out_len = len;
  return 0;
}

constexpr uint8_t kEncrypt = 2;
constexpr uint8_t kDecrypt = 1;

}  // namespace

// The master key and working context of a session, for the provider's
// operation units (crypto/swc_work.h).
swc::SessionView swc::session_view(uint32_t h) {
  Held held = find(h);
  if (held.s == nullptr) return {};
  return {held.s->SwMK, held.s->ctx.raw, sizeof held.s->ctx.raw, &held.s->random, std::move(held.hold)};
}

extern "C" uint32_t SWC_OpenSession(uint32_t* phSwCryptoSession) {
  if (phSwCryptoSession == nullptr) return SWC_ERR_ARGUMENTS;
  std::lock_guard<std::mutex> guard(g_open_mutex);
  size_t slot = SWC_MAX_SESSIONS;
  for (size_t i = 0; i < SWC_MAX_SESSIONS; ++i) {
    if (g_SessionHandle_t[i].load() == 0) {
      slot = i;
      break;
    }
  }
  if (slot == SWC_MAX_SESSIONS) return SWC_ERR_SESSION_COUNT;
  uint32_t h = 0;
  for (int attempt = 0; h == 0 || slot_of(h) >= 0; ++attempt) {
    if (attempt == 64 || quarzel_get_random(reinterpret_cast<uint8_t*>(&h), sizeof h) != 0) return 6;
  }
  {
    // Filled before the handle is published: no lookup meets a half-made
    // session.
    std::lock_guard<std::recursive_mutex> slot_guard(g_slot_mutex[slot]);
    wipe_session(slot);
    g_SWCryptoSessionCtx[slot].hSWCryptoSession = h;
    std::memcpy(g_SWCryptoSessionCtx[slot].SwMK, mk, SWC_MK_LEN);
    g_SessionHandle_t[slot].store(h);
  }
  if (!g_quarzel_state.exchange(true)) (void)quarzel_init();
  *phSwCryptoSession = h;
  return 0;
}

extern "C" uint32_t SWC_CloseSession(uint32_t hSwCryptoSession) {
  const Held held = find(hSwCryptoSession);
  if (held.s == nullptr) return SWC_ERR_SESSION_HANDLE;
  wipe_session(static_cast<size_t>(held.s - g_SWCryptoSessionCtx));
  return 0;
}

extern "C" uint32_t SWC_CloseAllSessions(void) {
  for (size_t i = 0; i < SWC_MAX_SESSIONS; ++i) {
    std::lock_guard<std::recursive_mutex> guard(g_slot_mutex[i]);
    wipe_session(i);
  }
  return 0;
}

extern "C" uint32_t SWC_SetMK(uint32_t hSwCryptoSession, uint8_t* pSwMK, uint32_t u32SwMKLen) {
  const Held held = find(hSwCryptoSession);
  SWCryptoSessionCtx* s = held.s;
  if (s == nullptr) return SWC_ERR_SESSION_HANDLE;
  // A key of any other length would leave part of the old key in force.
  if (pSwMK == nullptr || u32SwMKLen != SWC_MK_LEN) return SWC_ERR_ARGUMENTS;
  std::memcpy(s->SwMK, pSwMK, SWC_MK_LEN);
  return 0;
}

extern "C" uint32_t SWC_GetMK(uint32_t hSwCryptoSession, uint8_t* pSwMK, uint32_t* pu32SwMKLen) {
  const Held held = find(hSwCryptoSession);
  SWCryptoSessionCtx* s = held.s;
  if (s == nullptr) return SWC_ERR_SESSION_HANDLE;
  if (pSwMK == nullptr || pu32SwMKLen == nullptr) return SWC_ERR_ARGUMENTS;
  std::memcpy(pSwMK, s->SwMK, SWC_MK_LEN);
  *pu32SwMKLen = SWC_MK_LEN;
  return 0;
}

extern "C" uint32_t SWC_ClearMK(uint32_t hSwCryptoSession) {
  const Held held = find(hSwCryptoSession);
  SWCryptoSessionCtx* s = held.s;
  if (s == nullptr) return SWC_ERR_SESSION_HANDLE;
  quarzel::secure_wipe(s->SwMK, SWC_MK_LEN);
  return 0;
}

extern "C" uint32_t SWC_DigestInit(uint32_t hSWCryptoSession, uint8_t HashType) {
  const Held held = find(hSWCryptoSession);
  SWCryptoSessionCtx* s = held.s;
  if (s == nullptr) return SWC_ERR_SESSION_HANDLE;
  return hash_init(&s->ctx.hash, static_cast<hash_type_t>(HashType));
}

extern "C" uint32_t SWC_DigestUpdate(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength) {
  const Held held = find(hSWCryptoSession);
  SWCryptoSessionCtx* s = held.s;
  if (s == nullptr) return SWC_ERR_SESSION_HANDLE;
  return hash_update(&s->ctx.hash, DataLength, pData);
}

extern "C" uint32_t SWC_DigestFinal(uint32_t hSWCryptoSession, uint8_t* pDigest, uint32_t* pu32DigestLength) {
  const Held held = find(hSWCryptoSession);
  SWCryptoSessionCtx* s = held.s;
  if (s == nullptr) return SWC_ERR_SESSION_HANDLE;
  return hash_final(&s->ctx.hash, pu32DigestLength, pDigest);
}

extern "C" uint32_t SWC_Padding(uint8_t PaddingType, uint32_t BlockSize, uint8_t* pData, uint32_t DataLength,
                                uint8_t* pDataOut, uint32_t* pDataOutLength) {
  return blockcipher_padding(static_cast<cipher_padding_t>(PaddingType), BlockSize, DataLength, pData,
                             pDataOutLength, pDataOut);
}

extern "C" uint32_t SWC_Unpadding(uint8_t PaddingType, uint32_t BlockSize, uint8_t* pData, uint32_t DataLength,
                                  uint8_t* pDataOut, uint32_t* pDataOutLength) {
  return blockcipher_unpadding(static_cast<cipher_padding_t>(PaddingType), BlockSize, DataLength, pData,
                               pDataOutLength, pDataOut);
}

extern "C" uint32_t _Key_Encrypt(uint8_t* pMK, uint32_t u32MKLength, uint8_t* pPlainKey, uint32_t u32PlainKeyLength,
                                 uint8_t* pKey, uint32_t* pu32KeyLength) {
  return transform(pMK, u32MKLength, kEncrypt, pPlainKey, u32PlainKeyLength, pKey, pu32KeyLength);
}

extern "C" uint32_t _Key_Decrypt(uint8_t* pMK, uint32_t u32MKLength, uint8_t* pKey, uint32_t u32KeyLength,
                                 uint8_t* pPlainKey, uint32_t* pu32PlainKeyLength) {
  return transform(pMK, u32MKLength, kDecrypt, pKey, u32KeyLength, pPlainKey, pu32PlainKeyLength);
}

extern "C" uint32_t _AES_Encrypt(uint8_t* pAesKey, uint32_t u32AesKeyLength, uint8_t* pPlainData,
                                 uint32_t u32PlainDataLength, uint8_t* IV, uint8_t* pCipher,
                                 uint32_t* pu32CipherLength) {
  if (pAesKey == nullptr || IV == nullptr || pu32CipherLength == nullptr ||
      ((pPlainData == nullptr || pCipher == nullptr) && u32PlainDataLength != 0)) {
    return SWC_ERR_ARGUMENTS;
  }
  if (u32PlainDataLength != 0) {
    const uint32_t rc = keyblob_crypt(pAesKey, u32AesKeyLength, kEncrypt, IV, pPlainData, u32PlainDataLength, pCipher);
    if (rc != 0) return rc;
  }
  *pu32CipherLength = u32PlainDataLength;
  return 0;
}

extern "C" uint32_t _AES_Decrypt(uint8_t* pAesKey, uint32_t u32AesKeyLength, uint8_t* pCipherData,
                                 uint32_t u32CipherDataLength, uint8_t* IV, uint8_t* pPlain,
                                 uint32_t* pu32PlainLength) {
  if (pAesKey == nullptr || IV == nullptr || pu32PlainLength == nullptr ||
      ((pCipherData == nullptr || pPlain == nullptr) && u32CipherDataLength != 0)) {
    return SWC_ERR_ARGUMENTS;
  }
  if (u32CipherDataLength != 0) {
    const uint32_t rc = keyblob_crypt(pAesKey, u32AesKeyLength, kDecrypt, IV, pCipherData, u32CipherDataLength, pPlain);
    if (rc != 0) return rc;
  }
  *pu32PlainLength = u32CipherDataLength;
  return 0;
}

extern "C" uint32_t SWC_Key_Encrypt(uint32_t hSWCryptoSession, uint8_t* pPlainKey, uint32_t u32PlainKeyLength,
                                    uint8_t* pKey, uint32_t* pu32KeyLength) {
  const Held held = find(hSWCryptoSession);
  SWCryptoSessionCtx* s = held.s;
  if (s == nullptr) return SWC_ERR_SESSION_HANDLE;
  return transform(s->SwMK, SWC_MK_LEN, kEncrypt, pPlainKey, u32PlainKeyLength, pKey, pu32KeyLength);
}

extern "C" uint32_t SWC_Key_Decrypt(uint32_t hSWCryptoSession, uint8_t* pKey, uint32_t u32KeyLength,
                                    uint8_t* pPlainKey, uint32_t* pu32PlainKeyLength) {
  const Held held = find(hSWCryptoSession);
  SWCryptoSessionCtx* s = held.s;
  if (s == nullptr) return SWC_ERR_SESSION_HANDLE;
  return transform(s->SwMK, SWC_MK_LEN, kDecrypt, pKey, u32KeyLength, pPlainKey, pu32PlainKeyLength);
}

extern "C" uint32_t SWC_Pbkdf(uint32_t /*hSWCryptoSession*/, uint8_t* password, uint32_t password_len, uint8_t* salt,
                              uint32_t salt_len, uint8_t* dk, uint32_t* dk_len) {
  // The provider session plays no part in the derivation. PBKDF2 refuses an
  // empty password, salt or output; so do we, before calling it.
  if (password == nullptr || password_len == 0 || salt == nullptr || salt_len == 0 || dk == nullptr ||
      dk_len == nullptr || *dk_len == 0) {
    return SWC_ERR_ARGUMENTS;
  }
  return pbkdf2(HASH_TYPE_SHA2_256, 4096, password_len, password, salt_len, salt, dk_len, dk);
}

bool swd::session_key_digest(uint32_t handle, uint8_t key[32]) {
  hash_ctx_t ctx;
  quarzel::WipeOnExit<hash_ctx_t> wipe(ctx);
  uint32_t n = 32;
  return hash_init(&ctx, HASH_TYPE_SHA3_256) == 0 &&
         hash_update(&ctx, sizeof handle, reinterpret_cast<const uint8_t*>(&handle)) == 0 &&
         hash_final(&ctx, &n, key) == 0 && n == 32;
}

bool swc_session_exists(uint32_t h) { return slot_of(h) >= 0; }
