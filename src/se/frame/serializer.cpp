// Field serializer: field lists to request bytes, reply bytes to fields.
#include <cstring>

#include "se/frame.h"

uint8_t gl_mw_cdata[SE_MW_CDATA_SIZE];

namespace {

bool is_array(uint16_t tag) { return tag == TAG_UINT8_T_ARR; }  // == TAG_ZEB_STORE_UINT8_T_ARR

// Read length of a response field whose tag fixes it, or 0 when the caller's
// preset width applies.
constexpr uint16_t fixed_read_length(uint16_t tag, bool store) {
  if (store) return tag == TAG_ZEB_STORE_UINT8_T ? 1 : 0;
  switch (tag) {
    case TAG_UINT8_T: return 1;
    case TAG_SC2_NONCE_T: return 16;
    case TAG_SC2_AUTH_ICC_T: return 16;
    case TAG_SC2_CVC_T: return 141;
    case TAG_SESS_INFO: return 20;
    default: return 0;
  }
}
static_assert(int{TAG_ZEB_STORE_UINT8_T_ARR} == int{TAG_UINT8_T_ARR});

// Sets arg->length to the number of bytes to copy for the field at *offset
// (reading an array's prefix) and checks it against the destination.
uint32_t set_read_length(ZEB_TLV* arg, bool store, uint16_t buf_len, uint16_t* offset, const uint8_t* buf) {
  if (is_array(arg->tag)) {
    if (size_t{*offset} + 2 > buf_len) return SE_ERR_SERIALIZER;
    const uint16_t n = static_cast<uint16_t>(buf[*offset] | (buf[*offset + 1] << 8));
    if (n > arg->length) return SE_ERR_SERIALIZER;  // longer than the caller's buffer
    *offset = static_cast<uint16_t>(*offset + 2);
    arg->length = n;
    return 0;
  }
  const uint16_t fixed = fixed_read_length(arg->tag, store);
  if (fixed != 0) {
    if (arg->length < fixed) return SE_ERR_SERIALIZER;
    arg->length = fixed;
  }
  return 0;
}

uint32_t deserialize(uint8_t n_args, uint16_t buf_len, const uint8_t* buf, ZEB_TLV* args, bool store) {
  if (n_args > 0 && args == nullptr) return SE_ERR_SERIALIZER;
  if (buf == nullptr && buf_len > 0) return SE_ERR_SERIALIZER;
  uint16_t offset = 0;
  for (uint8_t i = 0; i < n_args; ++i) {
    ZEB_TLV* arg = &args[i];
    if (uint32_t rv = set_read_length(arg, store, buf_len, &offset, buf); rv != 0) return rv;
    if (size_t{offset} + arg->length > buf_len) return SE_ERR_SERIALIZER;
    if (arg->length > 0) {
      if (arg->value == nullptr) return SE_ERR_SERIALIZER;
      std::memcpy(arg->value, buf + offset, arg->length);
    }
    offset = static_cast<uint16_t>(offset + arg->length);
  }
  return 0;
}

}  // namespace

extern "C" {

uint32_t maybe_fill_tag_and_length_to_buf(const ZEB_TLV* arg, uint16_t max_buf_len, uint16_t* offset, uint8_t* buf) {
  if (!is_array(arg->tag)) return 0;
  if (size_t{*offset} + 2 + arg->length >= max_buf_len) return SE_ERR_SERIALIZER;
  buf[*offset] = static_cast<uint8_t>(arg->length);
  buf[*offset + 1] = static_cast<uint8_t>(arg->length >> 8);
  *offset = static_cast<uint16_t>(*offset + 2);
  return 0;
}

uint32_t maybe_fill_tag_and_length_to_arg(ZEB_TLV* arg, uint16_t max_buf_len, uint16_t* offset, const uint8_t* buf) {
  return set_read_length(arg, false, max_buf_len, offset, buf);
}

uint32_t tlv_serialize_and_fill_buf(uint8_t N_args, const ZEB_TLV* args, uint16_t max_buf_len,
                                    uint16_t* filled_buf_len, uint8_t* buf) {
  if (filled_buf_len == nullptr || (N_args > 0 && (args == nullptr || buf == nullptr))) return SE_ERR_SERIALIZER;
  uint16_t offset = 0;
  for (uint8_t i = 0; i < N_args; ++i) {
    const ZEB_TLV& arg = args[i];
    if (arg.length > 0 && arg.value == nullptr) return SE_ERR_SERIALIZER;
    if (uint32_t rv = maybe_fill_tag_and_length_to_buf(&arg, max_buf_len, &offset, buf); rv != 0) return rv;
    if (size_t{offset} + arg.length >= max_buf_len) return SE_ERR_SERIALIZER;
    if (arg.length > 0) std::memcpy(buf + offset, arg.value, arg.length);
    offset = static_cast<uint16_t>(offset + arg.length);
  }
  *filled_buf_len = offset;
  return 0;
}

uint32_t tlv_deserialize_and_copy_to_arg(uint8_t N_args, uint16_t buf_len, const uint8_t* buf, ZEB_TLV* args) {
  return deserialize(N_args, buf_len, buf, args, false);
}

uint32_t tlv_sto_deserialize_and_copy_to_arg(uint8_t N_args, uint16_t buf_len, const uint8_t* buf, ZEB_TLV* args) {
  return deserialize(N_args, buf_len, buf, args, true);
}

}  // extern "C"
