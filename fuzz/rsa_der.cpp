// The RSA DER readers and their size probes: PKCS#1 private and public keys,
// PKCS#8 and SubjectPublicKeyInfo. A reader takes DER only, so the writer
// gives back exactly the bytes it read.
#include <cstring>
#include <vector>

#include "fuzz_util.h"
#include "quarzel/rsa_key.h"

namespace {

bool size_accepted(uint32_t bits) {
  return bits == 512 || bits == 1024 || bits == 2048 || bits == 3072 || bits == 4096;
}

struct PriKey {
  rsa_prikey_t k{};
  bool ok = false;
  explicit PriKey(uint32_t bits) {
    (void)rsa_prikey_init(&k, static_cast<rsa_size_t>(bits));
    ok = rsa_prikey_value_alloc(&k, RSA_KEYTYPE_CRTFAST) == 0;
  }
  ~PriKey() { (void)rsa_prikey_value_free(&k); }
};

struct PubKey {
  rsa_pubkey_t k{};
  bool ok = false;
  explicit PubKey(uint32_t bits) {
    (void)rsa_pubkey_init(&k, static_cast<rsa_size_t>(bits));
    ok = rsa_pubkey_value_alloc(&k) == 0;
  }
  ~PubKey() { (void)rsa_pubkey_value_free(&k); }
};

template <class Write>
void expect_written_back(const uint8_t* der, uint32_t len, Write write) {
  std::vector<uint8_t> out(len + 16);
  uint32_t out_len = static_cast<uint32_t>(out.size());
  if (write(&out_len, out.data()) != 0) fz::fail("the writer refuses a key its reader took");
  if (out_len != len || std::memcmp(out.data(), der, len) != 0) fz::fail("the writer gives other bytes than it read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* der, size_t size) {
  if (size > 16384) return 0;
  const auto len = static_cast<uint32_t>(size);
  std::vector<uint8_t> oid(size + 1);
  uint32_t bits = 0;

  if (rsa_pkcs1_prikey_der_get_length(len, der, &bits) == 0 && size_accepted(bits)) {
    PriKey key(bits);
    if (key.ok && rsa_pkcs1_der_to_prikey(len, der, &key.k) == 0) {
      expect_written_back(der, len, [&](uint32_t* l, uint8_t* o) { return rsa_prikey_to_pkcs1_der(&key.k, l, o); });
    }
  }
  bits = 0;
  if (rsa_pkcs1_pubkey_der_get_length(len, der, &bits) == 0 && size_accepted(bits)) {
    PubKey key(bits);
    if (key.ok && rsa_pkcs1_der_to_pubkey(len, der, &key.k) == 0) {
      expect_written_back(der, len, [&](uint32_t* l, uint8_t* o) { return rsa_pubkey_to_pkcs1_der(&key.k, l, o); });
    }
  }
  bits = 0;
  if (rsa_pkcs8_prikey_der_get_length(len, der, &bits) == 0 && size_accepted(bits)) {
    PriKey key(bits);
    uint32_t oid_len = static_cast<uint32_t>(oid.size());
    if (key.ok && rsa_pkcs8_der_to_prikey(len, der, &key.k, &oid_len, oid.data()) == 0) {
      expect_written_back(der, len, [&](uint32_t* l, uint8_t* o) {
        return rsa_prikey_to_pkcs8_der(&key.k, oid_len, oid.data(), l, o);
      });
    }
  }
  bits = 0;
  if (rsa_x509_pubkey_der_get_length(len, der, &bits) == 0 && size_accepted(bits)) {
    PubKey key(bits);
    uint32_t oid_len = static_cast<uint32_t>(oid.size());
    if (key.ok && rsa_x509_der_to_pubkey(len, der, &key.k, &oid_len, oid.data()) == 0) {
      expect_written_back(der, len, [&](uint32_t* l, uint8_t* o) {
        return rsa_pubkey_to_x509_der(&key.k, oid_len, oid.data(), l, o);
      });
    }
  }
  // A key of another size than the probe's is refused without harm.
  PubKey small(1024);
  if (small.ok) (void)rsa_x509_der_to_pubkey(len, der, &small.k, nullptr, nullptr);
  return 0;
}
