// ECDSA verification of r || s with OpenSSL, the oracle of the tests that
// sign on a device (test binaries only). It names the point through EC_KEY:
// an includer defines OPENSSL_SUPPRESS_DEPRECATED before any OpenSSL header.
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>

#include <cstddef>
#include <cstdint>

namespace zt {

// True when r || s (L bytes each) verifies over `digest` under the public
// point (x, y) of the curve `nid`.
inline bool openssl_ecdsa_verify(int nid, const uint8_t* x, const uint8_t* y, size_t L, const uint8_t* digest,
                                 size_t digest_len, const uint8_t* sig) {
  EC_KEY* key = EC_KEY_new_by_curve_name(nid);
  BIGNUM* bx = BN_bin2bn(x, static_cast<int>(L), nullptr);
  BIGNUM* by = BN_bin2bn(y, static_cast<int>(L), nullptr);
  bool ok = key != nullptr && EC_KEY_set_public_key_affine_coordinates(key, bx, by) == 1;
  BN_free(bx);
  BN_free(by);
  if (ok) {
    ECDSA_SIG* s = ECDSA_SIG_new();
    ECDSA_SIG_set0(s, BN_bin2bn(sig, static_cast<int>(L), nullptr), BN_bin2bn(sig + L, static_cast<int>(L), nullptr));
    ok = ECDSA_do_verify(digest, static_cast<int>(digest_len), s, key) == 1;
    ECDSA_SIG_free(s);
  }
  EC_KEY_free(key);
  return ok;
}

}  // namespace zt
