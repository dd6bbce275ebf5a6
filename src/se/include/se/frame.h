// Secure-element commands: the command record, the one request buffer, and
// the field serializer.
//
// Wire form of a field list: fields in list order, no tag bytes, no
// alignment. Integers and records are their raw little-endian bytes; an array
// field (TAG_UINT8_T_ARR, TAG_ZEB_STORE_UINT8_T_ARR) is a u16 little-endian
// byte count and the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trix/trix.h"

// ---- Sizes and codes ----
inline constexpr size_t SE_MW_CDATA_SIZE = 4086;   // gl_mw_cdata
inline constexpr uint16_t SE_REQ_MAX = 4085;       // largest request a 4086-byte buffer takes
inline constexpr uint32_t SE_REPLY_COUNT_MAX = 4086;  // largest reply count L the channel accepts
inline constexpr uint32_t SE_ERR_SERIALIZER = 0x2040;  // a list does not fit (request or reply)

inline constexpr uint8_t SE_CLA_DEVICE = 0x86;
inline constexpr uint8_t SE_CLA_STORE = 0x87;
inline constexpr uint8_t SE_CLA_CRYPTO = 0x88;
inline constexpr uint16_t SE_CMD_DLY = 0x1000;
inline constexpr uint32_t SE_CMD_HOST_DLY = 0x1000;

extern "C" {

// One field of a request or response list.
//   Request: `length` bytes at `value` are sent.
//   Response, array field: on entry `length` is the capacity of `value`; a
//     longer received array is refused (SE_ERR_SERIALIZER); on return
//     `length` is the received count.
//   Response, other fields: `length` is the width of the caller's variable;
//     tags with a fixed read length need at least that width.
#pragma pack(push, 1)
typedef struct ZEB_TLV {
  uint16_t tag;
  uint16_t length;
  void* value;
} ZEB_TLV;
#pragma pack(pop)
static_assert(sizeof(ZEB_TLV) == 12);

// General set.
enum {
  TAG_UINT8_T = 0,
  TAG_UINT16_T = 1,
  TAG_UINT32_T = 2,
  TAG_INT_T = 3,
  TAG_SHORT_T = 4,
  TAG_LONG_T = 5,
  TAG_UINT8_T_ARR = 6,
  TAG_SC2_HOST_ID_T = 7,
  TAG_SC2_PUB_KEY_T = 8,
  TAG_SC2_NONCE_T = 9,
  TAG_SC2_AUTH_ICC_T = 10,
  TAG_SC2_CVC_T = 11,
  TAG_SESS_INFO = 12,
  N_ZEB_GENERAL_TAGS = 13,
};

// Device set: raw bytes of the preset width both ways.
enum {
  TAG_ZEB_DEVICE_HANDLE = 13,
  TAG_ZEB_DEVICE_VERSION = 14,
  TAG_ZEB_DEVICE_HSM_SN = 15,
  TAG_ZEB_DEVICE_HSM_INFO = 16,
  TAG_ZEB_DEVICE_HSM_POLICY = 17,
  TAG_ZEB_DEVICE_TOKEN_ID = 18,
  TAG_ZEB_DEVICE_TOKEN_SN = 19,
  TAG_ZEB_DEVICE_TKN_USER_LIST = 20,
  TAG_ZEB_DEVICE_TOKEN_INFO = 21,
  TAG_ZEB_DEVICE_TOKEN_POLICY = 22,
  TAG_ZEB_DEVICE_OBJECT_META = 23,
  TAG_ZEB_DEVICE_TOKEN_SESSION_INFO = 24,
};

// Crypto set: raw bytes of the preset width both ways.
enum {
  TAG_ZEB_CRYPTO_HANDLE = 13,
  TAG_FWC_MECHANISM_INFO = 14,
  TAG_CIPHER_MODE_T = 15,
  TAG_CIPHER_DIR_T = 16,
  TAG_CIPHER_PADDING_T = 17,
  TAG_HASH_TYPE_T = 18,
  TAG_CIPHER_TYPE_T = 19,
  TAG_KWP_TYPE_T = 20,
};

// Store set (read by its own rule: tlv_sto_deserialize_and_copy_to_arg).
enum {
  TAG_ZEB_STORE_UINT8_T = 0,
  TAG_ZEB_STORE_UINT16_T = 1,
  TAG_ZEB_STORE_UINT32_T = 2,
  TAG_ZEB_STORE_INT_T = 3,
  TAG_ZEB_STORE_SHORT_T = 4,
  TAG_ZEB_STORE_LONG_T = 5,
  TAG_ZEB_STORE_UINT8_T_ARR = 6,
  TAG_PERSISTENCY_INPUT = 7,
  TAG_STO_LAYOUT = 8,
  TAG_STO_TKN_OBJECT_CONFIG_PATH = 9,
  TAG_STO_UINT32 = 10,
  TAG_STO_UCHAR = 11,
  TAG_STO_SEOBJ = 12,
  TAG_STO_SEOBJ_LIST = 13,
};

// The one request buffer of the process: one command is built and sent at a time.
extern uint8_t gl_mw_cdata[SE_MW_CDATA_SIZE];

// Writes the fields in list order into buf from offset 0. A total of
// max_buf_len bytes or more is refused (so 4085 is the largest request in
// gl_mw_cdata). 0, or SE_ERR_SERIALIZER with nothing stored in
// *filled_buf_len.
[[nodiscard]] uint32_t tlv_serialize_and_fill_buf(uint8_t N_args, const ZEB_TLV* args, uint16_t max_buf_len,
                                                  uint16_t* filled_buf_len, uint8_t* buf);

// Reads the fields of a general, device or crypto list in list order from the
// first buf_len bytes of buf (a reply's data: pass the response's buf_len) and
// copies each to its `value`. A field that runs past buf_len, or an array
// longer than its capacity, gives SE_ERR_SERIALIZER (fields copied before it
// stay copied). Bytes after the last field are ignored.
[[nodiscard]] uint32_t tlv_deserialize_and_copy_to_arg(uint8_t N_args, uint16_t buf_len, const uint8_t* buf,
                                                       ZEB_TLV* args);
// The same for a store-set list.
[[nodiscard]] uint32_t tlv_sto_deserialize_and_copy_to_arg(uint8_t N_args, uint16_t buf_len, const uint8_t* buf,
                                                           ZEB_TLV* args);

// Per-field steps: the array prefix of a request field; the read length of a
// response field (general/device/crypto rule, or the store rule).
uint32_t maybe_fill_tag_and_length_to_buf(const ZEB_TLV* arg, uint16_t max_buf_len, uint16_t* offset, uint8_t* buf);
uint32_t maybe_fill_tag_and_length_to_arg(ZEB_TLV* arg, uint16_t max_buf_len, uint16_t* offset, const uint8_t* buf);

}  // extern "C"

// A place in the source, for failure lines: SE_HERE.
struct SeSite {
  int line;
  const char* file;
  const char* func;
};
#define SE_HERE (SeSite{__LINE__, __FILE__, __func__})

// Prints the failure line of the back end for `rv` at `where` (negative
// access-library codes with their name).
void se_log_failure(uint32_t rv, const SeSite& where);

// A field list entry, for building lists in place: se_field(TAG_UINT32_T, &h).
template <class T>
[[nodiscard]] inline ZEB_TLV se_field(uint16_t tag, T* value, uint16_t length = sizeof(T)) {
  return ZEB_TLV{tag, length, const_cast<void*>(static_cast<const void*>(value))};
}
