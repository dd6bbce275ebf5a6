// The secure element's crypto tables. The core installs the AES, key-blob and
// RSA tables for the secure-element HSM types; EC stays in software.
#include "se/middleware.h"

extern "C" {

const C_AESFunc_t FWC_AESFunc = {
    FWC_FUNCTIONS,
    FWC_AesInit_mw,
    FWC_AesUpdate_mw,
    FWC_AesFinal_mw,
    FWC_AesCrypt_mw,
    FWC_AESGenerateKey_mw,
    FWC_AesGcmInit_mw,
    FWC_AesGcmEncryptUpdate_mw,
    FWC_AesGcmEncryptFinal_mw,
    FWC_AesGcmDecryptUpdate_mw,
    FWC_AesGcmDecryptFinal_mw,
};

const C_KeyBlobFunc_t FWC_KeyBlobFunc = {FWC_FUNCTIONS, FWC_Key_Encrypt_mw, FWC_Key_Decrypt_mw};

const C_RSAFunc_t FWC_RSAFunc = {
    FWC_FUNCTIONS,          FWC_RSASign_PKCS1_mw,     FWC_RSAVerify_PKCS1_mw,
    FWC_RSAEncrypt_PKCS1_mw, FWC_RSADecrypt_PKCS1_mw, FWC_RSAGenerateKeyPair_mw,
};

const C_ECCFunc_t FWC_ECCFunc = {
    FWC_FUNCTIONS, FWC_ECDSASignSingle_mw, FWC_ECDSAVerifySingle_mw, FWC_ECGenerateKeyPair_mw, FWC_ECDH_mw,
};

}  // extern "C"
