// RSA key import: components checked to make one key, the raw blobs of the
// back ends built from them, and the public values of a stored key read in
// the core.
#include "import_internal.h"
#include "object/object_internal.h"
#include "quarzel/key_holders.h"
#include "quarzel/mpi.h"
#include "quarzel/rsa.h"
#include "quarzel/secure.h"

using namespace zeb::core;
using namespace zeb::core::keyimport;

namespace {

constexpr uint32_t kMaxBytes = 512;                                        // 4096-bit modulus
constexpr uint32_t kMaxPriBlob = 4 + 3 * kMaxBytes + 5 * (kMaxBytes / 2);  // CRT-fast key

bool supported_bits(uint32_t bits) { return bits == 1024 || bits == 2048 || bits == 3072 || bits == 4096; }

bool is_odd(Bytes v) { return !v.empty() && (v.back() & 1) != 0; }

// a * b == n, all big-endian: H-byte factors, L-byte n.
bool product_is(const uint8_t* a, const uint8_t* b, uint32_t H, const uint8_t* n, uint32_t L) {
  quarzel::SecretBytes prod(2 * H);
  if (mpbn_mul(MPBN_ENDIAN_MF_U8, H, a, H, b, 2 * H, prod.data()) != 0) return false;
  return 2 * H == L && std::memcmp(prod.data(), n, L) == 0;
}

// The key signs and verifies test values back to themselves.
bool round_trips(const rsa_prikey_t& d, const rsa_pubkey_t& q, uint32_t L) {
  quarzel::SecretBytes m(L), s(L), back(L);
  // Two test values below n: 2, and n with its top byte cleared.
  for (int round = 0; round < 2; ++round) {
    std::memset(m.data(), 0, L);
    if (round == 0) {
      m[L - 1] = 2;
    } else {
      std::memcpy(m.data() + 1, q.n_modulus + 1, L - 1);
    }
    if (rsa_rsasp1(&d, m.data(), s.data()) != 0) return false;
    if (rsa_rsavp1(&q, s.data(), back.data()) != 0) return false;
    if (std::memcmp(m.data(), back.data(), L) != 0) return false;
  }
  return true;
}

uint32_t private_blob(const VRK_RSA_COMPONENTS& c, quarzel::SecretBytes& blob) {
  const Bytes n = significant(bytes(c.n, c.n_len));
  const Bytes e_given = bytes(c.e, c.e_len);
  const uint32_t bits = static_cast<uint32_t>(n.size()) * 8;
  if (!supported_bits(bits)) return VRK_ERR_KEY_SIZE;
  const uint32_t L = bits / 8;
  const uint32_t H = L / 2;
  const Bytes given_p = bytes(c.p, c.p_len), given_q = bytes(c.q, c.q_len);
  if (given_p.empty() != given_q.empty()) return VRK_ERR_KEY_VALUE;
  const bool crt = !given_p.empty();
  quarzel::SecretBytes e(L), d(L), p(H), q(H), dp(H), dq(H), qinv(H);
  if (!is_odd(n) || !is_odd(e_given) || (significant(e_given).size() == 1 && significant(e_given)[0] < 3)) {
    return VRK_ERR_KEY_VALUE;
  }
  const Bytes given_d = bytes(c.d, c.d_len);
  if (!fit(e_given, L, e.data()) || !fit(given_d, L, d.data()) || significant(given_d).empty()) {
    return VRK_ERR_KEY_VALUE;
  }
  if (std::memcmp(d.data(), n.data(), L) >= 0) return VRK_ERR_KEY_VALUE;
  if (crt) {
    if (!fit(given_p, H, p.data()) || !fit(given_q, H, q.data()) || !product_is(p.data(), q.data(), H, n.data(), L)) {
      return VRK_ERR_KEY_VALUE;
    }
    if (rsa_gen_crt_component_from_prikey(bits, d.data(), p.data(), q.data(), dp.data(), dq.data(), qinv.data()) !=
        0) {
      return VRK_ERR_KEY_VALUE;
    }
    // CRT values a caller sends must be the ones that follow from d, p, q.
    const Bytes given[] = {bytes(c.dp, c.dp_len), bytes(c.dq, c.dq_len), bytes(c.qinv, c.qinv_len)};
    const uint8_t* derived[] = {dp.data(), dq.data(), qinv.data()};
    quarzel::SecretBytes tmp(H);
    for (size_t i = 0; i < 3; ++i) {
      if (given[i].empty()) continue;
      if (!fit(given[i], H, tmp.data()) || std::memcmp(tmp.data(), derived[i], H) != 0) return VRK_ERR_KEY_VALUE;
    }
  }
  quarzel::RsaPriKey key;
  quarzel::RsaPubKey pub;
  const auto size = static_cast<rsa_size_t>(bits);
  if (rsa_prikey_init(&key.k, size) != 0 ||
      rsa_prikey_value_alloc(&key.k, crt ? RSA_KEYTYPE_CRTFAST : RSA_KEYTYPE_NONCRT) != 0 ||
      rsa_pubkey_init(&pub.k, size) != 0 || rsa_pubkey_value_alloc(&pub.k) != 0) {
    return VRK_ERR_FAILED;
  }
  const uint32_t h = crt ? H : 0;
  if (rsa_prikey_value_set(&key.k, L, n.data(), L, e.data(), L, d.data(), h, p.data(), h, q.data(), h, dp.data(), h,
                           dq.data(), h, qinv.data()) != 0 ||
      rsa_pubkey_value_set(&pub.k, L, n.data(), L, e.data()) != 0) {
    return VRK_ERR_KEY_VALUE;
  }
  if (!round_trips(key.k, pub.k, L)) return VRK_ERR_KEY_VALUE;
  if (crt) {
    // The CRT path above never used d itself: check it alone too.
    quarzel::SecretBytes m(L), s(L), back(L);
    m[L - 1] = 3;
    if (rsa_power(bits, m.data(), n.data(), d.data(), s.data()) != 0 ||
        rsa_rsavp1(&pub.k, s.data(), back.data()) != 0 ||
        std::memcmp(m.data(), back.data(), L) != 0) {
      return VRK_ERR_KEY_VALUE;
    }
  }
  uint32_t len = 0;
  (void)rsa_prikey_to_raw(&key.k, &len, nullptr);
  blob.assign(len, 0);
  if (rsa_prikey_to_raw(&key.k, &len, blob.data()) != 0) return VRK_ERR_FAILED;
  blob.resize(len);
  return VRK_OK;
}

// Modulus and exponent (significant bytes) of a raw private or public blob.
bool public_parts(Bytes blob, bool is_private, quarzel::SecretBytes& n, quarzel::SecretBytes& e) {
  const auto len = static_cast<uint32_t>(blob.size());
  const uint8_t* n_buf = nullptr;
  const uint8_t* e_buf = nullptr;
  uint32_t L = 0;
  quarzel::RsaPriKey d;
  quarzel::RsaPubKey q;
  if (is_private) {
    rsa_size_t size{};
    rsa_keytype_t type{};
    if (rsa_raw_prikey_get_length(len, blob.data(), &size, &type) != 0 || !supported_bits(size) ||
        rsa_prikey_init(&d.k, size) != 0 || rsa_prikey_value_alloc(&d.k, type) != 0 ||
        rsa_raw_to_prikey(len, blob.data(), &d.k) != 0) {
      return false;
    }
    n_buf = d.k.n_modulus;
    e_buf = d.k.e_exponent;
    L = size / 8;
  } else {
    rsa_size_t size{};
    if (rsa_raw_pubkey_get_length(len, blob.data(), &size) != 0 || !supported_bits(size) ||
        rsa_pubkey_init(&q.k, size) != 0 || rsa_pubkey_value_alloc(&q.k) != 0 ||
        rsa_raw_to_pubkey(len, blob.data(), &q.k) != 0) {
      return false;
    }
    n_buf = q.k.n_modulus;
    e_buf = q.k.e_exponent;
    L = size / 8;
  }
  if (n_buf == nullptr || e_buf == nullptr) return false;
  const Bytes nn = significant({n_buf, L});
  const Bytes ee = significant({e_buf, L});
  n.assign(nn.begin(), nn.end());
  e.assign(ee.begin(), ee.end());
  return !n.empty() && !e.empty();
}

}  // namespace

extern "C" {

VRK_RV VRK_RSAImportPrivateKey(const VRK_RSA_COMPONENTS* pKey, VRK_UCHAR_PTR pBlob, VRK_UINT32_PTR pu32BlobLen) {
  if (pKey == nullptr) return VRK_ERR_ARGUMENTS;
  try {
    quarzel::SecretBytes blob;
    if (const uint32_t rv = private_blob(*pKey, blob); rv != VRK_OK) return rv;
    return hand_out(blob, pBlob, pu32BlobLen);
  } catch (const std::bad_alloc&) {
    return VRK_ERR_HOST_MEMORY;
  }
}

VRK_RV VRK_RSAImportPublicKey(const VRK_UCHAR* pModulus, VRK_UINT32 u32ModulusLen, const VRK_UCHAR* pExponent,
                              VRK_UINT32 u32ExponentLen, VRK_UCHAR_PTR pBlob, VRK_UINT32_PTR pu32BlobLen) {
  const Bytes n = significant(bytes(pModulus, u32ModulusLen));
  const uint32_t bits = static_cast<uint32_t>(n.size()) * 8;
  if (!supported_bits(bits)) return VRK_ERR_KEY_SIZE;
  const uint32_t L = bits / 8;
  const Bytes e = significant(bytes(pExponent, u32ExponentLen));
  if (!is_odd(n) || !is_odd(e) || (e.size() == 1 && e[0] < 3) || e.size() > L) return VRK_ERR_KEY_VALUE;
  quarzel::RsaPubKey pub;
  if (rsa_pubkey_init(&pub.k, static_cast<rsa_size_t>(bits)) != 0 || rsa_pubkey_value_alloc(&pub.k) != 0) {
    return VRK_ERR_FAILED;
  }
  if (rsa_pubkey_value_set(&pub.k, L, n.data(), static_cast<uint32_t>(e.size()), e.data()) != 0) {
    return VRK_ERR_KEY_VALUE;
  }
  uint8_t blob[4 + 2 * kMaxBytes];
  uint32_t len = 2 * L + 4;
  if (rsa_pubkey_to_raw(&pub.k, &len, blob) != 0) return VRK_ERR_FAILED;
  return hand_out({blob, len}, pBlob, pu32BlobLen);
}

VRK_RV VRK_RSAGetPublicComponents(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen,
                                  VRK_UCHAR_PTR pModulus, VRK_UINT32_PTR pu32ModulusLen, VRK_UCHAR_PTR pExponent,
                                  VRK_UINT32_PTR pu32ExponentLen) {
  VRK_SESSION_CTX* ctx = nullptr;
  const SessionRef held(hSession);
  if (uint32_t rv = user_session(held, &ctx); rv != VRK_OK) return static_cast<int>(rv);
  if (pObject == nullptr || pu32ModulusLen == nullptr || pu32ExponentLen == nullptr) return VRK_ERR_ARGUMENTS;
  try {
    ObjBuf context;
    if (!context.reset(u32ObjectLen)) return VRK_ERR_FAILED;
    VRK_OBJECT_META meta;
    uint32_t n = 0;
    if (DA_DivideObj(ctx->hSe, pObject, u32ObjectLen, &meta, context.data(), &n) != VRK_OK || n > context.size()) {
      return VRK_ERR_FAILED;
    }
    const bool is_private = meta.ObjType == VRK_OBJ_PRIVATEKEY;
    if ((!is_private && meta.ObjType != VRK_OBJ_PUBLICKEY) || meta.ObjKeyAlgo < VRK_KEY_RSA1024 ||
        meta.ObjKeyAlgo > VRK_KEY_RSA4096) {
      return VRK_ERR_KEY_VALUE;
    }
    if (is_private) {
      // The blob is under the session key; its plain form stays here.
      if (n > kMaxPriBlob + 256) return VRK_ERR_KEY_VALUE;
      int crv = CA_UnwrapKey(&ctx->CaCtx, context.data(), n, context.data(), &n);
      if (crv == VRK_OK) crv = CA_ExportValue(&ctx->CaCtx, context.data(), n, context.data(), &n);
      if (crv != VRK_OK) return crv;
      if (n > context.size()) return VRK_ERR_FAILED;
    }
    quarzel::SecretBytes mod, exp;
    if (!public_parts({context.data(), n}, is_private, mod, exp)) return VRK_ERR_KEY_VALUE;
    if (*pu32ModulusLen < mod.size() || *pu32ExponentLen < exp.size() || pModulus == nullptr || pExponent == nullptr) {
      const bool asked = pModulus == nullptr && pExponent == nullptr;
      *pu32ModulusLen = static_cast<VRK_UINT32>(mod.size());
      *pu32ExponentLen = static_cast<VRK_UINT32>(exp.size());
      return asked ? VRK_OK : VRK_ERR_BUFFER_TOO_SMALL;
    }
    (void)hand_out(mod, pModulus, pu32ModulusLen);
    return hand_out(exp, pExponent, pu32ExponentLen);
  } catch (const std::bad_alloc&) {
    return VRK_ERR_HOST_MEMORY;
  }
}

}  // extern "C"
