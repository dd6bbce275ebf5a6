// PIV secure-session establishment (NIST SP 800-73-4 Part 2 §4.1, cipher
// suite 2: ECDH P-256, AES-128, SHA-256) on the host side, steps H1 to H13.
//
// The host makes an ephemeral key pair and offers CBH, IDsH and QeH; the card
// answers CBICC, NICC, AuthCryptogramICC and its card verifiable certificate.
// From the shared secret Z and OtherInfo, the SP 800-56A concatenation KDF
// (SHA-256) derives SKcfrm | SKmac | SKenc | SKrmac; the card's cryptogram
// must equal AES-CMAC(SKcfrm, "KC_1_V" | IDsICC | IDsH | QeH). The session
// keys then go to a secure-channel slot.
#pragma once

#include <cstdint>

#include "se/frame.h"

inline constexpr uint32_t PIV_ERR_REFUSED = 0x2037;     // the card's answer is refused
inline constexpr uint32_t PIV_ERR_SECRET_LEN = 0x2038;  // the shared secret is not 32 bytes
inline constexpr uint32_t PIV_HOST_ID_LEN = 8;
inline constexpr uint32_t PIV_OTHER_INFO_LEN = 61;
inline constexpr uint32_t PIV_CONFIRMATION_LEN = 86;

extern "C" {

#pragma pack(push, 1)
typedef struct CardHolderPublicKey {
  uint8_t algorithmOIDLength;
  uint8_t algorithmOID[8];
  uint8_t publicKeyObjectLength;
  uint8_t publicKeyObject[64];  // the card's static point, X then Y
} CardHolderPublicKey;

typedef struct DigitalSignature {
  uint8_t digitalSignatureLength;
  uint8_t signatureAlgorithmOID[8];
  uint8_t signatureValue[32];
} DigitalSignature;

// The card's certificate as received (TAG_SC2_CVC_T).
typedef struct CVC_t {
  uint8_t CPID;
  uint8_t IIN[8];
  uint8_t SID[16];
  CardHolderPublicKey CHPK;
  uint8_t roleIdentifier;
  DigitalSignature DS;
} CVC_t;
#pragma pack(pop)
static_assert(sizeof(CVC_t) == 141);

typedef struct PIV_SESSION_KEY {
  uint8_t CFRM_key[16];
  uint8_t ENC_key[16];
  uint8_t MAC_key[16];
  uint8_t RMAC_key[16];
} PIV_SESSION_KEY;

// Host state of the exchange in progress (one at a time).
extern uint8_t CBH;
extern uint8_t IDSH[PIV_HOST_ID_LEN];
extern uint8_t deH[32];
extern uint8_t QeH[64];

// H1-H3. On entry tlv_id holds the host identifier (at most 8 bytes; a longer
// one is refused with SE_ERR_SERIALIZER). On success the three records are
// the request fields for the card: {TAG_UINT8_T, 1, CBH},
// {TAG_SC2_HOST_ID_T, 8, IDSH}, {TAG_SC2_PUB_KEY_T, 64, QeH}.
uint32_t prepare_sess_internal_state(ZEB_TLV* tlv_cbh, ZEB_TLV* tlv_id, ZEB_TLV* tlv_key);

// H4-H13 on the card's answer, then the keys go to a slot under sess_hdle (an
// existing slot of that handle is replaced by the new session). 0, 0x2037,
// 0x2038, a secure-channel code (no slot), or a primitive's code. The host
// state is wiped on every path.
uint32_t piv_open_session(uint8_t CBICC, const uint8_t NICC[16], const uint8_t AuthCryptogramICC[16],
                          const CVC_t* CICC, uint32_t sess_hdle);

uint32_t step_H4(uint8_t CBICC);
uint32_t step_H5(const CVC_t* CICC);
uint32_t step_H6(const CVC_t* CICC, uint8_t IDsICC[8]);
uint32_t step_H8(const uint8_t* deH_, const uint8_t QsICC[64], uint8_t* Z, uint32_t* Z_len);
void step_H9(uint8_t* deH_);
uint32_t step_H10(const uint8_t* Z, uint32_t key_len, const uint8_t other_info[PIV_OTHER_INFO_LEN],
                  PIV_SESSION_KEY* keys);
void step_H11(uint8_t* Z);
uint32_t step_H12(const uint8_t CFRM_key[16], const uint8_t IDsICC[8], const uint8_t IDsH[8], const uint8_t QeH_[64],
                  const uint8_t AuthCryptogramICC[16]);
void step_H13(uint8_t* CFRM_key);
void fill_other_info(const uint8_t IDsH[8], uint8_t CBH_, const uint8_t QeH_[64], const uint8_t IDsICC[8],
                     const uint8_t NICC[16], uint8_t CBICC, uint8_t other_info[PIV_OTHER_INFO_LEN]);

// AES-128-CMAC (NIST SP 800-38B), 16-byte tag.
uint32_t aes128_cmac(const uint8_t key[16], const uint8_t* msg, size_t len, uint8_t tag[16]);

}  // extern "C"
