// DER encodings of RSA keys: PKCS#1 RSAPrivateKey and RSAPublicKey (RFC 8017
// A.1), PKCS#8 PrivateKeyInfo (RFC 5208) and X.509 SubjectPublicKeyInfo
// (RFC 5280). Every element is checked to fit in the bytes left before it is
// read; no routine allocates memory.
#include <cstring>

#include "quarzel/asn1.h"
#include "quarzel/rsa_key.h"
#include "rsa/rsa_internal.h"

using namespace quarzel::rsa;

namespace {

constexpr uint32_t FN_PKCS1_PRI_LEN = 0x0460;
constexpr uint32_t FN_PKCS1_TO_PRI = 0x0461;
constexpr uint32_t FN_PKCS1_PUB_LEN = 0x0462;
constexpr uint32_t FN_PKCS1_TO_PUB = 0x0463;
constexpr uint32_t FN_PKCS8_PRI_LEN = 0x0464;
constexpr uint32_t FN_PKCS8_TO_PRI = 0x0465;
constexpr uint32_t FN_X509_PUB_LEN = 0x0466;
constexpr uint32_t FN_X509_TO_PUB = 0x0467;
constexpr uint32_t FN_PRI_TO_PKCS1 = 0x0468;
constexpr uint32_t FN_PUB_TO_PKCS1 = 0x0469;
constexpr uint32_t FN_PRI_TO_PKCS8 = 0x046A;
constexpr uint32_t FN_PUB_TO_X509 = 0x046B;

constexpr uint8_t TAG_SEQUENCE = 0x30;
constexpr uint8_t TAG_INTEGER = 0x02;
constexpr uint8_t TAG_OID = 0x06;
constexpr uint8_t TAG_NULL = 0x05;
constexpr uint8_t TAG_OCTET_STRING = 0x04;
constexpr uint8_t TAG_BIT_STRING = 0x03;

// A window [off, off + left) of the caller's buffer `base`.
struct Cursor {
  const uint8_t* base;
  uint32_t off;
  uint32_t left;
};

// Content of one element: its offset and length in `base`.
struct Elem {
  uint32_t off;
  uint32_t len;
};

// Reads the element at the cursor, which must carry `tag` (else 0x70), and
// moves the cursor past it. Header and content are checked to fit.
quarzel_ret_t read_elem(Cursor& c, uint32_t fn, uint8_t tag, Elem* e) {
  if (c.left != 0 && c.base[c.off] != tag) return rsa_err(fn, RSA_R_TAG);
  uint8_t got = 0;
  uint32_t len = 0;
  uint32_t left = c.left;
  uint32_t off = c.off;
  if (const core_ret_t r = asn1_parse_tlv(&left, c.base + c.off, &got, &len, &off); r != 0) {
    return rsa_err_core(fn, r);
  }
  e->off = off;
  e->len = len;
  c.off = off + len;
  c.left = left - len;
  return 0;
}

// Reads an INTEGER holding a non-negative value in its minimal form (X.690
// 8.3.2: a leading 0x00 only before a byte with its top bit set) and drops
// that 0x00. A padded value would change the key size read from it.
quarzel_ret_t read_uint(Cursor& c, uint32_t fn, Elem* e) {
  if (const quarzel_ret_t r = read_elem(c, fn, TAG_INTEGER, e); r != 0) return r;
  if (e->len == 0 || c.base[e->off] >= 0x80) return rsa_err(fn, RSA_R_LEN);
  if (e->len > 1 && c.base[e->off] == 0 && c.base[e->off + 1] < 0x80) return rsa_err(fn, RSA_R_LEN);
  if (e->len > 1) {
    if (const core_ret_t r = asn1_int_to_oct(c.base[e->off], &e->len, &e->off); r != 0) {
      return rsa_err_core(fn, r);
    }
  }
  return 0;
}

// A SEQUENCE that spans the whole window; `inner` becomes its content.
quarzel_ret_t read_outer_sequence(const Cursor& window, uint32_t fn, Cursor* inner) {
  Cursor c = window;
  Elem e{};
  if (const quarzel_ret_t r = read_elem(c, fn, TAG_SEQUENCE, &e); r != 0) return r;
  if (c.left != 0) return rsa_err(fn, RSA_R_LEN);
  *inner = {c.base, e.off, e.len};
  return 0;
}

// RSAPrivateKey up to and including the modulus: version 0 and n.
quarzel_ret_t rsa_pkcs1_der_retrieve_prikey_length(const Cursor& window, Cursor* seq, Elem* n) {
  constexpr uint32_t fn = FN_PKCS1_PRI_LEN;
  if (const quarzel_ret_t r = read_outer_sequence(window, fn, seq); r != 0) return r;
  Elem ver{};
  if (const quarzel_ret_t r = read_elem(*seq, fn, TAG_INTEGER, &ver); r != 0) return r;
  if (ver.len != 1 || seq->base[ver.off] != 0) return rsa_err(fn, RSA_R_LEN);  // two-prime keys only
  return read_uint(*seq, fn, n);
}

quarzel_ret_t rsa_pkcs1_der_retrieve_pubkey_length(const Cursor& window, Cursor* seq, Elem* n) {
  constexpr uint32_t fn = FN_PKCS1_PUB_LEN;
  if (const quarzel_ret_t r = read_outer_sequence(window, fn, seq); r != 0) return r;
  return read_uint(*seq, fn, n);
}

quarzel_ret_t rsa_pkcs1_der_retrieve_prikey(const Cursor& window, rsa_prikey_t* prikey) {
  constexpr uint32_t fn = FN_PKCS1_TO_PRI;
  Cursor seq{};
  Elem n{};
  if (const quarzel_ret_t r = rsa_pkcs1_der_retrieve_prikey_length(window, &seq, &n); r != 0) return r;
  if (static_cast<uint64_t>(n.len) * 8 != prikey->rsa_size) return rsa_err(fn, RSA_R_MODLEN);
  if (!prikey_active(prikey)) return rsa_err(fn, RSA_R_STATE);
  const uint8_t* b = window.base;
  if (const quarzel_ret_t r = rsa_prikey_value_set(prikey, n.len, b + n.off, 0, nullptr, 0, nullptr,
                                                   0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr,
                                                   0, nullptr);
      r != 0) {
    return r;
  }
  Elem v[7]{};  // e, d, p, q, dp, dq, qinv
  for (Elem& e : v) {
    if (const quarzel_ret_t r = read_uint(seq, fn, &e); r != 0) return r;
  }
  if (seq.left != 0) return rsa_err(fn, RSA_R_LEN);
  if (const quarzel_ret_t r = rsa_prikey_value_set(
          prikey, 0, nullptr, v[0].len, b + v[0].off, v[1].len, b + v[1].off, v[2].len,
          b + v[2].off, v[3].len, b + v[3].off, v[4].len, b + v[4].off, v[5].len, b + v[5].off,
          v[6].len, b + v[6].off);
      r != 0) {
    return r;
  }
  prikey->state |= 0xFF;
  return 0;
}

quarzel_ret_t rsa_pkcs1_der_retrieve_pubkey(const Cursor& window, rsa_pubkey_t* pubkey) {
  constexpr uint32_t fn = FN_PKCS1_TO_PUB;
  Cursor seq{};
  Elem n{};
  if (const quarzel_ret_t r = rsa_pkcs1_der_retrieve_pubkey_length(window, &seq, &n); r != 0) return r;
  if (static_cast<uint64_t>(n.len) * 8 != pubkey->rsa_size) return rsa_err(fn, RSA_R_MODLEN);
  if (!pubkey_active(pubkey)) return rsa_err(fn, RSA_R_STATE);
  Elem e{};
  if (const quarzel_ret_t r = read_uint(seq, fn, &e); r != 0) return r;
  if (seq.left != 0) return rsa_err(fn, RSA_R_LEN);
  const uint8_t* b = window.base;
  if (const quarzel_ret_t r = rsa_pubkey_value_set(pubkey, n.len, b + n.off, e.len, b + e.off); r != 0) {
    return r;
  }
  pubkey->state |= RSA_HAS_N | RSA_HAS_E;
  return 0;
}

// AlgorithmIdentifier { OBJECT IDENTIFIER, NULL }; hands out the OID content.
quarzel_ret_t read_algorithm(Cursor& c, uint32_t fn, Elem* oid) {
  Elem alg{};
  if (const quarzel_ret_t r = read_elem(c, fn, TAG_SEQUENCE, &alg); r != 0) return r;
  Cursor a{c.base, alg.off, alg.len};
  if (const quarzel_ret_t r = read_elem(a, fn, TAG_OID, oid); r != 0) return r;
  Elem null{};
  if (const quarzel_ret_t r = read_elem(a, fn, TAG_NULL, &null); r != 0) return r;
  if (null.len != 0 || a.left != 0) return rsa_err(fn, RSA_R_LEN);
  return 0;
}

quarzel_ret_t hand_out_oid(const uint8_t* base, const Elem& oid, uint32_t fn, uint32_t* oid_len,
                           uint8_t* out) {
  if (out != nullptr) {
    if (oid_len == nullptr) return rsa_err(fn, RSA_R_NULL);
    if (*oid_len < oid.len) {
      *oid_len = oid.len;
      return rsa_err(fn, RSA_R_OUT_SMALL);
    }
    std::memcpy(out, base + oid.off, oid.len);
  }
  if (oid_len != nullptr) *oid_len = oid.len;
  return 0;
}

// PrivateKeyInfo down to its OCTET STRING, whose content becomes `key`.
quarzel_ret_t rsa_pkcs8_der_preprocess_prikey(const Cursor& window, uint32_t* oid_len, uint8_t* oid,
                                              Cursor* key) {
  constexpr uint32_t fn = FN_PKCS8_PRI_LEN;
  Cursor seq{};
  if (const quarzel_ret_t r = read_outer_sequence(window, fn, &seq); r != 0) return r;
  Elem ver{};
  if (const quarzel_ret_t r = read_elem(seq, fn, TAG_INTEGER, &ver); r != 0) return r;
  if (ver.len != 1 || seq.base[ver.off] != 0) return rsa_err(fn, RSA_R_LEN);
  Elem alg{};
  if (const quarzel_ret_t r = read_algorithm(seq, fn, &alg); r != 0) return r;
  if (const quarzel_ret_t r = hand_out_oid(seq.base, alg, fn, oid_len, oid); r != 0) return r;
  Elem oct{};
  if (const quarzel_ret_t r = read_elem(seq, fn, TAG_OCTET_STRING, &oct); r != 0) return r;
  if (seq.left != 0) return rsa_err(FN_PKCS8_TO_PRI, RSA_R_LEN);  // no attributes
  *key = {seq.base, oct.off, oct.len};
  return 0;
}

// SubjectPublicKeyInfo down to its BIT STRING, whose content (after the
// unused-bits byte) becomes `key`.
quarzel_ret_t rsa_x509_der_preprocess_pubkey(const Cursor& window, uint32_t* oid_len, uint8_t* oid,
                                             Cursor* key) {
  constexpr uint32_t fn = FN_X509_PUB_LEN;
  Cursor seq{};
  if (const quarzel_ret_t r = read_outer_sequence(window, fn, &seq); r != 0) return r;
  Elem alg{};
  if (const quarzel_ret_t r = read_algorithm(seq, fn, &alg); r != 0) return r;
  if (const quarzel_ret_t r = hand_out_oid(seq.base, alg, fn, oid_len, oid); r != 0) return r;
  Elem bits{};
  if (const quarzel_ret_t r = read_elem(seq, fn, TAG_BIT_STRING, &bits); r != 0) return r;
  if (seq.left != 0) return rsa_err(fn, RSA_R_LEN);
  const uint8_t first = bits.len != 0 ? seq.base[bits.off] : 0;
  if (const core_ret_t r = asn1_bit_to_oct(first, &bits.len, &bits.off); r != 0) {
    return rsa_err_core(fn, r);
  }
  *key = {seq.base, bits.off, bits.len};
  return 0;
}

// ---- writers ----

// DER INTEGER content of a big-endian component.
struct IntEnc {
  const uint8_t* bytes;  // first byte to copy
  uint32_t copy_len;     // bytes copied from `bytes`
  uint8_t zero_front;    // a 0x00 goes in front
  uint32_t content_len;  // zero_front + copy_len
};

uint32_t len_field_size(uint32_t len) {
  uint32_t size = 0;
  (void)asn1_cal_len_byte(len, &size, nullptr);
  return size;
}

uint32_t tlv_size(uint32_t content) { return 1 + len_field_size(content) + content; }

quarzel_ret_t encode_int(uint32_t fn, const uint8_t* buf, uint32_t len, IntEnc* out) {
  uint32_t int_len = 0;
  uint32_t offset = 0;
  uint8_t flag = 0;
  if (const core_ret_t r = asn1_oct_to_int(len, buf, &int_len, &offset, &flag); r != 0) {
    return rsa_err_core(fn, r);
  }
  *out = {buf + offset, int_len - flag, flag, int_len};
  return 0;
}

// The reader takes the key size from the modulus's DER length: a modulus with
// leading zero bytes (a 1016-bit n in a 1024-bit key) would come back as
// another size, so it is not written.
bool modulus_fills_key(const IntEnc& n, uint32_t bits) { return n.copy_len == full_len(bits); }

class Writer {
 public:
  explicit Writer(uint8_t* out) : out_(out) {}
  void byte(uint8_t b) { out_[pos_++] = b; }
  void header(uint8_t tag, uint32_t len) {
    byte(tag);
    uint32_t size = 5;
    (void)asn1_cal_len_byte(len, &size, out_ + pos_);
    pos_ += size;
  }
  void bytes(const uint8_t* p, uint32_t n) {
    if (n != 0) std::memcpy(out_ + pos_, p, n);
    pos_ += n;
  }
  void integer(const IntEnc& e) {
    header(TAG_INTEGER, e.content_len);
    if (e.zero_front != 0) byte(0);
    bytes(e.bytes, e.copy_len);
  }
  void version0() {
    byte(TAG_INTEGER);
    byte(1);
    byte(0);
  }

 private:
  uint8_t* out_;
  uint32_t pos_ = 0;
};

// The eight INTEGERs of an RSAPrivateKey and the SEQUENCE's content length.
quarzel_ret_t rsa_get_prikey_length_for_pkcs1_der(const rsa_prikey_t* prikey, IntEnc ints[8],
                                                  uint32_t* content) {
  constexpr uint32_t fn = FN_PRI_TO_PKCS1;
  // A PKCS#1 private key needs all eight components; a missing one would be
  // written as a bogus value.
  if (!prikey_active(prikey) || !has_all(prikey->state, 0xFF)) return rsa_err(fn, RSA_R_STATE);
  if (!size_accepted(prikey->rsa_size)) return rsa_err(fn, RSA_R_SIZE);
  uint32_t total = 3;  // version
  for (int i = 0; i < 8; ++i) {
    const PriComponent& c = kPriComponents[i];
    if (prikey->*c.buf == nullptr || prikey->*c.len == 0) return rsa_err(fn, RSA_R_STATE);
    if (const quarzel_ret_t r = encode_int(fn, prikey->*c.buf, prikey->*c.len, &ints[i]); r != 0) {
      return r;
    }
    total += tlv_size(ints[i].content_len);
  }
  if (!modulus_fills_key(ints[0], prikey->rsa_size)) return rsa_err(fn, RSA_R_MODLEN);
  *content = total;
  return 0;
}

quarzel_ret_t rsa_get_pubkey_length_for_pkcs1_der(const rsa_pubkey_t* pubkey, IntEnc ints[2],
                                                  uint32_t* content) {
  constexpr uint32_t fn = FN_PUB_TO_PKCS1;
  if (!pubkey_usable(pubkey) || pubkey->n_modulus == nullptr || pubkey->e_exponent == nullptr ||
      pubkey->n_modulus_len == 0 || pubkey->e_exponent_len == 0) {
    return rsa_err(fn, RSA_R_STATE);
  }
  if (!size_accepted(pubkey->rsa_size)) return rsa_err(fn, RSA_R_SIZE);
  if (const quarzel_ret_t r = encode_int(fn, pubkey->n_modulus, pubkey->n_modulus_len, &ints[0]); r != 0) {
    return r;
  }
  if (const quarzel_ret_t r = encode_int(fn, pubkey->e_exponent, pubkey->e_exponent_len, &ints[1]); r != 0) {
    return r;
  }
  if (!modulus_fills_key(ints[0], pubkey->rsa_size)) return rsa_err(fn, RSA_R_MODLEN);
  *content = tlv_size(ints[0].content_len) + tlv_size(ints[1].content_len);
  return 0;
}

void rsa_serialize_prikey_to_pkcs1_der(Writer& w, const IntEnc ints[8], uint32_t content) {
  w.header(TAG_SEQUENCE, content);
  w.version0();
  for (int i = 0; i < 8; ++i) w.integer(ints[i]);
}

void rsa_serialize_pubkey_to_pkcs1_der(Writer& w, const IntEnc ints[2], uint32_t content) {
  w.header(TAG_SEQUENCE, content);
  w.integer(ints[0]);
  w.integer(ints[1]);
}

void write_algorithm(Writer& w, uint32_t oid_len, const uint8_t* oid) {
  w.header(TAG_SEQUENCE, tlv_size(oid_len) + 2);
  w.header(TAG_OID, oid_len);
  w.bytes(oid, oid_len);
  w.byte(TAG_NULL);
  w.byte(0);
}

// Capacity check of every writer: too small writes the needed length.
quarzel_ret_t reserve(uint32_t fn, uint32_t need, uint32_t* der_len) {
  const bool fits = *der_len >= need;
  *der_len = need;
  return fits ? 0 : rsa_err(fn, RSA_R_LEN);
}

}  // namespace

extern "C" {

quarzel_ret_t rsa_pkcs1_prikey_der_get_length(uint32_t der_len, const uint8_t* der, uint32_t* rsa_len) {
  if (der == nullptr || rsa_len == nullptr) return rsa_err(FN_PKCS1_PRI_LEN, RSA_R_NULL);
  Cursor seq{};
  Elem n{};
  if (const quarzel_ret_t r = rsa_pkcs1_der_retrieve_prikey_length({der, 0, der_len}, &seq, &n);
      r != 0) {
    return r;
  }
  *rsa_len = n.len * 8;
  return 0;
}

quarzel_ret_t rsa_pkcs1_der_to_prikey(uint32_t der_len, const uint8_t* der, rsa_prikey_t* prikey) {
  if (der == nullptr || prikey == nullptr) return rsa_err(FN_PKCS1_TO_PRI, RSA_R_NULL);
  return rsa_pkcs1_der_retrieve_prikey({der, 0, der_len}, prikey);
}

quarzel_ret_t rsa_pkcs1_pubkey_der_get_length(uint32_t der_len, const uint8_t* der, uint32_t* rsa_len) {
  if (der == nullptr || rsa_len == nullptr) return rsa_err(FN_PKCS1_PUB_LEN, RSA_R_NULL);
  Cursor seq{};
  Elem n{};
  if (const quarzel_ret_t r = rsa_pkcs1_der_retrieve_pubkey_length({der, 0, der_len}, &seq, &n);
      r != 0) {
    return r;
  }
  *rsa_len = n.len * 8;
  return 0;
}

quarzel_ret_t rsa_pkcs1_der_to_pubkey(uint32_t der_len, const uint8_t* der, rsa_pubkey_t* pubkey) {
  if (der == nullptr || pubkey == nullptr) return rsa_err(FN_PKCS1_TO_PUB, RSA_R_NULL);
  return rsa_pkcs1_der_retrieve_pubkey({der, 0, der_len}, pubkey);
}

quarzel_ret_t rsa_pkcs8_prikey_der_get_length(uint32_t der_len, const uint8_t* der, uint32_t* rsa_len) {
  if (der == nullptr || rsa_len == nullptr) return rsa_err(FN_PKCS8_PRI_LEN, RSA_R_NULL);
  Cursor key{};
  if (const quarzel_ret_t r = rsa_pkcs8_der_preprocess_prikey({der, 0, der_len}, nullptr, nullptr, &key);
      r != 0) {
    return r;
  }
  Cursor seq{};
  Elem n{};
  if (const quarzel_ret_t r = rsa_pkcs1_der_retrieve_prikey_length(key, &seq, &n); r != 0) return r;
  *rsa_len = n.len * 8;
  return 0;
}

quarzel_ret_t rsa_pkcs8_der_to_prikey(uint32_t der_len, const uint8_t* der, rsa_prikey_t* prikey,
                                      uint32_t* oid_len, uint8_t* oid) {
  if (der == nullptr || prikey == nullptr) return rsa_err(FN_PKCS8_TO_PRI, RSA_R_NULL);
  Cursor key{};
  if (const quarzel_ret_t r = rsa_pkcs8_der_preprocess_prikey({der, 0, der_len}, oid_len, oid, &key);
      r != 0) {
    return r;
  }
  return rsa_pkcs1_der_retrieve_prikey(key, prikey);
}

quarzel_ret_t rsa_x509_pubkey_der_get_length(uint32_t der_len, const uint8_t* der, uint32_t* rsa_len) {
  if (der == nullptr || rsa_len == nullptr) return rsa_err(FN_X509_PUB_LEN, RSA_R_NULL);
  Cursor key{};
  if (const quarzel_ret_t r = rsa_x509_der_preprocess_pubkey({der, 0, der_len}, nullptr, nullptr, &key);
      r != 0) {
    return r;
  }
  Cursor seq{};
  Elem n{};
  if (const quarzel_ret_t r = rsa_pkcs1_der_retrieve_pubkey_length(key, &seq, &n); r != 0) return r;
  *rsa_len = n.len * 8;
  return 0;
}

quarzel_ret_t rsa_x509_der_to_pubkey(uint32_t der_len, const uint8_t* der, rsa_pubkey_t* pubkey,
                                     uint32_t* oid_len, uint8_t* oid) {
  if (der == nullptr || pubkey == nullptr) return rsa_err(FN_X509_TO_PUB, RSA_R_NULL);
  Cursor key{};
  if (const quarzel_ret_t r = rsa_x509_der_preprocess_pubkey({der, 0, der_len}, oid_len, oid, &key);
      r != 0) {
    return r;
  }
  return rsa_pkcs1_der_retrieve_pubkey(key, pubkey);
}

quarzel_ret_t rsa_prikey_to_pkcs1_der(const rsa_prikey_t* prikey, uint32_t* der_len, uint8_t* der) {
  constexpr uint32_t fn = FN_PRI_TO_PKCS1;
  if (prikey == nullptr || der_len == nullptr || der == nullptr) return rsa_err(fn, RSA_R_NULL);
  IntEnc ints[8]{};
  uint32_t content = 0;
  if (const quarzel_ret_t r = rsa_get_prikey_length_for_pkcs1_der(prikey, ints, &content); r != 0) return r;
  if (const quarzel_ret_t r = reserve(fn, tlv_size(content), der_len); r != 0) return r;
  Writer w(der);
  rsa_serialize_prikey_to_pkcs1_der(w, ints, content);
  return 0;
}

quarzel_ret_t rsa_pubkey_to_pkcs1_der(const rsa_pubkey_t* pubkey, uint32_t* der_len, uint8_t* der) {
  constexpr uint32_t fn = FN_PUB_TO_PKCS1;
  if (pubkey == nullptr || der_len == nullptr || der == nullptr) return rsa_err(fn, RSA_R_NULL);
  IntEnc ints[2]{};
  uint32_t content = 0;
  if (const quarzel_ret_t r = rsa_get_pubkey_length_for_pkcs1_der(pubkey, ints, &content); r != 0) return r;
  if (const quarzel_ret_t r = reserve(fn, tlv_size(content), der_len); r != 0) return r;
  Writer w(der);
  rsa_serialize_pubkey_to_pkcs1_der(w, ints, content);
  return 0;
}

quarzel_ret_t rsa_prikey_to_pkcs8_der(const rsa_prikey_t* prikey, uint32_t oid_len,
                                      const uint8_t* oid, uint32_t* der_len, uint8_t* der) {
  constexpr uint32_t fn = FN_PRI_TO_PKCS8;
  if (prikey == nullptr || oid == nullptr || der_len == nullptr || der == nullptr) {
    return rsa_err(fn, RSA_R_NULL);
  }
  IntEnc ints[8]{};
  uint32_t key_content = 0;
  if (const quarzel_ret_t r = rsa_get_prikey_length_for_pkcs1_der(prikey, ints, &key_content);
      r != 0) {
    return r;
  }
  const uint32_t key_len = tlv_size(key_content);
  const uint32_t alg = tlv_size(oid_len) + 2;
  const uint32_t content = 3 + tlv_size(alg) + tlv_size(key_len);
  if (const quarzel_ret_t r = reserve(fn, tlv_size(content), der_len); r != 0) return r;
  Writer w(der);
  w.header(TAG_SEQUENCE, content);
  w.version0();
  write_algorithm(w, oid_len, oid);
  w.header(TAG_OCTET_STRING, key_len);
  rsa_serialize_prikey_to_pkcs1_der(w, ints, key_content);
  return 0;
}

quarzel_ret_t rsa_pubkey_to_x509_der(const rsa_pubkey_t* pubkey, uint32_t oid_len,
                                     const uint8_t* oid, uint32_t* der_len, uint8_t* der) {
  constexpr uint32_t fn = FN_PUB_TO_X509;
  if (pubkey == nullptr || oid == nullptr || der_len == nullptr || der == nullptr) {
    return rsa_err(fn, RSA_R_NULL);
  }
  IntEnc ints[2]{};
  uint32_t key_content = 0;
  if (const quarzel_ret_t r = rsa_get_pubkey_length_for_pkcs1_der(pubkey, ints, &key_content);
      r != 0) {
    return r;
  }
  const uint32_t bit_len = 1 + tlv_size(key_content);
  const uint32_t alg = tlv_size(oid_len) + 2;
  const uint32_t content = tlv_size(alg) + tlv_size(bit_len);
  if (const quarzel_ret_t r = reserve(fn, tlv_size(content), der_len); r != 0) return r;
  Writer w(der);
  w.header(TAG_SEQUENCE, content);
  write_algorithm(w, oid_len, oid);
  w.header(TAG_BIT_STRING, bit_len);
  w.byte(0);
  rsa_serialize_pubkey_to_pkcs1_der(w, ints, key_content);
  return 0;
}

}  // extern "C"
