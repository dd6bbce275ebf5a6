// Crypto tables of the software provider.
#include "swc_crypto.h"
#include "swhsm/swc.h"

extern "C" const C_AESFunc_t SWC_AESFunc = {
    .func_type = SWC_FUNCTIONS,
    .C_AesInit = SWC_AesInit,
    .C_AesUpdate = SWC_AesUpdate,
    .C_AesFinal = SWC_AesFinal,
    .C_AesCrypt = nullptr,  // no one-call AES
    .C_AESGenerateKey = SWC_AESGenerateKey,
    .C_AesGcmInit = SWC_AesGcmInit,
    .C_AesGcmEncryptUpdate = SWC_AesGcmEncryptUpdate,
    .C_AesGcmEncryptFinal = SWC_AesGcmEncryptFinal,
    .C_AesGcmDecryptUpdate = SWC_AesGcmDecryptUpdate,
    .C_AesGcmDecryptFinal = SWC_AesGcmDecryptFinal,
};

extern "C" const C_RSAFunc_t SWC_RSAFunc = {
    .func_type = SWC_FUNCTIONS,
    .C_RSASign_PKCS1 = SWC_RSASign_PKCS1,
    .C_RSAVerify_PKCS1 = SWC_RSAVerify_PKCS1,
    .C_RSAEncrypt_PKCS1 = SWC_RSAEncrypt_PKCS1,
    .C_RSADecrypt_PKCS1 = SWC_RSADecrypt_PKCS1,
    .C_RSAGenerateKeyPair = SWC_RSAGenerateKeyPair,
};

extern "C" const C_ECCFunc_t SWC_ECCFunc = {
    .func_type = SWC_FUNCTIONS,
    .C_ECDSASignSingle = SWC_ECDSASignSingle,
    .C_ECDSAVerifySingle = SWC_ECDSAVerifySingle,
    .C_ECGenerateKeyPair = SWC_ECGenerateKeyPair,
    .C_ECDH = SWC_ECDH,
};

extern "C" const C_KeyBlobFunc_t SWC_KeyBlobFunc = {
    .func_type = SWC_FUNCTIONS,
    .C_KeyEncrypt = SWC_Key_Encrypt,
    .C_KeyDecrypt = SWC_Key_Decrypt,
};

extern "C" const C_KdfFunc_t SWC_KdfFunc = {.func_type = SWC_FUNCTIONS, .C_Pbkdf = SWC_Pbkdf};
