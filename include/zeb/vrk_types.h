// Basic types, constants and result codes of the core service.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef uint8_t VRK_UCHAR;
typedef VRK_UCHAR* VRK_UCHAR_PTR;
typedef uint32_t VRK_UINT32;
typedef VRK_UINT32* VRK_UINT32_PTR;
typedef uint64_t VRK_UINT64;
typedef void* VRK_VOID_PTR;
typedef VRK_VOID_PTR* VRK_VOID_PTR_PTR;
typedef uint32_t VRK_RV;

// Handle of an HSM, a session or an object. Session-object handles have bit 31
// set; token-object handles are store indexes.
typedef uint32_t VRK_HANDLE;
typedef VRK_HANDLE* VRK_HANDLE_PTR;

// An HSM serial number and a token ID: 16 bytes each, not terminated when
// full (arguments point at the first byte).
typedef VRK_UCHAR VRK_HSM_SN;
typedef VRK_UCHAR VRK_TOKEN_ID;

inline constexpr size_t VRK_SN_LEN = 16;
inline constexpr size_t VRK_ID_LEN = 16;
inline constexpr size_t VRK_LABEL_LEN = 32;
inline constexpr size_t VRK_PIN_LEN = 16;        // PIN fields of "HSM.cfg"
inline constexpr size_t VRK_PIN_MAX_LEN = 32;    // PIN fields of the devices
inline constexpr size_t VRK_PATH_LEN = 128;
inline constexpr size_t VRK_MK_LEN = 32;          // session master key
inline constexpr size_t VRK_MAX_SESSIONS = 20;
inline constexpr size_t VRK_MAX_SESS_OBJECTS = 256;
inline constexpr size_t VRK_MAX_TOKENS = 4;
inline constexpr size_t VRK_MAX_LISTED_HSMS = 14;  // 4 software + 10 secure element

// HSM types (equal to the device's ZEB_DEVICE_HSM_TYPE_*).
enum : uint8_t {
  VRK_HSM_TYPE_SOFTWARE = 1,
  VRK_HSM_TYPE_ORBANE = 2,
  VRK_HSM_TYPE_MIREFLANK = 3,
  VRK_HSM_TYPE_FERROLUX = 4,
  VRK_HSM_TYPE_QUILLSTAR = 5,
  VRK_HSM_TYPE_BRAXO = 6,
  VRK_HSM_TYPE_TALON = 7,
  VRK_HSM_TYPE_TESTBED = 8,
};

// HSM states: the device's ZEB_DEVICE_HSM_* values plus the factory state 0.
enum : uint8_t {
  VRK_HSM_FACTORY = 0,
  VRK_HSM_UNINIT = 1,
  VRK_HSM_CONTEXT_GENERATING = 2,
  VRK_HSM_INITED = 3,
  VRK_HSM_TAMPERED = 4,
  VRK_HSM_ERASING = 5,
  VRK_HSM_ERROR = 6,
};

// Session status bits.
typedef uint32_t VRK_SESSION_STATUS;
enum : uint32_t {
  VRK_SESS_IDLE = 1,
  VRK_SESS_HSMADMIN_LOGIN = 2,
  VRK_SESS_TOKENSUPERUSER_LOGIN = 4,
  VRK_SESS_TOKENUSER_LOGIN = 8,
  VRK_SESS_TIMEOUT = 16,
};

typedef uint32_t VRK_TOKEN_STATUS;

// Object kinds (ObjType of an object header).
enum : uint8_t {
  VRK_OBJ_NONE = 0,
  VRK_OBJ_DATA = 1,
  VRK_OBJ_SECRETKEY = 2,
  VRK_OBJ_PRIVATEKEY = 3,
  VRK_OBJ_PUBLICKEY = 4,
  VRK_OBJ_CERTIFICATE = 5,
  VRK_OBJ_P11 = 6,
  VRK_OBJ_EXTENDED = 255,
};

// Key algorithms (ObjKeyAlgo of an object header).
enum : uint8_t {
  VRK_KEY_NONE = 0,
  VRK_KEY_SHA1_HMAC = 1,
  VRK_KEY_SHA224_HMAC = 2,
  VRK_KEY_SHA256_HMAC = 3,
  VRK_KEY_SHA384_HMAC = 4,
  VRK_KEY_SHA512_HMAC = 5,
  VRK_KEY_AES128 = 16,
  VRK_KEY_AES192 = 17,
  VRK_KEY_AES256 = 18,
  VRK_KEY_RSA1024 = 48,
  VRK_KEY_RSA2048 = 49,
  VRK_KEY_RSA3072 = 50,
  VRK_KEY_RSA4096 = 51,
  VRK_KEY_EC_NIST256 = 64,
  VRK_KEY_EC_NIST384 = 65,
  VRK_KEY_EC_NIST521 = 66,
  VRK_KEY_EC_SECP192K1 = 67,
  VRK_KEY_EC_SECP224K1 = 68,
  VRK_KEY_EC_SECP256K1 = 69,
  VRK_KEY_EC_BP256R1 = 70,
  VRK_KEY_EC_BP384R1 = 71,
  VRK_KEY_EC_BP512R1 = 72,
  VRK_KEY_SS = 224,
  VRK_KEY_NOTSUPPORT = 253,
  VRK_KEY_NOTKEY = 254,
  VRK_KEY_EXTENDED = 255,
};

// Object integrity and encryption kinds.
enum : uint8_t { VRK_MAC_NONE = 0, VRK_MAC_SHA_256 = 1 };
enum : uint8_t { VRK_ENC_NONE = 0, VRK_ENC_CTR = 1 };

// Crypto operation in progress (CryptoAdapterCtx.Crypto_Operation).
enum : uint8_t {
  VRK_OP_NONE = 1,
  VRK_OP_FIND = 2,
  VRK_OP_ENCRYPT = 3,
  VRK_OP_DECRYPT = 4,
  VRK_OP_DIGEST = 5,
  VRK_OP_SIGN = 6,
  VRK_OP_VERIFY = 7,
};

// Mutex states.
enum : uint32_t { VRK_MUTEX_UNLOCK = 0, VRK_MUTEX_LOCK = 1, VRK_MUTEX_UNKNOWN = 2 };

// No hashing (for callers of the hash-taking operations).
inline constexpr uint8_t NO_HASH_TYPE = 255;

// Result codes of the core service: PKCS#11 values plus a few of its own.
enum : uint32_t {
  VRK_OK = 0x000,
  VRK_ERR_HOST_MEMORY = 0x002,          // CKR_HOST_MEMORY
  VRK_ERR_GENERAL = 0x005,              // CKR_GENERAL_ERROR
  VRK_ERR_FAILED = 0x006,               // CKR_FUNCTION_FAILED
  VRK_ERR_ARGUMENTS = 0x007,            // CKR_ARGUMENTS_BAD
  VRK_ERR_NO_MECHANISM_INFO = 0x008,    // the core's mechanism calls answer this
  VRK_ERR_DEVICE = 0x030,               // CKR_DEVICE_ERROR
  VRK_ERR_EMPTY_ID = 0x020,             // CKR_DATA_INVALID: empty ID or label
  VRK_ERR_DATA_LEN = 0x021,             // CKR_DATA_LEN_RANGE
  VRK_ERR_CONFIG_OPEN = 0x050,          // "HSM.cfg" cannot be opened
  VRK_ERR_NO_MATCH = 0x050,             // a session-object find matched nothing
  VRK_ERR_OPERATION_ACTIVE = 0x051,     // a crypto operation is already running
  VRK_ERR_NOT_SUPPORTED = 0x054,        // CKR_FUNCTION_NOT_SUPPORTED
  VRK_ERR_KEY_TYPE_INCONSISTENT = 0x063,  // CKR_KEY_TYPE_INCONSISTENT
  VRK_ERR_KEY_ALGO = 0x068,
  VRK_ERR_NOT_INITIALIZED = 0x091,      // CKR_OPERATION_NOT_INITIALIZED
  VRK_ERR_PIN_INVALID = 0x0A1,          // CKR_PIN_INVALID
  VRK_ERR_PIN_LEN_RANGE = 0x0A2,        // CKR_PIN_LEN_RANGE
  VRK_ERR_PIN_LOCKED = 0x0A4,           // CKR_PIN_LOCKED
  VRK_ERR_OBJECT_ABSENT = 0x082,
  VRK_ERR_SESSION_COUNT = 0x0B1,        // CKR_SESSION_COUNT
  VRK_ERR_SESSION_HANDLE = 0x0B3,       // CKR_SESSION_HANDLE_INVALID
  VRK_ERR_SIGNATURE_INVALID = 0x0C0,    // CKR_SIGNATURE_INVALID
  VRK_ERR_USER_NOT_LOGGED_IN = 0x101,   // CKR_USER_NOT_LOGGED_IN
  VRK_ERR_BUFFER_TOO_SMALL = 0x150,     // CKR_BUFFER_TOO_SMALL
  VRK_ERR_SESS_OBJECTS_FULL = 0x160,
  VRK_ERR_MUTEX_BAD = 0x1A0,            // CKR_MUTEX_BAD
  VRK_ERR_FIRST_TOKEN = 0x200,          // the first token of a secure element
};
