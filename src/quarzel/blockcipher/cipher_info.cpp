// Key expansion and block routines by cipher family and instruction-set path.
#include "blockcipher/cipher_info.h"

#include "aes/aes_internal.h"

namespace quarzel::bc {

uint32_t expand_key_for(cipher_type_t type, cipher_dir_t dir, uint32_t key_len, const uint8_t* key,
                        uint8_t* round_key) {
  if (is_des_type(type)) {
    tdes_algo_key_expansion(dir, key_len, key, round_key);
    return static_cast<uint32_t>(CipherAccel::kPortable);
  }
#if QZ_HAVE_AESNI
  if (cipher_accel_default() == CipherAccel::kAesNi) {
    aesni::key_expansion(key_len, key, round_key);
    return static_cast<uint32_t>(CipherAccel::kAesNi);
  }
#endif
  aes_algo_key_expansion(dir, key_len, key, round_key);
  return static_cast<uint32_t>(CipherAccel::kPortable);
}

fp_algo_calc_t encrypt_routine(cipher_type_t type, uint32_t accel) {
  if (is_des_type(type)) return tdes_algo_encrypt;
#if QZ_HAVE_AESNI
  if (accel == static_cast<uint32_t>(CipherAccel::kAesNi)) return aesni::encrypt_block;
#endif
  (void)accel;
  return aes_algo_encrypt;
}

fp_algo_calc_t decrypt_routine(cipher_type_t type, uint32_t accel) {
  if (is_des_type(type)) return tdes_algo_decrypt;
#if QZ_HAVE_AESNI
  if (accel == static_cast<uint32_t>(CipherAccel::kAesNi)) return aesni::decrypt_block;
#endif
  (void)accel;
  return aes_algo_decrypt;
}

}  // namespace quarzel::bc
