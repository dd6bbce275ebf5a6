// Raw RSA key blobs (size, component mask, components): the size probes and
// the loaders. A loaded key written out and loaded again writes the same blob.
#include <cstring>
#include <vector>

#include "fuzz_util.h"
#include "quarzel/rsa_key.h"

namespace {

std::vector<uint8_t> pri_roundtrip(const uint8_t* raw, uint32_t len, bool* loaded) {
  *loaded = false;
  rsa_size_t bits{};
  rsa_keytype_t type{};
  if (rsa_raw_prikey_get_length(len, raw, &bits, &type) != 0) return {};
  rsa_prikey_t key{};
  (void)rsa_prikey_init(&key, bits);
  std::vector<uint8_t> out;
  if (rsa_prikey_value_alloc(&key, type) == 0 && rsa_raw_to_prikey(len, raw, &key) == 0) {
    *loaded = true;
    uint32_t out_len = 0;
    (void)rsa_prikey_to_raw(&key, &out_len, nullptr);
    out.resize(out_len);
    if (rsa_prikey_to_raw(&key, &out_len, out.data()) != 0) fz::fail("a loaded private key is not written");
    out.resize(out_len);
  }
  (void)rsa_prikey_value_free(&key);
  return out;
}

std::vector<uint8_t> pub_roundtrip(const uint8_t* raw, uint32_t len, bool* loaded) {
  *loaded = false;
  rsa_size_t bits{};
  if (rsa_raw_pubkey_get_length(len, raw, &bits) != 0) return {};
  rsa_pubkey_t key{};
  (void)rsa_pubkey_init(&key, bits);
  std::vector<uint8_t> out;
  if (rsa_pubkey_value_alloc(&key) == 0 && rsa_raw_to_pubkey(len, raw, &key) == 0) {
    *loaded = true;
    uint32_t out_len = 0;
    (void)rsa_pubkey_to_raw(&key, &out_len, nullptr);
    out.resize(out_len);
    if (rsa_pubkey_to_raw(&key, &out_len, out.data()) != 0) fz::fail("a loaded public key is not written");
    out.resize(out_len);
  }
  (void)rsa_pubkey_value_free(&key);
  return out;
}

template <class Roundtrip>
void check(const uint8_t* raw, uint32_t len, Roundtrip roundtrip) {
  bool loaded = false;
  const std::vector<uint8_t> once = roundtrip(raw, len, &loaded);
  if (!loaded) return;
  bool again = false;
  const std::vector<uint8_t> twice = roundtrip(once.data(), static_cast<uint32_t>(once.size()), &again);
  if (!again || once != twice) fz::fail("a written blob does not load back to itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t size) {
  if (size > 8192) return 0;
  const auto len = static_cast<uint32_t>(size);
  check(raw, len, pri_roundtrip);
  check(raw, len, pub_roundtrip);
  return 0;
}
