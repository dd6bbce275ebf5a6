// Secure channel: the session table `sdb` (8 slots) and the protection of
// commands of classes 0x91-0xEF (AES-128-CBC under a counter-derived IV,
// chained HMAC-SHA-256 truncated to 16 bytes).
//
// Protected command data: handle (4, clear) | AES-CBC(PKCS#7(payload)) | MAC (16).
// MAC input: CLA INS P1 P2 LC-lo LC-hi | handle | ciphertext, chained after
// the session's last MAC. Protected reply: L | ciphertext | SW | MAC, the MAC
// over ciphertext and SW.
#pragma once

#include <cstddef>
#include <cstdint>

#include "se/time.h"
#include "trix/trix.h"

inline constexpr uint32_t SDB_SESSIONS = 8;
inline constexpr uint32_t SDB_FREE_HANDLE = 0xFFFFFFFF;  // marks a free slot; never a session's handle
inline constexpr uint32_t SDB_MAC_LEN = 16;

// Cipher suites.
enum : uint8_t { SC_DEFAULT = 1, SC_TEST_ONLY = 2, SC_PIV_CS2 = 3, SC_PIV_CS7 = 4 };

// Result codes.
inline constexpr uint32_t SDB_ERR_NO_SESSION = 0x2030;
inline constexpr uint32_t SDB_ERR_KEY_LEN = 0x2031;
inline constexpr uint32_t SDB_ERR_NO_FREE_SLOT = 0x2032;
inline constexpr uint32_t SDB_ERR_HANDLE_IN_USE = 0x2033;
inline constexpr uint32_t SDB_ERR_MAC = 0x2034;
inline constexpr uint32_t SDB_ERR_NOT_IMPLEMENTED = 0x2200;

extern "C" {

typedef union mac_key_t {
  struct {
    uint8_t cmd_mackey[16];
    uint8_t rsp_mackey[16];
    uint8_t resev[32];
  } CS2;
  struct {
    uint8_t cmd_mackey[32];
    uint8_t rsp_mackey[32];
  } CS7;
  uint8_t bytes[64];
} mac_key_t;

typedef struct session_ctx_t {
  uint32_t session_hdle;
  uint8_t app_id[4];
  uint8_t cipher_suite;
  uint8_t state;
  uint8_t pkt_number;
  uint8_t rsvd;
  uint32_t last_acc_time;  // with rsvd1: the last access as an 8-byte asn1_time
  uint8_t rsvd1[4];
  uint8_t enckey[64];
  mac_key_t mackey;
  uint8_t iv[16];
  uint8_t counter[16];
  uint8_t checksum[16];
} session_ctx_t;
static_assert(sizeof(session_ctx_t) == 196);

// The first 20 bytes of a slot (TAG_SESS_INFO).
typedef struct sess_info_t {
  uint32_t session_hdle;
  uint8_t app_id[4];
  uint8_t cipher_suite;
  uint8_t state;
  uint8_t pkt_number;
  uint8_t rsvd;
  uint32_t last_acc_time;
  uint8_t rsvd1[4];
} sess_info_t;
static_assert(sizeof(sess_info_t) == 20);

// ---- Slot table ----
uint32_t sdb_init(void);
uint32_t sdb_reset_session_ctx(session_ctx_t* sess);
uint32_t sdb_get_unused_session(session_ctx_t** sess);
// The slot holding `handle`; null when none (and always for SDB_FREE_HANDLE).
session_ctx_t* sdb_sess_hdle_to_sess(uint32_t handle);
uint32_t sdb_check_session_exist(uint32_t handle);
// Claims a slot for `handle` (suite SC_PIV_CS2, state 0x20). SDB_FREE_HANDLE
// is refused with 0x2033.
uint32_t sdb_fill_sess_handle_and_appid(uint32_t handle, uint32_t appid);
uint32_t sdb_release_sess(uint32_t handle);
uint32_t sdb_set_enckey(uint32_t handle, uint8_t len, const uint8_t* key);
uint32_t sdb_set_mackey(uint32_t handle, uint8_t len, const uint8_t* key);
uint32_t sdb_set_pkt_num(uint32_t handle, uint8_t n);
uint32_t sdb_get_pktnum(uint32_t handle, uint8_t* n);
uint32_t sdb_set_cipher_suite(uint32_t handle, uint8_t s);
uint32_t sdb_get_cipher_suite(uint32_t handle, uint8_t* s);
uint32_t sdb_set_state(uint32_t handle, uint8_t s);
uint32_t sdb_get_state(uint32_t handle, uint8_t* s);
uint32_t sdb_increment_counter(uint32_t handle);
uint32_t sdb_refresh_sess_time(uint32_t handle);
// Placeholders.
uint32_t sdb_open_session(uint32_t appid, uint32_t* handle);
uint32_t sdb_close_session(uint32_t handle);
uint32_t sdb_list_sess_info(uint32_t* count, sess_info_t* info);
uint32_t sdb_setup_sec_ch_ecdh(void);

// ---- Packet primitives (SC_PIV_CS2 only; other suites: 0, nothing done) ----
uint32_t sdb_update_iv_by_counter(uint32_t handle);
// Whole 16-byte blocks only (others: SDB_ERR_MAC for decryption, the cipher's
// refusal for encryption); in place allowed.
uint32_t sdb_enc_payload(uint32_t handle, uint16_t plaintxt_len, const uint8_t* plaintxt, uint16_t* cipher_len,
                         uint8_t* cipher);
uint32_t sdb_dec_payload(uint32_t handle, uint16_t cipher_len, const uint8_t* cipher, uint16_t* plaintxt_len,
                         uint8_t* plaintxt);
// MAC lengths 1 to 16; others are refused with SDB_ERR_MAC.
uint32_t sdb_mac_packet(uint32_t handle, uint16_t payload_len, const uint8_t* payload, uint16_t cmd_mac_len,
                        uint8_t* cmd_mac);
uint32_t sdb_verify_mac(uint32_t handle, uint16_t payload_len, const uint8_t* payload, uint16_t cmd_mac_len,
                        const uint8_t* cmd_mac);
void increment_uint8_array(uint8_t* array, size_t size);

// ---- Channel hooks ----
bool is_cla_secure_channel_cmd(uint8_t cla);
bool is_secure_channel_rsp(uint8_t dev_buf_0, uint8_t dev_buf_1);
// Protects the command in place. Its inbuf must have room for
// SE_MW_CDATA_SIZE bytes; a protected form longer than that gives 0x2040, a
// command without a whole handle 0x2030.
uint32_t secure_ch_encrypt(se_cmd_t* se_cmd);
// Checks and unwraps a protected reply of `count` received bytes in place,
// leaving a plain reply. 0x2034 for any reply that does not check out.
uint32_t secure_ch_decrypt(const uint32_t* sess_hdle, uint8_t* dev_buf, size_t count);
uint32_t get_sess_hdle(const uint8_t* cdata);
const uint8_t* get_enc_buf_start(const uint8_t* cdata);
size_t get_enc_text_length(size_t cdata_len);

}  // extern "C"

// The table itself, for tests and diagnostics.
session_ctx_t* sdb_table(void);
