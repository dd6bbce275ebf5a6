// AES in steps on the secure element. The device's AES command runs a whole
// operation from an IV in one request of at most 4 KiB; the table's Init keeps
// the operation's parameters on the host, and every Update and the Final send
// their data as such commands, a request's worth at a time, carrying the
// chaining value (the next IV or counter) from one command to the next. So
// each step answers its own data, as the software provider does, and an
// operation of any length reaches the device whole. Each session keeps its own
// template, so sessions on several threads run their operations side by side.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "mw/mw_call.h"
#include "quarzel/aes.h"
#include "quarzel/blockcipher.h"
#include "quarzel/padding.h"
#include "quarzel/port.h"
#include "se/middleware.h"

using namespace se;

namespace {

constexpr uint32_t kBlock = AES_BLOCK_SIZE;
constexpr uint32_t kIvMax = 16;
constexpr uint32_t kKeyMax = 64;
// Handle, mode, direction and padding words, and the three array counts.
constexpr uint32_t kRequestFixed = 22;
static_assert(cmd::wire_size(cmd::cry::AesCrypt.request) == kRequestFixed);
// A piece's answer (its count and bytes) stays well inside a reply.
constexpr uint32_t kPieceMax = 4064;

// How the value that starts the next command follows from a piece (NIST SP
// 800-38A): nothing (ECB); the last ciphertext block (CBC, and CFB whose
// shift register then holds the last 128 bits of ciphertext); the last input
// block XOR the last output block (OFB's key-stream block, PCBC's chaining
// value); the counter advanced by one per block (CTR, the whole block as a
// big-endian number).
enum class Chain : uint8_t { kNone, kCipherText, kInXorOut, kCounter };

struct ModeRow {
  uint8_t mode;
  Chain chain;
};
constexpr ModeRow kModes[] = {
    {CIPHER_MODE_ECB, Chain::kNone},          {CIPHER_MODE_CBC, Chain::kCipherText},
    {CIPHER_MODE_CFB, Chain::kCipherText},    {CIPHER_MODE_OFB, Chain::kInXorOut},
    {CIPHER_MODE_CTR, Chain::kCounter},       {CIPHER_MODE_PCBC, Chain::kInXorOut},
    {CIPHER_MODE_CFB8, Chain::kCipherText},   {CIPHER_MODE_CFB64, Chain::kCipherText},
    {CIPHER_MODE_CFB128, Chain::kCipherText},
};

const ModeRow* mode_row(uint8_t mode) {
  for (const ModeRow& r : kModes) {
    if (r.mode == mode) return &r;
  }
  return nullptr;
}

struct AES_ONE_STEP_TEMPLATE {
  ZEB_CRYPTO_HANDLE hSession;
  uint32_t AESCipherMode;
  uint32_t AESCipherDir;
  uint32_t AESCipherPadding;
  uint8_t IV[kIvMax];  // the chaining value for the next command
  uint32_t IVLen;
  uint8_t SwKey[kKeyMax];
  uint32_t SwKeyLen;
  uint32_t pieces_sent;
};

// The process's one-step AES state: one template per session running an
// operation (the device opens far fewer sessions). Should every slot be busy,
// an Init takes over the one least recently started: its session's next step
// then reports no operation. Guarded by the channel lock.
constexpr size_t kSlots = 64;
struct Slot {
  bool busy;
  uint64_t started;
  AES_ONE_STEP_TEMPLATE t;
};
struct AesOneStepTemplates {
  Slot slots[kSlots];
  uint64_t inits;  // Inits so far: orders the slots by start
};
AesOneStepTemplates gl_aes_one_step_template{};

void clear_slot(Slot& s) { quarzel::secure_wipe(&s, sizeof s); }

Slot* find_slot(ZEB_CRYPTO_HANDLE hSession) {
  for (Slot& s : gl_aes_one_step_template.slots) {
    if (s.busy && s.t.hSession == hSession) return &s;
  }
  return nullptr;
}

// The session's slot, else a free one, else the oldest; always emptied.
Slot& slot_for_init(ZEB_CRYPTO_HANDLE hSession) {
  Slot* pick = find_slot(hSession);
  for (Slot& s : gl_aes_one_step_template.slots) {
    if (pick == nullptr && !s.busy) pick = &s;
  }
  if (pick == nullptr) {
    pick = &gl_aes_one_step_template.slots[0];
    for (Slot& s : gl_aes_one_step_template.slots) {
      if (s.started < pick->started) pick = &s;
    }
  }
  clear_slot(*pick);
  return *pick;
}

void overflow_message(const char* func, int line) {
  std::fprintf(stderr, "\033[1;31m[%s, %s, Line %d] tarvin: abort memcpy due to buffer overflow!\033[m\n", "zeb_crypto_mw", func,
              line);
}

// Data bytes one command carries besides the template's IV and key, in whole
// blocks.
uint32_t piece_room(const AES_ONE_STEP_TEMPLATE& t) {
  const uint32_t room = SE_REQ_MAX - kRequestFixed - t.IVLen - t.SwKeyLen;
  return (room < kPieceMax ? room : kPieceMax) / kBlock * kBlock;
}

// Moves the chaining value past a piece of whole blocks; `last_in` is the
// piece's last input block, taken before an in-place command overwrote it.
void advance(AES_ONE_STEP_TEMPLATE& t, const uint8_t* last_in, const uint8_t* out, uint32_t n) {
  if (t.IVLen != kBlock) return;  // the device refused such an IV already
  const uint8_t* last_out = out + n - kBlock;
  switch (mode_row(static_cast<uint8_t>(t.AESCipherMode))->chain) {
    case Chain::kNone:
      break;
    case Chain::kCipherText:
      std::memcpy(t.IV, t.AESCipherDir == CIPHER_DIR_ENC ? last_out : last_in, kBlock);
      break;
    case Chain::kInXorOut:
      for (uint32_t i = 0; i < kBlock; ++i) t.IV[i] = static_cast<uint8_t>(last_in[i] ^ last_out[i]);
      break;
    case Chain::kCounter: {
      uint64_t carry = n / kBlock;
      for (uint32_t i = kBlock; i-- > 0 && carry != 0;) {
        carry += t.IV[i];
        t.IV[i] = static_cast<uint8_t>(carry);
        carry >>= 8;
      }
      break;
    }
  }
}

// One command over n bytes at `in`; the last piece of the operation carries
// its padding word, the others none and whole blocks only. At most `room`
// bytes of answer go to `out`.
uint32_t send_piece(AES_ONE_STEP_TEMPLATE& t, const uint8_t* in, uint32_t n, bool last, uint8_t* out, uint32_t room,
                    uint32_t* got) {
  uint8_t last_in[kBlock] = {};
  if (!last) std::memcpy(last_in, in + n - kBlock, kBlock);
  uint32_t len = room;
  const auto padding = static_cast<uint8_t>(last ? t.AESCipherPadding : CIPHER_PADDING_NONE);
  uint32_t rv = FWC_AesCrypt_mw(t.hSession, static_cast<uint8_t>(t.AESCipherMode), static_cast<uint8_t>(t.AESCipherDir),
                                padding, t.IV, t.IVLen, t.SwKey, t.SwKeyLen, const_cast<uint8_t*>(in), n, out, &len);
  ++t.pieces_sent;
  if (rv == 0 && !last) {
    // A piece of whole blocks answers as many bytes, or the chain is lost.
    if (len != n) {
      rv = mw::kGeneralError;
    } else {
      advance(t, last_in, out, n);
    }
  }
  quarzel::secure_wipe(last_in, sizeof last_in);
  if (rv == 0) *got = len;
  return rv;
}

// Sends n bytes in pieces; `last` marks the operation's final data, of which
// the last piece keeps at least a block (a final partial block is completed
// by ciphertext stealing, which needs the block before it).
uint32_t run(AES_ONE_STEP_TEMPLATE& t, const uint8_t* in, uint32_t n, bool last, uint8_t* out, uint32_t room,
             uint32_t* done) {
  const uint32_t cap = piece_room(t);
  *done = 0;
  while (n != 0 || (last && t.pieces_sent == 0)) {
    uint32_t take = n;
    if (n > cap) {
      take = cap;
      if (last && n - take < kBlock) take -= kBlock;
    }
    const bool final_piece = last && take == n;
    uint32_t got = 0;
    if (uint32_t rv = send_piece(t, in, take, final_piece, out + *done, room - *done, &got); rv != 0) return rv;
    *done += got;
    in += take;
    n -= take;
    if (final_piece) break;
  }
  return 0;
}

// The opening checks of a step; 0 to go on.
uint32_t step_checks(const Slot* slot, const uint8_t* in, uint32_t n, const uint8_t* out, const uint32_t* out_len) {
  if (slot == nullptr) return mw::kNotInitialized;
  if (out_len == nullptr || (n != 0 && in == nullptr)) return mw::kArguments;
  // Every step answers as many bytes as it is given (the Final's padding is
  // added and removed by the caller).
  if (*out_len < n) return mw::kBufferTooSmall;
  if (n != 0 && out == nullptr) return mw::kArguments;
  return 0;
}

}  // namespace

extern "C" {

// A refused IV, key or mode leaves no operation behind: the template is empty.
uint32_t FWC_AesInit_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t AESCipherMode, uint8_t AESCipherDir,
                        uint8_t AESCipherPadding, uint8_t* IV, uint32_t IVLen, uint8_t* SwKey, uint32_t SwKeyLen) {
  std::lock_guard lock(mw::channel_lock());
  Slot& slot = slot_for_init(hSession);
  AES_ONE_STEP_TEMPLATE& t = slot.t;
  if (IVLen > kIvMax || SwKeyLen > kKeyMax) {
    overflow_message(__func__, __LINE__);
    return mw::kArguments;
  }
  if ((IV == nullptr && IVLen != 0) || (SwKey == nullptr && SwKeyLen != 0)) return mw::kArguments;
  // Only a mode whose chaining the host can carry runs in several commands.
  if (mode_row(AESCipherMode) == nullptr) return mw::kMechanismInvalid;
  t.hSession = hSession;
  t.AESCipherMode = AESCipherMode;
  t.AESCipherDir = AESCipherDir;
  t.AESCipherPadding = AESCipherPadding;
  if (IVLen != 0) std::memcpy(t.IV, IV, IVLen);
  t.IVLen = IVLen;
  if (SwKeyLen != 0) std::memcpy(t.SwKey, SwKey, SwKeyLen);
  t.SwKeyLen = SwKeyLen;
  slot.busy = true;
  slot.started = ++gl_aes_one_step_template.inits;
  return 0;
}

// Whole blocks in, as many out. A refusal before anything is sent leaves the
// operation as it was; a failed command ends it.
uint32_t FWC_AesUpdate_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen, uint8_t* DataOut,
                          uint32_t* pDataOutLen) {
  std::lock_guard lock(mw::channel_lock());
  Slot* slot = find_slot(hSession);
  if (uint32_t rv = step_checks(slot, Data, DataLen, DataOut, pDataOutLen); rv != 0) return rv;
  if (DataLen % kBlock != 0) return mw::kDataLenRange;
  uint32_t done = 0;
  if (uint32_t rv = run(slot->t, Data, DataLen, false, DataOut, *pDataOutLen, &done); rv != 0) {
    clear_slot(*slot);
    return rv;
  }
  *pDataOutLen = done;
  return 0;
}

// *pDataOutLen is the room of DataOut. The template is emptied whatever the
// commands give, once the step has passed its checks.
uint32_t FWC_AesFinal_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen, uint8_t* DataOut,
                         uint32_t* pDataOutLen) {
  std::lock_guard lock(mw::channel_lock());
  Slot* slot = find_slot(hSession);
  if (uint32_t rv = step_checks(slot, Data, DataLen, DataOut, pDataOutLen); rv != 0) return rv;
  uint32_t done = 0;
  const uint32_t rv = run(slot->t, Data, DataLen, true, DataOut, *pDataOutLen, &done);
  clear_slot(*slot);
  if (rv == 0) *pDataOutLen = done;
  return rv;
}

}  // extern "C"
