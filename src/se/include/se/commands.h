// The secure element's command set, as data: per command its class and
// instruction, the request fields and the reply fields in wire order. The
// host middleware builds its field lists from these rows, and a device (the
// simulated one of the test bed) parses requests and lays out replies from
// the same rows, so both ends agree by construction.
//
// Wire form (frame.h): fields in row order, no tags, no alignment. A `raw`
// field is exactly `width` bytes (integers little-endian, records as their
// byte image, vrk_records.h / storage.h); an `array` field is a u16
// little-endian count and that many bytes (`width` nonzero: the count is
// always exactly `width`, as for PIN digests).
//
// Replies (trix.h layout): status 90 00 with the reply fields as data; or a
// refusal, status 66 DD with exactly 4 data bytes, the device's 32-bit code
// little-endian. A code of 0 means success with no data. The device's codes
// are the PKCS#11 results that the software device gives in the same case
// (for example 0xA0 a wrong PIN, 0xA4 a locked PIN, 0xB3 an unknown session,
// 0x101 not logged in), so both back ends meet the same contract through the
// core, which passes them on. 0x81034 asks the host to send again (MAC
// failure on the link).
//
// Conventions both ends keep:
// - The device's one HSM answers to HSM handle SE_HSM_HANDLE. Session handles
//   are issued by the device: never 0, never 0xFFFFFFFF.
// - PINs travel as their SHA-256 digest (array of 32), except the verify PIN
//   of token backup and restore, which travels as given.
// - The crypto handle of class 0x88 is the device token session's handle.
// - Session master key: when the token user logs in on a token session
//   (0x86 0x22) the device makes a fresh 32-byte key for that session;
//   GetMK (0x88 0x04) returns it while the token user is logged in, SetMK
//   (0x88 0x03) replaces it, ClearMK (0x88 0x05), the token user's logout and
//   the session's close wipe it. The host hands this key to its own crypto
//   provider, so both wrap key blobs alike.
// - Secret and private keys cross class 0x88 as key blobs of the key-blob
//   layer (keyblob/) wrapped under the session master key; public keys as the
//   software provider's raw forms. Token-wrapped keys (0x86 0x56/0x57) are
//   the same blobs under a per-token key that never leaves the device; both
//   forms of one key have the same length.
// - Object MAC: HmacInit (0x88 0x0D) with an empty key array selects the
//   token's object-MAC key (a per-token secret that never leaves the device;
//   token user logged in on that session). The host MACs every object blob
//   (HMAC-SHA-256 over header and context) this way and checks it the same way.
// - AES one-step (0x88 0x15): mode and direction are the block-cipher API's
//   codes; the padding word is carried but the device does not pad or unpad
//   (the host does, as with the software provider).
// - Store (class 0x87): objects move in parts of SE_STO_PART_SIZE bytes
//   numbered from 0, closed by part SE_STO_CLOSING_PART with no data; device
//   slot indexes 0..SE_STO_SLOTS-1 (the core's index is the slot + 1); the
//   occupancy page is SE_STO_PAGE_SIZE bytes, slot i at bit (i mod 8) of byte
//   (i div 8), least significant bit first. A write is complete only once its
//   closing part is accepted; a slot whose write was not closed is not
//   occupied. Two creates as one change (a key pair): the first's data parts,
//   the second's data parts, then one closing part, which commits both; a
//   create whose data is all in (its entry's u32DataLen + 128 bytes) is held
//   open for the session's next create's closing part. Deleting the slot of
//   an open create abandons it; a session's open writes end with the
//   session (closed, or its client's connection gone).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "se/frame.h"

namespace se::cmd {

inline constexpr uint32_t SE_HSM_HANDLE = 0;
inline constexpr uint16_t SE_PIN_DIGEST_LEN = 32;
inline constexpr uint32_t SE_SESSION_KEY_LEN = 32;
inline constexpr uint8_t SE_HASH_SHA2_256 = 9;  // quarzel's HASH_TYPE_SHA2_256

inline constexpr uint32_t SE_STO_PART_SIZE = 768;
inline constexpr uint8_t SE_STO_CLOSING_PART = 0xFF;
inline constexpr uint32_t SE_STO_SLOTS = 512;
inline constexpr uint32_t SE_STO_PAGE_SIZE = 256;

// Record widths on the wire.
inline constexpr uint16_t kHandle = 4;
inline constexpr uint16_t kVersion = 3;
inline constexpr uint16_t kSn = 16;
inline constexpr uint16_t kHsmInfo = 76;
inline constexpr uint16_t kHsmPolicy = 8;
inline constexpr uint16_t kTokenId = 16;
inline constexpr uint16_t kTokenSn = 16;
inline constexpr uint16_t kTknUserList = 260;
inline constexpr uint16_t kTokenInfo = 76;
inline constexpr uint16_t kTokenPolicy = 8;
inline constexpr uint16_t kSessionInfo = 100;
inline constexpr uint16_t kMechanismInfo = 12;  // MinKeySize, MaxKeySize, Flags: u32 each
inline constexpr uint16_t kPersistencyInput = 36;
inline constexpr uint16_t kStoLayout = 136;
inline constexpr uint16_t kStoSeobj = 80;

enum class Kind : uint8_t { raw, array };

struct Field {
  const char* name;
  uint16_t tag;    // ZEB_TLV tag in the tag set of the command's class
  Kind kind;
  uint16_t width;  // raw: bytes; array: exact count, or 0 for any
};

struct Command {
  const char* name;  // the host operation that sends it
  uint8_t cla;
  uint8_t ins;
  std::span<const Field> request;
  std::span<const Field> reply;
};

// ---- Fields ----
namespace f {
// Device class.
inline constexpr Field hHsm{"hHsm", TAG_ZEB_DEVICE_HANDLE, Kind::raw, kHandle};
inline constexpr Field hHsmSession{"hHsmSession", TAG_ZEB_DEVICE_HANDLE, Kind::raw, kHandle};
inline constexpr Field hSession{"hSession", TAG_ZEB_DEVICE_HANDLE, Kind::raw, kHandle};
inline constexpr Field pinDigest{"PinDigest", TAG_UINT8_T_ARR, Kind::array, SE_PIN_DIGEST_LEN};
inline constexpr Field label{"Label", TAG_UINT8_T_ARR, Kind::array, 0};
inline constexpr Field version{"Version", TAG_ZEB_DEVICE_VERSION, Kind::raw, kVersion};
inline constexpr Field hsmInfo{"HsmInfo", TAG_ZEB_DEVICE_HSM_INFO, Kind::raw, kHsmInfo};
inline constexpr Field hsmPolicy{"HsmPolicy", TAG_ZEB_DEVICE_HSM_POLICY, Kind::raw, kHsmPolicy};
inline constexpr Field hsmSn{"HsmSn", TAG_ZEB_DEVICE_HSM_SN, Kind::raw, kSn};
inline constexpr Field tknId{"TknId", TAG_ZEB_DEVICE_TOKEN_ID, Kind::raw, kTokenId};
inline constexpr Field tknSn{"TknSn", TAG_ZEB_DEVICE_TOKEN_SN, Kind::raw, kTokenSn};
inline constexpr Field tknUserList{"TknUserList", TAG_ZEB_DEVICE_TKN_USER_LIST, Kind::raw, kTknUserList};
inline constexpr Field tokenStatus{"TokenStatus", TAG_UINT8_T, Kind::raw, 1};
inline constexpr Field tokenInfo{"TokenInfo", TAG_ZEB_DEVICE_TOKEN_INFO, Kind::raw, kTokenInfo};
inline constexpr Field tokenPolicy{"TokenPolicy", TAG_ZEB_DEVICE_TOKEN_POLICY, Kind::raw, kTokenPolicy};
inline constexpr Field verifyPin{"VerifyPin", TAG_UINT8_T_ARR, Kind::array, 0};
inline constexpr Field backupData{"BackupData", TAG_UINT8_T_ARR, Kind::array, 0};
inline constexpr Field sessionInfo{"SessionInfo", TAG_ZEB_DEVICE_TOKEN_SESSION_INFO, Kind::raw, kSessionInfo};
inline constexpr Field tknKey{"TknKey", TAG_UINT8_T_ARR, Kind::array, 0};
inline constexpr Field swKey{"SwKey", TAG_UINT8_T_ARR, Kind::array, 0};
// Crypto class.
inline constexpr Field hCrypto{"hSession", TAG_ZEB_CRYPTO_HANDLE, Kind::raw, kHandle};
inline constexpr Field u32{"u32", TAG_UINT32_T, Kind::raw, 4};
inline constexpr Field u8{"u8", TAG_UINT8_T, Kind::raw, 1};
inline constexpr Field bytes{"bytes", TAG_UINT8_T_ARR, Kind::array, 0};
inline constexpr Field kwpType{"KeyWrapType", TAG_KWP_TYPE_T, Kind::raw, 4};
inline constexpr Field mechInfo{"MechanismInfo", TAG_FWC_MECHANISM_INFO, Kind::raw, kMechanismInfo};
// Store class.
inline constexpr Field stoInput{"StoInput", TAG_PERSISTENCY_INPUT, Kind::raw, kPersistencyInput};
inline constexpr Field stoLayout{"Layout", TAG_STO_LAYOUT, Kind::raw, kStoLayout};
inline constexpr Field stoStatus{"StorageStatus", TAG_ZEB_STORE_UINT8_T, Kind::raw, 1};
inline constexpr Field stoIndex{"DeviceIndex", TAG_STO_UINT32, Kind::raw, 4};
inline constexpr Field stoSize{"ObjectSize", TAG_STO_UINT32, Kind::raw, 4};
inline constexpr Field stoPart{"PartBytes", TAG_ZEB_STORE_UINT8_T_ARR, Kind::array, 0};
inline constexpr Field stoEntry{"Entry", TAG_STO_SEOBJ, Kind::raw, kStoSeobj};
inline constexpr Field stoPartNo{"PartNumber", TAG_STO_UCHAR, Kind::raw, 1};
inline constexpr Field stoPage{"OccupancyPage", TAG_ZEB_STORE_UINT8_T_ARR, Kind::array, 0};
inline constexpr Field stoEntries{"Entries", TAG_ZEB_STORE_UINT8_T_ARR, Kind::array, 0};
}  // namespace f

inline constexpr uint8_t CLA_DEVICE = SE_CLA_DEVICE;
inline constexpr uint8_t CLA_STORE = SE_CLA_STORE;
inline constexpr uint8_t CLA_CRYPTO = SE_CLA_CRYPTO;

// Field lists shared by several rows.
namespace l {
inline constexpr Field hHsm[] = {f::hHsm};
inline constexpr Field hHsmSession[] = {f::hHsmSession};
inline constexpr Field hSession[] = {f::hSession};
inline constexpr Field hHsmSessionPin[] = {f::hHsmSession, f::pinDigest};
inline constexpr Field hSessionPin[] = {f::hSession, f::pinDigest};
inline constexpr Field hHsmSessionLabel[] = {f::hHsmSession, f::label};
inline constexpr Field hSessionLabel[] = {f::hSession, f::label};
inline constexpr Field hHsmSessionPolicy[] = {f::hHsmSession, f::hsmPolicy};
inline constexpr Field hSessionPolicy[] = {f::hSession, f::tokenPolicy};
inline constexpr Field hHsmSessionTknId[] = {f::hHsmSession, f::tknId};
inline constexpr Field hHsmTknId[] = {f::hHsm, f::tknId};
inline constexpr Field hHsmSn[] = {f::hHsm, f::hsmSn};
inline constexpr Field tknIdSn[] = {f::tknId, f::tknSn};
inline constexpr Field tknId[] = {f::tknId};
inline constexpr Field tknSn[] = {f::tknSn};
inline constexpr Field version[] = {f::version};
inline constexpr Field hsmInfo[] = {f::hsmInfo};
inline constexpr Field hsmPolicy[] = {f::hsmPolicy};
inline constexpr Field tknUserList[] = {f::tknUserList};
inline constexpr Field tokenStatus[] = {f::tokenStatus};
inline constexpr Field tokenInfo[] = {f::tokenInfo};
inline constexpr Field tokenPolicy[] = {f::tokenPolicy};
inline constexpr Field backupReq[] = {f::hSession, f::verifyPin};
inline constexpr Field backupRsp[] = {f::backupData};
inline constexpr Field restoreReq[] = {f::hSession, f::verifyPin, f::backupData};
inline constexpr Field sessionHandle[] = {{"hSession", TAG_ZEB_DEVICE_HANDLE, Kind::raw, kHandle}};
inline constexpr Field sessionInfo[] = {f::sessionInfo};
inline constexpr Field tknKey2SwReq[] = {f::hSession, f::tknKey};
inline constexpr Field swKey2TknReq[] = {f::hSession, f::swKey};
inline constexpr Field swKey[] = {f::swKey};
inline constexpr Field tknKey[] = {f::tknKey};

inline constexpr Field hCrypto[] = {f::hCrypto};
inline constexpr Field cryptoHandleRsp[] = {f::hCrypto};
inline constexpr Field bytes1[] = {f::bytes};
inline constexpr Field bytes2[] = {f::bytes, f::bytes};
inline constexpr Field hBytes[] = {f::hCrypto, f::bytes};
inline constexpr Field hBytes2[] = {f::hCrypto, f::bytes, f::bytes};
inline constexpr Field hBytes3[] = {f::hCrypto, f::bytes, f::bytes, f::bytes};
inline constexpr Field hU8[] = {f::hCrypto, f::u8};
inline constexpr Field hU32[] = {f::hCrypto, f::u32};
inline constexpr Field hU8Bytes[] = {f::hCrypto, f::u8, f::bytes};
inline constexpr Field hU32Bytes2[] = {f::hCrypto, f::u32, f::bytes, f::bytes};
inline constexpr Field hU32Bytes3[] = {f::hCrypto, f::u32, f::bytes, f::bytes, f::bytes};
inline constexpr Field hU32x2[] = {f::hCrypto, f::u32, f::u32};
inline constexpr Field hKwpBytes2[] = {f::hCrypto, f::kwpType, f::bytes, f::bytes};
inline constexpr Field u32x2[] = {f::u32, f::u32};
inline constexpr Field u32[] = {f::u32};
inline constexpr Field u32x2Bytes[] = {f::u32, f::u32, f::bytes};
inline constexpr Field mechInfo[] = {f::mechInfo};
inline constexpr Field aesCrypt[] = {f::hCrypto, f::u32, f::u32, f::u32, f::bytes, f::bytes, f::bytes};

inline constexpr Field stoInput[] = {f::stoInput};
inline constexpr Field stoInfoRsp[] = {f::stoStatus, f::stoLayout, f::stoLayout};
inline constexpr Field stoSetLayout[] = {f::stoInput, f::stoLayout};
inline constexpr Field stoLayout[] = {f::stoLayout};
inline constexpr Field stoInputIndex[] = {f::stoInput, f::stoIndex};
inline constexpr Field stoSize[] = {f::stoSize};
inline constexpr Field stoIndex[] = {f::stoIndex};
inline constexpr Field stoCreatePart[] = {f::stoInput, f::stoPart, f::stoEntry, f::stoPartNo};
inline constexpr Field stoUpdatePart[] = {f::stoInput, f::stoIndex, f::stoPart, f::stoEntry, f::stoPartNo};
inline constexpr Field stoGetPart[] = {f::stoInput, f::stoIndex, f::stoPartNo};
inline constexpr Field stoPart[] = {f::stoPart};
inline constexpr Field stoPage[] = {f::stoPage};
inline constexpr Field stoTagReq[] = {f::stoInput, f::stoIndex, f::stoIndex};  // startIndex, endIndex
inline constexpr Field stoEntries[] = {f::stoEntries};
}  // namespace l

inline constexpr std::span<const Field> kNone{};

// ---- Class 0x86: device (HSM, tokens, PINs, sessions, key transfer) ----
namespace dev {
inline constexpr Command GetVersion{"FWD_GetVersion_mw", CLA_DEVICE, 0x00, l::hHsm, l::version};
inline constexpr Command GetHsmInfo{"FWD_GetHsmInfo_mw", CLA_DEVICE, 0x03, l::hHsm, l::hsmInfo};
inline constexpr Command LoginHsmByPin{"FWD_LoginHsmByPin_mw", CLA_DEVICE, 0x04, l::hHsmSessionPin, kNone};
inline constexpr Command SetHsmLabel{"FWD_SetHsmLabel_mw", CLA_DEVICE, 0x05, l::hHsmSessionLabel, kNone};
inline constexpr Command SetHsmPin{"FWD_SetHsmPin_mw", CLA_DEVICE, 0x06, l::hHsmSessionPin, kNone};
inline constexpr Command GetHsmPolicy{"FWD_GetHsmPolicy_mw", CLA_DEVICE, 0x07, l::hHsmSession, l::hsmPolicy};
inline constexpr Command SetHsmPolicy{"FWD_SetHsmPolicy_mw", CLA_DEVICE, 0x08, l::hHsmSessionPolicy, kNone};
inline constexpr Command CreateDefaultToken{"FWD_CreateDefaultToken_mw", CLA_DEVICE, 0x09, l::hHsmSession,
                                            l::tknIdSn};
inline constexpr Command CreateToken{"FWD_CreateToken_mw", CLA_DEVICE, 0x0A, l::hHsmSession, l::tknIdSn};
inline constexpr Command CreateTokenByPin{"FWD_CreateTokenByPin_mw", CLA_DEVICE, 0x0B, l::hHsmSessionPin, l::tknId};
inline constexpr Command DeleteToken{"FWD_DeleteToken_mw", CLA_DEVICE, 0x0C, l::hHsmSessionTknId, kNone};
inline constexpr Command UnlockToken{"FWD_UnlockToken_mw", CLA_DEVICE, 0x0D, l::hHsmSessionTknId, kNone};
inline constexpr Command ResetVrk{"FWD_ResetVrk_mw", CLA_DEVICE, 0x0E, l::hHsmSession, kNone};
inline constexpr Command ResetVrkBySn{"FWD_ResetVrkBySn_mw", CLA_DEVICE, 0x0F, l::hHsmSn, kNone};
inline constexpr Command LogoutHsm{"FWD_LogoutHsm_mw", CLA_DEVICE, 0x10, l::hHsmSession, kNone};
inline constexpr Command ListTokens{"FWD_ListTokens_mw", CLA_DEVICE, 0x11, l::hHsm, l::tknUserList};
inline constexpr Command GetTokenStatus{"FWD_GetTokenStatus_mw", CLA_DEVICE, 0x20, l::hHsmTknId, l::tokenStatus};
inline constexpr Command GetTokenInfo{"FWD_GetTokenInfo_mw", CLA_DEVICE, 0x21, l::hHsmTknId, l::tokenInfo};
inline constexpr Command LoginTokenByPin{"FWD_LoginTokenByPin_mw", CLA_DEVICE, 0x22, l::hSessionPin, kNone};
inline constexpr Command LoginTokenSuperUserByPin{"FWD_LoginTokenSuperUserByPin_mw", CLA_DEVICE, 0x23,
                                                  l::hSessionPin, kNone};
inline constexpr Command SetTokenLabel{"FWD_SetTokenLabel_mw", CLA_DEVICE, 0x24, l::hSessionLabel, kNone};
inline constexpr Command SetTokenSuperUserPin{"FWD_SetTokenSuperUserPin_mw", CLA_DEVICE, 0x25, l::hSessionPin,
                                              kNone};
inline constexpr Command SetTokenPin{"FWD_SetTokenPin_mw", CLA_DEVICE, 0x26, l::hSessionPin, kNone};
inline constexpr Command GetTokenPolicy{"FWD_GetTokenPolicy_mw", CLA_DEVICE, 0x27, l::hSession, l::tokenPolicy};
inline constexpr Command SetTokenPolicy{"FWD_SetTokenPolicy_mw", CLA_DEVICE, 0x28, l::hSessionPolicy, kNone};
inline constexpr Command BackupToken{"FWD_BackupToken_mw", CLA_DEVICE, 0x29, l::backupReq, l::backupRsp};
inline constexpr Command RestoreToken{"FWD_RestoreToken_mw", CLA_DEVICE, 0x2A, l::restoreReq, kNone};
inline constexpr Command LogoutToken{"FWD_LogoutToken_mw", CLA_DEVICE, 0x2B, l::hSession, kNone};
inline constexpr Command LogoutTokenSuperUser{"FWD_LogoutTokenSuperUser_mw", CLA_DEVICE, 0x2C, l::hSession, kNone};
inline constexpr Command GetTokenSn{"FWD_GetTokenSn_mw", CLA_DEVICE, 0x2D, l::hSession, l::tknSn};
inline constexpr Command OpenHsmSession{"FWD_OpenHsmSession_mw", CLA_DEVICE, 0x50, l::hHsm, l::sessionHandle};
inline constexpr Command CloseHsmSession{"FWD_CloseHsmSession_mw", CLA_DEVICE, 0x51, l::hHsmSession, kNone};
inline constexpr Command GetHsmSessInfo{"FWD_GetHsmSessInfo_mw", CLA_DEVICE, 0x52, l::hHsmSession, l::sessionInfo};
inline constexpr Command OpenTokenSession{"FWD_OpenTokenSession_mw", CLA_DEVICE, 0x53, l::hHsmTknId,
                                          l::sessionHandle};
inline constexpr Command CloseTokenSession{"FWD_CloseTokenSession_mw", CLA_DEVICE, 0x54, l::hSession, kNone};
inline constexpr Command GetTokenSessionInfo{"FWD_GetTokenSessionInfo_mw", CLA_DEVICE, 0x55, l::hSession,
                                             l::sessionInfo};
inline constexpr Command SetTknKey2Sw{"FWD_SetTknKey2Sw_mw", CLA_DEVICE, 0x56, l::tknKey2SwReq, l::swKey};
inline constexpr Command SetSwKey2Tkn{"FWD_SetSwKey2Tkn_mw", CLA_DEVICE, 0x57, l::swKey2TknReq, l::tknKey};
}  // namespace dev

// ---- Class 0x88: crypto ----
// Arrays in request order; the field names of each row say what they carry.
namespace cry {
inline constexpr Command OpenSession{"FWC_OpenSession_mw", CLA_CRYPTO, 0x00, kNone, l::cryptoHandleRsp};
inline constexpr Command CloseSession{"FWC_CloseSession_mw", CLA_CRYPTO, 0x01, l::hCrypto, kNone};
inline constexpr Command CloseAllSessions{"FWC_CloseAllSessions_mw", CLA_CRYPTO, 0x02, kNone, kNone};
inline constexpr Command SetMK{"FWC_SetMK_mw", CLA_CRYPTO, 0x03, l::hBytes, kNone};           // key
inline constexpr Command GetMK{"FWC_GetMK_mw", CLA_CRYPTO, 0x04, l::hCrypto, l::bytes1};      // key
inline constexpr Command ClearMK{"FWC_ClearMK_mw", CLA_CRYPTO, 0x05, l::hCrypto, kNone};
inline constexpr Command GetMechanismList{"FWC_GetMechanismList_mw", CLA_CRYPTO, 0x06, kNone, l::u32x2};
inline constexpr Command GetMechanismInfo{"FWC_GetMechanismInfo_mw", CLA_CRYPTO, 0x07, l::u32, l::mechInfo};
inline constexpr Command DrngSeed{"FWC_Drng_SEED_mw", CLA_CRYPTO, 0x08, l::hU32, l::bytes1};  // wanted; data
inline constexpr Command DigestInit{"FWC_DigestInit_mw", CLA_CRYPTO, 0x09, l::hU8, kNone};    // hash type
inline constexpr Command DigestUpdate{"FWC_DigestUpdate_mw", CLA_CRYPTO, 0x0A, l::hBytes, kNone};
inline constexpr Command DigestFinal{"FWC_DigestFinal_mw", CLA_CRYPTO, 0x0B, l::hCrypto, l::bytes1};
inline constexpr Command HmacGenerateKey{"FWC_HmacGenerateKey_mw", CLA_CRYPTO, 0x0C, l::hCrypto, l::bytes1};
inline constexpr Command HmacInit{"FWC_HmacInit_mw", CLA_CRYPTO, 0x0D, l::hU8Bytes, kNone};   // hash type; key
inline constexpr Command HmacUpdate{"FWC_HmacUpdate_mw", CLA_CRYPTO, 0x0E, l::hBytes, kNone};
inline constexpr Command HmacFinal{"FWC_HmacFinal_mw", CLA_CRYPTO, 0x0F, l::hCrypto, l::bytes1};
// PaddingType, BlockSize, Data -> data (no handle).
inline constexpr Command Padding{"FWC_Padding_mw", CLA_CRYPTO, 0x10, l::u32x2Bytes, l::bytes1};
inline constexpr Command Unpadding{"FWC_Unpadding_mw", CLA_CRYPTO, 0x11, l::u32x2Bytes, l::bytes1};
// Mode, Dir, Padding (u32 each); IV, key, data -> output.
inline constexpr Command AesCrypt{"FWC_AesCrypt_mw", CLA_CRYPTO, 0x15, l::aesCrypt, l::bytes1};
// KeyWrapType; wrapping key, target key -> wrapped key.
inline constexpr Command AesWrapKey{"FWC_AesWrapKey_mw", CLA_CRYPTO, 0x16, l::hKwpBytes2, l::bytes1};
// KeyWrapType; unwrapping key, wrapped key -> target key.
inline constexpr Command AesUnwrapKey{"FWC_AesUnwrapKey_mw", CLA_CRYPTO, 0x17, l::hKwpBytes2, l::bytes1};
// AAD, IV, key.
inline constexpr Command AesGcmInit{"FWC_AesGcmInit_mw", CLA_CRYPTO, 0x18, l::hBytes3, kNone};
inline constexpr Command AesGcmEncryptUpdate{"FWC_AesGcmEncryptUpdate_mw", CLA_CRYPTO, 0x19, l::hBytes, l::bytes1};
// TagLen; last data -> last output then the tag.
inline constexpr Command AesGcmEncryptFinal{"FWC_AesGcmEncryptFinal_mw", CLA_CRYPTO, 0x1A, l::hU8Bytes, l::bytes1};
inline constexpr Command AesGcmDecryptUpdate{"FWC_AesGcmDecryptUpdate_mw", CLA_CRYPTO, 0x1B, l::hBytes, l::bytes1};
// Last data, tag -> last plaintext (a wrong tag is a refusal).
inline constexpr Command AesGcmDecryptFinal{"FWC_AesGcmDecryptFinal_mw", CLA_CRYPTO, 0x1C, l::hBytes2, l::bytes1};
// Private key, digest -> signature (r then s).
inline constexpr Command ECDSASignSingle{"FWC_ECDSASignSingle_mw", CLA_CRYPTO, 0x1D, l::hBytes2, l::bytes1};
// Public key, digest, signature; a bad signature is a refusal.
inline constexpr Command ECDSAVerifySingle{"FWC_ECDSAVerifySingle_mw", CLA_CRYPTO, 0x1E, l::hBytes3, kNone};
// Private key A, public key B -> shared secret.
inline constexpr Command ECDH{"FWC_ECDH_mw", CLA_CRYPTO, 0x1F, l::hBytes2, l::bytes1};
// HashType (u32); private key, digest -> signature.
inline constexpr Command RSASign{"FWC_RSASign_PKCS1_mw", CLA_CRYPTO, 0x20, l::hU32Bytes2, l::bytes1};
// HashType (u32); public key, digest, signature.
inline constexpr Command RSAVerify{"FWC_RSAVerify_PKCS1_mw", CLA_CRYPTO, 0x21, l::hU32Bytes3, kNone};
// Public key, data -> ciphertext.
inline constexpr Command RSAEncrypt{"FWC_RSAEncrypt_PKCS1_mw", CLA_CRYPTO, 0x22, l::hBytes2, l::bytes1};
// Private key, ciphertext -> plaintext.
inline constexpr Command RSADecrypt{"FWC_RSADecrypt_PKCS1_mw", CLA_CRYPTO, 0x23, l::hBytes2, l::bytes1};
// Password, salt -> derived key.
inline constexpr Command Pbkdf{"FWC_Pbkdf_mw", CLA_CRYPTO, 0x24, l::hBytes2, l::bytes1};
// Plain key -> key blob; key blob -> plain key.
inline constexpr Command KeyEncrypt{"FWC_Key_Encrypt_mw", CLA_CRYPTO, 0x25, l::hBytes, l::bytes1};
inline constexpr Command KeyDecrypt{"FWC_Key_Decrypt_mw", CLA_CRYPTO, 0x26, l::hBytes, l::bytes1};
// AESCipherType (u32) -> key blob.
inline constexpr Command AESGenerateKey{"FWC_AESGenerateKey_mw", CLA_CRYPTO, 0x27, l::hU32, l::bytes1};
// EccCurveType (u8) -> private key blob, public key.
inline constexpr Command ECGenerateKeyPair{"FWC_ECGenerateKeyPair_mw", CLA_CRYPTO, 0x28, l::hU8, l::bytes2};
inline constexpr Command ECGenerateKeyPairExtraB{"FWC_ECGenerateKeyPair_EXTRA_B_mw", CLA_CRYPTO, 0x29, l::hU8,
                                                 l::bytes2};
// Modulus size in bits, exponent (u32 each) -> private key blob, public key.
inline constexpr Command RSAGenerateKeyPair{"FWC_RSAGenerateKeyPair_mw", CLA_CRYPTO, 0x2A, l::hU32x2, l::bytes2};
}  // namespace cry

// ---- Class 0x87: store ----
namespace sto {
inline constexpr Command GetStorageInfo{"FWSto_GetStorageInfo_mw", CLA_STORE, 0x00, l::stoInput, l::stoInfoRsp};
inline constexpr Command SetLayout{"FWSto_SetLayout_mw", CLA_STORE, 0x01, l::stoSetLayout, l::stoLayout};
inline constexpr Command CreateTokenStorage{"FWSto_CreateTokenStorage_mw", CLA_STORE, 0x03, l::stoInput, kNone};
inline constexpr Command DeleteObject{"FWSto_DeleteObject_mw", CLA_STORE, 0x08, l::stoInputIndex, kNone};
inline constexpr Command DeleteObjList{"FWSto_DeleteObjList_mw", CLA_STORE, 0x09, l::stoInput, kNone};
inline constexpr Command DeleteObjDir{"FWSto_DeleteObjDir_mw", CLA_STORE, 0x0A, l::stoInput, kNone};
inline constexpr Command GetObjectSize{"FWSto_GetObjectSize_mw", CLA_STORE, 0x0B, l::stoInputIndex, l::stoSize};
// Part of a new object; every part's reply names the slot the device chose.
inline constexpr Command CreateObjectPart{"FWSto_CreateObject_Sub_mw", CLA_STORE, 0x0F, l::stoCreatePart,
                                          l::stoIndex};
inline constexpr Command UpdateObjectPart{"FWSto_UpdateObject_Sub_mw", CLA_STORE, 0x10, l::stoUpdatePart, kNone};
inline constexpr Command GetObjectPart{"FWSto_GetObject_Sub_mw", CLA_STORE, 0x11, l::stoGetPart, l::stoPart};
inline constexpr Command GetOccupancyPage{"Internal_FWSto_get_object_bit_list_page_mw", CLA_STORE, 0x12,
                                          l::stoInput, l::stoPage};
// Entries of slots startIndex .. endIndex-1, 80 bytes each.
inline constexpr Command GetObjectEntries{"Internal_FWSto_get_object_tag_mw", CLA_STORE, 0x13, l::stoTagReq,
                                          l::stoEntries};
}  // namespace sto

// Every command, for dispatch by (class, instruction).
inline constexpr const Command* kAll[] = {
    &dev::GetVersion, &dev::GetHsmInfo, &dev::LoginHsmByPin, &dev::SetHsmLabel, &dev::SetHsmPin,
    &dev::GetHsmPolicy, &dev::SetHsmPolicy, &dev::CreateDefaultToken, &dev::CreateToken, &dev::CreateTokenByPin,
    &dev::DeleteToken, &dev::UnlockToken, &dev::ResetVrk, &dev::ResetVrkBySn, &dev::LogoutHsm, &dev::ListTokens,
    &dev::GetTokenStatus, &dev::GetTokenInfo, &dev::LoginTokenByPin, &dev::LoginTokenSuperUserByPin,
    &dev::SetTokenLabel, &dev::SetTokenSuperUserPin, &dev::SetTokenPin, &dev::GetTokenPolicy, &dev::SetTokenPolicy,
    &dev::BackupToken, &dev::RestoreToken, &dev::LogoutToken, &dev::LogoutTokenSuperUser, &dev::GetTokenSn,
    &dev::OpenHsmSession, &dev::CloseHsmSession, &dev::GetHsmSessInfo, &dev::OpenTokenSession,
    &dev::CloseTokenSession, &dev::GetTokenSessionInfo, &dev::SetTknKey2Sw, &dev::SetSwKey2Tkn,
    &cry::OpenSession, &cry::CloseSession, &cry::CloseAllSessions, &cry::SetMK, &cry::GetMK, &cry::ClearMK,
    &cry::GetMechanismList, &cry::GetMechanismInfo, &cry::DrngSeed, &cry::DigestInit, &cry::DigestUpdate,
    &cry::DigestFinal, &cry::HmacGenerateKey, &cry::HmacInit, &cry::HmacUpdate, &cry::HmacFinal, &cry::Padding,
    &cry::Unpadding, &cry::AesCrypt, &cry::AesWrapKey, &cry::AesUnwrapKey, &cry::AesGcmInit,
    &cry::AesGcmEncryptUpdate, &cry::AesGcmEncryptFinal, &cry::AesGcmDecryptUpdate, &cry::AesGcmDecryptFinal,
    &cry::ECDSASignSingle, &cry::ECDSAVerifySingle, &cry::ECDH, &cry::RSASign, &cry::RSAVerify, &cry::RSAEncrypt,
    &cry::RSADecrypt, &cry::Pbkdf, &cry::KeyEncrypt, &cry::KeyDecrypt, &cry::AESGenerateKey,
    &cry::ECGenerateKeyPair, &cry::ECGenerateKeyPairExtraB, &cry::RSAGenerateKeyPair,
    &sto::GetStorageInfo, &sto::SetLayout, &sto::CreateTokenStorage, &sto::DeleteObject, &sto::DeleteObjList,
    &sto::DeleteObjDir, &sto::GetObjectSize, &sto::CreateObjectPart, &sto::UpdateObjectPart, &sto::GetObjectPart,
    &sto::GetOccupancyPage, &sto::GetObjectEntries,
};

// The row of (cla, ins), or null.
[[nodiscard]] constexpr const Command* find(uint8_t cla, uint8_t ins) {
  for (const Command* c : kAll) {
    if (c->cla == cla && c->ins == ins) return c;
  }
  return nullptr;
}

// Bytes of a request or reply whose arrays carry `array_bytes` in all.
[[nodiscard]] constexpr size_t wire_size(std::span<const Field> fields, size_t array_bytes = 0) {
  size_t n = array_bytes;
  for (const Field& x : fields) n += x.kind == Kind::array ? 2 : x.width;
  return n;
}

// A few sizes the middleware documents, checked here at compile time.
static_assert(wire_size(dev::LoginTokenByPin.request, SE_PIN_DIGEST_LEN) == 38);
static_assert(wire_size(dev::OpenTokenSession.request) == 20);
static_assert(wire_size(cry::AesCrypt.request) == 22);
static_assert(wire_size(cry::RSAGenerateKeyPair.request) == 12);
static_assert(wire_size(sto::CreateObjectPart.request, SE_STO_PART_SIZE) == 36 + 2 + 768 + 80 + 1);
static_assert(find(CLA_CRYPTO, 0x12) == nullptr && find(CLA_STORE, 0x02) == nullptr);

}  // namespace se::cmd
