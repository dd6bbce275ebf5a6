// EC value forms for callers above the core, a one-call hash and wiping.
// The core's EC table carries every value of a curve at one length L; only
// P-521 has L (68) longer than its order and field (66): there the extra
// leading bytes of r, s and the secret are zero, both being below the order
// or the field prime.
#include <zeb/vrk_sigform.h>

#include <cstring>

#include "quarzel/hash.h"
#include "quarzel/port.h"

namespace {

struct EcForm {
  VRK_EC_FORM form;
  uint32_t core_len;    // L of the core's EC table
  uint32_t order_bits;  // bits of the order
};

constexpr EcForm kEcForms[] = {
    {{VRK_KEY_EC_NIST256, 18, 32, 32}, 32, 256},   {{VRK_KEY_EC_NIST384, 19, 48, 48}, 48, 384},
    {{VRK_KEY_EC_NIST521, 20, 66, 66}, 68, 521},   {{VRK_KEY_EC_SECP256K1, 34, 32, 32}, 32, 256},
    {{VRK_KEY_EC_BP256R1, 67, 32, 32}, 32, 256},   {{VRK_KEY_EC_BP384R1, 69, 48, 48}, 48, 384},
    {{VRK_KEY_EC_BP512R1, 70, 64, 64}, 64, 512},
};

constexpr const EcForm* find_form(VRK_UCHAR algo) {
  for (const EcForm& f : kEcForms) {
    if (f.form.KeyAlgo == algo) return &f;
  }
  return nullptr;
}

// Checks the output capacity of a conversion that writes `needed` bytes.
VRK_RV room(VRK_UCHAR_PTR out, VRK_UINT32_PTR out_len, uint32_t needed) {
  if (out == nullptr || out_len == nullptr) return VRK_ERR_ARGUMENTS;
  if (*out_len < needed) {
    *out_len = needed;
    return VRK_ERR_BUFFER_TOO_SMALL;
  }
  return VRK_OK;
}

}  // namespace

extern "C" {

VRK_RV VRK_GetECForm(VRK_UCHAR KeyAlgo, VRK_EC_FORM* pForm) {
  if (pForm == nullptr) return VRK_ERR_ARGUMENTS;
  const EcForm* f = find_form(KeyAlgo);
  if (f == nullptr) return VRK_ERR_KEY_ALGO;
  *pForm = f->form;
  return VRK_OK;
}

VRK_RV VRK_ECDSASignatureFromCore(VRK_UCHAR KeyAlgo, const VRK_UCHAR* pCoreSignature, VRK_UINT32 CoreLength,
                                  VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pSignatureLength) {
  const EcForm* f = find_form(KeyAlgo);
  if (f == nullptr) return VRK_ERR_KEY_ALGO;
  if (pCoreSignature == nullptr) return VRK_ERR_ARGUMENTS;
  if (CoreLength != 2 * f->core_len) return VRK_ERR_DATA_LEN;
  const uint32_t n = f->form.OrderLength;
  if (VRK_RV rv = room(pSignature, pSignatureLength, 2 * n); rv != VRK_OK) return rv;
  const uint32_t skip = f->core_len - n;
  std::memmove(pSignature, pCoreSignature + skip, n);
  std::memmove(pSignature + n, pCoreSignature + f->core_len + skip, n);
  *pSignatureLength = 2 * n;
  return VRK_OK;
}

VRK_RV VRK_ECDSASignatureToCore(VRK_UCHAR KeyAlgo, const VRK_UCHAR* pSignature, VRK_UINT32 SignatureLength,
                                VRK_UCHAR_PTR pCoreSignature, VRK_UINT32_PTR pCoreLength) {
  const EcForm* f = find_form(KeyAlgo);
  if (f == nullptr) return VRK_ERR_KEY_ALGO;
  const uint32_t n = f->form.OrderLength;
  if (pSignature == nullptr) return VRK_ERR_ARGUMENTS;
  if (SignatureLength != 2 * n) return VRK_ERR_DATA_LEN;
  if (VRK_RV rv = room(pCoreSignature, pCoreLength, 2 * f->core_len); rv != VRK_OK) return rv;
  const uint32_t skip = f->core_len - n;
  std::memset(pCoreSignature, 0, 2 * f->core_len);
  std::memcpy(pCoreSignature + skip, pSignature, n);
  std::memcpy(pCoreSignature + f->core_len + skip, pSignature + n, n);
  *pCoreLength = 2 * f->core_len;
  return VRK_OK;
}

VRK_RV VRK_ECDSADigestToCore(VRK_UCHAR KeyAlgo, const VRK_UCHAR* pDigest, VRK_UINT32 DigestLength, VRK_UCHAR_PTR pOut,
                             VRK_UINT32_PTR pOutLength) {
  const EcForm* f = find_form(KeyAlgo);
  if (f == nullptr) return VRK_ERR_KEY_ALGO;
  if (pDigest == nullptr && DigestLength != 0) return VRK_ERR_ARGUMENTS;
  const uint32_t n = f->form.OrderLength;
  const unsigned spare = 8 * n - f->order_bits;
  // The core reads a digest by whole bytes: where the order's bits are no
  // whole number of bytes, a digest of the order's bytes or more becomes its
  // leftmost order_bits bits, right-aligned.
  if (spare == 0 || DigestLength < n) {
    if (VRK_RV rv = room(pOut, pOutLength, DigestLength); rv != VRK_OK) return rv;
    if (DigestLength != 0) std::memmove(pOut, pDigest, DigestLength);
    *pOutLength = DigestLength;
    return VRK_OK;
  }
  if (VRK_RV rv = room(pOut, pOutLength, n); rv != VRK_OK) return rv;
  for (uint32_t i = n; i-- > 0;) {
    const unsigned hi = i == 0 ? 0 : pDigest[i - 1];
    pOut[i] = static_cast<uint8_t>((hi << (8 - spare)) | (pDigest[i] >> spare));
  }
  *pOutLength = n;
  return VRK_OK;
}

VRK_RV VRK_ECDHSecretFromCore(VRK_UCHAR KeyAlgo, const VRK_UCHAR* pCoreSecret, VRK_UINT32 CoreLength,
                              VRK_UCHAR_PTR pSecret, VRK_UINT32_PTR pSecretLength) {
  const EcForm* f = find_form(KeyAlgo);
  if (f == nullptr) return VRK_ERR_KEY_ALGO;
  if (pCoreSecret == nullptr) return VRK_ERR_ARGUMENTS;
  const uint32_t n = f->form.FieldLength;
  if (CoreLength < n) return VRK_ERR_DATA_LEN;
  if (VRK_RV rv = room(pSecret, pSecretLength, n); rv != VRK_OK) return rv;
  std::memmove(pSecret, pCoreSecret + (CoreLength - n), n);
  *pSecretLength = n;
  return VRK_OK;
}

VRK_RV VRK_HashOneStep(VRK_UCHAR HashType, const VRK_UCHAR* pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDigest,
                       VRK_UINT32_PTR pDigestLength) {
  if ((pData == nullptr && DataLength != 0) || pDigest == nullptr || pDigestLength == nullptr) {
    return VRK_ERR_ARGUMENTS;
  }
  uint32_t needed = 0;
  if (hash_get_length(static_cast<hash_type_t>(HashType), &needed) != 0 || needed == 0) return VRK_ERR_ARGUMENTS;
  if (VRK_RV rv = room(pDigest, pDigestLength, needed); rv != VRK_OK) return rv;
  uint32_t len = *pDigestLength;
  if (hash_onestep(static_cast<hash_type_t>(HashType), DataLength, pData, &len, pDigest) != 0) return VRK_ERR_FAILED;
  *pDigestLength = len;
  return VRK_OK;
}

void VRK_SecureWipe(void* p, size_t n) {
  if (p != nullptr && n != 0) quarzel::secure_wipe(p, n);
}

}  // extern "C"
