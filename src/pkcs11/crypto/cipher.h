// Encryption and decryption workers: AES (ECB without padding, CBC with
// PKCS#7 padding) and RSA PKCS#1 v1.5, each over the core's calls.
#pragma once

#include "crypto/operation.h"

namespace zebp11::crypto {

// Inits read the key object, check that it suits the operation and start it
// in the core; on success `op` holds what the steps need.
[[nodiscard]] CK_RV aes_init(const Site& site, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey, Operation& op);
[[nodiscard]] CK_RV rsa_init(const Site& site, CK_OBJECT_HANDLE hKey, Operation& op);

// Steps: input, then output under the standard's length convention.
[[nodiscard]] Step aes_single(Operation& op, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG_PTR out_len);
[[nodiscard]] Step aes_update(Operation& op, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG_PTR out_len);
[[nodiscard]] Step aes_final(Operation& op, CK_BYTE_PTR out, CK_ULONG_PTR out_len);
[[nodiscard]] Step rsa_single(Operation& op, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG_PTR out_len);

}  // namespace zebp11::crypto
