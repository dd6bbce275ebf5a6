// Packet protection of the secure channel (suite SC_PIV_CS2).
#include <cstring>

#include "quarzel/blockcipher.h"
#include "quarzel/aes.h"
#include "quarzel/hmac.h"
#include "quarzel/secure.h"
#include "se/frame.h"
#include "se/secure_channel.h"

namespace {

constexpr uint32_t kBlock = AES_BLOCK_SIZE;
constexpr uint32_t kKeyLen = 16;  // AES-128, and each CS2 MAC key

// The slot of `handle` when it does packet work: 0 and *out = null for other
// suites (nothing to do), 0x2030 when there is no such session.
uint32_t cs2_slot(uint32_t handle, session_ctx_t** out) {
  *out = nullptr;
  session_ctx_t* s = sdb_sess_hdle_to_sess(handle);
  if (s == nullptr) return SDB_ERR_NO_SESSION;
  if (s->cipher_suite == SC_PIV_CS2) *out = s;
  return 0;
}

uint32_t crypt_payload(uint32_t handle, cipher_dir_t dir, uint16_t in_len, const uint8_t* in, uint16_t* out_len,
                       uint8_t* out) {
  session_ctx_t* s = nullptr;
  if (uint32_t rv = cs2_slot(handle, &s); rv != 0 || s == nullptr) return rv;
  // Whole blocks only: the mode would otherwise steal ciphertext.
  if (in_len == 0 || in_len % kBlock != 0 || in == nullptr || out == nullptr || out_len == nullptr)
    return SDB_ERR_MAC;
  (void)sdb_update_iv_by_counter(handle);
  uint32_t n = in_len;
  if (quarzel_ret_t rv =
          blockcipher_onestep(CIPHER_TYPE_AES128, CIPHER_MODE_CBC, dir, kKeyLen, s->enckey, kBlock, s->iv, in_len, in, &n, out);
      rv != 0)
    return rv;
  *out_len = in_len;
  increment_uint8_array(s->counter, sizeof s->counter);
  ++s->pkt_number;
  return 0;
}

// The chained MAC of `payload` under `key` into mac (mac_len bytes).
uint32_t chained_mac(const session_ctx_t* s, const uint8_t* key, uint16_t payload_len, const uint8_t* payload,
                     uint16_t mac_len, uint8_t* mac) {
  hmac_ctx_t ctx;
  quarzel::WipeOnExit<hmac_ctx_t> wipe(ctx);
  uint8_t full[32];
  quarzel::WipeOnExit<uint8_t[32]> wipe_full(full);
  uint32_t n = sizeof full;
  quarzel_ret_t rv = hmac_init(&ctx, HASH_TYPE_SHA2_256, kKeyLen, key);
  if (rv == 0) rv = hmac_update(&ctx, sizeof s->checksum, s->checksum);
  if (rv == 0 && payload_len > 0) rv = hmac_update(&ctx, payload_len, payload);
  if (rv == 0) rv = hmac_final(&ctx, &n, full);
  if (rv != 0) return rv;
  std::memcpy(mac, full, mac_len);
  return 0;
}

bool valid_mac_len(uint16_t mac_len) { return mac_len >= 1 && mac_len <= SDB_MAC_LEN; }

uint16_t get_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The session of a protected packet: it must exist and be of the one suite
// that protects packets (any other would pass everything unchecked).
uint32_t packet_session(uint32_t handle) {
  const session_ctx_t* s = sdb_sess_hdle_to_sess(handle);
  if (s == nullptr) return SDB_ERR_NO_SESSION;
  return s->cipher_suite == SC_PIV_CS2 ? 0 : SDB_ERR_NOT_IMPLEMENTED;
}

}  // namespace

extern "C" {

uint32_t sdb_update_iv_by_counter(uint32_t handle) {
  session_ctx_t* s = nullptr;
  if (uint32_t rv = cs2_slot(handle, &s); rv != 0 || s == nullptr) return rv;
  uint32_t n = kBlock;
  return blockcipher_onestep(CIPHER_TYPE_AES128, CIPHER_MODE_ECB, CIPHER_DIR_ENC, kKeyLen, s->enckey, 0, nullptr,
                             kBlock, s->counter, &n, s->iv);
}

uint32_t sdb_enc_payload(uint32_t handle, uint16_t plaintxt_len, const uint8_t* plaintxt, uint16_t* cipher_len,
                         uint8_t* cipher) {
  return crypt_payload(handle, CIPHER_DIR_ENC, plaintxt_len, plaintxt, cipher_len, cipher);
}

uint32_t sdb_dec_payload(uint32_t handle, uint16_t cipher_len, const uint8_t* cipher, uint16_t* plaintxt_len,
                         uint8_t* plaintxt) {
  return crypt_payload(handle, CIPHER_DIR_DEC, cipher_len, cipher, plaintxt_len, plaintxt);
}

uint32_t sdb_mac_packet(uint32_t handle, uint16_t payload_len, const uint8_t* payload, uint16_t cmd_mac_len,
                        uint8_t* cmd_mac) {
  session_ctx_t* s = nullptr;
  if (uint32_t rv = cs2_slot(handle, &s); rv != 0 || s == nullptr) return rv;
  // The chaining value holds 16 bytes.
  if (!valid_mac_len(cmd_mac_len) || cmd_mac == nullptr || (payload_len > 0 && payload == nullptr))
    return SDB_ERR_MAC;
  uint8_t mac[SDB_MAC_LEN];
  if (uint32_t rv = chained_mac(s, s->mackey.CS2.cmd_mackey, payload_len, payload, cmd_mac_len, mac); rv != 0)
    return rv;
  std::memcpy(cmd_mac, mac, cmd_mac_len);
  std::memcpy(s->checksum, mac, cmd_mac_len);
  return 0;
}

uint32_t sdb_verify_mac(uint32_t handle, uint16_t payload_len, const uint8_t* payload, uint16_t cmd_mac_len,
                        const uint8_t* cmd_mac) {
  session_ctx_t* s = nullptr;
  if (uint32_t rv = cs2_slot(handle, &s); rv != 0 || s == nullptr) return rv;
  // An empty MAC would check nothing; one over 16 bytes has no room.
  if (!valid_mac_len(cmd_mac_len) || cmd_mac == nullptr || (payload_len > 0 && payload == nullptr))
    return SDB_ERR_MAC;
  uint8_t mac[SDB_MAC_LEN];
  if (uint32_t rv = chained_mac(s, s->mackey.CS2.rsp_mackey, payload_len, payload, cmd_mac_len, mac); rv != 0)
    return rv;
  uint8_t diff = 0;
  for (uint16_t i = 0; i < cmd_mac_len; ++i) diff = static_cast<uint8_t>(diff | (mac[i] ^ cmd_mac[i]));
  if (diff != 0) return SDB_ERR_MAC;
  std::memcpy(s->checksum, mac, cmd_mac_len);
  return 0;
}

bool is_cla_secure_channel_cmd(uint8_t cla) { return cla >= 0x91 && cla <= 0xEF; }

bool is_secure_channel_rsp(uint8_t dev_buf_0, uint8_t dev_buf_1) {
  return (dev_buf_0 | (dev_buf_1 << 8)) >= 1 + 2 + 16;
}

uint32_t secure_ch_encrypt(se_cmd_t* cmd) {
  if (cmd == nullptr || cmd->inbuf == nullptr || cmd->inbuf_len < 4 || cmd->inbuf_len > SE_MW_CDATA_SIZE)
    return SDB_ERR_NO_SESSION;
  uint8_t* data = cmd->inbuf;
  const uint32_t handle = data[0] | (uint32_t{data[1]} << 8) | (uint32_t{data[2]} << 16) | (uint32_t{data[3]} << 24);
  if (uint32_t rv = packet_session(handle); rv != 0) return rv;
  const size_t plain = cmd->inbuf_len - 4;
  const size_t pad = kBlock - plain % kBlock;  // PKCS#7: 1 to 16 bytes
  const size_t padded = plain + pad;
  // Handle, padded payload and MAC must fit the request buffer.
  if (4 + padded + SDB_MAC_LEN > SE_MW_CDATA_SIZE) return SE_ERR_SERIALIZER;
  std::memset(data + 4 + plain, static_cast<int>(pad), pad);
  uint16_t clen = 0;
  if (uint32_t rv = sdb_enc_payload(handle, static_cast<uint16_t>(padded), data + 4, &clen, data + 4); rv != 0)
    return rv;
  (void)sdb_get_pktnum(handle, &cmd->apdu.p2);
  cmd->inbuf_len = 4 + padded;
  cmd->apdu.lc = static_cast<uint16_t>(cmd->inbuf_len + SDB_MAC_LEN);
  uint8_t mac_in[6 + SE_MW_CDATA_SIZE];
  const apdu_t& a = cmd->apdu;
  const uint8_t header[6] = {a.cla, a.ins, a.p1, a.p2, static_cast<uint8_t>(a.lc), static_cast<uint8_t>(a.lc >> 8)};
  std::memcpy(mac_in, header, sizeof header);
  std::memcpy(mac_in + sizeof header, data, 4 + padded);
  if (uint32_t rv = sdb_mac_packet(handle, static_cast<uint16_t>(sizeof header + 4 + padded), mac_in, SDB_MAC_LEN,
                                   data + 4 + padded);
      rv != 0)
    return rv;
  cmd->inbuf_len = cmd->apdu.lc;
  return 0;
}

uint32_t secure_ch_decrypt(const uint32_t* sess_hdle, uint8_t* dev_buf, size_t count) {
  if (sess_hdle == nullptr || dev_buf == nullptr || count < 4) return SDB_ERR_MAC;
  const size_t L = get_u16(dev_buf);
  // Every length is tested before anything is read by it.
  if (L < 1 + 2 + SDB_MAC_LEN || L > SE_REPLY_COUNT_MAX || L + 2 > count) return SDB_ERR_MAC;
  if (uint32_t rv = packet_session(*sess_hdle); rv != 0) return rv;
  const size_t enc_len = L - 18;  // offsets 2 .. L-17
  if (enc_len == 0 || enc_len % kBlock != 0) return SDB_ERR_MAC;
  if (uint32_t rv = sdb_verify_mac(*sess_hdle, static_cast<uint16_t>(L - 16), dev_buf + 2, SDB_MAC_LEN,
                                   dev_buf + L - 14);
      rv != 0)
    return rv;
  uint16_t plain_len = 0;
  if (uint32_t rv = sdb_dec_payload(*sess_hdle, static_cast<uint16_t>(enc_len), dev_buf + 2, &plain_len, dev_buf + 2);
      rv != 0)
    return rv;
  const uint8_t pad = dev_buf[2 + enc_len - 1];
  uint8_t bad = static_cast<uint8_t>(pad == 0 || pad > kBlock);
  for (size_t i = 0; i < kBlock; ++i) {
    const bool in_pad = i < pad;
    bad = static_cast<uint8_t>(bad | (in_pad & (dev_buf[2 + enc_len - 1 - i] != pad)));
  }
  if (bad != 0) return SDB_ERR_MAC;
  const uint8_t sw1 = dev_buf[L - 16];
  const uint8_t sw2 = dev_buf[L - 15];
  const size_t L2 = enc_len - pad + 2;
  dev_buf[0] = static_cast<uint8_t>(L2);
  dev_buf[1] = static_cast<uint8_t>(L2 >> 8);
  dev_buf[L2] = sw1;
  dev_buf[L2 + 1] = sw2;
  return 0;
}

uint32_t get_sess_hdle(const uint8_t* cdata) {
  return cdata[0] | (uint32_t{cdata[1]} << 8) | (uint32_t{cdata[2]} << 16) | (uint32_t{cdata[3]} << 24);
}
const uint8_t* get_enc_buf_start(const uint8_t* cdata) { return cdata + 8; }
size_t get_enc_text_length(size_t cdata_len) { return cdata_len < 8 ? 0 : cdata_len - 8; }

}  // extern "C"
