// Crypto tables of the software provider. The AES, RSA and EC operations are
// not served by this build of the provider yet: their slots fail cleanly
// with CKR_FUNCTION_NOT_SUPPORTED.
#include "swhsm/swc.h"

namespace {

uint32_t aes_init(uint32_t, uint8_t, uint8_t, uint8_t, uint8_t*, uint32_t, uint8_t*, uint32_t) {
  return SWC_ERR_NOT_SUPPORTED;
}
uint32_t aes_step(uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t*) { return SWC_ERR_NOT_SUPPORTED; }
uint32_t aes_keygen(uint32_t, uint8_t, uint8_t*, uint32_t*) { return SWC_ERR_NOT_SUPPORTED; }
uint32_t gcm_init(uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t) {
  return SWC_ERR_NOT_SUPPORTED;
}
uint32_t gcm_enc_final(uint32_t, uint8_t, uint8_t*, uint32_t, uint8_t*, uint32_t*) { return SWC_ERR_NOT_SUPPORTED; }
uint32_t gcm_dec_final(uint32_t, uint8_t*, uint32_t, uint8_t*, uint8_t, uint8_t*, uint32_t*) {
  return SWC_ERR_NOT_SUPPORTED;
}

uint32_t rsa_sign(uint32_t, uint8_t, uint8_t*, uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t*) {
  return SWC_ERR_NOT_SUPPORTED;
}
uint32_t rsa_verify(uint32_t, uint8_t, uint8_t*, uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t) {
  return SWC_ERR_NOT_SUPPORTED;
}
uint32_t rsa_crypt(uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t*) {
  return SWC_ERR_NOT_SUPPORTED;
}
uint32_t rsa_keygen(uint32_t, uint32_t, uint32_t, uint8_t*, uint32_t*, uint8_t*, uint32_t*) {
  return SWC_ERR_NOT_SUPPORTED;
}

uint32_t ec_sign(uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t*) {
  return SWC_ERR_NOT_SUPPORTED;
}
uint32_t ec_verify(uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t) {
  return SWC_ERR_NOT_SUPPORTED;
}
uint32_t ec_keygen(uint32_t, uint8_t, uint8_t*, uint32_t*, uint8_t*, uint32_t*) { return SWC_ERR_NOT_SUPPORTED; }

}  // namespace

extern "C" const C_AESFunc_t SWC_AESFunc = {
    SWC_FUNCTIONS, aes_init, aes_step, aes_step, nullptr, aes_keygen,
    gcm_init,      aes_step, gcm_enc_final,      aes_step, gcm_dec_final,
};

extern "C" const C_RSAFunc_t SWC_RSAFunc = {SWC_FUNCTIONS, rsa_sign, rsa_verify, rsa_crypt, rsa_crypt, rsa_keygen};

extern "C" const C_ECCFunc_t SWC_ECCFunc = {SWC_FUNCTIONS, ec_sign, ec_verify, ec_keygen, ec_sign};

extern "C" const C_KeyBlobFunc_t SWC_KeyBlobFunc = {SWC_FUNCTIONS, SWC_Key_Encrypt, SWC_Key_Decrypt};

extern "C" const C_KdfFunc_t SWC_KdfFunc = {SWC_FUNCTIONS, SWC_Pbkdf};
