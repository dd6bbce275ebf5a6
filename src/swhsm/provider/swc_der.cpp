// DER forms used beside the provider: the ECDSA-Sig-Value of SEC 1 (a
// SEQUENCE of the INTEGERs r and s) and the SubjectPublicKeyInfo of an EC
// public key (RFC 5480). Readers are strict: definite one- or two-byte
// lengths in their minimal form, exact nesting, no trailing bytes.
#include <cstring>

#include "swc_crypto.h"
#include "swc_work.h"
#include "zeb/swhsm_services.h"

using swc::kArguments;
using swc::kBufferTooSmall;
using swc::kSignatureInvalid;

namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kLong1 = 0x81;  // one length byte follows

// Largest content a one-byte long form carries.
constexpr uint32_t kMaxContent = 255;

// Writes a tag and a DER length; returns the header size.
uint32_t put_header(uint8_t* out, uint8_t tag, uint32_t len) {
  out[0] = tag;
  if (len < 0x80) {
    out[1] = static_cast<uint8_t>(len);
    return 2;
  }
  out[1] = kLong1;
  out[2] = static_cast<uint8_t>(len);
  return 3;
}
constexpr uint32_t header_len(uint32_t len) { return len < 0x80 ? 2 : 3; }

// Reads a tag and a DER length within [p, end); the content must fit.
bool get_header(const uint8_t*& p, const uint8_t* end, uint8_t tag, uint32_t* len) {
  if (end - p < 2 || p[0] != tag) return false;
  if (p[1] < 0x80) {
    *len = p[1];
    p += 2;
  } else if (p[1] == kLong1) {
    if (end - p < 3 || p[2] < 0x80) return false;  // minimal form only
    *len = p[2];
    p += 3;
  } else {
    return false;
  }
  return static_cast<uint32_t>(end - p) >= *len;
}

// A non-negative INTEGER in minimal form; value without its sign byte.
bool get_unsigned(const uint8_t*& p, const uint8_t* end, const uint8_t** value, uint32_t* value_len) {
  uint32_t len = 0;
  if (!get_header(p, end, kInteger, &len) || len == 0) return false;
  const uint8_t* v = p;
  p += len;
  if (v[0] & 0x80) return false;                                    // negative
  if (v[0] == 0x00 && len > 1 && (v[1] & 0x80) == 0) return false;  // non-minimal
  if (v[0] == 0x00 && len > 1) {
    ++v;
    --len;
  }
  *value = v;
  *value_len = len;
  return true;
}

// Significant bytes of a fixed-length big-endian number.
struct Unsigned {
  const uint8_t* p;
  uint32_t len;
  bool pad;  // a 0x00 goes in front to keep it positive
  uint32_t der_len() const { return len + (pad ? 1 : 0); }
};
Unsigned significant(const uint8_t* v, uint32_t n) {
  while (n > 0 && *v == 0) {
    ++v;
    --n;
  }
  return {v, n, n > 0 && (v[0] & 0x80) != 0};
}

uint32_t put_unsigned(uint8_t* out, const Unsigned& u) {
  uint32_t n = put_header(out, kInteger, u.der_len());
  if (u.pad) out[n++] = 0x00;
  std::memcpy(out + n, u.p, u.len);
  return n + u.len;
}

// id-ecPublicKey (1.2.840.10045.2.1) and the named curves (RFC 5480, RFC 5639).
constexpr uint8_t kEcPublicKey[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
struct CurveOid {
  uint8_t curve;  // ecc_crv_t value
  uint8_t len;
  uint8_t oid[9];
};
constexpr CurveOid kCurves[] = {
    {18, 8, {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}},        // prime256v1
    {19, 5, {0x2B, 0x81, 0x04, 0x00, 0x22}},                          // secp384r1
    {20, 5, {0x2B, 0x81, 0x04, 0x00, 0x23}},                          // secp521r1
    {34, 5, {0x2B, 0x81, 0x04, 0x00, 0x0A}},                          // secp256k1
    {67, 9, {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07}},  // brainpoolP256r1
    {69, 9, {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0B}},  // brainpoolP384r1
    {70, 9, {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0D}},  // brainpoolP512r1
};

const CurveOid* curve_by_id(uint8_t id) {
  for (const CurveOid& c : kCurves) {
    if (c.curve == id) return &c;
  }
  return nullptr;
}

}  // namespace

extern "C" {

uint32_t SignatureToDER(uint8_t* r, uint8_t* s, uint32_t rsLen, uint8_t* pDer, uint32_t* pDerLen) {
  if (r == nullptr || s == nullptr || pDer == nullptr || pDerLen == nullptr || rsLen == 0) return kArguments;
  const Unsigned ur = significant(r, rsLen);
  const Unsigned us = significant(s, rsLen);
  // Zero is never a valid r or s.
  if (ur.len == 0 || us.len == 0) return kArguments;
  const uint32_t content = header_len(ur.der_len()) + ur.der_len() + header_len(us.der_len()) + us.der_len();
  if (content > kMaxContent) return kArguments;
  const uint32_t total = header_len(content) + content;
  if (!swc::fits(pDerLen, total)) return kBufferTooSmall;
  uint32_t n = put_header(pDer, kSequence, content);
  n += put_unsigned(pDer + n, ur);
  n += put_unsigned(pDer + n, us);
  *pDerLen = n;
  return 0;
}

uint32_t SignatureDERToRS(uint8_t* pDer, uint32_t derLen, uint8_t* r, uint8_t* s, uint32_t* pRLen, uint32_t* pSLen) {
  if (pDer == nullptr || r == nullptr || s == nullptr || pRLen == nullptr || pSLen == nullptr) return kArguments;
  const uint8_t* p = pDer;
  const uint8_t* const end = pDer + derLen;
  uint32_t content = 0;
  const uint8_t* rv = nullptr;
  const uint8_t* sv = nullptr;
  uint32_t rl = 0;
  uint32_t sl = 0;
  if (!get_header(p, end, kSequence, &content) || p + content != end || !get_unsigned(p, end, &rv, &rl) ||
      !get_unsigned(p, end, &sv, &sl) || p != end) {
    return kSignatureInvalid;
  }
  // The capacities are the curve's length: a longer r or s is no signature.
  if (rl > *pRLen || sl > *pSLen) return kSignatureInvalid;
  std::memcpy(r, rv, rl);
  std::memcpy(s, sv, sl);
  *pRLen = rl;
  *pSLen = sl;
  return 0;
}

uint32_t ECCPubkeyToDER(uint8_t Curve, uint8_t* QKey, uint32_t QLen, uint8_t* pPubKeyDer, uint32_t* pPubKeyDerLen) {
  if (QKey == nullptr || pPubKeyDer == nullptr || pPubKeyDerLen == nullptr) return kArguments;
  const CurveOid* c = curve_by_id(Curve);
  if (c == nullptr || QLen == 0 || QLen % 2 != 0) return kArguments;
  const uint32_t alg = 2 + sizeof kEcPublicKey + 2 + c->len;
  const uint32_t bits = 2 + QLen;  // unused-bits byte and the 0x04 point form
  const uint32_t content = header_len(alg) + alg + header_len(bits) + bits;
  if (bits > kMaxContent || content > kMaxContent) return kArguments;
  const uint32_t total = header_len(content) + content;
  if (!swc::fits(pPubKeyDerLen, total)) return kBufferTooSmall;
  uint8_t* o = pPubKeyDer;
  o += put_header(o, kSequence, content);
  o += put_header(o, kSequence, alg);
  o += put_header(o, kOid, sizeof kEcPublicKey);
  std::memcpy(o, kEcPublicKey, sizeof kEcPublicKey);
  o += sizeof kEcPublicKey;
  o += put_header(o, kOid, c->len);
  std::memcpy(o, c->oid, c->len);
  o += c->len;
  o += put_header(o, kBitString, bits);
  *o++ = 0x00;
  *o++ = 0x04;
  std::memcpy(o, QKey, QLen);
  *pPubKeyDerLen = total;
  return 0;
}

uint32_t ECCPubkeyDERToQ(uint8_t* pPubKeyDer, uint32_t PubkeyDerLen, uint8_t* pCurve, uint8_t* QKey, uint32_t* pQLen) {
  if (pPubKeyDer == nullptr || pCurve == nullptr || QKey == nullptr || pQLen == nullptr) return kArguments;
  const uint8_t* p = pPubKeyDer;
  const uint8_t* const end = pPubKeyDer + PubkeyDerLen;
  uint32_t len = 0;
  if (!get_header(p, end, kSequence, &len) || p + len != end) return kArguments;
  uint32_t alg = 0;
  if (!get_header(p, end, kSequence, &alg)) return kArguments;
  const uint8_t* const alg_end = p + alg;
  uint32_t oid_len = 0;
  if (!get_header(p, alg_end, kOid, &oid_len) || oid_len != sizeof kEcPublicKey ||
      std::memcmp(p, kEcPublicKey, oid_len) != 0) {
    return kArguments;
  }
  p += oid_len;
  if (!get_header(p, alg_end, kOid, &oid_len) || p + oid_len != alg_end) return kArguments;
  const CurveOid* curve = nullptr;
  for (const CurveOid& c : kCurves) {
    if (c.len == oid_len && std::memcmp(c.oid, p, oid_len) == 0) curve = &c;
  }
  if (curve == nullptr) return kArguments;
  p = alg_end;
  uint32_t bits = 0;
  // An uncompressed point: no unused bits, 0x04, then x || y.
  if (!get_header(p, end, kBitString, &bits) || p + bits != end || bits < 4 || bits % 2 != 0 || p[0] != 0x00 ||
      p[1] != 0x04) {
    return kArguments;
  }
  const uint32_t q_len = bits - 2;
  if (!swc::fits(pQLen, q_len)) return kBufferTooSmall;
  std::memcpy(QKey, p + 2, q_len);
  *pQLen = q_len;
  *pCurve = curve->curve;
  return 0;
}

}  // extern "C"
