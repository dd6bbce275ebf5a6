// HMAC-SHA-256 of a blob, in two pieces so that meta and data need not be
// joined in memory.
//
// One core call checks the same blob's MAC several times (its meta, its
// division, its context, each checked on its own by contract), an object and
// its extension in turn. The last few inputs and MACs computed on this
// thread are kept until the core call ends, so a repeat costs a comparison
// instead of an HMAC; any difference in key, meta or data computes afresh.
#include "blob_mac.h"

#include <cstring>

#include "quarzel/hmac.h"
#include "quarzel/secure.h"

namespace swd_blob {

namespace {

// Blobs up to this length (meta and data together) are remembered.
constexpr uint32_t kMaxRemembered = 4096;

struct LastMac {
  bool valid = false;
  uint32_t head_len = 0;
  uint32_t len = 0;
  quarzel::SecretArray<32> key;
  quarzel::SecretArray<kMaxRemembered> input;  // head then data
  quarzel::SecretArray<32> mac;
};
// Blobs kept at once: an object and its extension, with room to spare.
constexpr size_t kKept = 4;
struct Kept {
  LastMac entry[kKept];
  size_t next = 0;  // the entry the next new MAC replaces
};
thread_local Kept t_kept;

bool fits(uint32_t head_len, uint32_t len) { return head_len <= kMaxRemembered && len <= kMaxRemembered - head_len; }

bool same_input(const LastMac& m, const uint8_t* key, const uint8_t* head, uint32_t head_len, const uint8_t* data,
                uint32_t len) {
  if (!m.valid || m.head_len != head_len || m.len != len) return false;
  // Constant time over the key and contents; only the lengths, public, decide.
  const bool k = quarzel::ct_equal(key, m.key.data(), 32);
  const bool h = head_len == 0 || quarzel::ct_equal(head, m.input.data(), head_len);
  const bool d = len == 0 || quarzel::ct_equal(data, m.input.data() + head_len, len);
  return k & h & d;
}

void wipe(LastMac& m) {
  if (!m.valid) return;
  quarzel::secure_wipe(m.key.data(), 32);
  quarzel::secure_wipe(m.input.data(), m.head_len + m.len);
  quarzel::secure_wipe(m.mac.data(), 32);
  m.valid = false;
  m.head_len = m.len = 0;
}

const LastMac* find(const uint8_t* key, const uint8_t* head, uint32_t head_len, const uint8_t* data, uint32_t len) {
  for (const LastMac& m : t_kept.entry) {
    if (same_input(m, key, head, head_len, data, len)) return &m;
  }
  return nullptr;
}

void remember(const uint8_t* key, const uint8_t* head, uint32_t head_len, const uint8_t* data, uint32_t len,
              const uint8_t* mac) {
  // Outside a core call nothing would wipe it soon: not kept.
  if (!fits(head_len, len) || !swd::in_core_call()) return;
  LastMac& m = t_kept.entry[t_kept.next];
  t_kept.next = (t_kept.next + 1) % kKept;
  wipe(m);
  std::memcpy(m.key.data(), key, 32);
  if (head_len != 0) std::memcpy(m.input.data(), head, head_len);
  if (len != 0) std::memcpy(m.input.data() + head_len, data, len);
  std::memcpy(m.mac.data(), mac, 32);
  m.head_len = head_len;
  m.len = len;
  m.valid = true;
}

}  // namespace

uint32_t mac2(const uint8_t* key, const uint8_t* head, uint32_t head_len, const uint8_t* data, uint32_t len,
              uint8_t* mac) {
  if (key != nullptr && mac != nullptr && (head != nullptr || head_len == 0) && (data != nullptr || len == 0)) {
    if (const LastMac* m = find(key, head, head_len, data, len); m != nullptr) {
      std::memcpy(mac, m->mac.data(), 32);
      return 0;
    }
  }
  hmac_ctx_t ctx;
  quarzel::WipeOnExit<hmac_ctx_t> wipe(ctx);
  uint32_t n = 32;
  uint32_t rv = hmac_init(&ctx, HASH_TYPE_SHA2_256, 32, key);
  if (rv == 0 && head_len != 0) rv = hmac_update(&ctx, head_len, head);
  if (rv == 0 && len != 0) rv = hmac_update(&ctx, len, data);
  if (rv == 0) rv = hmac_final(&ctx, &n, mac);
  if (rv == 0 && n == 32) remember(key, head, head_len, data, len, mac);
  return rv;
}

void forget_last_mac() {
  for (LastMac& m : t_kept.entry) wipe(m);
  t_kept.next = 0;
}

}  // namespace swd_blob
