// Result codes that the back ends (software HSM, secure-element middleware
// and its simulator) give for their own refusals: PKCS#11 values (PKCS#11
// v3.0 §5.1), plus the object MAC's own code. The core hands them on as they
// are, so each is written here once.
//
// Plain integers only: the software provider's units include this beside the
// primitive library's headers, which must not meet the core's type headers.
#pragma once

#include <cstdint>

namespace zeb::rc {

inline constexpr uint32_t kHostMemory = 0x002;             // CKR_HOST_MEMORY
inline constexpr uint32_t kGeneralError = 0x005;           // CKR_GENERAL_ERROR
inline constexpr uint32_t kFailed = 0x006;                 // CKR_FUNCTION_FAILED
inline constexpr uint32_t kArguments = 0x007;              // CKR_ARGUMENTS_BAD
inline constexpr uint32_t kAttributeValueInvalid = 0x013;  // CKR_ATTRIBUTE_VALUE_INVALID
inline constexpr uint32_t kDataLenRange = 0x021;           // CKR_DATA_LEN_RANGE
inline constexpr uint32_t kEncryptedLen = 0x041;           // CKR_ENCRYPTED_DATA_LEN_RANGE
inline constexpr uint32_t kNotSupported = 0x054;           // CKR_FUNCTION_NOT_SUPPORTED
inline constexpr uint32_t kMechanismInvalid = 0x070;       // CKR_MECHANISM_INVALID
inline constexpr uint32_t kObjectInvalid = 0x082;          // CKR_OBJECT_HANDLE_INVALID
inline constexpr uint32_t kNotInitialized = 0x091;         // CKR_OPERATION_NOT_INITIALIZED
inline constexpr uint32_t kSessionHandle = 0x0B3;          // CKR_SESSION_HANDLE_INVALID
inline constexpr uint32_t kSignatureInvalid = 0x0C0;       // CKR_SIGNATURE_INVALID
inline constexpr uint32_t kNotLoggedIn = 0x101;            // CKR_USER_NOT_LOGGED_IN
inline constexpr uint32_t kBufferTooSmall = 0x150;         // CKR_BUFFER_TOO_SMALL

// An object blob whose stored MAC does not match its header and context.
inline constexpr uint32_t kMacMismatch = 0x560;

}  // namespace zeb::rc
