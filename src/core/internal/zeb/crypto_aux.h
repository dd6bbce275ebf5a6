// The crypto auxiliaries: hashing, random bytes and a self-contained EC
// family that the core runs in-process with the primitive library, whatever
// the session's crypto provider.
#pragma once

#include <cstdint>

// Bytes of the hash context buffer the adapter hands to SWA_Hash*.
inline constexpr uint32_t SWA_HASH_CTX_SIZE = 1024;

extern "C" {

// ulDataLength random bytes from a Hash_DRBG (SHA-256) instantiated for this
// call from the OS random source; one request (at most 65,536 bytes).
[[nodiscard]] uint32_t SWA_Drng(uint32_t ulDataLength, uint8_t* pData);

// Incremental hash in a caller's context buffer of SWA_HASH_CTX_SIZE bytes,
// aligned to 8. The final takes the capacity in *pulDigestLength and writes
// the digest length back only on success.
[[nodiscard]] uint32_t SWA_HashInit(uint8_t* swcctx, uint8_t HashType);
[[nodiscard]] uint32_t SWA_HashUpdate(uint8_t* swcctx, uint8_t* pData, uint32_t DataLength);
[[nodiscard]] uint32_t SWA_HashFinal(uint8_t* swcctx, uint8_t* pDigest, uint32_t* pulDigestLength);

// EC family over key objects of the library handed over by value. The key
// lengths are the objects' sizes exactly. Signatures are DER ECDSA-Sig-Value;
// *pSignatureLength and *ShareSercetLength are capacity in, length out.
uint32_t SWA_ECGenerateKeyPair(uint8_t EccCurveType, uint8_t* pPrivKey, uint32_t* pPrivKeyLength, uint8_t* pPubKey,
                               uint32_t* pPubKeyLength);
uint32_t SWA_ECDH(uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pPubKey, uint32_t PubKeyLength,
                  uint8_t* ShareSercet, uint32_t* ShareSercetLength);
uint32_t SWA_ECDSASignSingle(uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pDigest, uint32_t DigestLength,
                             uint8_t* pSignature, uint32_t* pSignatureLength);
// VRK_OK good, VRK_ERR_SIGNATURE_INVALID bad or malformed (r or s longer than
// the curve's length too).
uint32_t SWA_ECDSAVerifySingle(uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pDigest, uint32_t DigestLength,
                               uint8_t* pSignature, uint32_t SignatureLength);

}  // extern "C"
