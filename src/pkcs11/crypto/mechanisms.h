// The mechanisms the module serves: one row per mechanism, naming the worker
// that runs it, what it needs of the core, its key sizes and its flags. The
// Init entry points dispatch on this table and C_GetMechanismList /
// C_GetMechanismInfo read it, so the list never disagrees with what runs.
#pragma once

#include <pkcs11/pkcs11.h>

#include <array>
#include <cstdint>
#include <initializer_list>

namespace zebp11::crypto {

enum class Worker : uint8_t {
  kAesEcb,         // C_EncryptInit / C_DecryptInit
  kAesCbcPad,      // C_EncryptInit / C_DecryptInit
  kRsaPkcs,        // C_EncryptInit / C_DecryptInit
  kEcdsa,          // C_SignInit / C_VerifyInit
  kDigest,         // C_DigestInit
  kAesKeyGen,      // C_GenerateKey
  kRsaKeyPairGen,  // C_GenerateKeyPair
  kEcKeyPairGen,   // C_GenerateKeyPair
  kEcdh,           // C_DeriveKey
};

// Hash types of the core (one byte, as the core's calls take them).
enum : uint8_t {
  kHashSha1 = 4,
  kHashSha224 = 8,
  kHashSha256 = 9,
  kHashSha384 = 10,
  kHashSha512 = 11,
  kHashSha512_224 = 12,
  kHashSha512_256 = 13,
  kHashSha3_224 = 16,
  kHashSha3_256 = 17,
  kHashSha3_384 = 18,
  kHashSha3_512 = 19,
  kHashNone = 255,  // the data is the digest
};

inline constexpr CK_FLAGS kEcFlags = CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS;
inline constexpr CK_FLAGS kCipherFlags = CKF_ENCRYPT | CKF_DECRYPT;
inline constexpr CK_FLAGS kSignFlags = CKF_SIGN | CKF_VERIFY | kEcFlags;

}  // namespace zebp11::crypto

struct P11_MECHANISM {
  CK_MECHANISM_TYPE type;
  zebp11::crypto::Worker worker;
  uint8_t hash;           // hash type of digests and ECDSA; kHashNone otherwise
  uint8_t digest_len;     // bytes of a digest mechanism's output
  CK_ULONG ulMinKeySize;  // as CK_MECHANISM_INFO: bits (RSA, EC), bytes (AES)
  CK_ULONG ulMaxKeySize;
  CK_FLAGS flags;
};

namespace zebp11::crypto {

// Ordered by mechanism type. EC key sizes span the curves with arithmetic
// (256 to 521 bits); secp192k1 and secp224k1 have none.
inline constexpr std::array p11_mechanisms = {
    P11_MECHANISM{CKM_RSA_PKCS_KEY_PAIR_GEN, Worker::kRsaKeyPairGen, kHashNone, 0, 1024, 4096, CKF_GENERATE_KEY_PAIR},
    P11_MECHANISM{CKM_RSA_PKCS, Worker::kRsaPkcs, kHashNone, 0, 1024, 4096, kCipherFlags},
    P11_MECHANISM{CKM_SHA512_224, Worker::kDigest, kHashSha512_224, 28, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_SHA512_256, Worker::kDigest, kHashSha512_256, 32, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_SHA_1, Worker::kDigest, kHashSha1, 20, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_SHA256, Worker::kDigest, kHashSha256, 32, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_SHA224, Worker::kDigest, kHashSha224, 28, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_SHA384, Worker::kDigest, kHashSha384, 48, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_SHA512, Worker::kDigest, kHashSha512, 64, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_SHA3_256, Worker::kDigest, kHashSha3_256, 32, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_SHA3_224, Worker::kDigest, kHashSha3_224, 28, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_SHA3_384, Worker::kDigest, kHashSha3_384, 48, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_SHA3_512, Worker::kDigest, kHashSha3_512, 64, 0, 0, CKF_DIGEST},
    P11_MECHANISM{CKM_EC_KEY_PAIR_GEN, Worker::kEcKeyPairGen, kHashNone, 0, 256, 521, CKF_GENERATE_KEY_PAIR | kEcFlags},
    P11_MECHANISM{CKM_ECDSA, Worker::kEcdsa, kHashNone, 0, 256, 521, kSignFlags},
    P11_MECHANISM{CKM_ECDSA_SHA1, Worker::kEcdsa, kHashSha1, 0, 256, 521, kSignFlags},
    P11_MECHANISM{CKM_ECDSA_SHA224, Worker::kEcdsa, kHashSha224, 0, 256, 521, kSignFlags},
    P11_MECHANISM{CKM_ECDSA_SHA256, Worker::kEcdsa, kHashSha256, 0, 256, 521, kSignFlags},
    P11_MECHANISM{CKM_ECDSA_SHA384, Worker::kEcdsa, kHashSha384, 0, 256, 521, kSignFlags},
    P11_MECHANISM{CKM_ECDSA_SHA512, Worker::kEcdsa, kHashSha512, 0, 256, 521, kSignFlags},
    P11_MECHANISM{CKM_ECDH1_DERIVE, Worker::kEcdh, kHashNone, 0, 256, 521, CKF_DERIVE | kEcFlags},
    P11_MECHANISM{CKM_AES_KEY_GEN, Worker::kAesKeyGen, kHashNone, 0, 16, 32, CKF_GENERATE},
    P11_MECHANISM{CKM_AES_ECB, Worker::kAesEcb, kHashNone, 0, 16, 32, kCipherFlags},
    P11_MECHANISM{CKM_AES_CBC_PAD, Worker::kAesCbcPad, kHashNone, 0, 16, 32, kCipherFlags},
};

}  // namespace zebp11::crypto

using zebp11::crypto::p11_mechanisms;

constexpr bool P11_MechanismsSorted() {
  for (std::size_t i = 1; i < p11_mechanisms.size(); ++i) {
    if (p11_mechanisms[i - 1].type >= p11_mechanisms[i].type) return false;
  }
  return true;
}
static_assert(P11_MechanismsSorted(), "C_GetMechanismList hands the rows out in this order");

// The table's record of a mechanism; null when it is not served.
constexpr const P11_MECHANISM* P11_FindMechanism(CK_MECHANISM_TYPE type) noexcept {
  for (const auto& m : p11_mechanisms) {
    if (m.type == type) return &m;
  }
  return nullptr;
}

namespace zebp11::crypto {

using Mechanism = P11_MECHANISM;

// The row of a mechanism type if one of `workers` runs it; else null (the
// entry point answers CKR_MECHANISM_INVALID).
constexpr const Mechanism* find_mechanism(CK_MECHANISM_TYPE type, std::initializer_list<Worker> workers) {
  const Mechanism* m = P11_FindMechanism(type);
  if (m == nullptr) return nullptr;
  for (Worker w : workers) {
    if (m->worker == w) return m;
  }
  return nullptr;
}

}  // namespace zebp11::crypto
