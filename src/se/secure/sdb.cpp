// The secure-channel session table.
#include <array>
#include <cstring>

#include "se/secure_channel.h"

namespace {

constexpr session_ctx_t reset_slot() {
  session_ctx_t s{};
  s.session_hdle = SDB_FREE_HANDLE;
  s.app_id[0] = 'P';
  s.app_id[1] = 'P';
  s.app_id[2] = 'A';
  s.app_id[3] = 'D';
  s.cipher_suite = SC_DEFAULT;
  s.state = 0x10;
  s.counter[0] = 0x80;
  return s;
}

constexpr std::array<session_ctx_t, SDB_SESSIONS> reset_table() {
  std::array<session_ctx_t, SDB_SESSIONS> t{};
  for (auto& s : t) s = reset_slot();
  return t;
}

// Free from the start, so a lookup before sdb_init finds nothing.
[[gnu::section(".sdb")]] std::array<session_ctx_t, SDB_SESSIONS> sdb = reset_table();

}  // namespace

session_ctx_t* sdb_table(void) { return sdb.data(); }

extern "C" {

uint32_t sdb_init(void) {
  for (auto& s : sdb) (void)sdb_reset_session_ctx(&s);
  return 0;
}

uint32_t sdb_reset_session_ctx(session_ctx_t* sess) {
  if (sess == nullptr) return SDB_ERR_NO_SESSION;
  // Keys go with the slot: wiped, not just overwritten by the compiler's choice.
  volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(sess);
  for (size_t i = 0; i < sizeof *sess; ++i) p[i] = 0;
  *sess = reset_slot();
  return 0;
}

uint32_t sdb_get_unused_session(session_ctx_t** sess) {
  for (auto& s : sdb) {
    if (s.session_hdle == SDB_FREE_HANDLE) {
      if (sess != nullptr) *sess = &s;
      return 0;
    }
  }
  return SDB_ERR_NO_FREE_SLOT;
}

session_ctx_t* sdb_sess_hdle_to_sess(uint32_t handle) {
  if (handle == SDB_FREE_HANDLE) return nullptr;
  for (auto& s : sdb) {
    if (s.session_hdle == handle) return &s;
  }
  return nullptr;
}

uint32_t sdb_check_session_exist(uint32_t handle) {
  return sdb_sess_hdle_to_sess(handle) != nullptr ? 0 : SDB_ERR_NO_SESSION;
}

uint32_t sdb_fill_sess_handle_and_appid(uint32_t handle, uint32_t appid) {
  // The free-slot marker would make the slot look free again.
  if (handle == SDB_FREE_HANDLE || sdb_sess_hdle_to_sess(handle) != nullptr) return SDB_ERR_HANDLE_IN_USE;
  session_ctx_t* s = nullptr;
  if (uint32_t rv = sdb_get_unused_session(&s); rv != 0) return rv;
  s->session_hdle = handle;
  for (int i = 0; i < 4; ++i) s->app_id[i] = static_cast<uint8_t>(appid >> (8 * i));
  s->cipher_suite = SC_PIV_CS2;
  s->state = 0x20;
  return 0;
}

uint32_t sdb_release_sess(uint32_t handle) {
  session_ctx_t* s = sdb_sess_hdle_to_sess(handle);
  return s == nullptr ? SDB_ERR_NO_SESSION : sdb_reset_session_ctx(s);
}

uint32_t sdb_set_enckey(uint32_t handle, uint8_t len, const uint8_t* key) {
  session_ctx_t* s = sdb_sess_hdle_to_sess(handle);
  if (s == nullptr) return SDB_ERR_NO_SESSION;
  if (len > sizeof s->enckey || (len > 0 && key == nullptr)) return SDB_ERR_KEY_LEN;
  if (len > 0) std::memcpy(s->enckey, key, len);
  return 0;
}

uint32_t sdb_set_mackey(uint32_t handle, uint8_t len, const uint8_t* key) {
  session_ctx_t* s = sdb_sess_hdle_to_sess(handle);
  if (s == nullptr) return SDB_ERR_NO_SESSION;
  if (len > sizeof s->mackey.bytes || (len > 0 && key == nullptr)) return SDB_ERR_KEY_LEN;
  if (len > 0) std::memcpy(s->mackey.bytes, key, len);
  return 0;
}

#define SDB_FIELD_ACCESS(setter, getter, field)                            \
  uint32_t setter(uint32_t handle, uint8_t v) {                            \
    session_ctx_t* s = sdb_sess_hdle_to_sess(handle);                      \
    if (s == nullptr) return SDB_ERR_NO_SESSION;                           \
    s->field = v;                                                          \
    return 0;                                                              \
  }                                                                        \
  uint32_t getter(uint32_t handle, uint8_t* v) {                           \
    session_ctx_t* s = sdb_sess_hdle_to_sess(handle);                      \
    if (s == nullptr) return SDB_ERR_NO_SESSION;                           \
    if (v != nullptr) *v = s->field;                                       \
    return 0;                                                              \
  }
SDB_FIELD_ACCESS(sdb_set_pkt_num, sdb_get_pktnum, pkt_number)
SDB_FIELD_ACCESS(sdb_set_cipher_suite, sdb_get_cipher_suite, cipher_suite)
#undef SDB_FIELD_ACCESS

uint32_t sdb_set_state(uint32_t handle, uint8_t v) {
  session_ctx_t* s = sdb_sess_hdle_to_sess(handle);
  if (s == nullptr) return SDB_ERR_NO_SESSION;
  s->state = static_cast<uint8_t>(s->state | (v & 0x0F));
  return 0;
}

uint32_t sdb_get_state(uint32_t handle, uint8_t* v) {
  session_ctx_t* s = sdb_sess_hdle_to_sess(handle);
  if (s == nullptr) return SDB_ERR_NO_SESSION;
  if (v != nullptr) *v = s->state;
  return 0;
}

uint32_t sdb_increment_counter(uint32_t handle) {
  session_ctx_t* s = sdb_sess_hdle_to_sess(handle);
  if (s == nullptr) return SDB_ERR_NO_SESSION;
  increment_uint8_array(s->counter, sizeof s->counter);
  return 0;
}

uint32_t sdb_refresh_sess_time(uint32_t handle) {
  session_ctx_t* s = sdb_sess_hdle_to_sess(handle);
  if (s == nullptr) return SDB_ERR_NO_SESSION;
  asn1_time now{};
  const uint32_t rv = systime_get_asn_time(&now);
  static_assert(sizeof now == sizeof s->last_acc_time + sizeof s->rsvd1);
  std::memcpy(&s->last_acc_time, &now, sizeof now);
  return rv;
}

uint32_t sdb_open_session(uint32_t, uint32_t*) { return SDB_ERR_NOT_IMPLEMENTED; }
uint32_t sdb_close_session(uint32_t) { return 0; }
uint32_t sdb_list_sess_info(uint32_t*, sess_info_t*) { return 0; }
uint32_t sdb_setup_sec_ch_ecdh(void) { return 0; }

void increment_uint8_array(uint8_t* array, size_t size) {
  if (array == nullptr || size < 2) return;
  for (size_t i = size - 1; i >= 1; --i) {
    if (array[i] != 0xFF) {
      ++array[i];
      return;
    }
    array[i] = 0;
  }
}

}  // extern "C"
