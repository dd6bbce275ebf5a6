// Raw EC key blobs (curve id, three zero bytes, d or x || y): the size probes
// and the loaders. A loaded key written out gives the blob it was loaded from
// (the reserved bytes as zero).
#include <cstring>
#include <vector>

#include "fuzz_util.h"
#include "quarzel/ecc.h"

namespace {

void private_key(const uint8_t* raw, uint32_t len) {
  ecc_crv_t crv{};
  uint32_t crv_len = 0;
  if (ecc_raw_prikey_get_length(len, raw, &crv, &crv_len) != 0) return;
  ecc_prikey_t* key = nullptr;
  if (ecc_prikey_alloc(&key) != 0) return;
  (void)ecc_prikey_init(key, crv);
  if (ecc_prikey_value_alloc(key) == 0 && ecc_raw_to_prikey(len, raw, key) == 0) {
    std::vector<uint8_t> out(len + 16);
    uint32_t out_len = static_cast<uint32_t>(out.size());
    if (ecc_prikey_to_raw(key, &out_len, out.data()) != 0) fz::fail("a loaded private key is not written");
    // The three reserved bytes are read as anything and written as zero.
    if (out_len != len || out[0] != raw[0] || std::memcmp(out.data() + 4, raw + 4, len - 4) != 0) {
      fz::fail("private blob written otherwise");
    }
  }
  (void)ecc_prikey_free(&key);
}

void public_key(const uint8_t* raw, uint32_t len) {
  ecc_crv_t crv{};
  uint32_t crv_len = 0;
  if (ecc_raw_pubkey_get_length(len, raw, &crv, &crv_len) != 0) return;
  ecc_pubkey_t* key = nullptr;
  if (ecc_pubkey_alloc(&key) != 0) return;
  (void)ecc_pubkey_init(key, crv);
  if (ecc_pubkey_value_alloc(key) == 0 && ecc_raw_to_pubkey(len, raw, key) == 0) {
    std::vector<uint8_t> out(len + 16);
    uint32_t out_len = static_cast<uint32_t>(out.size());
    if (ecc_pubkey_to_raw(key, &out_len, out.data()) != 0) fz::fail("a loaded public key is not written");
    if (out_len != len || out[0] != raw[0] || std::memcmp(out.data() + 4, raw + 4, len - 4) != 0) {
      fz::fail("public blob written otherwise");
    }
  }
  (void)ecc_pubkey_free(&key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t size) {
  if (size > 4096) return 0;
  private_key(raw, static_cast<uint32_t>(size));
  public_key(raw, static_cast<uint32_t>(size));
  return 0;
}
