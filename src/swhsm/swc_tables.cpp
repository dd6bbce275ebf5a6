// Crypto tables of the software provider. The AES table has no one-call
// operation: its C_AesCrypt slot is empty.
#include "crypto/swc_crypto.h"
#include "swhsm/swc.h"

extern "C" const C_AESFunc_t SWC_AESFunc = {
    SWC_FUNCTIONS,      SWC_AesInit,    SWC_AesUpdate,           SWC_AesFinal,
    nullptr,            SWC_AESGenerateKey, SWC_AesGcmInit,      SWC_AesGcmEncryptUpdate,
    SWC_AesGcmEncryptFinal, SWC_AesGcmDecryptUpdate, SWC_AesGcmDecryptFinal,
};

extern "C" const C_RSAFunc_t SWC_RSAFunc = {SWC_FUNCTIONS,        SWC_RSASign_PKCS1,    SWC_RSAVerify_PKCS1,
                                            SWC_RSAEncrypt_PKCS1, SWC_RSADecrypt_PKCS1, SWC_RSAGenerateKeyPair};

extern "C" const C_ECCFunc_t SWC_ECCFunc = {SWC_FUNCTIONS, SWC_ECDSASignSingle, SWC_ECDSAVerifySingle,
                                            SWC_ECGenerateKeyPair, SWC_ECDH};

extern "C" const C_KeyBlobFunc_t SWC_KeyBlobFunc = {SWC_FUNCTIONS, SWC_Key_Encrypt, SWC_Key_Decrypt};

extern "C" const C_KdfFunc_t SWC_KdfFunc = {SWC_FUNCTIONS, SWC_Pbkdf};
